#!/usr/bin/env python3
"""Times `vlxinstall -s` against cp doing the same copies, on a large generated
distribution: seven launcher programs of 8 MB and three boot files of 20 MB.
The two alternate, each on a fresh bin directory and after a sync; cp is
timed also with a sync of its copies, since the tool flushes every copy to
the disk. The result is the median of each, the ratios (vlxinstall's time
over cp's) and the peak memory of vlxinstall.

usage: install_benchmark.py VLXINSTALL [WORK_DIR] [RUNS]"""

import os
import shlex
import shutil
import statistics
import subprocess
import sys
import time

LAUNCHERS = ["vlx", "vlxwin", "vlxcomp", "lintvet", "sigscan", "vlxrun", "testdrv"]
BOOT_FILES = ["start_minimal", "start_tavrel", "no_dot_vorlax"]
MB = 1 << 20


def write_random(path, size):
    with open(path, "wb") as out:
        for _ in range(size // MB):
            out.write(os.urandom(MB))


def make_distribution(root):
    """The distribution, generated once and kept for later runs."""
    runtime_bin = os.path.join(root, "vlxcore-2.4.1", "bin")
    release = os.path.join(root, "releases", "9")
    if not os.path.exists(os.path.join(root, "Install.ini")):
        os.makedirs(runtime_bin, exist_ok=True)
        os.makedirs(release, exist_ok=True)
        for name in LAUNCHERS:
            write_random(os.path.join(runtime_bin, name + ".exe"), 8 * MB)
        for name in BOOT_FILES:
            write_random(os.path.join(release, name + ".boot"), 20 * MB)
        with open(os.path.join(root, "Install.ini"), "w") as out:
            out.write("[Install]\nVSN=2.4.1\nSYSTEM_VSN=9\n")
    sources = [os.path.join(runtime_bin, n + ".exe") for n in LAUNCHERS]
    sources += [os.path.join(release, n + ".boot") for n in BOOT_FILES]
    return sources


def timed(command):
    """Wall time and peak memory (MB) of command. Dirty data of earlier runs is
    written out first, so that no run pays for another's writeback."""
    os.sync()
    start = time.perf_counter()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise RuntimeError("%s failed" % command[0])
    return elapsed, usage.ru_maxrss / 1024


def measure(tool, work, runs):
    root = os.path.join(work, "distribution")
    sources = make_distribution(root)
    bin_dir = os.path.join(root, "bin")
    copy_all = ["cp"] + sources + [bin_dir]
    copy_start = ["cp", os.path.join(bin_dir, "start_minimal.boot"), os.path.join(bin_dir, "start.boot")]
    # cp leaves its copies in the page cache; the tool flushes each one to
    # the disk before it replaces its target. sync on the copies does that,
    # timed in one command with the copies (timed() syncs before it starts).
    flush = ["sync"] + [os.path.join(bin_dir, os.path.basename(s)) for s in sources]
    flush.append(os.path.join(bin_dir, "start.boot"))
    copy_and_flush = ["sh", "-c", " && ".join(" ".join(map(shlex.quote, c)) for c in (copy_all, copy_start, flush))]
    ours, theirs, durable, peak_mb = [], [], [], 0
    for _ in range(runs):
        shutil.rmtree(bin_dir, ignore_errors=True)
        elapsed, peak = timed([tool, "-s", root])
        ours.append(elapsed)
        peak_mb = max(peak_mb, peak)
        shutil.rmtree(bin_dir, ignore_errors=True)
        os.mkdir(bin_dir)
        theirs.append(timed(copy_all)[0] + timed(copy_start)[0])
        shutil.rmtree(bin_dir, ignore_errors=True)
        os.mkdir(bin_dir)
        durable.append(timed(copy_and_flush)[0])
    megabytes = sum(os.path.getsize(s) for s in sources) / MB + 20  # and start.boot
    return {
        "vlxinstall_s": statistics.median(ours),
        "cp_s": statistics.median(theirs),
        "cp_sync_s": statistics.median(durable),
        "ratio": statistics.median(ours) / statistics.median(theirs),
        "ratio_sync": statistics.median(ours) / statistics.median(durable),
        "megabytes": megabytes,
        "peak_mb": peak_mb,
    }


def main():
    tool = os.path.abspath(sys.argv[1])
    work = sys.argv[2] if len(sys.argv) > 2 else "bench-data"
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 9
    result = measure(tool, work, runs)
    print("vlxinstall -s: %.1f ms, cp: %.1f ms (ratio %.2f), cp and sync: %.1f ms (ratio %.2f), median of %d each"
          % (result["vlxinstall_s"] * 1000, result["cp_s"] * 1000, result["ratio"],
             result["cp_sync_s"] * 1000, result["ratio_sync"], runs))


if __name__ == "__main__":
    main()
