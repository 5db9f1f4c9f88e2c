"""Many clients at once, for bench.py: idle connections that hang halfway through their request
heads, and downloads that all run at the same time. Every client socket lives on 127.0.0.0/8 and
is closed on the way out; every wait is bounded.
"""

import selectors
import socket
import time

HALF_REQUEST = b"GET / HTTP/1.1\r\nHost: x\r\n"  # the empty line that ends the head never comes
# The servers refuse more than 128 connections from one client address; the crowds stay below.
PER_ADDRESS = 100
RECEIVE_BLOCK = 1 << 20


def client_address(index):
    """The loopback address of the index-th client: PER_ADDRESS clients on each of 127.0.0.2,
    127.0.0.3, and so on (127.0.0.1 is the servers' own)."""
    host = 2 + index // PER_ADDRESS
    if host > 254:
        raise ValueError(f"{index + 1} clients need more than 253 loopback addresses")
    return f"127.0.0.{host}"


def connect_from(address, server, timeout):
    client = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        client.settimeout(timeout)
        client.bind((address, 0))
        client.connect(server)
        return client
    except BaseException:
        client.close()
        raise


class IdleCrowd:
    """count connections from several loopback addresses, each having sent half a request head.
    Use as a context manager; the connections close on leaving it."""

    def __init__(self, server, count, timeout=10):
        self.server = server
        self.count = count
        self.timeout = timeout
        self.clients = []

    def __enter__(self):
        try:
            for index in range(self.count):
                client = connect_from(client_address(index), self.server, self.timeout)
                self.clients.append(client)
                try:
                    client.sendall(HALF_REQUEST)
                except OSError:
                    pass  # refused and closed at once: held() counts it out
        except BaseException:
            self.close()
            raise
        return self

    def held(self):
        """The connections the server still holds open without an answer: a server that refuses
        one (a 503, a close) makes it readable."""
        with selectors.DefaultSelector() as selector:
            for client in self.clients:
                selector.register(client, selectors.EVENT_READ)
            answered = len(selector.select(timeout=0))
        return len(self.clients) - answered

    def close(self):
        for client in self.clients:
            client.close()
        self.clients.clear()

    def __exit__(self, *_):
        self.close()


def _head_end(data):
    end = data.find(b"\r\n\r\n")
    return -1 if end == -1 else end + 4


class _Download:
    def __init__(self, client, size):
        self.client = client
        self.size = size
        self.head = b""
        self.body = 0  # body bytes received

    def take(self, data):
        """Counts received bytes; returns the body bytes among them."""
        if self.head.endswith(b"\r\n\r\n"):
            self.body += len(data)
            return len(data)
        self.head += data
        end = _head_end(self.head)
        if end == -1:
            return 0
        if not self.head.startswith(b"HTTP/1.1 200 "):
            raise ConnectionError("answered " + self.head.split(b"\r\n", 1)[0].decode("latin-1"))
        body = len(self.head) - end
        self.head = self.head[:end]
        self.body += body
        return body

    def done(self):
        return self.body >= self.size


def crowd_download_mb_per_s(server, path, size, count, seconds):
    """count clients ask for path (size bytes) at once and read as fast as they can; returns the
    body bytes all of them received per second (in MB/s), from the moment every client has its
    answer's head until seconds later or until all are done. A client that fails raises."""
    request = (f"GET {path} HTTP/1.1\r\nHost: {server[0]}:{server[1]}\r\n"
               "Connection: close\r\n\r\n").encode()
    downloads = []
    buffer = bytearray(RECEIVE_BLOCK)
    view = memoryview(buffer)
    with selectors.DefaultSelector() as selector:
        try:
            for index in range(count):
                client = connect_from(client_address(index), server, 10)
                downloads.append(_Download(client, size))
                client.sendall(request)
                client.setblocking(False)
                selector.register(client, selectors.EVENT_READ, downloads[-1])
            deadline = time.monotonic() + 30
            started = None
            counted = 0
            while True:
                now = time.monotonic()
                if started is None and all(d.head.endswith(b"\r\n\r\n") for d in downloads):
                    started, counted = now, 0
                if started is not None and (now - started >= seconds or
                                            all(d.done() for d in downloads)):
                    break
                if now > deadline:
                    raise TimeoutError("the downloads did not get going within 30 s")
                for key, _ in selector.select(timeout=1):
                    download = key.data
                    try:
                        received = download.client.recv_into(view)
                    except BlockingIOError:
                        continue
                    if received == 0:
                        selector.unregister(download.client)
                        if not download.done():
                            raise ConnectionError(f"closed after {download.body} of {size} bytes")
                        continue
                    counted += download.take(view[:received])
            return counted / (time.monotonic() - started) / 1e6
        finally:
            for download in downloads:
                download.client.close()
