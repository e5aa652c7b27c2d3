#!/usr/bin/env python3
"""The packages of build/packages as a user gets them.

  windows --target win32|win64   the ZIP holds exactly the expected files in one folder, and its
                                 DLLs pass the export, import and version resource checks
  wine                           the win64 ZIP's tavotester runs under Wine from the unzipped
                                 folder, with the sample configuration pointed at a stand-in JVM
  linux64                        the .deb and .tar.gz hold exactly the expected files, the .deb's
                                 fields, the install components part them, and, from the .deb
                                 unpacked with dpkg -x alone, the signing run, the tavotester
                                 run and the ATR library's load

Exit status: 0 as expected, 1 a difference.
"""
import argparse
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


def linux_files(multiarch):
    """Relative to the installation prefix."""
    jni = "lib/%s/jni/" % multiarch
    service = "lib/%s/vantrel/" % multiarch
    return (["bin/tavotester", jni + "libp11bridge.so", jni + "libatrprobe.so", jni + "libatrprobejni2.so",
             service + "libtavo.so", service + "libtavo2.so", DOC + "/README.md", DOC + "/copyright", SAMPLE] +
            ["share/java/" + jar for jar in JARS])


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


def check_linux(args, checks, work):
    check_sums(args, checks)
    expected = linux_files(args.multiarch)
    deb = os.path.join(args.packages, "%s_%s_amd64.deb" % (NAME, args.version))
    fields = deb_fields(deb)
    for key, value in (("Package", NAME), ("Version", args.version), ("Architecture", "amd64")):
        checks.expect(fields.get(key) == value, ".deb %s: %r, expected %r" % (key, fields.get(key), value))
    for runtime in ("libpcsclite1", "libc6", "libstdc++6"):
        checks.expect(re.search(r"(^|, )%s\b" % re.escape(runtime), fields.get("Depends", "")),
                      ".deb Depends lacks %s: %r" % (runtime, fields.get("Depends")))
    listing = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, capture_output=True).stdout
    with tarfile.open(fileobj=io.BytesIO(listing)) as tar:
        checks.same_files(".deb", [m.name[2:] for m in tar.getmembers() if m.isfile()], ["usr/" + f for f in expected])
    top = "%s-%s-linux64/" % (NAME, args.version)
    with tarfile.open(os.path.join(args.packages, "%s-%s-linux64.tar.gz" % (NAME, args.version))) as tar:
        checks.same_files(".tar.gz", [m.name for m in tar.getmembers() if m.isfile()], [top + f for f in expected])

    # The groups install alone, each with the README, and together make the whole package.
    groups = {}
    for component in ("bridge", "atr", "service"):
        prefix = os.path.join(work, component)
        subprocess.run(["cmake", "--install", args.pkg_build, "--component", component, "--prefix", prefix],
                       check=True, stdout=subprocess.DEVNULL)
        groups[component] = {os.path.relpath(os.path.join(folder, name), prefix)
                             for folder, _, names in os.walk(prefix) for name in names}
        checks.expect(DOC + "/README.md" in groups[component], "component %s: no README" % component)
    own = [files - {DOC + "/README.md", DOC + "/copyright"} for files in groups.values()]
    checks.expect(sum(len(files) for files in own) == len(set().union(*own)), "components share files: %s" % groups)
    checks.same_files("bridge + atr + service", set().union(*groups.values()), expected)

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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["windows", "wine", "linux64"])
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
    args = parser.parse_args()
    checks = Checks()
    work = tempfile.mkdtemp(prefix="vantrel-package.")
    try:
        {"windows": check_windows, "wine": check_wine, "linux64": check_linux}[args.what](args, checks, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
