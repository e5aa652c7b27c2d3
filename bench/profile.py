#!/usr/bin/env python3
"""Instructions per workload iteration from callgrind runs of P11Bench's profile mode.

usage: profile.py OUT_DIR RUN_DIR
RUN_DIR holds callgrind.WORKLOAD.WAY (the profile) and calls.WORKLOAD.WAY (the number of
measured iterations) for every run.

Counting is switched on only inside the JNI natives of the bridge and of the JDK wrapper and
zeroed when the measured calls begin, so a run's total is what its natives cost. The module's
share is the inclusive cost of its C_ entry points; the rest is the wrapper's own (its code,
the JNI functions it calls, the allocator). Each native's inclusive cost per iteration is listed
as well (natives.csv), so that a workload of several natives shows where its cost lies.
"""
import csv
import os
import re
import subprocess
import sys

LINE = re.compile(r"^\s*([\d,]+)\s+\([^)]*\)\s+(\S+?):(\S+)\s+\[(.*)\]")


# The natives counted: the bridge's and the JDK wrapper's.
NATIVE_PREFIXES = ("Java_it_vantrel_pkcs11_", "Java_sun_security_pkcs11_wrapper_")


def method_name(native):
    """Class.method of a JNI name (Java_<package>_<Class>_<method>, '_1' standing for '_')."""
    parts = native.replace("_1", "\0").split("_")
    parts = [p.replace("\0", "_") for p in parts]
    return parts[-2] + "." + parts[-1]


def costs(path):
    text = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", path],
                          check=True, capture_output=True, text=True).stdout
    total = 0
    module = 0
    natives = {}
    for line in text.splitlines():
        if "PROGRAM TOTALS" in line:
            total = int(line.split()[0].replace(",", ""))
        match = LINE.match(line)
        if not match:
            continue
        cost = int(match.group(1).replace(",", ""))
        if "softhsm" in match.group(4) and match.group(3).startswith("C_"):
            module += cost
        if match.group(3).startswith(NATIVE_PREFIXES):
            natives[match.group(3)] = natives.get(match.group(3), 0) + cost
    return total, module, natives


def main():
    out, run_dir = sys.argv[1], sys.argv[2]
    rows = []
    native_rows = []
    for name in sorted(os.listdir(run_dir)):
        if not name.startswith("callgrind."):
            continue
        _, workload, way = name.split(".")
        with open(os.path.join(run_dir, f"calls.{workload}.{way}")) as f:
            calls = int(f.read())
        total, module, natives = costs(os.path.join(run_dir, name))
        rows.append([workload, way, round(total / calls), round(module / calls), round((total - module) / calls)])
        for native, cost in sorted(natives.items()):
            native_rows.append([workload, way, method_name(native), native, round(cost / calls)])
    header = ["workload", "way", "instructions_per_call", "module_instructions", "wrapper_instructions"]
    with open(os.path.join(out, "profile.csv"), "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(header)
        writer.writerows(rows)
    native_header = ["workload", "way", "method", "native", "inclusive_instructions_per_iteration"]
    with open(os.path.join(out, "natives.csv"), "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(native_header)
        writer.writerows(native_rows)
    with open(os.path.join(out, "profile.md"), "w") as f:
        f.write("# Instructions per workload iteration (callgrind)\n\n")
        f.write("| " + " | ".join(header) + " |\n|" + "|".join("---" for _ in header) + "|\n")
        for row in rows:
            f.write("| " + " | ".join(str(c) for c in row) + " |\n")
        f.write("\n## Per native (inclusive, per workload iteration)\n\n")
        short = native_header[:3] + native_header[4:]
        f.write("| " + " | ".join(short) + " |\n|" + "|".join("---" for _ in short) + "|\n")
        for row in native_rows:
            f.write("| " + " | ".join(str(c) for c in row[:3] + row[4:]) + " |\n")


if __name__ == "__main__":
    main()
