#!/usr/bin/env bash
# Runs commands under 32-bit Wine. This machine's kernel runs no 32-bit code, so they run in a
# small virtual machine under QEMU: Debian's kernel, an initramfs of busybox and the kernel's
# virtio, 9p and ext4 modules, and an i386 Debian root with Wine and a ready Wine prefix
# (/opt/wine32-prefix), all made from Debian packages under build/win32-vm. They are made once
# and remade when missing or when their recipe below changes. The image is attached read-only
# in effect (-snapshot): every run starts from the same state. Host folders are shared into
# the i386 root at their own paths, so a command sees the same paths as the host.
#
# Usage:
#   win32-vm.sh image                          make the VM files (nothing when up to date)
#   win32-vm.sh run <folder> <command>         boot, run the shell command in the folder,
#                                              hand back its output and exit status, power off
#   win32-vm.sh start <state> <folder>...      boot a VM that serves commands, sharing the folders
#   win32-vm.sh exec <state> <folder> <command> [--local]   run a command in the started VM
#                                              (--local: on a copy of the folder, copied back)
#   win32-vm.sh stop <state>                   power the started VM off
#   win32-vm.sh prefix                         the Wine prefix's path inside the VM
# The exit status is the command's; 125 when the VM could not run it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vm_dir=${WIN32_VM_DIR:-$root/build/win32-vm}
# Images made on this machine, by recipe: a new clone or build folder takes its image from here
# instead of spending minutes of emulation on the same bytes. Unset WIN32_VM_CACHE= to do without.
image_cache=${WIN32_VM_CACHE-/var/cache/vantrel/win32-vm}
prefix_in_image=/opt/wine32-prefix
suite=bookworm
mirror=http://deb.debian.org/debian
# Acceleration: KVM where /dev/kvm runs this VM, else QEMU's software emulation (TCG). Nested
# under another hypervisor, KVM may stop the guest on an instruction it cannot emulate ("KVM
# internal error", seen on these machines at boot): a refused try is kept in kvm.refused, so a
# machine pays for it once (a few seconds). WIN32_VM_ACCEL=tcg skips the try. Protection keys
# and SMAP stay off either way: with them on, Wine's processes oops the guest kernel.
qemu_base=(qemu-system-x86_64 -m "${WIN32_VM_MEMORY:-2048}" -smp 2 -display none -no-reboot -nodefaults -serial stdio)
tcg_accel=(-accel tcg,thread=multi -cpu max,pku=off,smap=off,smep=off)
kvm_accel=(-accel kvm -cpu host,-arch-capabilities,pku=off,smap=off,smep=off)
# The kernel: bookworm-backports' (6.12). Bookworm's own (6.1) cuts a read of a non-blocking
# 9p file at the message size, and Wine reads images through such descriptors: sections past
# 256 KiB came out as zeros. Its modules the initramfs loads (with what they depend on):
kernel_suite=bookworm-backports
modules=(crc32c_generic ext4 virtio_pci virtio_blk 9pnet_virtio 9p)
image_packages=wine32,wine,libwine

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

# The VM's own init: mounts the i386 root, then either finishes it (mode=build) or serves the
# jobs a host folder receives (mode=serve). Written once here so that its text is part of the recipe.
read -r -d '' guest_init <<'INIT' || true
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
for m in $(cat /modules.order); do insmod /modules/$m.ko || echo "vantrel-vm: insmod $m failed"; done
arg() { sed -n "s/.*vantrel\.$1=\([^ ]*\).*/\1/p" /proc/cmdline; }
finish() { echo "vantrel-vm: status $1"; sync; poweroff -f; }
for i in $(seq 50); do [ -b /dev/vda ] && break; sleep 0.1; done
mkdir -p /i386
mount -t ext4 /dev/vda /i386 || finish 125
chroot_env="env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb"
# What Wine needs in the i386 root (it finds its libraries through /proc/self/exe).
mount_system() {
  mount -t proc proc /i386/proc
  mount -t sysfs sys /i386/sys
  mount --bind /dev /i386/dev
  mount -t devpts devpts /i386/dev/pts
  mount -t tmpfs shm /i386/dev/shm
  mount -t tmpfs tmp /i386/tmp
}
if [ "$(arg mode)" = build ]; then
  # The second stage mounts /proc itself and unmounts it when done.
  mount --bind /dev /i386/dev
  $chroot_env chroot /i386 /debootstrap/debootstrap --second-stage || finish 1
  umount /i386/dev
  mount_system
  $chroot_env chroot /i386 sh -c "WINEPREFIX=$(arg prefix) WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
    wine wineboot -i && WINEPREFIX=$(arg prefix) wineserver -w" || finish 2
  rm -rf /i386/var/cache/apt/archives/*.deb /i386/var/lib/apt/lists/*
  umount /i386/tmp /i386/dev/shm /i386/dev/pts /i386/dev /i386/sys /i386/proc
  umount /i386
  finish 0
fi
INIT
read -r -d '' guest_serve <<'INIT' || true
mount_system
spool=/spool
mkdir -p $spool
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=none spool $spool || finish 125
# Shared folders, each at its host path (tags f0, f1, ... in the order of spool/folders).
n=0
while read -r folder; do
  mkdir -p "/i386$folder"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=mmap,multidevs=remap "f$n" "/i386$folder" ||
    echo "vantrel-vm: cannot share $folder"
  n=$((n + 1))
done <$spool/folders
# A job: its folder on the first line ("local:<folder>" to run on a copy), then the command.
# Every file operation through 9p is slow; a local job runs in a copy of the folder in the VM's
# memory, which replaces the folder's content when it ends (files it removed are removed).
run_job() {
  id=$1
  folder=$(head -n 1 $spool/taken/$id)
  command=$(tail -n +2 $spool/taken/$id)
  where=$folder
  case $folder in
    local:*)
      folder=${folder#local:}
      where=/tmp/local.$id
      mkdir -p "/i386$where" && cp -a "/i386$folder/." "/i386$where/" ;;
  esac
  $chroot_env chroot /i386 /bin/sh -c 'cd "$0" || exit 125; eval "$1"' "$where" "$command" \
    </dev/null >$spool/out/$id.out 2>$spool/out/$id.err
  echo $? >$spool/out/$id.tmp
  if [ "$where" != "$folder" ]; then
    for file in "/i386$folder"/* "/i386$folder"/.[!.]*; do
      [ -e "$file" ] && [ ! -e "/i386$where/${file##*/}" ] && rm -rf "$file"
    done
    cp -a "/i386$where/." "/i386$folder/"
    rm -rf "/i386$where"
  fi
  mv $spool/out/$id.tmp $spool/out/$id.status
}
echo "vantrel-vm: ready"
touch $spool/ready
while [ ! -e $spool/stop ]; do
  for job in $spool/jobs/*; do
    [ -e "$job" ] || continue
    id=${job##*/}
    mv "$job" $spool/taken/$id 2>/dev/null || continue
    run_job $id &
  done
  sleep 0.05
done
wait
finish 0
INIT

kernel_recipe="kernel $kernel_suite linux-image-amd64 modules ${modules[*]} init ${guest_init} ${guest_serve}"
image_recipe="debootstrap --arch=i386 --foreign --variant=minbase --include=$image_packages $suite $mirror
prefix $prefix_in_image init ${guest_init}"

recipe_hash() { printf '%s' "$1" | sha256sum | cut -c1-16; }

kvm_to_try() {
  [ "${WIN32_VM_ACCEL:-}" != tcg ] && [ -r /dev/kvm ] && [ -w /dev/kvm ] && [ ! -e "$vm_dir/kvm.refused" ]
}

# Whether a VM's console shows that KVM could not run it.
kvm_failed_in() { grep -q 'KVM internal error\|emulation failure\|kvm_.*Assertion' "$1" 2>/dev/null; }

refuse_kvm() {
  echo "win32-vm: KVM does not run the VM here ($1); software emulation from now on" >&2
  echo "$1" >"$vm_dir/kvm.refused"
}

# The packages this script uses, installed when missing (scripts/setup.sh lists them as well).
ensure_host_packages() {
  local missing=() p
  for p in qemu-system-x86 debootstrap busybox-static e2fsprogs xz-utils binutils; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    { $sudo_cmd apt-get update -q && DEBIAN_FRONTEND=noninteractive \
      $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"; }
}

# Copies a module and, first, those it depends on into the initramfs, in loading order.
# Modules built into the kernel have no file and are skipped.
add_module() {
  local work=$1 tree=$2 name=$3 file dep
  grep -qx "$name" "$work/initramfs/modules.order" 2>/dev/null && return 0
  file=$(find "$tree" -name "$name.ko" -o -name "$name.ko.xz" | head -n 1)
  [ -n "$file" ] || return 0
  case "$file" in
    *.xz) xz -dc "$file" >"$work/initramfs/modules/$name.ko" ;;
    *) cp "$file" "$work/initramfs/modules/$name.ko" ;;
  esac
  for dep in $(strings "$work/initramfs/modules/$name.ko" | sed -n 's/^depends=//p' | tr ',' ' '); do
    add_module "$work" "$tree" "$dep"
  done
  echo "$name" >>"$work/initramfs/modules.order"
}

# Debian's kernel, out of its package (not installed on the host; the package index of its
# suite is kept beside it), and the initramfs.
make_kernel() {
  local work=$vm_dir/kernel.work apt=$vm_dir/apt package deb version m apt_options
  rm -rf "$work"
  mkdir -p "$work/initramfs/bin" "$work/initramfs/modules" "$work/initramfs/proc" "$work/initramfs/sys" \
    "$work/initramfs/dev" "$apt/lists/partial" "$apt/cache/archives/partial"
  echo "deb $mirror $kernel_suite main" >"$apt/sources.list"
  apt_options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
  apt-get -q "${apt_options[@]}" update >/dev/null
  package=$(apt-cache "${apt_options[@]}" depends linux-image-amd64 |
    sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -n 1)
  [ -n "$package" ] || { echo "no kernel package behind linux-image-amd64" >&2; return 1; }
  (cd "$work" && apt-get -q "${apt_options[@]}" download "$package" 2>&1 |
    grep -v '^W: Download is performed unsandboxed') || true
  deb=$(ls "$work"/linux-image-*.deb)
  dpkg-deb -x "$deb" "$work/deb"
  version=${package#linux-image-}
  cp "$work/deb/boot/vmlinuz-$version" "$work/vmlinuz"
  : >"$work/initramfs/modules.order"
  for m in "${modules[@]}"; do add_module "$work" "$work/deb/lib/modules/$version" "$m"; done
  cp /bin/busybox "$work/initramfs/bin/busybox"
  printf '%s\n%s\n' "$guest_init" "$guest_serve" >"$work/initramfs/init"
  chmod +x "$work/initramfs/init"
  (cd "$work/initramfs" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$work/initramfs.gz")
  mv "$work/vmlinuz" "$vm_dir/vmlinuz"
  mv "$work/initramfs.gz" "$vm_dir/initramfs.gz"
  rm -rf "$work"
  recipe_hash "$kernel_recipe" >"$vm_dir/kernel.recipe"
}

# build_in_vm <work> <seconds> <acceleration>...: boots the image in <work> in build mode;
# true when the guest finished it. A KVM that cannot run the guest is stopped at once, and
# any guest that has not finished in the given time.
build_in_vm() {
  local work=$1 limit=$2 pid started=$SECONDS
  shift 2
  "${qemu_base[@]}" "$@" -kernel "$vm_dir/vmlinuz" -initrd "$vm_dir/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1 vantrel.mode=build vantrel.prefix=$prefix_in_image" \
    -drive "file=$work/wine32.img,format=raw,if=virtio" </dev/null >"$work/console.log" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    if kvm_failed_in "$work/console.log" || ((SECONDS - started > limit)); then
      kill "$pid" 2>/dev/null
    fi
    sleep 1
  done
  wait "$pid" || true
  grep -q 'vantrel-vm: status 0' "$work/console.log"
}

# The i386 root: first stage on the host, second stage and wineboot inside the VM.
make_image() {
  local work=$vm_dir/image.work
  $sudo_cmd rm -rf "$work"
  mkdir -p "$work"
  $sudo_cmd debootstrap --arch=i386 --foreign --variant=minbase --include=$image_packages $suite "$work/root" \
    $mirror >"$work/debootstrap.log" 2>&1 || { tail -n 20 "$work/debootstrap.log" >&2; return 1; }
  $sudo_cmd rm -f "$work/root/proc"
  $sudo_cmd mkdir -p "$work/root/proc" "$work/root/sys" "$work/root/tmp" "$work/root/dev/pts" "$work/root/dev/shm"
  $sudo_cmd mke2fs -q -t ext4 -d "$work/root" "$work/wine32.img" 3G
  $sudo_cmd chown "$(id -u):$(id -g)" "$work/wine32.img"
  $sudo_cmd rm -rf "$work/root"
  local built=false
  if kvm_to_try; then
    cp --sparse=always "$work/wine32.img" "$work/first-stage.img"
    if build_in_vm "$work" 1200 "${kvm_accel[@]}"; then
      built=true
    else
      refuse_kvm "the image's second stage did not finish under KVM"
      mv "$work/first-stage.img" "$work/wine32.img"
    fi
    rm -f "$work/first-stage.img"
  fi
  if ! $built && ! build_in_vm "$work" 7200 "${tcg_accel[@]}"; then
    tail -n 30 "$work/console.log" >&2
    return 1
  fi
  mv "$work/wine32.img" "$vm_dir/wine32.img"
  rm -rf "$work"
  recipe_hash "$image_recipe" >"$vm_dir/image.recipe"
}

# Keeps the image just made for other clones of this machine, the only one of its kind there
# (written under a private name, then renamed, so a reader never takes a half-copied image).
store_in_cache() {
  [ -n "$image_cache" ] || return 0
  mkdir -p "$image_cache" 2>/dev/null || return 0
  local part=$image_cache/.wine32-$1.img.$$
  if ln "$vm_dir/wine32.img" "$part" 2>/dev/null || cp --sparse=always "$vm_dir/wine32.img" "$part" 2>/dev/null; then
    find "$image_cache" -maxdepth 1 -name 'wine32-*.img' ! -name "wine32-$1.img" -delete
    mv -f "$part" "$image_cache/wine32-$1.img"
  else
    rm -f "$part"
  fi
}

# Makes what is missing or out of date; one maker at a time.
ensure_vm_files() {
  mkdir -p "$vm_dir"
  exec 9>"$vm_dir/.lock"
  flock 9
  ensure_host_packages
  if [ ! -f "$vm_dir/vmlinuz" ] || [ ! -f "$vm_dir/initramfs.gz" ] ||
    [ "$(cat "$vm_dir/kernel.recipe" 2>/dev/null)" != "$(recipe_hash "$kernel_recipe")" ]; then
    echo "win32-vm: making the kernel and initramfs" >&2
    make_kernel
  fi
  local hash cached
  hash=$(recipe_hash "$image_recipe")
  cached=${image_cache:+$image_cache/wine32-$hash.img}
  if [ ! -f "$vm_dir/wine32.img" ] || [ "$(cat "$vm_dir/image.recipe" 2>/dev/null)" != "$hash" ]; then
    if [ -n "$cached" ] && [ -f "$cached" ]; then
      echo "win32-vm: taking the i386 Wine image from $image_cache" >&2
      rm -f "$vm_dir/wine32.img"
      ln "$cached" "$vm_dir/wine32.img" 2>/dev/null || cp --sparse=always "$cached" "$vm_dir/wine32.img"
      echo "$hash" >"$vm_dir/image.recipe"
    else
      echo "win32-vm: making the i386 Wine image (several minutes)" >&2
      local started=$SECONDS
      make_image
      echo "win32-vm: image made in $((SECONDS - started)) s" >&2
      store_in_cache "$hash"
    fi
  fi
  flock -u 9
  exec 9>&-
}

# Boots a serving VM whose spool is <state>; returns when it takes jobs. Under KVM it must
# also run a Wine program, or it is booted again under software emulation.
start_vm() {
  local state=$1
  shift
  if kvm_to_try; then
    if boot_vm "$state" kvm "$@" && timeout 120 "$0" exec "$state" / \
      "WINEPREFIX=$prefix_in_image WINEDEBUG=-all wine cmd /c exit" >/dev/null 2>&1; then
      return 0
    fi
    stop_vm "$state"
    refuse_kvm "the VM did not come up or run Wine under KVM"
  fi
  boot_vm "$state" tcg "$@"
}

# boot_vm <state> kvm|tcg <folder>...
boot_vm() {
  local state=$1 kind=$2 accel=("${tcg_accel[@]}") args=() n=0 folder
  [ "$kind" = kvm ] && accel=("${kvm_accel[@]}")
  shift 2
  rm -rf "$state"
  mkdir -p "$state/spool/jobs" "$state/spool/taken" "$state/spool/out"
  : >"$state/spool/folders"
  for folder in "$@"; do
    folder=$(cd "$folder" && pwd -P)
    echo "$folder" >>"$state/spool/folders"
    args+=(-virtfs "local,path=$folder,mount_tag=f$n,security_model=none,multidevs=remap")
    n=$((n + 1))
  done
  "${qemu_base[@]}" "${accel[@]}" -snapshot -kernel "$vm_dir/vmlinuz" -initrd "$vm_dir/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1 vantrel.mode=serve" \
    -drive "file=$vm_dir/wine32.img,format=raw,if=virtio" \
    -virtfs "local,path=$state/spool,mount_tag=spool,security_model=none" "${args[@]}" \
    </dev/null >"$state/console.log" 2>&1 &
  echo $! >"$state/qemu.pid"
  local waited
  for ((waited = 0; waited < 1200; ++waited)); do
    [ -e "$state/spool/ready" ] && return 0
    kill -0 "$(cat "$state/qemu.pid")" 2>/dev/null || break
    kvm_failed_in "$state/console.log" && break
    sleep 0.1
  done
  if [ "$kind" = tcg ]; then
    echo "win32-vm: the VM did not come up" >&2
    tail -n 30 "$state/console.log" >&2
  fi
  kill "$(cat "$state/qemu.pid")" 2>/dev/null || true
  stop_vm "$state"
  return 125
}

# Hands a job to the VM and waits for it; prints its output and returns its status.
exec_job() {
  local state=$1 folder=$2 command=$3 where=${4:-} id pid
  folder=$(cd "$folder" && pwd -P)
  id=$$.$RANDOM.$SECONDS
  printf '%s\n%s\n' "${where:+local:}$folder" "$command" >"$state/spool/.$id"
  mv "$state/spool/.$id" "$state/spool/jobs/$id"
  pid=$(cat "$state/qemu.pid")
  while [ ! -e "$state/spool/out/$id.status" ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "win32-vm: the VM stopped before the command finished" >&2
      return 125
    fi
    sleep 0.02
  done
  cat "$state/spool/out/$id.out"
  cat "$state/spool/out/$id.err" >&2
  local status
  status=$(cat "$state/spool/out/$id.status")
  rm -f "$state/spool/out/$id".* "$state/spool/taken/$id"
  return "$status"
}

stop_vm() {
  local state=$1 pid waited
  [ -f "$state/qemu.pid" ] || return 0
  pid=$(cat "$state/qemu.pid")
  touch "$state/spool/stop"
  for ((waited = 0; waited < 300; ++waited)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  rm -rf "$state"
}

case "${1:-}" in
  image) ensure_vm_files ;;
  run)
    [ $# -eq 3 ] || { echo "usage: win32-vm.sh run <folder> <command>" >&2; exit 2; }
    ensure_vm_files
    state=$(mktemp -d /tmp/vantrel-win32-vm.XXXXXX)
    trap 'stop_vm "$state"' EXIT
    start_vm "$state" "$2" || exit 125
    status=0
    exec_job "$state" "$2" "$3" || status=$?
    exit $status ;;
  start)
    [ $# -ge 2 ] || { echo "usage: win32-vm.sh start <state> <folder>..." >&2; exit 2; }
    ensure_vm_files
    state=$2
    shift 2
    start_vm "$state" "$@" ;;
  exec)
    [ $# -eq 4 ] || [ "${5:-}" = --local ] ||
      { echo "usage: win32-vm.sh exec <state> <folder> <command> [--local]" >&2; exit 2; }
    exec_job "$2" "$3" "$4" "${5:-}" ;;
  stop) stop_vm "$2" ;;
  prefix) echo "$prefix_in_image" ;;
  *) sed -n '2,/^set -euo/p' "$0" | sed '$d' >&2; exit 2 ;;
esac
