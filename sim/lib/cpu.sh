# Under the user-mode kernel every system call is a round trip between the kernel's
# host process and the process it runs. On one processor that trip costs about a
# third less than between two, so a kernel appliance keeps to one: the allowed
# processor with the fewest kernel appliances already kept to it. Appliances that
# start together choose one at a time (a lock on this file); nothing is written.
# Without taskset or flock nothing is pinned.

# The processor list of a Cpus_allowed_list line ("0-3,6"), one a word.
cpu_list() {
  local part
  for part in ${1//,/ }; do seq "${part%-*}" "${part#*-}"; done
}

# pin_to_quietest_cpu: pins this shell, and what it starts from now on.
pin_to_quietest_cpu() {
  command -v taskset >/dev/null && command -v flock >/dev/null || return 0
  local lock p args allowed cpu best="" least="" count
  local -A pinned=()
  exec {lock}<"${BASH_SOURCE[0]}" && flock "$lock" || return 0
  # Other appliances' shells ("bash .../appliance --kernel ...") kept to one processor.
  for p in /proc/[0-9]*; do
    [ "$p" != "/proc/$$" ] || continue
    mapfile -d '' -n 2 args <"$p/cmdline" 2>/dev/null || continue
    [[ "${args[1]:-}" == */appliance ]] || continue
    allowed=$(sed -n 's/^Cpus_allowed_list:\s*//p' "$p/status" 2>/dev/null)
    [[ "$allowed" =~ ^[0-9]+$ ]] && pinned[$allowed]=$(( ${pinned[$allowed]:-0} + 1 ))
  done
  for cpu in $(cpu_list "$(sed -n 's/^Cpus_allowed_list:\s*//p' /proc/self/status)"); do
    count=${pinned[$cpu]:-0}
    if [ -z "$least" ] || [ "$count" -lt "$least" ]; then least=$count best=$cpu; fi
  done
  [ -z "$best" ] || taskset -pc "$best" $$ >/dev/null || true
  exec {lock}<&-
}
