#!/usr/bin/env bash
# Main job: a Java program loads SoftHSM2 through p11bridge and prints the module's
# information and its slots. Installs what it needs, builds only the bridge and the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

build="$root/build/demo"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTREL_SANITIZE=OFF >/dev/null
cmake --build "$build" --target p11bridge vantrel_pkcs11_demo -j "${BUILD_JOBS:-2}" >/dev/null

# A SoftHSM2 token of our own in a temporary folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tokens"
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" >"$work/softhsm2.conf"
export SOFTHSM2_CONF="$work/softhsm2.conf"
softhsm2-util --init-token --free --label demo --so-pin 12345678 --pin 1234 >/dev/null

java -Djava.library.path="$build/bridge" \
  -cp "$build/java/pkcs11/vantrel-pkcs11-demo.jar:$build/java/pkcs11/vantrel-pkcs11.jar" \
  it.vantrel.pkcs11.demo.ModuleReport "${SOFTHSM_MODULE:-/usr/lib/softhsm/libsofthsm2.so}"

# The signing run: session, login, key pair on the token, search, sign, verify in Java.
echo "== signing run on token 'demo'"
java -Djava.library.path="$build/bridge" \
  -cp "$build/java/pkcs11/vantrel-pkcs11-demo.jar:$build/java/pkcs11/vantrel-pkcs11.jar" \
  it.vantrel.pkcs11.demo.SigningRun "${SOFTHSM_MODULE:-/usr/lib/softhsm/libsofthsm2.so}" demo 1234 \
  "A document signed on the token through p11bridge"

# The service group: tavotester checks a tavo + tavo2 installation against the local XML service.
cmake --build "$build" --target tavo tavo2 tavotester tavo_proxy_java tavo_xmlservice_java -j "${BUILD_JOBS:-2}" >/dev/null
"$root/scripts/demo-tavotester.sh" "$build"

# The service client on its own: a native host calls tavo2's exports directly.
cmake --build "$build" --target tavo2_host -j "${BUILD_JOBS:-2}" >/dev/null
"$root/scripts/demo-service.sh" "$build"

# The ATR reader: Java reads a virtual card's ATR through atrprobejni2 -> atrprobe -> pcscd.
echo "== ATR of a virtual card on a private PC/SC stack"
cmake --build "$build" --target atrprobe atrprobejni2 atr_java -j "${BUILD_JOBS:-2}" >/dev/null
"$root/scripts/demo_atr.sh" "$build"
