#!/usr/bin/env bash
# Runs a command in a small Linux guest whose kernel runs 32-bit programs, for machines whose
# own kernel refuses them (scripts/wine32.sh exits 125 there):
#
#   scripts/guest32.sh [--timeout SECONDS] [--local DIR]... COMMAND [ARGS...]
#                                   run COMMAND there and exit with its status
#   scripts/guest32.sh --prepare    only fetch and make what it needs
#
# The guest is Debian's own kernel (linux-image-amd64, fetched with `apt-get download`,
# never installed) under qemu-system-x86_64 with TCG (no KVM: a nested KVM guest hangs at
# boot on these machines), booted with an initramfs of busybox-static. It mounts this
# machine's whole tree over virtio-9p and runs COMMAND chrooted there, in the same folder,
# with the same environment, as root, except TMPDIR=/tmp; /tmp, /run and /dev/shm are the
# guest's own (the simulator's sockets and wine's server socket cannot live on 9p, so the
# caller's TMPDIR, TMP and TEMP are not passed in), with the folders under
# /tmp that the run reaches bound back into it, and its loopback is up.
# COMMAND's output is the guest's console, shown here. The guest has no network.
# --local DIR: the guest sees a copy of DIR in its memory instead of DIR over 9p (wine
# crashes or fails to load PE files it maps from 9p); the copy comes in the initramfs and is
# kept as a cpio archive beside it until DIR changes.
# Everything it needs is made once into $EDOG_WIN_CACHE/guest (default ~/.cache/edog/guest):
# kernel/ (vmlinuz and the few modules for virtio-9p), initramfs.cpio.gz. Only the packages
# qemu-system-x86 and busybox-static are needed (scripts/build-windows.sh installs them).
# The run is bounded: a guest that does not finish within the timeout (default 900 s) is
# stopped and the run fails.
#
# Measured (2 shared cores): boot to the command 40 to 50 s at a load average of 15 to 20,
# about 10 s on a quiet machine; TCG runs programs 10 to 20 times slower than the host.
set -euo pipefail
CACHE=${EDOG_WIN_CACHE:-$HOME/.cache/edog}
ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
G=$CACHE/guest
TIMEOUT=900
MODULES=(virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci
         netfs fscache 9pnet 9pnet_virtio 9p)

log() { echo "guest32: $*" >&2; }
fail() { echo "guest32: FAILED: $*" >&2; exit 1; }

# The guest's first program: modules, the host's tree, the command, power off. The command's
# status goes to RUN/status on the host's tree; no status there means the guest failed.
init_script() {
  cat <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in MODULES; do insmod /modules/$m.ko || echo "guest32: module $m did not load"; done
run=$(sed -n 's/.*edog.run=\([^ ]*\).*/\1/p' /proc/cmdline)
h=/host
mkdir -p $h
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose host $h; then
  mount -t proc proc $h/proc
  mount -t sysfs sys $h/sys
  mount -t devtmpfs dev $h/dev
  mkdir -p $h/dev/pts $h/dev/shm
  mount -t devpts -o newinstance,ptmxmode=0666 devpts $h/dev/pts
  ln -sf pts/ptmx $h/dev/ptmx 2>/dev/null
  # The guest's own /tmp hides the host's: folders the run needs there are bound back.
  mkdir -p /hosttmp
  mount --bind $h/tmp /hosttmp
  mount -t tmpfs -o mode=1777 tmp $h/tmp
  for d in $(sed -n 's/.*edog.keep=\([^ ]*\).*/\1/p' /proc/cmdline | tr , ' '); do
    mkdir -p $h$d && mount --bind /hosttmp${d#/tmp} $h$d || echo "guest32: $d is not visible"
  done
  mount -t tmpfs tmp $h/run
  mount -t tmpfs tmp $h/dev/shm
  for d in $(sed -n 's/.*edog.local=\([^ ]*\).*/\1/p' /proc/cmdline | tr , ' '); do
    mount --bind /local$d $h$d || echo "guest32: no local copy of $d"
  done
  ip link set lo up
  chroot $h /bin/bash "$run/command.sh" </dev/null >/dev/console 2>&1
  echo $? >$h/$run/status
  sync
else
  echo "guest32: the host's tree could not be mounted over 9p"
fi
poweroff -f
INIT
}

need() {
  command -v "$1" >/dev/null || fail "$1 is missing (Debian package $2; scripts/build-windows.sh installs it)"
}

# The kernel and its modules, from Debian's archive: the package linux-image-amd64 names.
fetch_kernel() {
  [ -f "$G/kernel/.ready" ] && return 0
  log "fetching the guest's kernel into $G/kernel"
  local tmp=$G/kernel.tmp pkg
  rm -rf "$tmp" && mkdir -p "$tmp"
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
  [ -n "$pkg" ] || fail "apt-cache names no kernel package for linux-image-amd64 (apt-get update?)"
  (cd "$tmp" && apt-get download -q -o APT::Sandbox::User=root "$pkg" >download.log 2>&1) ||
    fail "apt-get download $pkg: $(tail -n 1 "$tmp/download.log")"
  dpkg-deb --fsys-tarfile "$tmp"/*.deb | tar -x -C "$tmp" --wildcards './boot/vmlinuz-*' \
    './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/net/9p/*' \
    './lib/modules/*/kernel/fs/9p/*' './lib/modules/*/kernel/fs/netfs/*' './lib/modules/*/kernel/fs/fscache/*' ||
    fail "unpacking $pkg"
  mkdir -p "$tmp/out/modules"
  cp "$tmp"/boot/vmlinuz-* "$tmp/out/vmlinuz"
  local m f
  for m in "${MODULES[@]}"; do
    f=$(find "$tmp/lib/modules" -name "$m.ko*" | head -n 1)
    [ -n "$f" ] || fail "$pkg has no module $m"
    case "$f" in
      *.xz) xz -dc "$f" >"$tmp/out/modules/$m.ko" ;;
      *.zst) zstd -qdc "$f" >"$tmp/out/modules/$m.ko" ;;
      *) cp "$f" "$tmp/out/modules/$m.ko" ;;
    esac
  done
  echo "$pkg" >"$tmp/out/package"
  rm -rf "$G/kernel" && mv "$tmp/out" "$G/kernel" && rm -rf "$tmp"
  touch "$G/kernel/.ready"
}

# The initramfs: static busybox, the modules, /init. Remade when /init changes.
make_initramfs() {
  local want
  want=$(init_script | sed "s/MODULES/${MODULES[*]}/")
  [ -f "$G/initramfs.cpio.gz" ] && [ "$(cat "$G/init" 2>/dev/null)" = "$want" ] && return 0
  file -L "$(command -v busybox)" | grep -q 'statically linked' ||
    fail "$(command -v busybox) is not static (Debian package busybox-static)"
  local tmp=$G/initramfs.tmp
  rm -rf "$tmp" && mkdir -p "$tmp/bin" "$tmp/proc" "$tmp/sys" "$tmp/dev" "$tmp/modules"
  cp "$(command -v busybox)" "$tmp/bin/busybox"
  cp "$G"/kernel/modules/*.ko "$tmp/modules/"
  printf '%s\n' "$want" >"$tmp/init"
  chmod +x "$tmp/init"
  (cd "$tmp" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$G/initramfs.cpio.gz.tmp"
  mv "$G/initramfs.cpio.gz.tmp" "$G/initramfs.cpio.gz"
  printf '%s\n' "$want" >"$G/init"
  rm -rf "$tmp"
}

prepare() {
  need qemu-system-x86_64 qemu-system-x86
  need busybox busybox-static
  mkdir -p "$G"
  fetch_kernel
  make_initramfs
}

# A cpio archive of DIR as /local/DIR, remade when a file in DIR is newer than it.
local_archive() {
  local dir=$1 a
  a=$G/local/$(echo "$dir" | tr / _).cpio
  if [ ! -f "$a" ] || [ -n "$(find "$dir" -newer "$a" -print -quit)" ]; then
    mkdir -p "$G/local"
    rm -rf "$G/local/stage" && mkdir -p "$G/local/stage/local$(dirname "$dir")"
    cp -a "$dir" "$G/local/stage/local$dir"
    (cd "$G/local/stage" && find . | busybox cpio -o -H newc 2>/dev/null) >"$a.tmp"
    rm -rf "$G/local/stage"
    mv "$a.tmp" "$a"
  fi
  echo "$a"
}

LOCAL=()
while [ $# -gt 0 ]; do
  case "$1" in
    --prepare) prepare; exit 0 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    --local) LOCAL+=("$(cd "$2" && pwd -P)"); shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: scripts/guest32.sh [--timeout SECONDS] [--local DIR]... COMMAND [ARGS...] | --prepare" >&2; exit 2; }
prepare

mkdir -p "$G/runs"
run=$(mktemp -d "$G/runs/run.XXXXXX")
case "$run" in *[[:space:]]*) fail "the folder $run has a space in its name" ;; esac
trap 'rm -rf "$run"' EXIT
{
  echo 'set -e'
  export -p | grep -v -E '^declare -x (OLDPWD|PWD|SHLVL|_|TERM|DISPLAY|XAUTHORITY|TMPDIR|TMP|TEMP)='
  # The guest's own temp folder, whatever the caller's is: a socket (wine's server, the
  # simulator's) cannot live on 9p.
  echo 'export TMPDIR=/tmp'
  printf 'cd %q\n' "$PWD"
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$run/command.sh"

initrd=$G/initramfs.cpio.gz
if [ ${#LOCAL[@]} -gt 0 ]; then
  # The kernel unpacks concatenated archives one after the other.
  initrd=$run/initrd
  cat "$G/initramfs.cpio.gz" >"$initrd"
  for d in "${LOCAL[@]}"; do
    head -c $(( (4 - $(stat -c %s "$initrd") % 4) % 4 )) /dev/zero >>"$initrd"  # 4-byte aligned
    cat "$(local_archive "$d")" >>"$initrd"
  done
fi
locals=$(IFS=,; echo "${LOCAL[*]}")
# The folders under /tmp that the run reaches (its own, the current one, the project, the
# --local ones), by their first level there: the guest's /tmp is its own.
keep=()
for d in "$run" "$PWD" "$ROOT" "${LOCAL[@]}"; do
  d=$(cd "$d" && pwd -P)
  case "$d" in
    /tmp/*) rest=${d#/tmp/}; d=/tmp/${rest%%/*} ;;
    *) continue ;;
  esac
  case "$d" in *[[:space:],]*) fail "the folder $d has a space or a comma in its name" ;; esac
  [[ " ${keep[*]} " == *" $d "* ]] || keep+=("$d")
done
keeps=$(IFS=,; echo "${keep[*]}")

start=$SECONDS
rc=0
timeout -k 10 "$TIMEOUT" qemu-system-x86_64 -accel tcg -cpu max,-smap,-smep,-pku -smp 2 -m 2048 \
  -nodefaults -no-reboot -display none -monitor none -serial stdio -nic none \
  -kernel "$G/kernel/vmlinuz" -initrd "$initrd" \
  -append "console=ttyS0 quiet loglevel=1 panic=-1 edog.run=$run edog.local=$locals edog.keep=$keeps" \
  -fsdev local,id=host,path=/,security_model=none,multidevs=remap -device virtio-9p-pci,fsdev=host,mount_tag=host \
  </dev/null | sed -u 's/\r$//' || rc=$?
[ $rc -ne 124 ] || fail "the guest did not finish within $TIMEOUT s (stopped)"
[ -f "$run/status" ] || fail "the guest stopped without running the command (qemu status $rc, console above)"
status=$(cat "$run/status")
log "the guest ran: $* (status $status, $((SECONDS - start)) s from boot to power-off)"
exit "$status"
