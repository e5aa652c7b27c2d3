#!/usr/bin/env bash
# Builds every package into <build root>/packages, with SHA256SUMS over them:
#   vantrel-native-<version>-win32.zip, vantrel-native-<version>-win64.zip   one folder each
#   vantrel-native_<version>_amd64.deb, vantrel-native-<version>-linux64.tar.gz
#   vantrel-native-<version>-source.tar.gz                                    the committed tree
# Usage: scripts/package.sh [build root]   (default: build)
# The Windows packages come from the Windows build folders (<root>/win32, <root>/win64, configured
# as scripts/build.sh does: optimised, without sanitizers; tests are never installed). Under the
# default root these are the test build folders, so a test run builds them once; under another
# root nothing shares them and they are built without tests. linux64 has a folder of its own
# (<root>/pkg-linux64): optimised, without sanitizers, tests or benchmarks. The version is the one
# of project() in CMakeLists.txt.
# Two runs on one commit give the same bytes: every date is SOURCE_DATE_EPOCH (the time of the
# last commit unless set), the PE headers carry no link time, and the ZIPs and the .tar.gz hold
# their members in name order, owned by root, writable by the owner only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
if [ $# -gt 0 ]; then
  mkdir -p "$1"
  build=$(cd "$1" && pwd)
fi
out=$build/packages
stage=$build/package-staging
jobs=${BUILD_JOBS:-2}
"$root/scripts/setup.sh"

# Outside a checkout (the source package, say), the files carry the time of their commit.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null ||
                                                stat -c %Y "$root/CMakeLists.txt")}
# Zip dates are local times, and sort orders follow the locale.
export TZ=UTC LC_ALL=C

# <folder>'s installation, stripped, staged as <stage>/<name> with fixed dates and modes.
stage_installation() {
  local dir=$1 name=$2
  rm -rf "$stage"
  mkdir -p "$stage"
  cmake --install "$dir" --strip --prefix "$stage/$name" >"$dir/install.log"
  chmod -R u+rwX,go+rX,go-w "$stage"
  find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

rm -rf "$out"
mkdir -p "$out"
for target in win32 win64 linux64; do
  case $target in
    linux64)
      dir=$build/pkg-linux64
      # Linked with the run paths they are installed with: a build path rewritten at install time
      # would leave its length in the binary.
      options=(-DCMAKE_BUILD_TYPE=Release -DVANTREL_TESTS=OFF -DVANTREL_SANITIZE=OFF -DCMAKE_INSTALL_PREFIX=/usr
               -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON) ;;
    *)
      dir=$build/$target
      options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target.cmake")
      [ "$build" = "$root/build" ] || options+=(-DVANTREL_TESTS=OFF) ;;
  esac
  echo "== $target in $dir"
  cmake -S "$root" -B "$dir" "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" >"$dir/build.log" 2>&1 || { cat "$dir/build.log"; exit 1; }
  version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
  name=vantrel-native-$version-$target
  stage_installation "$dir" "$name"
  if [ "$target" = linux64 ]; then
    tar --create --format=gnu --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
      -C "$stage" "$name" | gzip -9n >"$out/$name.tar.gz"
    (cd "$dir" && cpack -G DEB -B "$build/cpack" >"$dir/cpack.log" 2>&1) || { cat "$dir/cpack.log"; exit 1; }
    mv "$build/cpack/"*.deb "$out/"
    rm -rf "$build/cpack"
  else
    (cd "$stage" && find "$name" -type f | sort | zip -X -D -9 -q "$out/$name.zip" -@)
  fi
done
rm -rf "$stage"

if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$root" archive --format=tar.gz --prefix="vantrel-native-$version/" \
    -o "$out/vantrel-native-$version-source.tar.gz" HEAD
fi

cd "$out"
sha256sum -- * >SHA256SUMS
ls -l
