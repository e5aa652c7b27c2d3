#!/usr/bin/env bash
# A tpm2-pkcs11 token on a software TPM: swtpm on free loopback ports, tpm2-abrmd as resource
# manager (the TPM holds only three object contexts, and tpm2_ptool's steps need more) on a
# private D-Bus session bus, and a token with an RSA key pair made by tpm2_ptool.
#   tpm2_token.sh setup DIR    the module then needs TPM2_PKCS11_STORE=DIR/store,
#                              TPM2_PKCS11_TCTI=tabrmd:bus_type=session and
#                              DBUS_SESSION_BUS_ADDRESS=unix:path=DIR/bus
#   tpm2_token.sh cleanup DIR  stops what setup started and removes DIR
set -euo pipefail
action=$1
dir=$2

stop() {
  for name in abrmd bus swtpm; do
    if [ -f "$dir/$name.pid" ]; then
      kill "$(cat "$dir/$name.pid")" 2>/dev/null || true
    fi
  done
}

case "$action" in
  setup)
    [ ! -d "$dir" ] || { stop; rm -rf "$dir"; }
    mkdir -p "$dir/state" "$dir/store"
    port=$(python3 -c 'import socket
for _ in range(100):
    s = socket.socket(); s.bind(("127.0.0.1", 0)); p = s.getsockname()[1]; s.close()
    t = socket.socket()
    try:
        t.bind(("127.0.0.1", p + 1)); t.close(); print(p); break
    except OSError:
        t.close()')
    swtpm socket --tpm2 --tpmstate dir="$dir/state" --flags not-need-init,startup-clear \
      --server type=tcp,port="$port",bindaddr=127.0.0.1 --ctrl type=tcp,port=$((port + 1)),bindaddr=127.0.0.1 \
      --daemon --pid file="$dir/swtpm.pid" --log file="$dir/swtpm.log" </dev/null >/dev/null 2>&1
    dbus-daemon --session --fork --address="unix:path=$dir/bus" --print-pid=3 3>"$dir/bus.pid" \
      </dev/null >/dev/null 2>&1
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
    tpm2-abrmd --session --allow-root --tcti="swtpm:host=127.0.0.1,port=$port" \
      </dev/null >"$dir/abrmd.log" 2>&1 &
    echo $! >"$dir/abrmd.pid"
    export TPM2TOOLS_TCTI=tabrmd:bus_type=session
    for _ in $(seq 50); do
      tpm2_getrandom 4 >/dev/null 2>&1 && break
      sleep 0.2
    done
    tpm2_ptool init --path "$dir/store" >/dev/null
    tpm2_ptool addtoken --pid=1 --sopin=12345678 --userpin=1234 --label=interop --path "$dir/store" >/dev/null
    tpm2_ptool addkey --algorithm=rsa2048 --label=interop --userpin=1234 --key-label=interop-rsa --id=01 \
      --path "$dir/store" >/dev/null
    ;;
  cleanup)
    stop
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 setup|cleanup DIR" >&2
    exit 2
    ;;
esac
