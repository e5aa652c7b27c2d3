#!/usr/bin/env bash
# A SoftHSM2 token whose objects an independent tool made (pkcs11-tool of opensc): an RSA key
# pair, an AES key, a data object with a non-ASCII label, and a certificate made by openssl.
#   softhsm_objects.sh setup DIR    fresh configuration, token and objects
#   softhsm_objects.sh cleanup DIR  removes the folder
set -euo pipefail
action=$1
dir=$2
module=${SOFTHSM_MODULE:-/usr/lib/softhsm/libsofthsm2.so}
case "$action" in
  setup)
    rm -rf "$dir"
    mkdir -p "$dir/tokens"
    printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n' \
      "$dir" >"$dir/softhsm2.conf"
    export SOFTHSM2_CONF="$dir/softhsm2.conf"
    tool=(pkcs11-tool --module "$module")
    "${tool[@]}" --init-token --slot-index 0 --label interop --so-pin 12345678 >/dev/null
    "${tool[@]}" --token-label interop --login --login-type so --so-pin 12345678 --init-pin --pin 1234 >/dev/null
    user=("${tool[@]}" --token-label interop --login --pin 1234)
    "${user[@]}" --keypairgen --key-type rsa:2048 --id 01 --label interop-rsa >/dev/null
    "${user[@]}" --keygen --key-type AES:32 --id 02 --label interop-aes >/dev/null
    printf 'data written by pkcs11-tool\n' >"$dir/data.bin"
    "${user[@]}" --write-object "$dir/data.bin" --type data --label 'Größe € ✓' >/dev/null
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/cert.key" -subj /CN=interop -days 30 \
      -outform DER -out "$dir/cert.der" 2>/dev/null
    "${user[@]}" --write-object "$dir/cert.der" --type cert --id 03 --label interop-cert >/dev/null
    rm -f "$dir/cert.key"
    ;;
  cleanup)
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 setup|cleanup DIR" >&2
    exit 2
    ;;
esac
