# What the appliance's emulated computer (sim/lib/kernel.sh) and the board twin's
# (sim/lib/board-image.sh, sim/lib/board-machine.sh) share: Debian packages fetched
# with apt, the initramfs that loads a kernel package's modules, the emulator's
# option syntax and the wait for an emulator to end. Sourced; needs root for apt.

# fetch_deb PACKAGE DIR [ARCH]: downloads the package's .deb (of architecture ARCH,
# this machine's by default) into DIR, prints its path.
fetch_deb() {
  local name=$1${3:+:$3}
  (cd "$2" && apt-get download -q -o APT::Sandbox::User=root "$name" >/dev/null 2>&1) || return 1
  compgen -G "$2/$1_*${3:+_$3}.deb" | head -n 1
}

# kernel_package META: the kernel package the meta-package META depends on now
# (linux-image-amd64: e.g. linux-image-6.1.0-57-amd64), without its architecture.
kernel_package() {
  apt-cache depends "$1" 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ {
           sub(/:[a-z0-9]+$/, "", $2); print $2; exit }'
}

# The LED expander: the stub chip answers at the board's address, on I2C bus 0.
module_options() {
  case "$1" in
    i2c-stub.ko) echo chip_addr=0x27 ;;
    usb-storage.ko) echo delay_use=0 ;;   # a stick is scanned at once, not after a second
  esac
}

# build_initramfs UNPACKED VERSION BUSYBOX INIT OUT MODULES...: OUT holds busybox,
# INIT as /init and the kernel's MODULES with every module they need, in load order
# (modules/order: a module and its module_options a line). Made in a folder beside OUT.
build_initramfs() {
  local unpacked=$1 version=$2 busybox=$3 init=$4 out=$5 dir module
  shift 5
  dir=$(mktemp -d "$(dirname "$out")/initramfs.XXXXXX")
  mkdir -p "$dir"/{bin,dev,proc,sys,newroot,modules}
  cp "$busybox" "$dir/bin/busybox"
  cp "$init" "$dir/init"
  depmod -b "$unpacked" "$version" || { rm -rf "$dir"; return 1; }
  for module in $(modprobe -d "$unpacked" -S "$version" --show-depends -a "$@" |
                  awk '$1 == "insmod" && !seen[$2]++ { print $2 }'); do
    cp "$module" "$dir/modules/" &&
      echo "${module##*/} $(module_options "${module##*/}")" >>"$dir/modules/order"
  done
  (cd "$dir" && find . | cpio -o -H newc --quiet | gzip -1) >"$out"
  rm -rf "$dir"
}

# The emulator's option syntax: a comma in a value is written twice.
qarg() { echo "${1//,/,,}"; }

# wait_emulator PID: until the emulator started as PID (a background job) ends;
# returns its status. Stopped from outside (a test's time is up), it stops the
# emulator too.
wait_emulator() {
  local machine=$1 status=0
  trap 'kill -TERM "$machine" 2>/dev/null' TERM INT HUP
  while :; do
    wait "$machine" && status=0 || status=$?
    kill -0 "$machine" 2>/dev/null || break
  done
  trap - TERM INT HUP
  return "$status"
}
