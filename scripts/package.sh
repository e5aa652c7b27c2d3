#!/usr/bin/env bash
# Builds every package into build/packages, with SHA256SUMS over them:
#   vantrel-native-<version>-win32.zip, vantrel-native-<version>-win64.zip   one folder each
#   vantrel-native_<version>_amd64.deb, vantrel-native-<version>-linux64.tar.gz
#   vantrel-native-<version>-source.tar.gz                                    the committed tree
# The Windows packages come from the Windows build folders (build/win32, build/win64, configured
# as scripts/build.sh does: optimised, without sanitizers; tests are never installed), so a test
# run builds them once. linux64 has a folder of its own (build/pkg-linux64): optimised, without
# sanitizers, tests or benchmarks. The version is the one of project() in CMakeLists.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/packages
jobs=${BUILD_JOBS:-2}
"$root/scripts/setup.sh"

rm -rf "$out"
mkdir -p "$out"
for target in win32 win64 linux64; do
  case $target in
    linux64)
      dir=$root/build/pkg-linux64
      options=(-DCMAKE_BUILD_TYPE=Release -DVANTREL_TESTS=OFF -DVANTREL_SANITIZE=OFF -DCMAKE_INSTALL_PREFIX=/usr) ;;
    *)
      dir=$root/build/$target
      options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target.cmake") ;;
  esac
  echo "== $target in $dir"
  cmake -S "$root" -B "$dir" "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" >"$dir/build.log" 2>&1 || { cat "$dir/build.log"; exit 1; }
  (cd "$dir" && cpack -B "$out" >"$dir/cpack.log" 2>&1) || { cat "$dir/cpack.log"; exit 1; }
done
rm -rf "$out/_CPack_Packages"

if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$root/build/pkg-linux64/CPackConfig.cmake")
  git -C "$root" archive --format=tar.gz --prefix="vantrel-native-$version/" \
    -o "$out/vantrel-native-$version-source.tar.gz" HEAD
fi

cd "$out"
sha256sum -- * >SHA256SUMS
ls -l
