#!/usr/bin/env bash
# SoftHSM2 token for the bridge suites, in a private folder.
#   softhsm_token.sh setup DIR    fresh configuration and one initialised token
#   softhsm_token.sh cleanup DIR  removes the folder
set -euo pipefail
action=$1
dir=$2
case "$action" in
  setup)
    rm -rf "$dir"
    mkdir -p "$dir/tokens"
    printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n' \
      "$dir" > "$dir/softhsm2.conf"
    SOFTHSM2_CONF="$dir/softhsm2.conf" softhsm2-util --init-token --free --label vantrel \
      --so-pin 12345678 --pin 1234 >/dev/null
    ;;
  cleanup)
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 setup|cleanup DIR" >&2
    exit 2
    ;;
esac
