# Installs with apt-get whatever the build and the simulated appliance need and
# this machine lacks; sourced by sim/test-all, sim/demo and sim/panel (as root on Debian).

# shellcheck source=sim/lib/emulator.sh
. "$(dirname "${BASH_SOURCE[0]}")/emulator.sh"   # fetch_deb

# command:package pairs; a command found on PATH means the package is there.
# The emulated computer's kernel and busybox come as packages fetched and unpacked
# by sim/lib/kernel.sh; what runs inside it is this machine's /usr.
readonly SIM_NEEDED_TOOLS="cmake:cmake make:make g++:g++ bwrap:bubblewrap
  qemu-system-x86_64:qemu-system-x86 cpio:cpio xz:xz-utils flock:util-linux udevadm:udev
  i2cset:i2c-tools nbdkit:nbdkit
  modprobe:kmod dmsetup:dmsetup mkfs.vfat:dosfstools mkudffs:udftools losetup:mount blkid:util-linux
  ipcs:util-linux timeout:coreutils find:findutils awk:mawk tmux:tmux"

# Debian's mirrors are now and then caught mid-sync (a package list of the wrong
# size), and the install that follows then finds no such package: a failed update
# is tried again after a pause. Past the last try the lists at hand are used.
update_package_lists() {
  local try
  for try in 1 2 3; do
    apt-get update -qq && return 0
    [ "$try" -lt 3 ] || break
    echo "apt-get update failed (try $try of 3); again in $((try * 20)) s" >&2
    sleep $((try * 20))
  done
  echo "apt-get update failed; installing from the package lists at hand" >&2
}

# Installs the packages named, if any (as root; otherwise says what is missing).
install_packages() {
  [ $# -gt 0 ] || return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing: $*; run as root to have them installed" >&2
    return 1
  fi
  echo "installing: $*"
  export DEBIAN_FRONTEND=noninteractive
  # The packages' services (udev's, for one) are for the appliance, not for this
  # machine: none is started while they install.
  local policy=/usr/sbin/policy-rc.d own_policy="" status=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && own_policy=1
  fi
  update_package_lists
  apt-get install -y -qq --no-install-recommends "$@" >/dev/null || status=$?
  [ -z "$own_policy" ] || rm -f "$policy"
  return "$status"
}

ensure_tools() {
  local pair need=()
  export PATH="$PATH:/usr/local/sbin:/usr/sbin:/sbin"
  for pair in $SIM_NEEDED_TOOLS; do
    command -v "${pair%%:*}" >/dev/null 2>&1 || need+=("${pair#*:}")
  done
  [ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  [ -e /usr/include/ncurses.h ] || need+=(libncurses-dev)   # the front panel (sim/panel)
  [ -e /usr/lib/bash/rm ] || need+=(bash-builtins)   # the stick tool's rm, without a program
  [ -e /usr/include/openssl/sha.h ] || need+=(libssl-dev)   # the daemon's SHA-256
  install_packages "${need[@]}"
}

# The board's cross build and its emulator (sim/build-arm, sim/test-arm),
# update-rc.d for the package's start script, and systemd for its unit.
ensure_arm_tools() {
  local need=()
  command -v arm-linux-gnueabihf-g++ >/dev/null 2>&1 || need+=(g++-arm-linux-gnueabihf)
  command -v qemu-arm-static >/dev/null 2>&1 || need+=(qemu-user-static)
  [ -e /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
  command -v update-rc.d >/dev/null 2>&1 || need+=(init-system-helpers)
  [ -x /lib/systemd/systemd ] || need+=(systemd)
  # The board's crypto library comes from Debian's armhf package lists (stage_arm_crypto).
  if ! dpkg --print-foreign-architectures | grep -qx armhf && [ "$(id -u)" -eq 0 ]; then
    dpkg --add-architecture armhf
    [ ${#need[@]} -gt 0 ] || update_package_lists
  fi
  install_packages "${need[@]}"
}

# stage_arm_crypto DIR: the board's crypto library, Debian's libssl-dev:armhf unpacked
# into DIR (DIR/usr/include, DIR/usr/lib/arm-linux-gnueabihf), not installed. Installed
# beside this machine's own it would have to be the very same version, which the armhf
# lists may lack (a mirror caught mid-sync); the board's one-file build needs only its
# headers and its archive.
stage_arm_crypto() {
  local dir=$1 fetch deb
  [ ! -e "$dir/usr/lib/arm-linux-gnueabihf/libcrypto.a" ] || return 0
  fetch=$(mktemp -d)
  if ! deb=$(fetch_deb libssl-dev "$fetch" armhf); then
    echo "cannot download libssl-dev:armhf (as root: dpkg --add-architecture armhf;" \
         "apt-get update)" >&2
    rm -rf "$fetch"
    return 1
  fi
  rm -rf "$dir" && mkdir -p "$dir"
  dpkg-deb -x "$deb" "$dir"
  rm -rf "$fetch"
}
