#!/usr/bin/env bash
# The Debian package in a --kernel appliance: installs the daemon and the platform, sets up the GPIO
# lines before the daemon starts once from /, restarts after a death and an upgrade, purges clean;
# the port helper writes the rules the package ships. --systemd: the same under this machine's
# systemd, pid 1 of a namespace of its own.
#   sim/appliance --kernel --share build -- tests/package/deb_test.sh DEB [--systemd]
set -u
failures=0
check() {   # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}
daemons() { pgrep -x stickdupd | sort -n; }
waitfor() { for _ in $(seq 300); do "$@" && return 0; sleep 0.2; done; return 1; }   # 60 s
count() { [ "$(daemons | wc -l)" = "$1" ]; }
renewed() { count 3 && [ -z "$(daemons | grep -xF "$old")" ]; }
service() {   # service start|stop|status, through the board's init
  if [ "$init" = systemd ]; then systemctl "$1" stickdupd; else /etc/init.d/stickdupd "$1"; fi
}

init=sysv
if [ "${2:-}" = --in-systemd ]; then
  init=systemd
else
  # dpkg writes into overlays of the read-only /usr and /etc; an empty database: --force-depends.
  for dir in /usr /etc; do
    mkdir -p "/tmp/ov$dir/up" "/tmp/ov$dir/work"
    mount -t overlay overlay \
      -o "lowerdir=$dir,upperdir=/tmp/ov$dir/up,workdir=/tmp/ov$dir/work" "$dir"
  done
  mkdir -p /var/lib/dpkg/info /var/lib/dpkg/updates /var/log && : >/var/lib/dpkg/status
fi
if [ "${2:-}" = --systemd ]; then
  # systemd would empty /tmp at boot: the overlays' folders are there, and maybe this checkout.
  mkdir -p /etc/tmpfiles.d
  ln -s /dev/null /etc/tmpfiles.d/tmp.conf
  ln -s /dev/null /etc/systemd/system/tmp.mount
  mountpoint -q /sys/fs/cgroup || mount -t cgroup2 cgroup2 /sys/fs/cgroup
  unshare --pid --fork --mount-proc env container=appliance /lib/systemd/systemd \
    >/dev/null 2>&1 &
  waitfor pgrep -x systemd >/dev/null
  pid1=$(pgrep -x systemd)
  waitfor nsenter -t "$pid1" -m test -S /run/systemd/private
  # Boot over, whatever this machine's own units make of it (some may fail here).
  timeout 120 nsenter -t "$pid1" -m -p systemctl is-system-running --wait >/dev/null
  exec nsenter -t "$pid1" -m -p -- "$(realpath "$0")" "$(realpath "$1")" --in-systemd
fi

echo in >/sys/class/gpio/gpio13/direction   # an LED line set up the wrong way
dpkg -i --force-depends "$1" >/tmp/dpkg.log 2>&1 || cat /tmp/dpkg.log
waitfor count 3; check "three processes after install" 0 $?
said=/tmp/dpkg.log
[ "$init" = sysv ] || { journalctl -u stickdupd -o cat >/tmp/journal.log; said=/tmp/journal.log; }
check "GPIO step before the daemon" "stickdup-gpio: gpio13 was in, now out" \
  "$(grep -o 'stickdup-gpio: .*' $said)"
rules=/usr/lib/udev/rules.d/70-stickdup.rules
check "platform installed" "$rules /usr/sbin/stickdup-gpio /usr/sbin/stickdup-ports" \
  "$(ls $rules /usr/sbin/stickdup-gpio /usr/sbin/stickdup-ports 2>&1 | tr '\n' ' ' | sed 's/ $//')"

# A stick in each slot's port in turn, each once the helper asks for it (the rules are the
# platform's, whatever the init).
if [ "$init" = sysv ]; then
  /usr/sbin/stickdup-ports --rules /tmp/ports.rules >/tmp/ports.out 2>&1 &
  for slot in $(seq 0 16); do
    port="student $slot"
    [ "$slot" != 0 ] || port="the master stick"
    waitfor grep -q "Plug a stick into the port for $port\." /tmp/ports.out
    stick plug "$slot" --size 256 >/dev/null
  done
  waitfor test -s /tmp/ports.rules
  check "port helper's rules" "$(grep '^ENV' $rules)" "$(grep '^ENV' /tmp/ports.rules)"
  for slot in $(seq 0 16); do stick pull "$slot"; done
  check "started at boot (after local file systems)" 1 \
    "$(ls /etc/rc2.d/S*stickdupd 2>/dev/null | wc -l)"
else
  check "started at boot" enabled "$(systemctl is-enabled stickdupd)"
fi
service status >/dev/null; check "status while running" 0 $?
first=$(daemons | head -n 1)
check "working directory" / "$(readlink "/proc/$first/cwd")"
old=$(daemons)
check "a second start" "$([ "$init" = systemd ] || echo 'stickdupd: already running')" \
  "$(service start)"
check "the same processes after it" "$old" "$(daemons)"

# The operation process, alone: the button process, left with requests nobody would run, ends
# the family, and the init starts it again whole.
kill -KILL "$(daemons | sed -n 2p)"
waitfor renewed; check "a new family, none of the old, after a death" 0 $?

service stop; check "stop" 0 $?
waitfor count 0; check "no process after stop" 0 $?
service status >/dev/null; check "status when stopped" 3 $?
service start && waitfor count 3; check "start again" 0 $?
old=$(daemons)
dpkg -i --force-depends "$1" >>/tmp/dpkg.log 2>&1; check "the package again (an upgrade)" 0 $?
waitfor renewed; check "a new family after the upgrade" 0 $?

dpkg -P stickdup >>/tmp/dpkg.log 2>&1; check "purge" 0 $?
waitfor count 0; check "no process after purge" 0 $?
check "files left" "" "$(ls /usr/sbin/stickdup* /etc/init.d/stickdupd /etc/rc*.d/*stickdupd $rules \
  /usr/lib/systemd/system/stickdupd.service /etc/systemd/system/*/stickdupd.service 2>/dev/null)"
[ "$failures" -eq 0 ] || tail -n +1 /tmp/dpkg.log /tmp/ports.out 2>/dev/null   # "==> FILE <==" each
exit "$failures"
