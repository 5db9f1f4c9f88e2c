"""Thumbnail rows of the benchmark (velmora only: nginx has no such answer): 12-megapixel JPEGs
thumbnailed cold by 8 clients, the same again warm from the cache (wrk, 8 connections), the first 24 of a folder of 200
as a browser asks for them (6 connections), and the server's peak resident memory while 2,000
different photos are thumbnailed. One photo is made once; the folders hold hard links to it under
new names, so every name is a cold thumbnail (the caches key by path) without using disk space.
"""
import http.client
import os
import queue
import re
import statistics
import subprocess
import tempfile
import threading
import time

PHOTO_SIZE = "4000x3000"


def make_photo(path):
    """A 12-megapixel photo-like JPEG (ImageMagick's plasma, a fixed seed)."""
    subprocess.run(["convert", "-seed", "7", "-size", PHOTO_SIZE, "plasma:fractal",
                    "-quality", "90", path], check=True)


def link_photos(photo, folder, count):
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        os.link(photo, os.path.join(folder, f"p{i:04d}.jpg"))
    return [f"/{os.path.basename(folder)}/p{i:04d}.jpg?thumb" for i in range(count)]


def fetch_all(port, targets, clients):
    """Seconds for clients keep-alive connections to fetch every target; raises on an answer
    other than 200."""
    work = queue.Queue()
    for target in targets:
        work.put(target)
    failures = []

    def client():
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        while True:
            try:
                target = work.get_nowait()
            except queue.Empty:
                break
            connection.request("GET", target)
            answer = connection.getresponse()
            answer.read()
            if answer.status != 200:
                failures.append(f"{target}: {answer.status}")
        connection.close()

    started = time.monotonic()
    threads = [threading.Thread(target=client) for _ in range(clients)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if failures:
        raise RuntimeError(f"thumbnails: {len(failures)} failed, first {failures[0]}")
    return time.monotonic() - started


def reset_peak(server):
    """Starts the kernel's high-water mark of the server's resident memory again from now; False
    when this kernel or these rights do not allow it."""
    try:
        for pid in server.pids():
            with open(f"/proc/{pid}/clear_refs", "w") as refs:
                refs.write("5")
        return True
    except OSError:
        return False


def high_water_kib(server):
    """The largest VmHWM of the server's processes, in KiB."""
    peak = 0
    for pid in server.pids():
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    peak = max(peak, int(line.split()[1]))
    return peak


def peak_rss_mb(server, run, memory_kib):
    """Runs run() while sampling the server's RSS; returns run's result and the peak in MB. The
    kernel's own high-water mark, reset first, catches a peak that falls between two samples."""
    exact = reset_peak(server)
    peak = [0]
    done = threading.Event()

    def sample():
        while not done.is_set():
            peak[0] = max(peak[0], memory_kib(server)[0])
            time.sleep(0.05)

    sampler = threading.Thread(target=sample)
    sampler.start()
    try:
        result = run()
    finally:
        done.set()
        sampler.join()
    if exact:
        peak[0] = max(peak[0], high_water_kib(server))
    return result, peak[0] * 1024 / 1e6


def wrk_per_second(port, targets, clients, seconds):
    """Answers a second for wrk with clients connections asking for targets in turn (a
    connection each, as the server closes after every answer); raises on one other than 200."""
    with tempfile.NamedTemporaryFile("w", suffix=".lua") as script:
        script.write("local targets = {" + ",".join(f'"{target}"' for target in targets) + "}\n"
                     "local next = 0\n"
                     "request = function()\n"
                     "  next = next % #targets + 1\n"
                     "  return wrk.format(\"GET\", targets[next])\n"
                     "end\n")
        script.flush()
        result = subprocess.run(["wrk", "-t1", f"-c{clients}", f"-d{seconds}s", "-H",
                                 "Connection: close", "-s", script.name,
                                 f"http://127.0.0.1:{port}/"],
                                capture_output=True, text=True, timeout=seconds + 60)
    out = result.stdout
    if result.returncode != 0 or "Requests/sec" not in out or "Non-2xx" in out:
        raise RuntimeError(f"wrk over the cached thumbnails failed:\n{out}{result.stderr}")
    return float(re.search(r"Requests/sec:\s*([\d.]+)", out).group(1))


def measure_thumbnails(server, data, number, quick, memory_kib):
    """One round's thumbnail figures: {row key: value}."""
    photo = os.path.join(data, "photo-source.jpg")
    if not os.path.exists(photo):
        make_photo(photo)
    figures = {}
    cold = link_photos(photo, os.path.join(data, f"photos-cold-{number}"), 200)
    seconds = fetch_all(server.port, cold, 8)
    figures["thumb_cold"] = len(cold) / seconds
    # A client written in Python could not ask fast enough: wrk asks for the cached ones.
    figures["thumb_warm"] = wrk_per_second(server.port, cold, 8, 2 if quick else 5)
    # Well under a second each: the middle of three fresh folders, not one that a moment's
    # disturbance decides.
    figures["thumb_first24"] = statistics.median(
        fetch_all(server.port, link_photos(photo, os.path.join(data, f"photos-page-{number}-{t}"),
                                           200)[:24], 6)
        for t in range(3))
    many = link_photos(photo, os.path.join(data, f"photos-many-{number}"), 200 if quick else 2000)
    _, figures["thumb_peak_rss"] = peak_rss_mb(server, lambda: fetch_all(server.port, many, 8),
                                               memory_kib)
    return figures
