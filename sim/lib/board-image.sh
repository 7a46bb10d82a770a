# The board twin's computer and disk: Debian's armhf armmp kernel, a small
# initramfs of busybox and the modules the twin needs, and a root file system of
# Debian armhf packages as a board's image holds them (bootstrapped with
# debootstrap, its second stage run by the twin itself on its first boot).
# Sourced by sim/board; nothing here touches this machine's installed packages.
#
# The cache is build-sim/board/ (STICKDUP_SIM_CACHE overrides build-sim): one
# folder per image, named by what makes it (the package list, the kernel package,
# the twin's own boot files), and made again when any of them changes.

# What the board's image holds beyond debootstrap's minimal base (which brings
# dash, bash, coreutils, util-linux, tar, dpkg and libc): an init that runs the
# /etc/init.d scripts, udev, the FAT tools, i2c-tools, and what the package's
# scripts call (update-rc.d, ps).
readonly BOARD_PACKAGES="sysvinit-core sysv-rc initscripts insserv startpar udev
  dosfstools i2c-tools kmod procps init-system-helpers"
readonly BOARD_SUITE=bookworm BOARD_MIRROR=http://deb.debian.org/debian

# Modules loaded by the initramfs, in this order: the root disk and its file
# system, the twin's shared folder and consoles, the sticks (USB storage on the
# xHCI controller, FAT and its character sets) and device-mapper for stick faults.
readonly BOARD_MODULES="virtio_pci virtio_blk ext4 virtio_console 9pnet_virtio 9p
  xhci-pci usb-storage sd_mod loop dm-mod vfat nls_cp437 nls_ascii nls_iso8859-1 nls_utf8"

# shellcheck source=sim/lib/emulator.sh
. "$here/lib/emulator.sh"

board_cache_dir() { echo "${STICKDUP_SIM_CACHE:-$repo/build-sim}/board"; }

# What the root image is made of; any change names a new image folder.
board_image_key() {
  { echo "$BOARD_PACKAGES $BOARD_SUITE $1"
    cat "$here/lib/board-setup"
    declare -f board_bootstrap; } | sha256sum | cut -c1-16
}

# What the initramfs is made of; a change makes it again (in seconds, from the
# kernel package kept in the image folder), the root image stays.
board_initramfs_key() {
  { echo "$BOARD_MODULES"
    cat "$here/lib/board-initramfs-init"
    declare -f build_initramfs module_options; } | sha256sum | cut -c1-16
}

# board_bootstrap ROOT: debootstrap's first stage (download and unpack, no
# package scripts: those are the second stage, run on the twin), and what the
# twin adds to every board: its shared folder's mount point.
board_bootstrap() {
  local root=$1 include
  include=$(echo $BOARD_PACKAGES | tr ' ' ,)
  debootstrap --foreign --arch=armhf --variant=minbase --include="$include" \
    "$BOARD_SUITE" "$root" "$BOARD_MIRROR" >"$root.log" 2>&1 || {
    echo "board: debootstrap failed; its log: $root.log" >&2
    return 1
  }
  mkdir -p "$root/sim" &&
    cp "$here/lib/board-setup" "$root/sim-setup" &&
    echo stickdup-board >"$root/etc/hostname" &&
    echo '/dev/vda / ext4 defaults,errors=remount-ro 0 1' >"$root/etc/fstab"
}

# board_prepare DIR KERNEL_PACKAGE: makes the image folder DIR: the kernel
# package (kernel.deb, kept for the initramfs), vmlinuz, base.img (the configured
# root), ready; then the initramfs.
board_prepare() {
  local dir=$1 package=$2 work deb start=$SECONDS
  mkdir -p "$dir"
  work=$(mktemp -d "$dir/fetch.XXXXXX")
  echo "board: fetching $package (armhf)" >&2
  deb=$(fetch_deb "$package" "$work" armhf) || {
    echo "board: cannot download $package:armhf with apt-get" \
         "(run as root, with the armhf architecture added and package lists: apt-get update)" >&2
    return 1
  }
  mv "$deb" "$dir/kernel.deb"
  dpkg-deb --fsys-tarfile "$dir/kernel.deb" | tar -xO --wildcards './boot/vmlinuz-*' >"$dir/vmlinuz" || return 1
  board_initramfs "$dir" || return 1
  echo "board: bootstrapping the root ($BOARD_SUITE armhf:" $BOARD_PACKAGES")" >&2
  board_bootstrap "$work/root" || return 1
  # Sparse: a 2 GiB disk holds the ~300 MiB the image needs, with room for a class.
  mkfs.ext4 -q -L board -d "$work/root" "$dir/base.img" 2G || return 1
  rm -rf "$work"
  echo "board: unpacked in $((SECONDS - start))s; the twin's first boot configures the packages" >&2
  board_second_stage "$dir" || return 1
  echo "$package" >"$dir/ready"
}

# board_initramfs DIR: DIR/initramfs.gz, made again when its key changed.
board_initramfs() {
  local dir=$1 key work version bbdeb
  key=$(board_initramfs_key)
  [ "$(cat "$dir/initramfs.key" 2>/dev/null)" != "$key" ] || return 0
  work=$(mktemp -d "$dir/initramfs-fetch.XXXXXX")
  bbdeb=$(fetch_deb busybox-static "$work" armhf) || {
    echo "board: cannot download busybox-static:armhf with apt-get" >&2
    rm -rf "$work"
    return 1
  }
  # shellcheck disable=SC2086
  dpkg-deb -x "$dir/kernel.deb" "$work/k" && dpkg-deb -x "$bbdeb" "$work/bb" &&
    version=$(ls "$work/k/lib/modules") &&
    build_initramfs "$work/k" "$version" "$work/bb/bin/busybox" "$here/lib/board-initramfs-init" \
      "$dir/initramfs.gz" $BOARD_MODULES || {
    echo "board: cannot build the initramfs from $dir/kernel.deb" >&2
    rm -rf "$work"
    return 1
  }
  rm -rf "$work"
  echo "$key" >"$dir/initramfs.key"
}

# board_second_stage DIR: boots the twin once on the bare image, with the setup as
# its init: debootstrap's second stage (every package's scripts), then the board's
# own settings. The image is written in place.
board_second_stage() {
  local dir=$1 sim status=0 start=$SECONDS
  sim=$(mktemp -d "$dir/setup.XXXXXX")
  board_sim_folder "$sim"
  BOARD_DISK=$dir/base.img BOARD_DISK_FORMAT=raw BOARD_INIT=/sim-setup \
    board_machine "$sim" 1800 || status=$?
  if [ "$(cat "$sim/status" 2>/dev/null)" != 0 ]; then
    echo "board: the first boot's setup failed (status ${status}); the console's end:" >&2
    tail -n 40 "$sim/console.log" >&2
    return 1
  fi
  echo "board: first boot configured the image in $((SECONDS - start))s" >&2
  rm -rf "$sim"
  board_clean_image "$dir/base.img"
}

# board_clean_image IMG: clean, as a board's image is flashed: the journal replayed
# and the orphans freed, then the setup's script gone; every boot of a fresh disk
# then starts without a recovery.
board_clean_image() {
  local status=0
  e2fsck -fy "$1" >/dev/null 2>&1 || status=$?
  [ "$status" -le 1 ] || { echo "board: e2fsck finds $1 damaged (status $status)" >&2; return 1; }
  debugfs -w -R 'rm /sim-setup' "$1" >/dev/null 2>&1 || { echo "board: cannot remove /sim-setup from $1" >&2; return 1; }
  e2fsck -fy "$1" >/dev/null 2>&1 || status=$?
  [ "$status" -le 1 ] || { echo "board: e2fsck finds $1 damaged (status $status)" >&2; return 1; }
}

# find_board_image: sets BOARD_IMAGE to a ready image folder, making it when needed.
# Twins starting at once make it once (a lock in the cache).
find_board_image() {
  local cache package key lock
  cache=$(board_cache_dir)
  mkdir -p "$cache"
  exec {lock}>"$cache/.lock"
  flock "$lock"
  package=$(kernel_package linux-image-armmp:armhf)
  if [ -z "$package" ]; then   # no package lists: the newest image already here, if any
    BOARD_IMAGE=$(ls -td "$cache"/*/ 2>/dev/null | head -n 1)
    BOARD_IMAGE=${BOARD_IMAGE%/}
    [ -n "$BOARD_IMAGE" ] && [ -s "$BOARD_IMAGE/ready" ] || {
      echo "board: apt-cache knows no linux-image-armmp:armhf" \
           "(as root: dpkg --add-architecture armhf; apt-get update)" >&2
      exec {lock}>&-
      return 1
    }
  else
    key=$(board_image_key "$package")
    BOARD_IMAGE=$cache/$key
    if [ ! -s "$BOARD_IMAGE/ready" ]; then
      # Older images go: one image is what the current package list makes.
      find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
      rm -rf "$BOARD_IMAGE"
      board_prepare "$BOARD_IMAGE" "$package" || { rm -rf "$BOARD_IMAGE"; exec {lock}>&-; return 1; }
    fi
  fi
  board_initramfs "$BOARD_IMAGE" || { exec {lock}>&-; return 1; }
  exec {lock}>&-
}
