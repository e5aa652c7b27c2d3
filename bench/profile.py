#!/usr/bin/env python3
"""Instructions per workload iteration from callgrind runs of P11Bench's profile mode.

usage: profile.py OUT_DIR RUN_DIR
RUN_DIR holds callgrind.WORKLOAD.WAY (the profile) and calls.WORKLOAD.WAY (the number of
measured iterations) for every run.

Counting is switched on only inside the JNI natives of the bridge and of the JDK wrapper and
zeroed when the measured calls begin, so a run's total is what its natives cost. The module's
share is the inclusive cost of its C_ entry points; the rest is the wrapper's own (its code,
the JNI functions it calls, the allocator).
"""
import csv
import os
import re
import subprocess
import sys

LINE = re.compile(r"^\s*([\d,]+)\s+\([^)]*\)\s+(\S+?):(\S+)\s+\[(.*)\]")


def costs(path):
    text = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", path],
                          check=True, capture_output=True, text=True).stdout
    total = 0
    module = 0
    for line in text.splitlines():
        if "PROGRAM TOTALS" in line:
            total = int(line.split()[0].replace(",", ""))
        match = LINE.match(line)
        if match and "softhsm" in match.group(4) and match.group(3).startswith("C_"):
            module += int(match.group(1).replace(",", ""))
    return total, module


def main():
    out, run_dir = sys.argv[1], sys.argv[2]
    rows = []
    for name in sorted(os.listdir(run_dir)):
        if not name.startswith("callgrind."):
            continue
        _, workload, way = name.split(".")
        with open(os.path.join(run_dir, f"calls.{workload}.{way}")) as f:
            calls = int(f.read())
        total, module = costs(os.path.join(run_dir, name))
        rows.append([workload, way, round(total / calls), round(module / calls), round((total - module) / calls)])
    header = ["workload", "way", "instructions_per_call", "module_instructions", "wrapper_instructions"]
    with open(os.path.join(out, "profile.csv"), "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(header)
        writer.writerows(rows)
    with open(os.path.join(out, "profile.md"), "w") as f:
        f.write("# Instructions per workload iteration (callgrind)\n\n")
        f.write("| " + " | ".join(header) + " |\n|" + "|".join("---" for _ in header) + "|\n")
        for row in rows:
            f.write("| " + " | ".join(str(c) for c in row) + " |\n")


if __name__ == "__main__":
    main()
