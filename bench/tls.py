"""HTTPS rows of the benchmark, and persistent plain HTTP: velmora --tls and nginx serving the
same certificate on ports of their own, measured by wrk (a 1 KiB file over kept-alive
connections, and new connections with a full handshake each) and curl (the big file); then the
1 KiB file over kept-alive plain HTTP, velmora --keep-alive against nginx's own keep-alive.
Whether the kernel did the encryption shows in /proc/net/tls_stat, when the tls module is in.
"""
import os
import subprocess

def make_certificate(temp):
    """One ECDSA P-256 certificate for 127.0.0.1, which both servers present."""
    chain = os.path.join(temp, "bench-tls.crt")
    key = os.path.join(temp, "bench-tls.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-days", "30", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", chain],
                   check=True, capture_output=True)
    return chain, key


def nginx_tls_settings(chain, key):
    """What nginx's http block needs to serve HTTPS like velmora: the same protocols, a session
    cache, kernel TLS where offered, and the certificate."""
    return (f"ssl_protocols TLSv1.2 TLSv1.3;\n"
            f"    ssl_session_cache shared:SSL:10m;\n"
            f"    ssl_conf_command Options KTLS;\n"
            f"    ssl_certificate {chain};\n"
            f"    ssl_certificate_key {key};")


def kernel_tls_sessions():
    """Sessions whose sending the kernel has encrypted so far (software or device); None when
    the kernel offers no TLS (the tls module is not loaded)."""
    try:
        with open("/proc/net/tls_stat") as stat:
            counts = dict(line.split() for line in stat if line.strip())
    except OSError:
        return None
    return int(counts.get("TlsTxSw", 0)) + int(counts.get("TlsTxDevice", 0))


def measure_tls(server, small_file, big_file, big_bytes, settings, wrk, download, chain):
    """The rows of server's TLS twin (server.tls) and keep-alive twin (server.keepalive); a twin
    that is missing leaves its rows out. Returns the figures and a few words on kernel TLS."""
    figures = {}
    said = ""
    if server.tls is not None:
        url = f"https://{server.tls.address}:{server.tls.port}/"
        figures["tls_small_rps"] = wrk(url + small_file, settings.wrk_seconds, close=False).requests
        figures["tls_conn_rps"] = wrk(url + small_file, settings.wrk_seconds, close=True).requests
        before = kernel_tls_sessions()
        figures["tls_big_mbs"] = download(url + big_file, big_bytes, ["--cacert", chain])
        after = kernel_tls_sessions()
        said = ("kernel TLS not offered (no tls module)" if before is None else
                f"kernel TLS {'in use' if after > before else 'not used'}")
    if server.keepalive is not None:
        url = f"http://{server.keepalive.address}:{server.keepalive.port}/"
        figures["ka_small_rps"] = wrk(url + small_file, settings.wrk_seconds, close=False).requests
    return figures, said
