#!/usr/bin/env python3
"""Export and import tables and version resources of the Windows deliverables.

The JNI export names come from the headers javac -h writes for the Java classes (so a native
added, renamed or given another signature in Java shows up here); the service exports come
from service_exports.txt. win32 names carry the stdcall decoration: _Java_..._name@N with
N = 8 (environment and receiver) + 4 per argument word + 8 per long or double. With --version,
each file's VERSIONINFO must carry that version under its own file name.

Exit status: 0 all tables as expected, 1 a difference, 77 no build folder given (outside CI).
"""
import argparse
import glob
import os
import re
import struct
import subprocess
import sys

SKIP = 77

# DLLs every Windows installation carries; anything else in an import table must be ours.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "winscard.dll", "advapi32.dll", "user32.dll", "ntdll.dll"}

JNI_WIDE_TYPES = {"jlong", "jdouble"}

# The bridge's library entry points (JavaVM pointer and reserved pointer).
JNI_LIBRARY_ENTRIES = [("JNI_OnLoad", 8), ("JNI_OnUnload", 8)]


def jni_natives(header_dir, prefix):
    """(name, argument bytes) of every native declared in the headers of classes under prefix."""
    natives = []
    for header in sorted(glob.glob(os.path.join(header_dir, prefix + "*.h"))):
        text = open(header, encoding="utf-8").read()
        for name, params in re.findall(r"JNIEXPORT\s+\w+\s+JNICALL\s+(Java_\w+)\s*\(([^)]*)\)", text):
            words = [p.strip().rstrip("*").strip() for p in params.split(",")]
            natives.append((name, sum(8 if w in JNI_WIDE_TYPES else 4 for w in words)))
    if not natives:
        raise SystemExit("no JNI natives found for %s in %s" % (prefix, header_dir))
    return natives


def service_exports(table):
    exports = []
    for line in open(table, encoding="utf-8"):
        line = line.strip()
        if line and not line.startswith("#"):
            name, size = line.split()
            exports.append((name, int(size)))
    return exports


def jni_names(natives, target):
    if target == "win32":
        return {"_%s@%d" % (name, size) for name, size in natives}
    return {name for name, _ in natives}


def plain_and_decorated(exports, target):
    names = {name for name, _ in exports}
    if target == "win32":
        names |= {"_%s@%d" % (name, size) for name, size in exports}
    return names


def read_tables(objdump, path):
    """(export names, {imported dll (lower case): set of imported names})."""
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    exports = set()
    imports = {}
    section = None
    current = None
    for line in out.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            section = "exports"
            continue
        if line.startswith("The Import Tables"):
            section = "imports"
            continue
        if section == "exports":
            match = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if match:
                exports.add(match.group(1))
            elif not line.strip():
                section = None
        elif section == "imports":
            match = re.match(r"\s*DLL Name:\s*(\S+)", line)
            if match:
                current = imports.setdefault(match.group(1).lower(), set())
                continue
            if not line.strip():
                current = None
                continue
            match = re.match(r"\s*[0-9a-f]+\s+\d+\s+(\S+)", line)
            if match and current is not None:
                current.add(match.group(1))
            if line.startswith("The Export Tables") or line.startswith("PE File Base Relocations"):
                section = None
    return exports, imports


def version_resource(path):
    """(fixed file version "a.b.c.d", {string name: value}) of the VERSIONINFO, or None."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]  # after the optional header
    for at in range(table, table + 40 * sections, 40):
        if data[at:at + 8].rstrip(b"\0") == b".rsrc":
            size, offset = struct.unpack_from("<II", data, at + 16)
            rsrc = data[offset:offset + size]
            break
    else:
        return None
    fixed = rsrc.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        return None
    high, low = struct.unpack_from("<II", rsrc, fixed + 8)
    strings = {}
    for key in ("FileVersion", "ProductVersion", "OriginalFilename"):
        encoded = (key + "\0").encode("utf-16-le")
        start = rsrc.find(encoded, fixed)
        if start < 0:
            continue
        start += len(encoded)
        while rsrc[start:start + 2] == b"\0\0":  # padding to the value
            start += 2
        end = start
        while rsrc[end:end + 2] != b"\0\0":
            end += 2
        strings[key] = rsrc[start:end].decode("utf-16-le")
    return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF), strings


def compare_version(label, path, version, problems):
    found = version_resource(path)
    if found is None:
        problems.append("%s: no version resource" % label)
        return
    expected_strings = {"FileVersion": version, "ProductVersion": version, "OriginalFilename": os.path.basename(path)}
    if found != (version + ".0", expected_strings):
        problems.append("%s: version resource %s %s, expected %s.0 %s" % (label, found[0], found[1], version,
                                                                          expected_strings))


def undecorated(name):
    return re.sub(r"@\d+$", "", name.lstrip("_"))


def compare_exports(label, expected, found, problems):
    missing = sorted(expected - found)
    extra = sorted(found - expected)
    for name in missing:
        near = [e for e in extra if undecorated(e) == undecorated(name)]
        if near:
            problems.append("%s: expected export %s, found %s (wrong decoration)" % (label, name, ", ".join(near)))
        else:
            problems.append("%s: missing export %s" % (label, name))
    near_found = {e for name in missing for e in extra if undecorated(e) == undecorated(name)}
    for name in extra:
        if name not in near_found:
            problems.append("%s: unexpected export %s" % (label, name))


def compare_imports(label, imports, allowed, problems):
    for dll, names in sorted(imports.items()):
        if dll in SYSTEM_DLLS:
            continue
        if dll not in allowed:
            problems.append("%s: imports from non-system DLL %s" % (label, dll))
        elif names != allowed[dll]:
            problems.append("%s: imports %s from %s, expected %s" % (label, sorted(names), dll, sorted(allowed[dll])))
    for dll in allowed:
        if dll not in imports:
            problems.append("%s: does not import from %s" % (label, dll))


def check(target, locate, objdump, jni_headers, service_table, version=None):
    """Problems found in the deliverables of a target; locate maps a build-relative path to the file."""
    bridge = jni_natives(jni_headers, "it_vantrel_pkcs11_nat_")
    atr = jni_natives(jni_headers, "it_vantrel_tirvex_util_ATR")
    service = service_exports(service_table)
    deliverables = [
        ("bridge/p11bridge.dll", jni_names(bridge + JNI_LIBRARY_ENTRIES, target), {}),
        ("atr/atrprobe.dll", {"getatrstr", "?csgetatr@@YAHXZ"}, {}),
        ("atr/atrprobejni2.dll", jni_names(atr, target), {"atrprobe.dll": {"getatrstr"}}),
        ("service/tavo2.dll", plain_and_decorated(service, target), {}),
        ("stub/tavo.dll", plain_and_decorated(service, target), {}),
        ("tester/tavotester.exe", set(), {}),
    ]
    problems = []
    checked = 0
    for relative, expected, allowed_imports in deliverables:
        path = locate(relative)
        label = "%s %s" % (target, os.path.basename(relative))
        if not os.path.isfile(path):
            problems.append("%s: not built (%s)" % (label, path))
            continue
        exports, imports = read_tables(objdump, path)
        compare_exports(label, expected, exports, problems)
        compare_imports(label, imports, allowed_imports, problems)
        if version:
            compare_version(label, path, version, problems)
        checked += len(expected)
        print("%s: %d exports, imports from %s" % (label, len(exports), ", ".join(sorted(imports))))
    for problem in problems:
        print("FAIL " + problem)
    print("%d expected exports checked in %d files, %d problems" % (checked, len(deliverables), len(problems)))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", choices=["win32", "win64"], required=True)
    parser.add_argument("--build-dir", default="")
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--jni-headers", required=True)
    parser.add_argument("--service-table", required=True)
    parser.add_argument("--version")
    args = parser.parse_args()

    if not args.build_dir:
        if os.environ.get("CI"):
            print("no %s build folder given (WIN32_BUILD_DIR/WIN64_BUILD_DIR): required in CI" % args.target)
            return 1
        print("no %s build folder given: skipped" % args.target)
        return SKIP

    problems = check(args.target, lambda relative: os.path.join(args.build_dir, relative), args.objdump, args.jni_headers, args.service_table, args.version)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
