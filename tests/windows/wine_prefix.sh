#!/usr/bin/env bash
# The Wine prefix the win64 suites share: made once per CTest run in a private temp folder,
# with its wineserver kept running until the cleanup stops it and removes the folder.
# The win32 suites share one VM instead (scripts/win32-vm.sh), started once per CTest run with
# the folders they use; its image carries a ready prefix, so no wineboot per run.
# Usage: wine_prefix.sh setup|cleanup <state file> <wine64 loader>
#        wine_prefix.sh vm-setup <state file> <win32-vm.sh> <VM state> <shared folder>...
#        wine_prefix.sh vm-cleanup <state file> <win32-vm.sh> <VM state>
#        wine_prefix.sh no-build-dir [target]
set -euo pipefail
case "$1" in
  no-build-dir)
    target=${2:-win64}
    if [ -n "${CI:-}" ]; then
      echo "${target^^}_BUILD_DIR not given: the Wine suites are required in CI"
      exit 1
    fi
    echo "${target^^}_BUILD_DIR not given: Wine suites skipped"
    exit 77 ;;
  vm-setup)
    state=$2 vm=$3 vm_state=$4
    shift 4
    rm -f "$state"
    mkdir -p "$@"
    "$vm" start "$vm_state" "$@"
    prefix=$("$vm" prefix)
    # As on win64, one Wine server for the whole run: under emulation a server and its
    # services take 10 s and more to start, a program of a running server about a second.
    "$vm" exec "$vm_state" / "export WINEPREFIX=$prefix WINEDEBUG=-all; wineserver -p </dev/null >/dev/null 2>&1 &&
      wine cmd /c exit"
    echo "$prefix" >"$state"
    echo "win32 VM ready, prefix $(cat "$state")"
    exit 0 ;;
  vm-cleanup)
    "$3" stop "$4"
    rm -f "$2"
    exit 0 ;;
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
