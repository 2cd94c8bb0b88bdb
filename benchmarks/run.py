#!/usr/bin/env python3
"""Runs every benchmark and prints one table: what was measured, its median,
its throughput, how it compares, and the peak memory of the process.

Each Google Benchmark case runs in a process of its own, so that its peak
memory is its own, with five repetitions of at least one second each.

usage: run.py BUILD_DIR DATA_DIR"""

import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import install_benchmark  # noqa: E402

LABELS = {
    "BM_LoadRealistic": "load_init_file, realistic file (CR LF, escapes, continuations)",
    "BM_LoadShared": "load_init_file, plain file both parsers read alike",
    "BM_LoadPlain": "load_init_file, file every peer reads alike (GKeyFile too)",
    "BM_AnchorShared": "anchor: inih parsing the same plain file",
    "BM_LoadLongLine/50": "load_init_file, one 50 MB line",
    "BM_LoadLongLine/100": "load_init_file, one 100 MB line",
    "BM_LoadTinyLines/1000000": "load_init_file, 1,000,000 tiny lines",
    "BM_LoadTinyLines/2000000": "load_init_file, 2,000,000 tiny lines",
    "BM_Store/1000000": "store_init_file, 1,000,000 entries",
    "BM_Store/2000000": "store_init_file, 2,000,000 entries",
    "BM_StoreAnchor/1000000": "anchor: the same bytes from C, 64 KiB blocks, flushed and renamed",
    "BM_StoreUnescaped/1000000": "the document walked, written unescaped from C the same way",
    "BM_EditAndStore": "editor: open the realistic file, set one value, store it",
    "BM_LoadAndStore": "document: load the realistic file, set one value, store it",
    "BM_SetEntry/10": "set_init_entry, last of 10 entries",
    "BM_SetEntry/10000": "set_init_entry, last of 10,000 entries",
    "BM_LookupValue/10": "lookup_init_value, last of 10 entries",
    "BM_LookupValue/10000": "lookup_init_value, last of 10,000 entries",
}
# Cases measured against the one before them with half the input, and the
# function whose instructions are counted for them.
DOUBLES = {"BM_LoadLongLine/100": "BM_LoadLongLine/50",
           "BM_LoadTinyLines/2000000": "BM_LoadTinyLines/1000000",
           "BM_Store/2000000": "BM_Store/1000000"}
COUNTED = {"BM_LoadLongLine": "load_init_file_reporting", "BM_LoadTinyLines": "load_init_file_reporting",
           "BM_Store": "store_init_file"}


def count_instructions(binary, name, data):
    """Instructions of one call of the measured function, counted by callgrind:
    unlike time, the same on every run."""
    function = COUNTED[name.split("/")[0]]
    result = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
         "--toggle-collect=%s*" % function, binary, "--benchmark_filter=^%s$" % name,
         "--benchmark_min_time=0"],
        check=True, capture_output=True, text=True, env=dict(os.environ, VLX_BENCH_DATA=data))
    return int(re.search(r"Collected : (\d+)", result.stderr).group(1))


def run_case(binary, name, data):
    output = subprocess.run(
        [binary, "--benchmark_filter=^%s$" % name, "--benchmark_min_time=1",
         "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"],
        check=True, capture_output=True, text=True, env=dict(os.environ, VLX_BENCH_DATA=data)).stdout
    for run in json.loads(output)["benchmarks"]:
        if run.get("aggregate_name") == "median":
            return run
    raise RuntimeError("no median for " + name)


def fresh_processes(program, path, rounds=11):
    """Each reader of user_program run afresh on path, rounds times, the
    readers taking turns: median wall time and peak memory (VmHWM, MB) of
    each. A reader the program was built without is left out."""
    readers = ["vlx", "inih", "gkeyfile"]
    times = {reader: [] for reader in readers}
    peaks = {reader: 0.0 for reader in readers}
    for _ in range(rounds + 1):  # the first round only warms the page cache
        for reader in list(readers):
            start = time.perf_counter()
            process = subprocess.Popen([program, reader, path], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(process.pid, 0)
            elapsed = time.perf_counter() - start
            if status != 0:
                readers.remove(reader)
                continue
            times[reader].append(elapsed)
            peaks[reader] = max(peaks[reader], usage.ru_maxrss / 1024)
    return {reader: (statistics.median(times[reader][1:]), peaks[reader]) for reader in readers}


def fresh_edits(build, data, rounds=11):
    """vlxini set of one value in the realistic file, and a program that
    loads, sets and stores the document, each in fresh processes on a copy
    of the file in a memory file system, taking turns: the median wall time
    and the peak memory (MB) of each."""
    scratch = tempfile.mkdtemp(prefix="vlx-bench-edit-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        change = ["component.9999", "size_98", "7"]
        commands = {"edit": [os.path.join(build, "bin", "vlxini"), "set"],
                    "store": [os.path.join(build, "bin", "user_program"), "store"]}
        for name, command in commands.items():  # each on a copy of its own: a store drops the comments
            command.append(os.path.join(scratch, name + ".ini"))
            shutil.copyfile(os.path.join(data, "realistic.ini"), command[-1])
            command += change
        times = {name: [] for name in commands}
        peaks = {name: 0.0 for name in commands}
        for _ in range(rounds + 1):  # the first round only warms the page cache
            for name, command in commands.items():
                start = time.perf_counter()
                process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
                _, status, usage = os.wait4(process.pid, 0)
                times[name].append(time.perf_counter() - start)
                peaks[name] = max(peaks[name], usage.ru_maxrss / 1024)
                if status != 0:
                    raise RuntimeError("%s failed" % command)
        return (statistics.median(times["edit"][1:]), peaks["edit"],
                statistics.median(times["store"][1:]), peaks["store"])
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def seconds(run):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run["time_unit"]]
    return run["real_time"] * scale


def show_time(value):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if value >= scale:
            return "%.1f %s" % (value / scale, unit)
    return "%.0f ns" % (value / 1e-9)


def main():
    build, data = sys.argv[1], sys.argv[2]
    binary = os.path.join(build, "bin", "init_file_benchmark")
    names = subprocess.run([binary, "--benchmark_list_tests"], check=True, capture_output=True,
                           text=True).stdout.split()
    runs = {}
    for name in names:
        print("running %s ..." % name, file=sys.stderr)
        runs[name] = run_case(binary, name, data)

    rows = []
    anchor = runs["BM_AnchorShared"]
    for name in names:
        run = runs[name]
        rate = run.get("bytes_per_second")
        compare = ""
        if name in ("BM_LoadRealistic", "BM_LoadShared"):
            compare = "%.2fx the throughput of inih" % (rate / anchor["bytes_per_second"])
        elif name in ("BM_Store/1000000", "BM_StoreUnescaped/1000000"):
            compare = "%.2fx the time of the anchor" % (seconds(run) / seconds(runs["BM_StoreAnchor/1000000"]))
        elif name in DOUBLES:
            half = DOUBLES[name]
            print("counting instructions of %s and %s ..." % (half, name), file=sys.stderr)
            counts = count_instructions(binary, name, data) / count_instructions(binary, half, data)
            compare = "2x input: %.2fx time, %.2fx instructions" % (
                seconds(run) / seconds(runs[half]), counts)
        elif name == "BM_EditAndStore":
            compare = "%.2fx the time of a load and a store" % (seconds(run) / seconds(runs["BM_LoadAndStore"]))
        elif name in ("BM_AnchorShared", "BM_StoreAnchor/1000000", "BM_LoadAndStore"):
            compare = "1.00 (anchor)"
        rows.append((LABELS.get(name, name), show_time(seconds(run)),
                     "%.0f" % (rate / 2**20) if rate else "", compare,
                     "%.0f MB" % run["peak_MB"] if "peak_MB" in run else ""))

    print("running a user's program in fresh processes ...", file=sys.stderr)
    plain = os.path.join(data, "plain.ini")
    megabytes = os.path.getsize(plain) / 2**20
    user = fresh_processes(os.path.join(build, "bin", "user_program"), plain)
    vlx_time, vlx_peak = user["vlx"]
    inih_time, inih_peak = user["inih"]
    rows.append(("fresh process: load, walk every entry, free (plain file)", show_time(vlx_time),
                 "%.0f" % (megabytes / vlx_time), "%.2fx the time of inih" % (vlx_time / inih_time),
                 "%.0f MB (%.2fx the file)" % (vlx_peak, vlx_peak / megabytes)))
    rows.append(("anchor: fresh process, inih counting the same entries", show_time(inih_time),
                 "%.0f" % (megabytes / inih_time), "1.00 (anchor)", "%.0f MB" % inih_peak))
    if "gkeyfile" in user:
        gkeyfile_time, gkeyfile_peak = user["gkeyfile"]
        rows.append(("fresh process: GKeyFile load, walk, free (plain file)", show_time(gkeyfile_time),
                     "%.0f" % (megabytes / gkeyfile_time),
                     "this library: %.2fx this time" % (vlx_time / gkeyfile_time),
                     "%.0f MB" % gkeyfile_peak))

    print("running vlxini set in fresh processes ...", file=sys.stderr)
    edit_time, edit_peak, store_time, store_peak = fresh_edits(build, data)
    megabytes = os.path.getsize(os.path.join(data, "realistic.ini")) / 2**20
    rows.append(("fresh process: vlxini set of one value in the realistic file", show_time(edit_time),
                 "%.0f" % (megabytes / edit_time), "%.2fx the time of a load and a store" % (edit_time / store_time),
                 "%.0f MB" % edit_peak))
    rows.append(("anchor: fresh process, load, set, store the document", show_time(store_time),
                 "%.0f" % (megabytes / store_time), "1.00 (anchor)", "%.0f MB" % store_peak))

    print("running the installation against cp ...", file=sys.stderr)
    install = install_benchmark.measure(os.path.join(build, "bin", "vlxinstall"), data, 11)
    rows.append(("vlxinstall -s: 10 files (116 MB) and start.boot", show_time(install["vlxinstall_s"]),
                 "%.0f" % (install["megabytes"] / install["vlxinstall_s"]),
                 "%.2fx the time of cp" % install["ratio"], "%.0f MB" % install["peak_mb"]))
    rows.append(("anchor: cp of the same files", show_time(install["cp_s"]),
                 "%.0f" % (install["megabytes"] / install["cp_s"]), "1.00 (anchor)", ""))
    rows.append(("cp of the same files, then sync of the copies", show_time(install["cp_sync_s"]),
                 "%.0f" % (install["megabytes"] / install["cp_sync_s"]),
                 "vlxinstall: %.2fx this time" % install["ratio_sync"], ""))

    header = ("What was measured", "Median", "MB/s", "Compared", "Peak memory")
    widths = [max(len(row[i]) for row in rows + [header]) for i in range(len(header))]
    line = lambda row: "| " + " | ".join(cell.ljust(w) for cell, w in zip(row, widths)) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print(line(row))


if __name__ == "__main__":
    main()
