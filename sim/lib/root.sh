# Builds the appliance's root folder; sourced by sim/appliance.

# Button lines read "1" when released; LED lines start dark.
readonly SIM_BUTTON_LINES="0 1 3 6"
readonly SIM_LED_LINES="13 14 68 110 71"
readonly SIM_PATH=/sim/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
# What the daemon and the sticks' tool start again and again: a shell and a tool for
# every command, i2cset for every LED frame that changes.
readonly SIM_HOT_PROGRAMS="dash bash i2cset mount umount blkid mkfs.fat tar cp rm mkdir sync
  sleep cat blockdev head sed grep timeout flock"

# hot_files: those programs, the libraries they load and the loader's cache, as paths
# below /usr and /etc, where the emulated computer sees this machine's files.
hot_files() {
  local programs
  programs=$(PATH=/usr/sbin:/usr/bin command -v $SIM_HOT_PROGRAMS)
  # One ldd for them all: it prints each program's libraries under its name.
  { echo "$programs"
    ldd $programs 2>/dev/null |
      awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// && $2 ~ /^\(/ { print $1 }'
  } | xargs -r realpath
  realpath /etc/ld.so.cache
}

# build_root ROOT SIMDIR MODE
build_root() {
  local root=$1 simdir=$2 mode=$3 line
  mkdir -p "$root"/{tmp,dev,proc,usr,etc,sys/class/gpio,root,run}
  mkdir -p "$root"/sim/{bin,lib,calls,sticks,mnt,initd,home}
  chmod 1777 "$root/tmp"
  # /bin and /sbin are folders of the appliance, filled with links into /usr, so
  # that files such as /bin/dev.cmd can be created without touching the host.
  cp -as /usr/bin "$root/bin"
  cp -as /usr/sbin "$root/sbin"
  local lib
  for lib in lib lib32 lib64; do
    if [ -e "/usr/$lib" ]; then ln -s "usr/$lib" "$root/$lib"; fi
  done

  # Shims for what the board has and this machine does not; each logs its calls.
  # The emulated computer has the LED expander itself (the kernel's I2C stub chip,
  # written by the real i2cset); this machine's kernel has none.
  local shims="reboot" shim dir
  [ "$mode" = kernel ] || shims+=" i2cset"
  for shim in $shims; do cp "$simdir/shims/$shim" "$root/sim/bin/"; done
  cp "$simdir"/shims/tamvik_shutdown.sh "$root/sim/initd/"
  cp "$simdir"/stick "$root/sim/bin/stick"
  cp "$simdir"/lib/host-init "$simdir"/lib/kernel-init "$simdir"/lib/fake-sticks "$root/sim/lib/"
  cp "$simdir"/../packaging/board/70-stickdup.rules "$root/sim/lib/"
  # Each shim replaces whatever this machine has of that name (i2c-tools, a
  # reboot of its own), in /bin and /sbin alike.
  for shim in $shims; do
    for dir in bin sbin; do
      ln -sfn "/sim/bin/$shim" "$root/$dir/$shim"
    done
  done
  : >"$root/sim/calls/i2cset.log"
  : >"$root/sim/calls/reboot.log"
  : >"$root/sim/calls/shutdown.log"

  # GPIO lines as sysfs shows exported ones: a value with a line end, and a direction.
  mkdir -p "$root/sim/gpio"
  for line in $SIM_BUTTON_LINES; do
    mkdir "$root/sim/gpio/gpio$line" && echo 1 >"$root/sim/gpio/gpio$line/value"
    echo in >"$root/sim/gpio/gpio$line/direction"
  done
  for line in $SIM_LED_LINES; do
    mkdir "$root/sim/gpio/gpio$line" && echo 0 >"$root/sim/gpio/gpio$line/value"
    echo out >"$root/sim/gpio/gpio$line/direction"
  done

  # The appliance's list files exist but select nothing until a test fills them.
  : >"$root/replist"
  : >"$root/filelist"
  echo "$mode" >"$root/sim/mode"

  # Kernel mode: where the emulated computer mounts this machine's root, and the
  # folders it shows at their own paths (see sim/lib/initramfs-init).
  if [ "$mode" = kernel ]; then
    mkdir -p "$root/sim/host"
    printf '%s\n' "${shares[@]}" >"$root/sim/shares"
    hot_files | grep -E '^/(usr|etc)/' | sort -u >"$root/sim/hot-files"
  fi
}

# write_job ROOT MODE CMD [ARGS...]: what the init inside runs, as a bash fragment.
write_job() {
  local root=$1 mode=$2 cwd=/ dir name colour=no rows cols
  shift 2
  [ ! -t 1 ] || colour=yes
  for dir in "${shares[@]}"; do
    case "$PWD/" in "$dir"/*) cwd=$PWD ;; esac
  done
  {
    printf 'SIM_CMD=('; printf '%q ' "$@"; printf ')\n'
    printf 'SIM_CWD=%q\n' "$cwd"
    printf 'SIM_SHARES=('; printf '%q ' "${shares[@]}"; printf ')\n'
    printf 'SIM_KEEPING=%q\n' "$keep"
    printf 'SIM_INTERACTIVE=%q\n' "$([ -t 0 ] && echo 1)"
    # A terminal's size, which the kernel's console cannot learn by itself.
    if [ -t 0 ]; then read -r rows cols < <(stty size 2>/dev/null) || true; fi
    printf 'SIM_ROWS=%q SIM_COLS=%q\n' "${rows:-}" "${cols:-}"
    printf 'export SIM_MODE=%q PATH=%q HOME=/root\n' "$mode" "$SIM_PATH"
    # A person at a terminal reads UTF-8. Otherwise no locale, as the board's init gives the
    # daemon none: every program would load a dozen locale files at its start.
    [ ! -t 0 ] || echo 'export LANG=C.UTF-8'
    # Test selection and output settings travel in; nothing else of the caller's
    # environment does, so every run starts alike.
    for name in $(compgen -e); do
      case "$name" in
        GTEST_*|STICKDUP_*|TERM) printf 'export %s=%q\n' "$name" "${!name}" ;;
      esac
    done
    # Under the kernel the job's output is a terminal whatever the caller's is:
    # no colour codes in a log file.
    [ -n "${GTEST_COLOR:-}" ] || echo "export GTEST_COLOR=$colour"
  } >"$root/sim/job"
}
