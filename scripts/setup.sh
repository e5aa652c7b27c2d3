#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demonstration need.
set -euo pipefail
packages=(
  cmake g++ make pkg-config clang-format git
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  openjdk-17-jdk-headless junit5
  libgtest-dev libgmock-dev
  softhsm2 libp11-kit-dev opensc openssl p11-kit-modules ca-certificates
  pcscd libpcsclite-dev vsmartcard-vpcd python3
  libtpm2-pkcs11-1 libtpm2-pkcs11-tools tpm2-tools swtpm tpm2-abrmd
  libtss2-tcti-swtpm0 libtss2-tcti-tabrmd0 dbus-daemon dbus-session-bus-common
  wine64
  qemu-system-x86 debootstrap busybox-static e2fsprogs xz-utils  # scripts/win32-vm.sh: 32-bit Wine in a VM
  dpkg-dev file  # dpkg-shlibdeps: the Depends of the .deb
  lintian zip  # the package checks; the Windows packages
  clang libclang-rt-14-dev libfuzzer-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -q
  $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
