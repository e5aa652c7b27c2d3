#!/usr/bin/env python3
"""The packages of build/packages as a user gets them.

  windows --target win32|win64   the ZIP holds exactly the expected files in one folder, in name
                                 order and dated alike, and its DLLs pass the export, import and
                                 version resource checks
  wine                           the win64 ZIP's tavotester runs under Wine from the unzipped
                                 folder, with the sample configuration pointed at a stand-in JVM
  linux64                        the .deb and .tar.gz hold exactly the expected files and links,
                                 in name order, dated alike and owned by root; the .deb's fields;
                                 no lintian error or warning; the install components part them;
                                 and, from the .deb unpacked with dpkg -x alone, the signing run,
                                 the tavotester run and the ATR library's load
  reproducible --again <root>    scripts/package.sh run again in a fresh build root (another
                                 path, another time) gives the same SHA256SUMS; the members
                                 that differ are named

Exit status: 0 as expected, 1 a difference.
"""
import argparse
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
import check_binaries  # noqa: E402

NAME = "vantrel-native"
JARS = ["vantrel-pkcs11.jar", "vantrel-pkcs11-javadoc.jar", "vantrel-pkcs11-demo.jar", "vantrel-atr.jar",
        "vantrel-atr-javadoc.jar", "tavo-proxy.jar", "tavo-proxy-javadoc.jar"]
# A class each jar must carry (javadoc jars: their index page).
JAR_ENTRIES = {"vantrel-pkcs11.jar": "it/vantrel/pkcs11/nat/NativePKCS11.class",
               "vantrel-pkcs11-demo.jar": "it/vantrel/pkcs11/demo/SigningRun.class",
               "vantrel-atr.jar": "it/vantrel/tirvex/util/ATR.class",
               "tavo-proxy.jar": "tavo/client/SendServiceProxy.class"}
WINDOWS_FILES = ["p11bridge.dll", "atrprobe.dll", "atrprobejni2.dll", "tavo2.dll", "tavo.dll", "tavotester.exe",
                 "tavodll_classpath.conf", "README.md"] + JARS
DOC = "share/doc/" + NAME
SAMPLE = DOC + "/examples/tavodll_classpath.conf"
# On Linux the jars are versioned, each with an unversioned link, and their API documentation is
# HTML, one folder each under API.
LINUX_JARS = ["vantrel-pkcs11", "vantrel-pkcs11-demo", "vantrel-atr", "tavo-proxy"]
DOCUMENTED = ["vantrel-pkcs11", "vantrel-atr", "tavo-proxy"]
API = DOC + "/api/"


def linux_files(multiarch, version):
    """Regular files, relative to the installation prefix."""
    jni = "lib/%s/jni/" % multiarch
    service = "lib/%s/vantrel/" % multiarch
    return (["bin/tavotester", jni + "libp11bridge.so", jni + "libatrprobe.so", jni + "libatrprobejni2.so",
             service + "libtavo.so", service + "libtavo2.so", DOC + "/README.md", DOC + "/copyright",
             DOC + "/changelog.gz", "share/man/man1/tavotester.1.gz", SAMPLE] +
            ["share/java/%s-%s.jar" % (jar, version) for jar in LINUX_JARS])


def linux_links(version):
    return {"share/java/%s.jar" % jar: "%s-%s.jar" % (jar, version) for jar in LINUX_JARS}


class Checks:
    def __init__(self):
        self.problems = []

    def expect(self, condition, message):
        if not condition:
            self.problems.append(message)
        return condition

    def same_files(self, label, found, expected):
        found, expected = set(found), set(expected)
        for name in sorted(expected - found):
            self.problems.append("%s: missing %s" % (label, name))
        for name in sorted(found - expected):
            self.problems.append("%s: unexpected %s" % (label, name))

    def finish(self):
        for problem in self.problems:
            print("FAIL " + problem)
        print("%d problems" % len(self.problems))
        return 1 if self.problems else 0


def run(argv, cwd=None, env=None, timeout=120):
    result = subprocess.run(argv, cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout)
    print("$ %s -> %d\n%s%s" % (" ".join(argv), result.returncode, result.stdout, result.stderr))
    return result


def check_jars(checks, label, folder):
    for jar in JARS:
        names = zipfile.ZipFile(os.path.join(folder, jar)).namelist()
        entry = "index.html" if jar.endswith("-javadoc.jar") else JAR_ENTRIES[jar]
        checks.expect(entry in names, "%s: %s lacks %s" % (label, jar, entry))


def unzip_package(args, target, into):
    """The folder the ZIP lays out, and the names of its files."""
    package = os.path.join(args.packages, "%s-%s-%s.zip" % (NAME, args.version, target))
    with zipfile.ZipFile(package) as archive:
        names = [n for n in archive.namelist() if not n.endswith("/")]
        archive.extractall(into)
    return os.path.join(into, "%s-%s-%s" % (NAME, args.version, target)), names


def check_windows(args, checks, work):
    with zipfile.ZipFile(os.path.join(args.packages, "%s-%s-%s.zip" % (NAME, args.version, args.target))) as archive:
        entries = archive.infolist()
    checks.expect([e.filename for e in entries] == sorted(e.filename for e in entries),
                  "%s ZIP: members not in name order" % args.target)
    checks.expect(len({e.date_time for e in entries}) == 1, "%s ZIP: members of different dates" % args.target)
    folder, names = unzip_package(args, args.target, work)
    top = os.path.basename(folder)
    checks.same_files("%s ZIP" % args.target, names, [top + "/" + name for name in WINDOWS_FILES])
    checks.problems += check_binaries.check(args.target, lambda relative: os.path.join(folder, os.path.basename(relative)),
                                            args.objdump, args.jni_headers, args.service_table, args.version)
    check_jars(checks, args.target, folder)
    sample = open(os.path.join(folder, "tavodll_classpath.conf"), "rb").read()
    checks.expect(sample.startswith(b"tavo-proxy.jar\r\n") and b"\n" not in sample.replace(b"\r\n", b""),
                  "%s: the sample configuration is not a CR LF file starting with the proxy jar" % args.target)


def check_wine(args, checks, work):
    folder, _ = unzip_package(args, "win64", work)
    # The sample as a user edits it: only the Java runtime changes, to the stand-in of the tests.
    fake_jvm = "Z:" + os.path.abspath(args.fake_jvm).replace("/", "\\")
    sample = open(os.path.join(folder, "tavodll_classpath.conf"), "rb").read().decode()
    configured = re.sub(r"(?m)^jvmdllpath=.*$", lambda _: "jvmdllpath=" + fake_jvm, sample)
    checks.expect(configured != sample, "win64 sample: no jvmdllpath line")
    open(os.path.join(folder, "tavodll_classpath.conf"), "wb").write(configured.encode())
    open(os.path.join(folder, "fakejvm_script.txt"), "w").write("checkTransport OK\ngetVersionePorta packaged\n")
    prefix = open(args.wine_state).read().strip()
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    result = run([args.wine_loader, "tavotester.exe"], cwd=folder, env=env)
    checks.expect(result.returncode == 0, "win64 tavotester exit status %d, expected 0" % result.returncode)
    checks.expect(read(folder, "CheckDump.txt") == "OK", "win64 CheckDump.txt: %r" % read(folder, "CheckDump.txt"))
    log = read(folder, "tavotavotester.log")
    print(log)
    checks.expect("Versione porta: 'packaged'\n" in log and "Esito: POSITIVO" in log, "win64 tester log:\n" + log)
    # The virtual machine got the sample's class path and its one option; its comments add none.
    journal = read(folder, "fakejvm_journal.txt").splitlines()
    checks.expect(journal[:3] == ["JNI_CreateJavaVM version=0x10002 options=2 ignoreUnrecognized=1",
                                  "option -Djava.class.path=tavo-proxy.jar extra=null",
                                  "option -Dtavo.endpoint=http://127.0.0.1:8080/tavo extra=null"],
                  "win64 virtual machine options: %s" % journal[:3])


def read(folder, name):
    """The text of a file with CR LF folded to LF, or "<missing>"."""
    path = os.path.join(folder, name)
    return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else "<missing>"


def deb_fields(deb):
    out = subprocess.run(["dpkg-deb", "-f", deb], check=True, capture_output=True, text=True).stdout
    return dict(re.findall(r"(?m)^(\S+): (.*)$", out))


def check_sums(args, checks):
    listed = [line.split()[1].lstrip("*") for line in open(os.path.join(args.packages, "SHA256SUMS"))]
    checks.same_files("SHA256SUMS", listed, [n for n in os.listdir(args.packages) if n != "SHA256SUMS"])
    verified = subprocess.run(["sha256sum", "--check", "--quiet", "SHA256SUMS"], cwd=args.packages)
    checks.expect(verified.returncode == 0, "SHA256SUMS does not match the packages")


def start_xml_service(args, work):
    """The local XML service (a copy of its jar outside the build tree); (process, endpoint)."""
    jar = shutil.copy(args.xml_service, work)
    port_file = os.path.join(work, "port")
    service = subprocess.Popen([args.java, "-jar", jar, "0", port_file], stdout=subprocess.DEVNULL)
    for _ in range(600):
        if os.path.exists(port_file) and open(port_file).read().strip():
            return service, "http://127.0.0.1:%s/tavo" % open(port_file).read().strip()
        time.sleep(0.05)
    return service, None


def check_tree(args, checks, label, entries):
    """entries: relative name -> link target, or None for a regular file."""
    files = [name for name, target in entries.items() if target is None and not name.startswith(API)]
    checks.same_files(label, files, linux_files(args.multiarch, args.version))
    links = {name: target for name, target in entries.items() if target is not None}
    checks.expect(links == linux_links(args.version), "%s links: %s" % (label, links))
    for jar in DOCUMENTED:
        checks.expect(API + jar + "/index.html" in entries, "%s: no API documentation of %s" % (label, jar))


def installed_entries(prefix):
    entries = {}
    for folder, _, names in os.walk(prefix):
        for name in names:
            path = os.path.join(folder, name)
            entries[os.path.relpath(path, prefix)] = os.readlink(path) if os.path.islink(path) else None
    return entries


def tar_entries(tar, top):
    return {m.name[len(top):]: (m.linkname if m.issym() else None) for m in tar.getmembers() if m.isfile() or m.issym()}


def check_linux(args, checks, work):
    check_sums(args, checks)
    deb = os.path.join(args.packages, "%s_%s_amd64.deb" % (NAME, args.version))
    fields = deb_fields(deb)
    for key, value in (("Package", NAME), ("Version", args.version), ("Architecture", "amd64")):
        checks.expect(fields.get(key) == value, ".deb %s: %r, expected %r" % (key, fields.get(key), value))
    for runtime in ("libpcsclite1", "libc6", "libstdc++6"):
        checks.expect(re.search(r"(^|, )%s\b" % re.escape(runtime), fields.get("Depends", "")),
                      ".deb Depends lacks %s: %r" % (runtime, fields.get("Depends")))
    # As a distribution would take it: no error and no warning from lintian.
    result = run(["lintian", "--fail-on", "error,warning", deb])
    checks.expect(result.returncode == 0, "lintian on the .deb: %s" % result.stdout)
    listing = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, capture_output=True).stdout
    with tarfile.open(fileobj=io.BytesIO(listing)) as tar:
        check_tree(args, checks, ".deb", tar_entries(tar, "./usr/"))
    top = "%s-%s-linux64/" % (NAME, args.version)
    with tarfile.open(os.path.join(args.packages, "%s-%s-linux64.tar.gz" % (NAME, args.version))) as tar:
        members = tar.getmembers()
        check_tree(args, checks, ".tar.gz", tar_entries(tar, top))
    checks.expect([m.name for m in members] == sorted(m.name for m in members), ".tar.gz: members not in name order")
    checks.expect({(m.mtime, m.uid, m.gid, 0 if m.issym() else m.mode & 0o022) for m in members} ==
                  {(members[0].mtime, 0, 0, 0)},
                  ".tar.gz: members of different dates, not owned by root or writable by others")

    # The groups install alone, each with the README, and together make the whole package.
    groups = {}
    for component in ("bridge", "atr", "service"):
        prefix = os.path.join(work, component)
        subprocess.run(["cmake", "--install", args.pkg_build, "--component", component, "--prefix", prefix],
                       check=True, stdout=subprocess.DEVNULL)
        groups[component] = installed_entries(prefix)
        checks.expect(DOC + "/README.md" in groups[component], "component %s: no README" % component)
    shared = {DOC + "/README.md", DOC + "/copyright", DOC + "/changelog.gz"}
    own = [set(entries) - shared for entries in groups.values()]
    checks.expect(sum(len(files) for files in own) == len(set().union(*own)), "components share files: %s" % groups)
    check_tree(args, checks, "bridge + atr + service", {k: v for entries in groups.values() for k, v in entries.items()})

    root = os.path.join(work, "root")
    subprocess.run(["dpkg", "-x", deb, root], check=True)
    usr = os.path.join(root, "usr")
    for folder, _, files in os.walk(root):
        for name in files:
            data = open(os.path.join(folder, name), "rb").read()
            checks.expect(args.source_root.encode() not in data, "%s names the source tree" % name)
    checks.expect("The Vantrel project" in read(usr, DOC + "/copyright"), ".deb copyright names no holder")
    jni = os.path.join(usr, "lib", args.multiarch, "jni")
    java = [args.java, "-Djava.library.path=" + jni]
    jars = os.path.join(usr, "share", "java")

    # The signing run on a fresh SoftHSM2 token.
    subprocess.run([args.softhsm_token, "setup", os.path.join(work, "softhsm")], check=True)
    env = dict(os.environ, SOFTHSM2_CONF=os.path.join(work, "softhsm", "softhsm2.conf"))
    # Through the unversioned links, as users name them.
    result = run(java + ["-cp", os.path.join(jars, "vantrel-pkcs11-demo.jar") + ":" + os.path.join(jars, "vantrel-pkcs11.jar"),
                         "it.vantrel.pkcs11.demo.SigningRun", args.softhsm_module, "vantrel", "1234", "packaged"], env=env)
    checks.expect(result.returncode == 0 and result.stdout.rstrip().endswith("VALID"), "signing run failed")

    # The ATR library loads with the probe it links beside it (no PC/SC service to answer here).
    env = dict(os.environ, PCSCLITE_CSOCK_NAME=os.path.join(work, "no-pcscd"))
    result = run(java + ["-cp", os.path.join(jars, "vantrel-atr.jar"), "it.vantrel.tirvex.util.ATR"], env=env)
    checks.expect(result.stdout.startswith("No ATR: PC/SC error"), "ATR library did not load")

    # tavotester in a folder holding only the sample configuration, edited as a user would.
    service, endpoint = start_xml_service(args, work)
    try:
        checks.expect(endpoint, "the local XML service did not start")
        install = os.path.join(work, "installation")
        os.mkdir(install)
        sample = read(usr, SAMPLE)
        checks.expect(sample.startswith("/usr/share/java/tavo-proxy.jar\n"), "sample class path: %r" % sample[:80])
        configured = re.sub(r"(?m)^jvmdllpath=.*$", lambda _: "jvmdllpath=" + args.jvm_library, sample)
        configured = root + configured  # the class path: the unpacked jar
        configured = configured.replace("http://127.0.0.1:8080/tavo", endpoint or "")
        open(os.path.join(install, "tavodll_classpath.conf"), "w").write(configured)
        result = run([os.path.join(usr, "bin", "tavotester")], cwd=install)
        checks.expect(result.returncode == 0, "tavotester exit status %d, expected 0" % result.returncode)
        checks.expect(read(install, "CheckDump.txt") == "OK", "CheckDump.txt: %r" % read(install, "CheckDump.txt"))
        print(read(install, "tavotavotester.log"))
    finally:
        service.terminate()
        service.wait()


def read_sums(folder):
    path = os.path.join(folder, "SHA256SUMS")
    if not os.path.exists(path):
        return {}
    return {line.split()[1].lstrip("*"): line.split()[0] for line in open(path)}


def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


def tar_members(tar):
    return {m.name: (m.mode, m.uid, m.gid, m.mtime, m.linkname,
                     digest(tar.extractfile(m).read()) if m.isfile() else None) for m in tar.getmembers()}


def members(path):
    """Member name -> what distinguishes it (metadata and a digest of its bytes), in archive order."""
    if path.endswith(".zip"):
        with zipfile.ZipFile(path) as archive:
            return {e.filename: (e.date_time, e.external_attr, e.extra, digest(archive.read(e))) for e in archive.infolist()}
    if path.endswith(".deb"):
        listing = {}
        for part in ("--ctrl-tarfile", "--fsys-tarfile"):
            data = subprocess.run(["dpkg-deb", part, path], check=True, capture_output=True).stdout
            with tarfile.open(fileobj=io.BytesIO(data)) as tar:
                listing.update({part[2:6] + ":" + k: v for k, v in tar_members(tar).items()})
        return listing
    with tarfile.open(path) as tar:
        return tar_members(tar)


def check_reproducible(args, checks, work):
    shutil.rmtree(args.again, ignore_errors=True)
    result = run([args.package_script, args.again], timeout=1500)
    if not checks.expect(result.returncode == 0, "scripts/package.sh %s failed" % args.again):
        return
    again = os.path.join(args.again, "packages")
    first, second = read_sums(args.packages), read_sums(again)
    print("SHA256SUMS of %s:\n%s\nSHA256SUMS of %s:\n%s" % (args.packages, open(os.path.join(args.packages, "SHA256SUMS")).read(),
                                                          again, open(os.path.join(again, "SHA256SUMS")).read()))
    checks.same_files("second run", second, first)
    for name in sorted(set(first) & set(second)):
        if first[name] == second[name]:
            continue
        one, other = members(os.path.join(args.packages, name)), members(os.path.join(again, name))
        if list(one) != list(other):
            checks.problems.append("%s: members differ in name or order" % name)
        differing = [member for member in one if member in other and one[member] != other[member]]
        checks.problems.append("%s differs between the runs%s" % (
            name, "".join("\n  %s: %s / %s" % (m, one[m], other[m]) for m in differing[:20])))
    if not checks.problems:
        shutil.rmtree(args.again, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["windows", "wine", "linux64", "reproducible"])
    parser.add_argument("--packages", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--target", choices=["win32", "win64"])
    parser.add_argument("--objdump")
    parser.add_argument("--jni-headers")
    parser.add_argument("--service-table")
    parser.add_argument("--fake-jvm")
    parser.add_argument("--wine-loader")
    parser.add_argument("--wine-state")
    parser.add_argument("--multiarch")
    parser.add_argument("--source-root")
    parser.add_argument("--pkg-build", help="the linux64 build folder of the packages")
    parser.add_argument("--java")
    parser.add_argument("--jvm-library")
    parser.add_argument("--xml-service")
    parser.add_argument("--softhsm-token")
    parser.add_argument("--softhsm-module")
    parser.add_argument("--again", help="the fresh build root of the second run")
    parser.add_argument("--package-script")
    args = parser.parse_args()
    checks = Checks()
    work = tempfile.mkdtemp(prefix="vantrel-package.")
    try:
        {"windows": check_windows, "wine": check_wine, "linux64": check_linux,
         "reproducible": check_reproducible}[args.what](args, checks, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
