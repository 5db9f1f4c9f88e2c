#!/usr/bin/env python3
"""Velmora side by side with nginx on this machine, over loopback.

Started by bench/run, which installs the tools and builds the program first. Builds a data tree
in a temporary folder, starts `velmora --headless` and nginx on free 127.0.0.1 ports, measures
both in alternating order round by round, and prints the medians in one table, each ratio with
its target. The crowds of clients (crowds.py) come from 127.0.0.2 and up, below the servers'
per-address limit. Everything it starts is stopped by process id on the way out, also on
Ctrl-C, SIGTERM or an error.
"""

import argparse
import grp
import os
import platform
import pwd
import re
import resource
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

from archives import link_big_file, measure_archives
from crowds import IdleCrowd, crowd_download_mb_per_s
from thumbnails import measure_thumbnails
from tls import make_certificate, measure_tls, nginx_tls_settings

LOOPBACK = "127.0.0.1"
KIB = 1024
MIB = 1024 * KIB
SMALL_FILE = "small.txt"
LISTING_DIR = "dir1000"
BIG_FILE = "big.bin"
TREE_DIR = "tree"
JAPANESE_DIR = "日本語の資料"
IDLE_CONNECTIONS = 200
CROWD_CONNECTIONS = 2000
DOWNLOADERS = 100
SHORT_TRIES = 5  # the big file and the index take this many tries per round


class Settings:
    """What one run measures: three full rounds, or one short smoke round with --quick."""

    def __init__(self, quick):
        self.rounds = 1 if quick else 3
        self.wrk_seconds = 2 if quick else 10
        self.big_bytes = 64 * MIB if quick else 1024 * MIB
        self.tree_files = 10_000 if quick else 100_000
        self.crowd_seconds = 2 if quick else 5
        self.certificate = None  # (chain, key) that both HTTPS servers present


def log(text):
    print(text, file=sys.stderr, flush=True)


class Failure(Exception):
    """A step failed in a way that makes the figures meaningless; the message says which."""


# --- processes ------------------------------------------------------------------------------

class Processes:
    """Every long-running process the benchmark starts, so that all of them can be stopped."""

    def __init__(self):
        self.started = []

    def start(self, name, argv, output):
        # A session of its own keeps the terminal's Ctrl-C away: stopping is our job, in order.
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=output,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        self.started.append((name, process))
        return process

    def stop(self, process):
        """Stops one process started here."""
        for entry in self.started:
            if entry[1] is process:
                self.started.remove(entry)
                self.end(*entry)
                return

    def stop_all(self):
        for name, process in reversed(self.started):
            self.end(name, process)
        self.started.clear()

    @staticmethod
    def end(name, process):
        if process.poll() is not None:
            return
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            log(f"{name} (pid {process.pid}) ignored SIGTERM; killing it")
            process.kill()
            process.wait(timeout=10)


def stop_on_signals():
    """SIGTERM and SIGHUP unwind like Ctrl-C, so the cleanup in main() runs for them too."""
    def interrupt(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")
    signal.signal(signal.SIGTERM, interrupt)
    signal.signal(signal.SIGHUP, interrupt)


def raise_open_file_limit():
    """The crowds need a descriptor each, more than the usual soft limit of 1,024."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = CROWD_CONNECTIONS + DOWNLOADERS + 256
    if soft != resource.RLIM_INFINITY and soft < wanted:
        if hard != resource.RLIM_INFINITY and hard < wanted:
            raise Failure(f"{CROWD_CONNECTIONS:,} connections need {wanted} open files; "
                          f"the hard limit is {hard}")
        resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))


def free_port():
    """A port that no socket holds on any address: velmora listens on all of them, IPv6 and IPv4
    at once, and the crowds' clients hold ports on several loopback addresses."""
    try:
        probe = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
        probe.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
        address = ("::", 0)
    except OSError:
        probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        address = ("0.0.0.0", 0)
    with probe:
        probe.bind(address)
        return probe.getsockname()[1]


def wait_for_port(port, process, name, log_path, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise Failure(f"{name} exited with status {process.returncode}:\n"
                          + tail(log_path))
        try:
            with socket.create_connection((LOOPBACK, port), timeout=1):
                return
        except OSError:
            time.sleep(0.1)
    raise Failure(f"{name} did not accept connections on port {port} within {seconds} s:\n"
                  + tail(log_path))


def tail(path, lines=20):
    try:
        with open(path, encoding="utf-8", errors="replace") as text:
            return "".join(text.readlines()[-lines:])
    except OSError:
        return ""


# --- the data tree --------------------------------------------------------------------------

def write_file(path, data):
    with open(path, "wb") as out:
        out.write(data)


def build_tree(data, settings):
    """Builds every folder and file the rows read; returns the number of files under tree/."""
    started = time.monotonic()
    os.makedirs(data)
    write_file(os.path.join(data, SMALL_FILE), bytes(ord("a") + i % 26 for i in range(KIB)))

    listing = os.path.join(data, LISTING_DIR)
    os.mkdir(listing)
    for i in range(1000):
        write_file(os.path.join(listing, f"file-{i:04d}.txt"), f"entry {i}\n".encode())

    # Real bytes, not a sparse file, so that the transfer reads pages like any video would.
    block = os.urandom(MIB)
    with open(os.path.join(data, BIG_FILE), "wb") as out:
        for _ in range(settings.big_bytes // MIB):
            out.write(block)
    link_big_file(data, BIG_FILE)

    # 100 files in each leaf folder, ten folders below each inner one: 100,000 files lie in
    # 1,000 leaves under 110 inner folders (10,000 files: 100 leaves under 10).
    leaves = settings.tree_files // 100
    depth = len(str(leaves - 1))
    for leaf in range(leaves):
        digits = f"{leaf:0{depth}d}"
        folder = os.path.join(data, TREE_DIR, *(f"d{d}" for d in digits))
        os.makedirs(folder)
        for i in range(100):
            write_file(os.path.join(folder, f"f{i:02d}.dat"), b"x" * (i + 1))

    japanese = os.path.join(data, JAPANESE_DIR)
    os.makedirs(os.path.join(japanese, "報告書"))
    for name in ("写真 一覧.html", "議事録（第1回）.txt", "ファイル.bin"):
        write_file(os.path.join(japanese, name), name.encode())

    log(f"data tree built in {time.monotonic() - started:.1f} s under {data}")
    return leaves * 100


def warm_page_cache(data, tree):
    with open(os.path.join(data, BIG_FILE), "rb") as big:
        while big.read(8 * MIB):
            pass
    find_seconds(tree)


# --- the two servers ------------------------------------------------------------------------

class Server:
    def __init__(self, name, port, process):
        self.name = name
        self.port = port
        self.process = process
        self.address = LOOPBACK
        self.tls = None        # the same server software serving HTTPS, for the TLS rows
        self.keepalive = None  # the same serving plain HTTP with persistent connections

    def url(self, path, query=""):
        return f"http://{LOOPBACK}:{self.port}/{urllib.parse.quote(path)}" + \
            (f"?{query}" if query else "")

    def pids(self):
        """The server's own process and its children (nginx's workers)."""
        children = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/stat") as stat:
                        # The fields after the name (which may hold spaces) start at ") ".
                        fields = stat.read().rsplit(")", 1)[1].split()
                except OSError:
                    continue
                if int(fields[1]) == self.process.pid:
                    children.append(int(entry))
        return [self.process.pid] + children

    def cpu_seconds(self):
        """User and system CPU time of the server's processes so far (ended threads included)."""
        ticks = 0
        for pid in self.pids():
            try:
                with open(f"/proc/{pid}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            ticks += int(fields[11]) + int(fields[12])  # utime, stime
        return ticks / os.sysconf("SC_CLK_TCK")


def start_velmora(binary, data, temp, processes, options=(), name="velmora"):
    port = free_port()
    log_path = os.path.join(temp, f"{name}.log")
    with open(log_path, "wb") as output:
        process = processes.start(name, [binary, "--headless", "--port", str(port),
                                         "--include-hidden", *options, data], output)
    try:
        wait_for_port(port, process, "velmora", log_path)
    except Failure as failure:
        raise Failure(f"{failure}(bench/run --only nginx measures nginx alone)") from None
    return Server("velmora", port, process)


NGINX_CONF = """\
worker_processes auto;
daemon off;
master_process on;
pid {folder}/nginx.pid;
error_log {folder}/error.log warn;
{user}
events {{
    worker_connections 2048;
}}
http {{
    {mime}
    default_type application/octet-stream;
    access_log off;
    sendfile on;
    client_body_temp_path {folder}/client_body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
    {tls}
    server {{
        listen {address}:{port}{ssl};
        root {root};
        autoindex on;
    }}
}}
"""


def start_nginx(nginx, data, temp, processes, tls=None):
    """nginx as configured above, or with tls (chain, key) serving HTTPS alone."""
    port = free_port()
    folder = os.path.join(temp, "nginx-tls" if tls else "nginx")
    os.mkdir(folder)
    # As root, the workers would otherwise drop to "nobody"; as anyone else nginx stays as is.
    user = ""
    if os.geteuid() == 0:
        user = f"user {pwd.getpwuid(os.geteuid()).pw_name} {grp.getgrgid(os.getegid()).gr_name};"
    mime = "include /etc/nginx/mime.types;" if os.path.exists("/etc/nginx/mime.types") else ""
    conf = os.path.join(folder, "nginx.conf")
    text = NGINX_CONF.format(folder=folder, user=user, mime=mime, address=LOOPBACK, port=port,
                             root=data, tls=nginx_tls_settings(*tls) if tls else "",
                             ssl=" ssl" if tls else "")
    write_file(conf, text.encode())
    log_path = os.path.join(folder, "error.log")
    with open(os.path.join(folder, "stderr.log"), "wb") as output:
        # -e: the error log before the configuration is read goes to our folder too.
        process = processes.start("nginx", [nginx, "-p", folder, "-c", conf, "-e", log_path],
                                  output)
    wait_for_port(port, process, "nginx", log_path)
    return Server("nginx", port, process)


# --- single measurements --------------------------------------------------------------------

def curl(url, out, fields, timeout=600, options=()):
    """Runs curl once; returns the values of the --write-out fields."""
    result = subprocess.run(
        ["curl", "-sS", "--noproxy", "*", *options, "-o", out, "-w",
         " ".join(f"%{{{f}}}" for f in fields), url], capture_output=True, text=True,
        timeout=timeout)
    if result.returncode != 0:
        raise Failure(f"curl {url} failed: {result.stderr.strip()}")
    return result.stdout.split()


UNIT_MS = {"us": 0.001, "ms": 1.0, "s": 1000.0, "m": 60_000.0}


class Wrk:
    """One wrk run: requests per second, 99th percentile latency and the errors it saw."""

    def __init__(self, url, seconds, close=True):
        argv = ["wrk", "-t1", "-c32", f"-d{seconds}s", "--latency", url]
        if close:
            argv[4:4] = ["-H", "Connection: close"]
        result = subprocess.run(argv, capture_output=True, text=True, timeout=seconds + 60)
        out = result.stdout
        if result.returncode != 0 or "Requests/sec" not in out:
            raise Failure(f"wrk {url} failed:\n{out}{result.stderr}")
        self.requests = float(re.search(r"Requests/sec:\s*([\d.]+)", out).group(1))
        self.count = int(re.search(r"(\d+) requests in", out).group(1))
        value, unit = re.search(r"\s99%\s+([\d.]+)(us|ms|s|m)\b", out).groups()
        self.p99_ms = float(value) * UNIT_MS[unit]
        errors = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)",
                           out)
        non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
        self.errors = (sum(map(int, errors.groups())) if errors else 0) + \
            (int(non2xx.group(1)) if non2xx else 0)


def download_mb_per_s(url, size, options=()):
    speed, received, status = curl(url, "/dev/null",
                                   ["speed_download", "size_download", "http_code"], options=options)
    if status != "200" or int(received) != size:
        raise Failure(f"{url}: status {status}, {received} of {size} bytes")
    return float(speed) / 1e6


def index_seconds(url):
    seconds, status = curl(url, "/dev/null", ["time_total", "http_code"])
    if status != "200":
        raise Failure(f"{url}: status {status}")
    return float(seconds)


def find_seconds(tree):
    started = time.perf_counter()
    subprocess.run(["find", tree, "-printf", "%p %s %T@\n"], stdout=subprocess.DEVNULL,
                   check=True, timeout=300)
    return time.perf_counter() - started


def accept_queue(port):
    """Connections waiting in the listen queue of PORT (any local address), from /proc/net/tcp."""
    waiting = 0
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as lines:
                next(lines)
                for line in lines:
                    fields = line.split()
                    if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                        waiting += int(fields[4].split(":")[1], 16)
        except FileNotFoundError:
            continue
    return waiting


def memory_kib(server):
    """RSS and PSS in KiB, summed over the server's processes."""
    rss = pss = 0
    for pid in server.pids():
        with open(f"/proc/{pid}/smaps_rollup") as rollup:
            for line in rollup:
                key, value = line.split(":", 1)
                if key == "Rss":
                    rss += int(value.split()[0])
                elif key == "Pss":
                    pss += int(value.split()[0])
    return rss, pss


def idle_memory_kib(server, count):
    """RSS and PSS (KiB) while count clients, from several loopback addresses, hang halfway
    through their request heads, and how many of them the server holds (it may refuse some)."""
    with IdleCrowd((LOOPBACK, server.port), count) as crowd:
        # Every client accepted (the listen queue empty), then a moment to read the half heads.
        deadline = time.monotonic() + 10
        while accept_queue(server.port) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.5 + count / 2000)
        if server.process.poll() is not None:
            raise Failure(f"{server.name} exited while holding idle connections")
        rss, pss = memory_kib(server)
        return rss, pss, crowd.held()


# --- checks, rounds and the table -----------------------------------------------------------

def check_answers(server, data, temp, tree_files):
    """Both servers must serve the same tree before their speeds mean anything."""
    copy = os.path.join(temp, "check.out")
    status, = curl(server.url(SMALL_FILE), copy, ["http_code"])
    with open(copy, "rb") as got, open(os.path.join(data, SMALL_FILE), "rb") as want:
        if status != "200" or got.read() != want.read():
            raise Failure(f"{server.name}: {SMALL_FILE} did not come back intact")
    for folder in (LISTING_DIR, JAPANESE_DIR):
        status, = curl(server.url(folder + "/"), copy, ["http_code"])
        if status != "200":
            raise Failure(f"{server.name}: listing of {folder}/ answered {status}")
    if server.name == "velmora":
        status, = curl(server.url(TREE_DIR + "/index.xml"), copy, ["http_code"])
        with open(copy, "rb") as index:
            files = index.read().count(b"<File ")
        if status != "200" or files != tree_files:
            raise Failure(f"velmora: {TREE_DIR}/index.xml answered {status} with {files} of "
                          f"{tree_files} files")
    os.remove(copy)


ROWS = [
    # key, what the row shows, its target: (">=" or "<=", the bound, "nginx" when velmora / nginx
    # must reach it, "floor" when velmora / the floor probe's figure must, or the key of
    # velmora's own figure in the same run that it is read against), or None
    ("small_rps", "small file (1 KiB), requests/s", (">=", 1.0, "nginx")),
    ("small_p99", "small file, p99 latency ms", ("<=", 2.0, "nginx")),
    ("small_cpu", "small file, server CPU us per request", None),
    ("list_rps", "listing of 1,000 entries, requests/s", (">=", 1.3, "nginx")),
    ("list_p99", "listing, p99 latency ms", None),
    ("list_cpu", "listing, server CPU ms per request", ("<=", 1.25, "floor")),
    ("big_mbs", "big file, MB/s", (">=", 0.95, "nginx")),
    ("crowd_mbs", f"{DOWNLOADERS} clients downloading the big file, total MB/s",
     (">=", 0.95, "nginx")),
    ("index_s", "index.xml of the tree, s (vs find)", ("<=", 1.0, "nginx")),
    ("idle_rss", f"{IDLE_CONNECTIONS} idle connections, RSS MB", None),
    ("idle_pss", f"{IDLE_CONNECTIONS} idle connections, PSS MB", ("<=", 1.0, "nginx")),
    ("idle2k_rss", f"{CROWD_CONNECTIONS:,} idle connections, RSS MB", None),
    ("idle2k_pss", f"{CROWD_CONNECTIONS:,} idle connections, PSS MB", ("<=", 2.0, "nginx")),
    # velmora alone (targets: >= 40, >= 5,000, <= 1.5 s, < 200 MB)
    ("thumb_cold", "12 MP JPEG thumbnails, cold, 8 clients, per s", None),
    ("thumb_warm", "thumbnails from the cache, 8 clients, per s", None),
    ("thumb_first24", "first 24 thumbnails of 200 photos, 6 connections, s", None),
    ("thumb_peak_rss", "peak RSS over 2,000 photos thumbnailed, MB", None),
    # velmora alone, each read against velmora's own figure named in its target
    ("browse_cpu", "browse page of 1,000 entries, server CPU ms per request",
     ("<=", 1.25, "list_cpu")),
    ("tar_big_mbs", "big file's folder as tar, MB/s", (">=", 0.95, "big_mbs")),
    ("zip_cold_mbs", "big file's folder as zip, checksums cold, MB/s", (">=", 0.6, "big_mbs")),
    ("zip_warm_mbs", "big file's folder as zip, checksums warm, MB/s", (">=", 0.9, "big_mbs")),
    ("tree_tar_s", "the tree as tar, s (vs tar cf | cat)", ("<=", 1.0, "tar_pipe_s")),
    ("tree_zip_s", "the tree as zip, checksums warm, s", None),
    ("tree_archive_rss", "peak RSS while sending the tree's archives, MB", None),
    # HTTPS, both servers presenting the same certificate, and persistent plain HTTP
    ("tls_small_rps", "HTTPS small file, keep-alive, requests/s", (">=", 1.0, "nginx")),
    ("tls_conn_rps", "HTTPS new connections (full handshakes) per s", (">=", 0.9, "nginx")),
    ("tls_big_mbs", "HTTPS big file, MB/s", (">=", 0.95, "nginx")),
    ("ka_small_rps", "HTTP keep-alive small file, requests/s", (">=", 1.0, "nginx")),
]
# Figures kept for the notes and targets only.
NOTE_KEYS = ("idle2k_held", "tar_pipe_s", "tree_tar_first_s")
REFERENCE_NAMES = {"list_cpu": "listing", "big_mbs": "big file", "tar_pipe_s": "tar cf"}


def median_of_tries(measure_once):
    """A transfer of under a second moves by a third from one try to the next on a virtual
    machine; a round keeps the median of a few tries."""
    return statistics.median(measure_once() for _ in range(SHORT_TRIES))


def measure(server, data, settings, figures, notes):
    """One round's figures of one server, appended to figures[server.name][row]."""
    mine = figures[server.name]
    pages = [("small", SMALL_FILE, "", 1e6), ("list", LISTING_DIR + "/", "", 1e3)]
    if server.name == "velmora":
        pages.append(("browse", LISTING_DIR + "/", "browse", 1e3))
    for key, path, query, unit in pages:
        cpu_before = server.cpu_seconds()
        run = Wrk(server.url(path, query), settings.wrk_seconds)
        mine[f"{key}_cpu"].append((server.cpu_seconds() - cpu_before) * unit / max(run.count, 1))
        if key != "browse":
            mine[f"{key}_rps"].append(run.requests)
            mine[f"{key}_p99"].append(run.p99_ms)
        shown = path + (f"?{query}" if query else "")
        if run.errors:
            notes.append(f"{server.name}, {shown}: wrk counted {run.errors} errors")
        log(f"  {server.name:8} {shown:12} {run.requests:10.0f} req/s  p99 {run.p99_ms:.2f} ms")
    mine["big_mbs"].append(median_of_tries(
        lambda: download_mb_per_s(server.url(BIG_FILE), settings.big_bytes)))
    if server.name == "velmora":
        mine["index_s"].append(median_of_tries(
            lambda: index_seconds(server.url(TREE_DIR + "/index.xml"))))
    else:
        mine["index_s"].append(median_of_tries(lambda: find_seconds(os.path.join(data, TREE_DIR))))
    mine["crowd_mbs"].append(crowd_download_mb_per_s(
        (LOOPBACK, server.port), "/" + BIG_FILE, settings.big_bytes, DOWNLOADERS,
        settings.crowd_seconds))
    for key, count in (("idle", IDLE_CONNECTIONS), ("idle2k", CROWD_CONNECTIONS)):
        rss, pss, held = idle_memory_kib(server, count)
        mine[f"{key}_rss"].append(rss * KIB / 1e6)
        mine[f"{key}_pss"].append(pss * KIB / 1e6)
        if key == "idle2k":
            mine["idle2k_held"].append(held)
        elif held != count:
            notes.append(f"{server.name} held {held} of {count} idle connections")
    # Last, what fills the server's caches (thumbnails, checksums) and its heap: the idle rows
    # above measure the server as it stands after plain serving.
    if server.name == "velmora":
        for key, value in measure_thumbnails(server, data, len(mine["thumb_cold"]),
                                             settings.rounds == 1, memory_kib).items():
            mine[key].append(value)
        log(f"  {server.name:8} thumbnails: cold {mine['thumb_cold'][-1]:.0f}/s, warm "
            f"{mine['thumb_warm'][-1]:.0f}/s, first 24 in {mine['thumb_first24'][-1]:.2f} s, "
            f"peak RSS {mine['thumb_peak_rss'][-1]:.0f} MB")
        for key, value in measure_archives(server, data, BIG_FILE, settings.big_bytes, TREE_DIR,
                                           curl, median_of_tries, memory_kib).items():
            mine[key].append(value)
        log(f"  {server.name:8} archives: big folder tar {mine['tar_big_mbs'][-1]:.0f} MB/s, "
            f"zip cold {mine['zip_cold_mbs'][-1]:.0f} MB/s, warm {mine['zip_warm_mbs'][-1]:.0f} "
            f"MB/s; tree tar {mine['tree_tar_s'][-1]:.2f} s (tar cf {mine['tar_pipe_s'][-1]:.2f} "
            f"s), zip {mine['tree_zip_s'][-1]:.2f} s, peak RSS "
            f"{mine['tree_archive_rss'][-1]:.0f} MB")
    tls_figures, kernel = measure_tls(server, SMALL_FILE, BIG_FILE, settings.big_bytes, settings,
                                      Wrk, download_mb_per_s, settings.certificate[0])
    for key, value in tls_figures.items():
        mine[key].append(value)
    if kernel and f"{server.name}, HTTPS big file: {kernel}" not in notes:
        notes.append(f"{server.name}, HTTPS big file: {kernel}")
    log(f"  {server.name:8} HTTPS: " + ", ".join(f"{key} {value:.0f}"
                                                 for key, value in tls_figures.items()))
    log(f"  {server.name:8} {BIG_FILE:12} {mine['big_mbs'][-1]:10.0f} MB/s   "
        f"{DOWNLOADERS} at once {mine['crowd_mbs'][-1]:.0f} MB/s   "
        f"index/find {mine['index_s'][-1]:.3f} s")
    log(f"  {server.name:8} idle: PSS {mine['idle_pss'][-1]:.1f} MB, "
        f"{CROWD_CONNECTIONS:,} tried, {mine['idle2k_held'][-1]} held: "
        f"PSS {mine['idle2k_pss'][-1]:.1f} MB")


def figure(values):
    if not values:
        return None
    return statistics.median(values)


def show(value):
    if value is None:
        return "-"
    return f"{value:.0f}" if value >= 100 else f"{value:.2f}" if value >= 1 else f"{value:.3f}"


def target_text(target):
    if target is None:
        return ""
    relation, bound, against = target
    if against == "nginx":
        return f"{relation} {bound}"
    return f"{relation} {bound} x {REFERENCE_NAMES.get(against, against)}"


def verdict(target, velmora, reference, floor, own):
    """The target and whether velmora met it; only the target when a figure is missing. A row
    read against velmora's own figure (own: velmora's medians) shows that ratio too, since its
    ratio column, against nginx, stays empty."""
    if target is None:
        return ""
    relation, bound, against = target
    base = {"nginx": reference, "floor": floor}.get(against, own.get(against))
    if velmora is None or not base:
        return target_text(target)
    ratio = velmora / base
    met = ratio >= bound if relation == ">=" else ratio <= bound
    shown = "" if against in ("nginx", "floor") else f": {ratio:.2f}"
    return f"{target_text(target)}{shown}  {'met' if met else 'MISSED'}"


def build_description(binary):
    """The build type and sanitizers from the binary's CMake cache, so a Debug or sanitized
    build is not mistaken for the real thing; the source's commit when it is a checkout."""
    cache = {}
    try:
        with open(os.path.join(os.path.dirname(binary), "CMakeCache.txt")) as lines:
            for line in lines:
                name, _, value = line.strip().partition("=")
                cache[name.split(":")[0]] = value
    except OSError:
        return "not built by CMake"
    # An empty type is the default that CMakeLists.txt picks.
    parts = [(cache.get("CMAKE_BUILD_TYPE") or "RelWithDebInfo") + " build"]
    if cache.get("VELMORA_SANITIZE"):
        parts.append("sanitized: " + cache["VELMORA_SANITIZE"])
    commit = subprocess.run(["git", "-C", cache.get("CMAKE_HOME_DIRECTORY", "."), "describe",
                             "--always", "--dirty"], capture_output=True, text=True, timeout=10)
    if commit.returncode == 0:
        parts.append("source " + commit.stdout.strip())
    return ", ".join(parts)


def machine_lines(binary, nginx, only, settings, tree_files):
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    nginx_version = "nginx not measured"
    if only != "velmora":
        nginx_version = subprocess.run([nginx, "-v"], capture_output=True, text=True,
                                       timeout=10).stderr.strip()
    return [
        f"machine: {os.cpu_count()} CPUs (nproc {len(os.sched_getaffinity(0))}), {cpu}, "
        f"Linux {platform.release()}",
        "servers: " + ("velmora not measured" if only == "nginx" else
                       f"velmora ({binary}, {build_description(binary)})") + f", {nginx_version}",
        f"rounds: {settings.rounds}, medians (big file and index: {SHORT_TRIES} tries a round); wrk -t1 -c32 -d{settings.wrk_seconds}s, "
        f"Connection: close; big file {settings.big_bytes // MIB} MiB; tree {tree_files:,} files",
    ]


def measure_floor(binary, data):
    """What the kernel charges here for work no server of this design can skip, measured by
    velmora-floor (built next to the program) on the listing's folder: a dict of its figures,
    empty when the probe is not built."""
    floor = os.path.join(os.path.dirname(binary), "bench", "velmora-floor")
    if not os.access(floor, os.X_OK):
        return {}
    result = subprocess.run([floor, os.path.join(data, LISTING_DIR)], capture_output=True,
                            text=True, timeout=300)
    if result.returncode != 0:
        raise Failure(f"velmora-floor failed: {result.stderr.strip()}")
    return {name: float(value) for name, value in
            (line.split() for line in result.stdout.splitlines())}


def floor_lines(floor):
    if not floor:
        return []
    return [f"floor: reading the 1,000-entry folder as a listing does (its names, one status call "
            f"each) takes {floor['folder_ms']:.2f} ms of CPU; waking a thread that waits and "
            f"letting it wait again {floor['wake_us']:.1f} us."]


def held_note(figures):
    held = [f"{name} {figure(figures[name]['idle2k_held']):.0f}" for name in ("velmora", "nginx")
            if figures[name]["idle2k_held"]]
    if not held:
        return []
    refusal = "; velmora turns away what passes its 1,024 connections" \
        if figures["velmora"]["idle2k_held"] else ""
    return [f"of the {CROWD_CONNECTIONS:,} idle connections each server held (median): "
            + ", ".join(held) + refusal + "."] + projected_note(figures)


def projected_note(figures):
    """Velmora's PSS carried on to every one of the crowd at what each held connection past
    the first 200 cost it, so that the row compares like with like despite the cap."""
    velmora, nginx = figures["velmora"], figures["nginx"]
    held = figure(velmora["idle2k_held"])
    if not held or held >= CROWD_CONNECTIONS or held <= IDLE_CONNECTIONS or \
            not velmora["idle_pss"] or not nginx["idle2k_pss"]:
        return []
    per_connection = (figure(velmora["idle2k_pss"]) - figure(velmora["idle_pss"])) / \
        (held - IDLE_CONNECTIONS)
    projected = figure(velmora["idle2k_pss"]) + (CROWD_CONNECTIONS - held) * per_connection
    return [f"velmora's PSS carried on to {CROWD_CONNECTIONS:,} held at its "
            f"{per_connection * 1000:.1f} KB per connection: {projected:.1f} MB, "
            f"{projected / figure(nginx['idle2k_pss']):.2f} x nginx's."]


def print_table(figures, header, notes, floor):
    lines = header + [""]
    titles = ("", "velmora", "nginx", "ratio", "target")
    rows = []
    own = {key: figure(values) for key, values in figures["velmora"].items()}
    for key, label, target in ROWS:
        velmora = figure(figures["velmora"][key])
        reference = figure(figures["nginx"][key])
        ratio = f"{velmora / reference:.2f}" if velmora is not None and reference else "-"
        rows.append((label, show(velmora), show(reference), ratio,
                     verdict(target, velmora, reference, floor.get("folder_ms"), own)))
    widths = [max(len(row[i]) for row in rows + [titles]) for i in range(len(titles))]
    for row in [titles] + rows:
        lines.append(f"{row[0]:<{widths[0]}}  " + "  ".join(
            f"{cell:>{widths[i]}}" for i, cell in enumerate(row[1:4], 1)) +
                     (f"  {row[4]}" if row[4] else ""))
    lines.append("ratio = velmora / nginx; in the index.xml row the nginx column holds "
                 "find -printf over the same tree; x floor = velmora / the floor line's folder;\n"
                 "x listing, x big file, x tar cf = the row / velmora's listing CPU, its plain "
                 "download of the big file, or the tar pipe below, all in the same run (the "
                 "ratio after the colon).")
    if own.get("tar_pipe_s"):
        lines.append(f"tar cf - {TREE_DIR} | cat > /dev/null took {own['tar_pipe_s']:.2f} s.")
    if own.get("tree_tar_first_s"):
        lines.append(f"the tree's tar sent its first byte after {own['tree_tar_first_s']:.2f} s: "
                     f"the walk that its exact length needs.")
    lines += [f"note: {note}" for note in notes + held_note(figures)] + floor_lines(floor)
    print("\n".join(lines), flush=True)


def parse_arguments():
    parser = argparse.ArgumentParser(
        prog="bench/run", description="Measure velmora --headless side by side with nginx.")
    parser.add_argument("--quick", action="store_true",
                        help="one short round (wrk 2 s, 64 MiB file, 10,000-file tree)")
    parser.add_argument("--only", choices=("velmora", "nginx"),
                        help="measure one server alone (the index.xml row still runs find)")
    parser.add_argument("--binary", default=os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build", "velmora"),
        help="the program to measure (default: build/velmora)")
    return parser.parse_args()


def main():
    arguments = parse_arguments()
    settings = Settings(arguments.quick)
    nginx = shutil.which("nginx", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    if arguments.only != "velmora" and not nginx:
        raise Failure("nginx is not installed (bench/run installs it)")
    stop_on_signals()
    raise_open_file_limit()
    processes = Processes()
    temp = tempfile.mkdtemp(prefix="velmora-bench-")
    # The server's thumbnail cache goes with the rest of the run, not into the user's own.
    os.environ["XDG_CACHE_HOME"] = os.path.join(temp, "cache")
    try:
        data = os.path.join(temp, "data")
        tree_files = build_tree(data, settings)
        warm_page_cache(data, os.path.join(data, TREE_DIR))
        servers = []
        settings.certificate = make_certificate(temp)
        notes = []
        if arguments.only != "nginx":
            binary = os.path.abspath(arguments.binary)
            velmora = start_velmora(binary, data, temp, processes)
            velmora.tls = start_velmora(binary, data, temp, processes, name="velmora-tls",
                                        options=("--tls-cert", settings.certificate[0],
                                                 "--tls-key", settings.certificate[1]))
            try:
                velmora.keepalive = start_velmora(binary, data, temp, processes,
                                                  name="velmora-keepalive",
                                                  options=("--keep-alive",))
            except Failure:
                notes.append("this velmora has no --keep-alive: its keep-alive row is empty")
            servers.append(velmora)
        if arguments.only != "velmora":
            reference = start_nginx(nginx, data, temp, processes)
            reference.tls = start_nginx(nginx, data, temp, processes, tls=settings.certificate)
            reference.keepalive = reference  # nginx keeps connections open by default
            servers.append(reference)
        for server in servers:
            check_answers(server, data, temp, tree_files)
        figures = {name: {key: [] for key in [row[0] for row in ROWS] + list(NOTE_KEYS)}
                   for name in ("velmora", "nginx")}
        for number in range(settings.rounds):
            log(f"round {number + 1} of {settings.rounds}")
            if number > 0 and arguments.only != "nginx":
                # Every round measures a velmora that has served only that round: the caches the
                # last round filled (thumbnails, checksums) would otherwise count in its idle rows.
                processes.stop(velmora.process)
                fresh = start_velmora(binary, data, temp, processes)
                velmora.port, velmora.process = fresh.port, fresh.process
            for server in (servers if number % 2 == 0 else servers[::-1]):
                measure(server, data, settings, figures, notes)
        if arguments.only == "velmora":
            # find is the index row's reference even without nginx.
            figures["nginx"]["index_s"] = [
                median_of_tries(lambda: find_seconds(os.path.join(data, TREE_DIR)))
                for _ in range(settings.rounds)]
        floor = measure_floor(os.path.abspath(arguments.binary), data) \
            if arguments.only != "nginx" else {}
        print_table(figures, machine_lines(arguments.binary, nginx, arguments.only, settings,
                                           tree_files), notes, floor)
    finally:
        processes.stop_all()
        shutil.rmtree(temp, ignore_errors=True)


if __name__ == "__main__":
    try:
        main()
    except Failure as failure:
        log(f"bench/run: {failure}")
        sys.exit(1)
    except KeyboardInterrupt:
        log("bench/run: interrupted; everything it started is stopped")
        sys.exit(130)
