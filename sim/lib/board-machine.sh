# The board twin's emulated computer: qemu-system-arm's "virt" board, Debian's
# armmp kernel, the board's disk, its USB (an xHCI controller with two hubs, as
# the x86 appliance has), the job's consoles, the twin's shared folder and the
# emulator's monitor. Sourced by sim/board.

# Button lines read "1" when released; LED lines start dark.
readonly BOARD_BUTTON_LINES="0 1 3 6" BOARD_LED_LINES="13 14 68 110 71"

# board_sim_folder SIM [LED_DIRECTION]: the folder the twin mounts at /sim: the job
# runner, the stand-ins' recordings (calls/), the stick tool and its images, and
# the GPIO lines the initramfs makes. LED_DIRECTION "in" leaves the LED lines as a
# boot loader may: inputs, which the daemon's start-up step must turn.
board_sim_folder() {
  local sim=$1 led_dir=${2:-out} line
  mkdir -p "$sim"/{bin,lib,calls,sticks,mnt}
  cp "$here/lib/board-job" "$sim/board-job"
  cp "$here/shims/i2cset" "$here/stick" "$sim/bin/"
  : >"$sim/calls/i2cset.log"
  : >"$sim/gpio-lines"
  for line in $BOARD_BUTTON_LINES; do echo "$line in 1" >>"$sim/gpio-lines"; done
  for line in $BOARD_LED_LINES; do echo "$line $led_dir 0" >>"$sim/gpio-lines"; done
}

# board_write_job SIM CMD [ARGS...]: what /sim/board-job runs, as a bash fragment.
board_write_job() {
  local sim=$1
  shift
  { printf 'SIM_CMD=('; printf '%q ' "$@"; printf ')\n'
    printf 'PATH=%q\n' /sim/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    echo 'export HOME=/root LANG=C.UTF-8'
  } >"$sim/job"
}

# board_machine SIM TIMEOUT: boots the twin on $BOARD_DISK ($BOARD_DISK_FORMAT,
# qcow2 by default) with $BOARD_INIT as its init (the board's own by default) and
# waits for it to power off, at most TIMEOUT seconds. The job's consoles are this
# script's standard output and error; the kernel's console goes to SIM/console.log,
# the emulator's messages to SIM/emulator.log. BOARD_QMP is left the monitor's socket.
# BOARD_CUT names a file whose appearance cuts the power (board_cut_power).
board_machine() {
  local sim=$1 timeout_s=$2 append monitor status=0 machine
  append="console=ttyAMA0 panic=-1 quiet loglevel=4"
  [ -z "${BOARD_INIT:-}" ] || append+=" board.init=$BOARD_INIT"
  monitor=$(mktemp -d /tmp/stickdup-board.XXXXXX)/qmp
  BOARD_QMP=$monitor
  # TCG only, one processor: the machine is shared, and a board has one or two cores.
  local q=(qemu-system-arm -M virt,highmem=off -accel tcg,tb-size=256 -m 512 -smp 1
           -nodefaults -no-user-config -display none -no-reboot
           -kernel "$BOARD_IMAGE/vmlinuz" -initrd "$BOARD_IMAGE/initramfs.gz" -append "$append"
           -serial "file:$(qarg "$sim/console.log")"
           -drive "if=none,id=disk,format=${BOARD_DISK_FORMAT:-qcow2},file=$(qarg "$BOARD_DISK")"
           -device virtio-blk-pci,drive=disk
           -device virtio-serial-pci -device virtconsole,chardev=out -device virtconsole,chardev=err
           -chardev file,id=out,path=/proc/self/fd/3,append=on
           -chardev file,id=err,path=/proc/self/fd/4,append=on
           -fsdev "local,id=sim,path=$(qarg "$sim"),security_model=none"
           -device virtio-9p-pci,fsdev=sim,mount_tag=sim
           # The board's USB: the master on the controller's port 1, two eight-port
           # hubs on ports 2 and 3 for the students (packaging/board/70-stickdup.rules).
           -device qemu-xhci,id=usb -device usb-hub,bus=usb.0,port=2 -device usb-hub,bus=usb.0,port=3
           # The monitor (QMP), for this machine's side and, through a port, the
           # twin's own sim/stick; the sticks' throttle groups as in the appliance.
           -chardev "socket,id=monitor,path=$monitor,server=on,wait=off" -mon chardev=monitor,mode=control
           -chardev "socket,id=hands,path=$monitor,reconnect=1"
           -device virtserialport,chardev=hands,name=org.stickdup.qmp
           -object throttle-group,id=free -object throttle-group,id=stop,x-bps-total=1
           -object throttle-group,id=bus)
  rm -f "$sim/status"
  # The emulator runs in the twin's folder: a stick's image is named from inside
  # as sim/sticks/SLOT.img, as in the appliance.
  (cd "$sim/.." && exec nice -n 10 timeout -k 5 "$timeout_s" "${q[@]}") \
    3>&1 4>&2 </dev/null >"$sim/emulator.log" 2>&1 &
  machine=$!
  [ -z "${BOARD_CUT:-}" ] || board_cut_power "$BOARD_CUT" "$machine" &
  wait_emulator "$machine" || status=$?
  rm -rf "${monitor%/qmp}"
  return "$status"
}

# board_cut_power FILE PID: the power cut. Once FILE appears, the emulator (the
# child of PID, its timeout) is killed at once: what the board had not written to
# its disk and sticks is lost, as when a board loses its power.
board_cut_power() {
  local file=$1 pid=$2 emulator
  while kill -0 "$pid" 2>/dev/null; do
    if [ -e "$file" ]; then
      emulator=$(ps -o pid= --ppid "$pid" | tr -d ' ')
      [ -z "$emulator" ] || kill -KILL "$emulator"
      return 0
    fi
    sleep 0.1
  done
}
