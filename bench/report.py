#!/usr/bin/env python3
"""Turns the benchmark samples into the results: medians, ratios, CSV, Markdown, PNG.

usage: report.py TOKEN_SAMPLES SERVICE_SAMPLES OUT_DIR PLOT_SCRIPT [THREAD_SAMPLES [MEMORY_SAMPLES]]

Samples are lines "workload,way,value": ns per call for the token workloads (ways bridge,
jdk, floor), operations per second for the service workloads (ways tavo2, floor). Bridge and
JDK samples come in pairs taken back to back, so their ratio is the median of the per-pair
ratios; everything else is a median of the repetitions. Thread samples are signatures per
second of 8 threads (ways bridge, jdk_serialising, jdk_os_locking); the bridge must at least
match the JDK wrapper where that serialises its calls.
Memory samples are the peak resident kB of one process each (ways bridge, jdk).
"""
import csv
import os
import statistics
import subprocess
import sys
import time
from collections import OrderedDict, defaultdict


# The goal of each token workload: the highest bridge/JDK ratio, and for session info also the
# most the bridge may add to the bare module call.
DATA_CALLS = {"attribute_label", "aes_ecb_16", "rsa2048_sha256_sign", "aes_ecb_64k", "aes_ecb_1m", "aes_ecb_16m",
              "rsa2048_sha256_sign_16m", "create_object_1m", "attribute_value_1m"}
FLOOR_GAP_LIMITS = {"session_info": 400}


def goal(workload):
    return (1.0 if workload in DATA_CALLS else 0.9), FLOOR_GAP_LIMITS.get(workload)


def meets_goal(workload, ratio, gap):
    ratio_limit, gap_limit = goal(workload)
    misses = []
    if not ratio <= ratio_limit:
        misses.append(f"ratio > {ratio_limit}")
    if gap_limit is not None and not gap <= gap_limit:
        misses.append(f"gap > {gap_limit} ns")
    return "yes" if not misses else "no (" + ", ".join(misses) + ")"


def read_samples(path):
    samples = OrderedDict()
    with open(path, newline="") as f:
        for workload, way, value in csv.reader(f):
            samples.setdefault(workload, defaultdict(list))[way].append(float(value))
    return samples


def median(values):
    return statistics.median(values) if values else float("nan")


def paired_ratio(numerators, denominators):
    return median([a / b for a, b in zip(numerators, denominators) if b > 0])


def write_csv(path, header, rows):
    with open(path, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(header)
        writer.writerows(rows)


def markdown_table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def main():
    token_path, service_path, out, plot_script = sys.argv[1:5]
    os.makedirs(out, exist_ok=True)
    token = read_samples(token_path)
    service = read_samples(service_path)
    threads = read_samples(sys.argv[5]) if len(sys.argv) > 5 else OrderedDict()
    memory = read_samples(sys.argv[6]) if len(sys.argv) > 6 else OrderedDict()

    thread_rows = []
    for workload, ways in threads.items():
        bridge, serialising, os_locking = (median(ways[w]) for w in ("bridge", "jdk_serialising", "jdk_os_locking"))
        ratio = paired_ratio(ways["bridge"], ways["jdk_serialising"])
        thread_rows.append([workload, round(bridge), round(serialising), round(os_locking), round(ratio, 3),
                            "yes" if ratio >= 1.0 else "no (ratio < 1.0)"])
    thread_header = ["workload", "bridge_per_s", "jdk_serialising_per_s", "jdk_os_locking_per_s",
                     "bridge_over_jdk_serialising", "meets_goal"]

    token_rows = []
    for workload, ways in token.items():
        bridge, jdk, floor = (median(ways[w]) for w in ("bridge", "jdk", "floor"))
        ratio = paired_ratio(ways["bridge"], ways["jdk"])
        token_rows.append([workload, round(bridge), round(jdk), round(floor), round(ratio, 3), round(bridge - floor),
                           meets_goal(workload, ratio, bridge - floor)])
    token_header = ["workload", "bridge_ns", "jdk_wrapper_ns", "floor_ns", "bridge_over_jdk", "bridge_minus_floor_ns",
                    "meets_goal"]

    service_rows = []
    for workload, ways in service.items():
        tavo2, floor = median(ways["tavo2"]), median(ways["floor"])
        service_rows.append([workload, round(tavo2), round(floor), round(paired_ratio(ways["tavo2"], ways["floor"]), 3)])
    service_header = ["workload", "tavo2_per_s", "floor_per_s", "tavo2_over_floor"]

    memory_rows = []
    for workload, ways in memory.items():
        bridge, jdk = median(ways["bridge"]), median(ways["jdk"])
        memory_rows.append([workload, round(bridge), round(jdk), "yes" if bridge <= jdk else "no"])
    memory_header = ["workload", "bridge_peak_kb", "jdk_wrapper_peak_kb", "meets_goal"]

    write_csv(os.path.join(out, "token.csv"), token_header, token_rows)
    write_csv(os.path.join(out, "service.csv"), service_header, service_rows)
    write_csv(os.path.join(out, "threads.csv"), thread_header, thread_rows)
    reps = max((len(v) for ways in token.values() for v in ways.values()), default=0)
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else float("nan")
    with open(os.path.join(out, "results.md"), "w") as f:
        f.write("# Benchmark results\n\n")
        f.write(f"{time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, {reps} repetitions, "
                f"load average {load:.1f} at the end. Medians; bridge/JDK is the median of back-to-back pairs.\n\n")
        f.write("## Token bridge (ns per call; SoftHSM2)\n\n")
        f.write("Goal: bridge/JDK at most 1.0 on the data calls (label, AES, RSA, the 64 KB to 16 MB rows) and at "
                "most 0.9 on every other row; on session_info also bridge minus floor at most 400 ns.\n\n")
        f.write(markdown_table(token_header, token_rows) + "\n\n")
        if thread_rows:
            f.write("## Token bridge on 8 threads (signatures per second; SoftHSM2)\n\n")
            f.write("Each thread signs on a session of its own. The bridge and the JDK wrapper's serialising "
                    "mode run on the module initialised without OS locking; the wrapper's other mode in a JVM "
                    "of its own, where it initialises the module with CKF_OS_LOCKING_OK. Goal: the bridge at "
                    "least matches the serialising mode.\n\n")
            f.write(markdown_table(thread_header, thread_rows) + "\n\n")
        if memory_rows:
            f.write("## Token bridge peak memory (kB resident; one JVM per sample)\n\n")
            f.write("Goal: the bridge's peak at most the JDK wrapper's.\n\n")
            f.write(markdown_table(memory_header, memory_rows) + "\n\n")
        f.write("## Service client (operations per second)\n\n")
        f.write(markdown_table(service_header, service_rows) + "\n")

    # Plot data: one row per workload, one column per way.
    with open(os.path.join(out, "token.dat"), "w") as f:
        for row in token_rows:
            f.write(f"{row[0]} {row[3]} {row[1]} {row[2]}\n")
    with open(os.path.join(out, "service.dat"), "w") as f:
        for row in service_rows:
            f.write(f"{row[0]} {row[1]} {row[2]}\n")
    subprocess.run(["gnuplot", "-e", f"dir='{out}'", plot_script], check=True)


if __name__ == "__main__":
    main()
