#!/usr/bin/env bash
# The Wine prefix the win64 suites share: made once per CTest run in a private temp folder,
# with its wineserver kept running until the cleanup stops it and removes the folder.
# Usage: wine_prefix.sh setup|cleanup <state file> <wine64 loader> | wine_prefix.sh no-build-dir
set -euo pipefail
case "$1" in
  no-build-dir)
    if [ -n "${CI:-}" ]; then
      echo "WIN64_BUILD_DIR not given: the Wine suites are required in CI"
      exit 1
    fi
    echo "WIN64_BUILD_DIR not given: Wine suites skipped"
    exit 77 ;;
esac
state=$2
loader=$3
[ -x "$loader" ] || { echo "wine64 loader not found (install Debian's wine64)"; exit 1; }
wineserver="$(dirname "$loader")/wineserver"
export WINEDEBUG=-all
case "$1" in
  setup)
    folder=$(mktemp -d /tmp/vantrel-wine.XXXXXX)
    echo "$folder/prefix" >"$state"
    export WINEPREFIX="$folder/prefix"
    mkdir "$WINEPREFIX"
    # Wine's background processes must not hold CTest's output pipes open.
    "$wineserver" -p </dev/null >/dev/null 2>&1
    # No display and no network: Mono and Gecko are neither wanted nor offered.
    if ! WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= "$loader" wineboot -i </dev/null >"$folder/wineboot.log" 2>&1; then
      cat "$folder/wineboot.log"
      exit 1
    fi
    echo "Wine prefix ready in $WINEPREFIX" ;;
  cleanup)
    [ -f "$state" ] || exit 0
    prefix=$(cat "$state")
    # The server keeps its socket in <tmp>/wine-XXXXXX/server-<device>-<inode of the prefix>.
    server_dir=""
    [ -d "$prefix" ] && server_dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))
    WINEPREFIX="$prefix" "$wineserver" -k || true
    WINEPREFIX="$prefix" "$wineserver" -w || true
    if [ -n "$server_dir" ]; then
      for dir in "${TMPDIR:-/tmp}"/wine-*/"$server_dir"; do
        [ -d "$dir" ] || continue
        rm -rf "$dir"
        rmdir "$(dirname "$dir")" 2>/dev/null || true
      done
    fi
    rm -rf "$(dirname "$prefix")" "$state" ;;
  *) echo "unknown command $1"; exit 2 ;;
esac
