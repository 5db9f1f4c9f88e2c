"""Folder download rows of the benchmark (velmora only: nginx has no archive answer). The big
file's folder as tar and as zip, the zip both with every checksum still to compute and with all
of them known, each read against the plain download of the same file in the same round; the tree
as tar against `tar cf - TREE | cat > /dev/null` and as zip, with the server's peak resident
memory while it sends them.
"""
import os
import statistics
import subprocess
import time

from thumbnails import peak_rss_mb

ARCHIVE_DIR = "bigfolder"


def link_big_file(data, big_file):
    """A folder holding only the big file (a hard link, no second gigabyte on disk)."""
    folder = os.path.join(data, ARCHIVE_DIR)
    os.mkdir(folder)
    os.link(os.path.join(data, big_file), os.path.join(folder, big_file))


def forget_checksum(path):
    """Zip checksums are remembered per version of a file, in memory as well as in the cache
    file, so a new modification time is what makes the next zip read the whole file again."""
    stamp = time.time_ns()
    os.utime(path, ns=(stamp, stamp))


def tar_pipe_seconds(data, tree_dir):
    """GNU tar skips reading files when it writes to /dev/null itself, hence the cat."""
    started = time.perf_counter()
    subprocess.run(["bash", "-c", f"tar cf - {tree_dir} | cat > /dev/null"], cwd=data,
                   check=True, timeout=600)
    return time.perf_counter() - started


def measure_archives(server, data, big_file, big_bytes, tree_dir, curl, median_of_tries,
                     memory_kib):
    """One round's archive figures: {row or note key: value}. curl, median_of_tries and
    memory_kib are the benchmark's own."""
    big = os.path.join(data, ARCHIVE_DIR, big_file)

    def archive_mb_per_s(query, before=None):
        def once():
            if before:
                before()
            speed, received, status = curl(server.url(ARCHIVE_DIR + "/", query), "/dev/null",
                                           ["speed_download", "size_download", "http_code"])
            if status != "200" or int(received) < big_bytes:
                raise RuntimeError(f"{ARCHIVE_DIR}/?{query}: status {status}, {received} bytes "
                                   f"for a {big_bytes}-byte file")
            return float(speed) / 1e6
        return median_of_tries(once)

    first_byte = {}

    def archive_seconds(query):
        seconds, first, received, status = curl(
            server.url(tree_dir + "/", query), "/dev/null",
            ["time_total", "time_starttransfer", "size_download", "http_code"])
        if status != "200" or int(received) == 0:
            raise RuntimeError(f"{tree_dir}/?{query}: status {status}, {received} bytes")
        first_byte.setdefault(query, []).append(float(first))
        return float(seconds)

    figures = {"tar_big_mbs": archive_mb_per_s("tar"),
               "zip_cold_mbs": archive_mb_per_s("zip", lambda: forget_checksum(big))}
    # The last cold try left the file's checksum learnt.
    figures["zip_warm_mbs"] = archive_mb_per_s("zip")

    # The tree's checksums are learnt by one zip first; the zip row is the warm figure.
    archive_seconds("zip")
    figures["tree_tar_s"], tar_peak = peak_rss_mb(
        server, lambda: median_of_tries(lambda: archive_seconds("tar")), memory_kib)
    figures["tree_zip_s"], zip_peak = peak_rss_mb(
        server, lambda: median_of_tries(lambda: archive_seconds("zip")), memory_kib)
    figures["tree_archive_rss"] = max(tar_peak, zip_peak)
    figures["tar_pipe_s"] = median_of_tries(lambda: tar_pipe_seconds(data, tree_dir))
    # Before its first byte an archive walks the whole tree, since its length comes first.
    figures["tree_tar_first_s"] = statistics.median(first_byte["tar"])
    return figures
