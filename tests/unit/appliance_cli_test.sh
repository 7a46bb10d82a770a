#!/usr/bin/env bash
# sim/appliance seen from outside: the command's exit status and output come back
# faithfully, a run that does not end is killed and fails, nothing is left behind.
#   appliance_cli_test.sh host|kernel|kernel-timeout
set -u
appliance=$(cd "$(dirname "$0")/../../sim" && pwd)/appliance
mode=$1
failures=0
check() {   # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}

scratch=$(mktemp -d)
marker=$(mktemp /tmp/appliance-cli-marker.XXXXXX)   # in the host's /tmp: must not show inside
trap 'rm -rf "$scratch" "$marker"' EXIT
export TMPDIR=$scratch/tmp
mkdir "$TMPDIR"

case "$mode" in
  host|kernel)
    "$appliance" "--$mode" -- bash -c 'echo out; echo err >&2; ls "$1" 2>/dev/null; exit 7' - "$marker" \
      >"$scratch/out" 2>"$scratch/err"
    check "exit status" 7 "$?"
    check "standard output (and the host's /tmp unseen)" out "$(cat "$scratch/out")"
    check "standard error" err "$(cat "$scratch/err")"
    "$appliance" "--$mode" -- bash -c 'kill -KILL $$' 2>/dev/null
    check "status of a killed command" 137 "$?"
    "$appliance" "--$mode" -- /nonexistent/program 2>/dev/null
    check "status of a missing program" 127 "$?"
    if [ "$mode" = host ]; then
      SIM_TIMEOUT=2 "$appliance" --host -- sleep 60 2>"$scratch/err"
      check "status of a run past its time" 124 "$?"
      check "message of a run past its time" 1 "$(grep -c 'no end after 2s' "$scratch/err")"
    fi ;;
  kernel-timeout)
    SIM_TIMEOUT=60 "$appliance" --kernel -- sleep 600 2>"$scratch/err"
    check "status of a kernel past its time" 124 "$?"
    check "message of a kernel past its time" 1 "$(grep -c 'no end after 60s' "$scratch/err")" ;;
esac
check "files left behind" "" "$(ls -A "$TMPDIR")"
[ "$failures" -eq 0 ] && echo "appliance $mode: all checks passed"
exit "$((failures > 0))"
