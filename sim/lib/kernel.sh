# The simulated appliance's computer: Debian's own kernel, fetched with apt and
# unpacked (never installed) into a cache beside the checkout, and a small initramfs
# holding busybox and the kernel's modules that the appliance needs. Sourced by
# sim/appliance; nothing here touches this machine's installed packages.
#
# The cache is build-sim/ (STICKDUP_SIM_CACHE overrides it): one folder a kernel
# package, made again only when linux-image-amd64 names a newer one.

# Modules loaded at boot, before anything else runs: the shared folders (virtio,
# 9p), the job's consoles, the sticks (loop, device-mapper and its fault targets,
# FAT and its character sets, UDF for a hostile stick with links, USB storage), the LED
# expander (i2c-stub), overlays.
readonly SIM_MODULES="virtio_pci 9pnet_virtio 9p virtio_console loop dm-mod dm-flakey dm-delay
  fat vfat nls_cp437 nls_ascii nls_iso8859-1 nls_utf8 udf xhci-pci usb-storage sd_mod i2c-stub
  i2c-dev overlay"

sim_cache_dir() { echo "${STICKDUP_SIM_CACHE:-$repo/build-sim}"; }

# shellcheck source=sim/lib/emulator.sh
. "$here/lib/emulator.sh"

# The uncompressed kernel inside the vmlinuz, which the emulator starts directly
# (PVH): unpacking it under emulation would cost seconds at every boot.
extract_vmlinux() {
  local vmlinuz=$1 out=$2 offset
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
  [ -n "$offset" ] || return 1
  tail -c +"$((offset + 1))" "$vmlinuz" | xz -dcq >"$out" 2>/dev/null
  [ "$(head -c 4 "$out" | od -An -c | tr -d ' ')" = '177ELF' ]
}

# prepare_kernel KERNEL_DIR PACKAGE: fetches and unpacks the kernel package, busybox,
# and builds the initramfs, all into KERNEL_DIR.
prepare_kernel() {
  local kdir=$1 package=$2 work deb bbdeb version
  work=$(mktemp -d "$(sim_cache_dir)/fetch.XXXXXX")
  echo "appliance: fetching $package and busybox-static (once)" >&2
  deb=$(fetch_deb "$package" "$work") && bbdeb=$(fetch_deb busybox-static "$work") || {
    rm -rf "$work"
    echo "appliance: cannot download $package or busybox-static with apt-get" \
         "(run as root, with Debian's package lists: apt-get update)" >&2
    return 1
  }
  dpkg-deb -x "$deb" "$work/k" && dpkg-deb -x "$bbdeb" "$work/bb" || { rm -rf "$work"; return 1; }
  version=$(ls "$work/k/lib/modules")
  mkdir -p "$kdir"
  extract_vmlinux "$work/k/boot/vmlinuz-$version" "$kdir/vmlinux" ||
    cp "$work/k/boot/vmlinuz-$version" "$kdir/vmlinux"   # a compressed kernel boots too
  # shellcheck disable=SC2086
  build_initramfs "$work/k" "$version" "$work/bb/bin/busybox" "$here/lib/initramfs-init" \
    "$kdir/initramfs.gz" $SIM_MODULES || {
    rm -rf "$work" "$kdir"
    echo "appliance: cannot build the initramfs of $package" >&2
    return 1
  }
  initramfs_hash >"$kdir/ready"
  rm -rf "$work"
}

# What the initramfs is made of on our side; a change makes it again.
initramfs_hash() {
  { echo "$SIM_MODULES"; declare -f module_options; cat "$here/lib/initramfs-init"; } | sha256sum | cut -d' ' -f1
}

# listed_kernel_package CACHE: the kernel package as the package lists now name it.
# apt-cache reads every list for it (seconds, under the lock every appliance start
# takes), so the answer is kept in CACHE until the lists change (an apt-get update).
listed_kernel_package() {
  local stamp package kept=$1/.package
  stamp=$(stat -c '%n %Y %s' /var/lib/apt/lists/* 2>/dev/null | sha256sum | cut -d' ' -f1)
  if [ "$(head -n 1 "$kept" 2>/dev/null)" = "$stamp" ]; then
    sed -n 2p "$kept"
    return
  fi
  package=$(kernel_package linux-image-amd64)
  [ -z "$package" ] || printf '%s\n%s\n' "$stamp" "$package" >"$kept"
  echo "$package"
}

# find_kernel: sets SIM_KERNEL_DIR to a ready kernel folder, preparing it when needed.
# Several appliances starting at once prepare it once (a lock in the cache).
find_kernel() {
  local cache package lock
  cache=$(sim_cache_dir)
  mkdir -p "$cache"
  exec {lock}>"$cache/.lock"
  flock "$lock"
  package=$(listed_kernel_package "$cache")
  if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq >/dev/null 2>&1
    package=$(listed_kernel_package "$cache")
  fi
  if [ -z "$package" ]; then   # no package lists: the newest kernel already here, if any
    package=$(ls -t "$cache" 2>/dev/null | grep '^linux-image-' | head -n 1)
  fi
  SIM_KERNEL_DIR=$cache/$package
  if [ -z "$package" ]; then
    echo "appliance: no kernel: apt-cache knows no linux-image-amd64 (run apt-get update as root)" >&2
  elif [ "$(cat "$SIM_KERNEL_DIR/ready" 2>/dev/null)" != "$(initramfs_hash)" ]; then
    rm -rf "$SIM_KERNEL_DIR"
    prepare_kernel "$SIM_KERNEL_DIR" "$package" || package=""
  fi
  exec {lock}>&-
  [ -n "$package" ]
}

# run_machine: boots the appliance's root ($root) on the emulated computer and
# waits for it to power off (at most $timeout_s). The job's standard output and
# error are the caller's ($input its input); the kernel's own messages go to
# /sim/kernel.log, the emulator's to /sim/emulator.log.
run_machine() {
  # The kernel's hardening that costs emulated instructions on every allocation, fork
  # and system call (pages zeroed twice, huge pages zeroed whole, a shuffled stack) is
  # off: nothing runs here that it defends against, and a full classroom's group
  # takes about a tenth less time and a seventh less processor without it.
  local hardening="init_on_alloc=0 transparent_hugepage=never nokaslr randomize_kstack_offset=off"
  local q=(qemu-system-x86_64 -M pc -accel tcg,tb-size=512 -m 1024 -smp 1
           -nodefaults -no-user-config -display none -no-reboot
           -kernel "$SIM_KERNEL_DIR/vmlinux" -initrd "$SIM_KERNEL_DIR/initramfs.gz"
           -append "console=ttyS0 panic=-1 quiet loglevel=4 mitigations=off norandmaps $hardening"
           -serial "file:$(qarg "$root/sim/kernel.log")"
           -device virtio-serial-pci -device virtconsole,chardev=out -device virtconsole,chardev=err
           -chardev file,id=err,path=/proc/self/fd/4,append=on)
  [ ! -f /usr/share/qemu/qboot.rom ] || q+=(-bios /usr/share/qemu/qboot.rom)   # boots faster
  # The board's USB: an xHCI controller with the master on its port 1 and two
  # eight-port hubs on ports 2 and 3 for the students (packaging/board/70-stickdup.rules).
  q+=(-device qemu-xhci,id=usb -device usb-hub,bus=usb.0,port=2 -device usb-hub,bus=usb.0,port=3)
  # The emulator's monitor (QMP) on a socket, which a port of the appliance reaches
  # from inside: sim/stick plugs, pulls and breaks sticks with it. The sticks' throttle
  # groups: none, a hang (a byte a second), and the bus they all share.
  local monitor
  monitor=$(mktemp -d /tmp/stickdup-monitor.XXXXXX)/socket
  q+=(-chardev "socket,id=monitor,path=$monitor,server=on,wait=off" -mon chardev=monitor,mode=control
      -chardev "socket,id=hands,path=$monitor,reconnect=1"
      -device virtserialport,chardev=hands,name=org.stickdup.qmp
      -object throttle-group,id=free -object throttle-group,id=stop,x-bps-total=1
      -object throttle-group,id=bus)
  start_fake_sticks
  share_folder root "$root"
  share_folder host / readonly=on,multidevs=remap
  if [ -n "$out" ]; then
    share_folder out "$out"
    touch "$root/sim/out-shared"
  fi
  # The emulator runs in the appliance's folder: a stick's image is named from
  # inside as sim/sticks/SLOT.img.
  local status=0
  if [ -t 0 ]; then   # a person at the terminal: the job's console is the terminal itself
    q+=(-chardev stdio,id=out,signal=off)
    (cd "$root" && exec timeout --foreground -k 5 "$timeout_s" "${q[@]}") \
      4>&2 <&"$input" 2>"$root/sim/emulator.log" &
  else
    q+=(-chardev file,id=out,path=/proc/self/fd/3,append=on)
    (cd "$root" && exec timeout -k 5 "$timeout_s" "${q[@]}") \
      3>&1 4>&2 </dev/null >"$root/sim/emulator.log" 2>&1 &
  fi
  # Stopped from outside (a test's time is up): the emulator stops too.
  wait_emulator $! || status=$?
  rm -rf "${monitor%/socket}"
  stop_fake_sticks
  return "$status"
}

# The server of counterfeit sticks (sim/lib/fake-sticks under nbdkit), on a socket
# in the appliance's folder that the emulator finds by its name from there (a full
# path may be too long for a socket) and sim/stick at /sim/fake-sticks.sock. Only a
# fake stick needs it: without nbdkit the appliance runs all the same.
fake_server=""
start_fake_sticks() {
  local i
  command -v nbdkit >/dev/null || return 0
  (cd "$root" && FAKE_STICKS=$root/sim/sticks exec nbdkit -f --exit-with-parent \
     -U sim/fake-sticks.sock sh "$root/sim/lib/fake-sticks") \
    </dev/null >"$root/sim/fake-sticks.log" 2>&1 &
  fake_server=$!
  for ((i = 0; i < 100; i++)); do
    [ ! -S "$root/sim/fake-sticks.sock" ] || return 0
    kill -0 "$fake_server" 2>/dev/null || break
    sleep 0.05
  done
  echo "appliance: nbdkit did not start, no fake sticks:" \
       "$(tail -n 2 "$root/sim/fake-sticks.log")" >&2
}

stop_fake_sticks() {
  [ -n "$fake_server" ] || return 0
  kill "$fake_server" 2>/dev/null
  wait "$fake_server" 2>/dev/null || true
  rm -f "$root/sim/fake-sticks.sock"
}

# share_folder TAG PATH [OPTIONS]: PATH shown to the kernel as the 9p file system TAG.
share_folder() {
  q+=(-fsdev "local,id=$1,path=$(qarg "$2"),security_model=none${3:+,$3}"
      -device "virtio-9p-pci,fsdev=$1,mount_tag=$1")
}
