# Under the user-mode kernel every system call is a round trip between the kernel's
# host process and the process it runs. On one processor that trip costs about a
# third less than between two, so a kernel appliance keeps to one: the allowed
# processor with the fewest live appliances on it, counted by marker files in a
# folder shared by all of them, under a lock so that appliances starting together
# spread out. Without taskset or flock nothing is pinned.

# pin_to_quietest_cpu: pins this shell (and what it starts from now on); sets
# cpu_marker to the marker file to remove at the end ("" when not pinned).
pin_to_quietest_cpu() {
  cpu_marker=""
  command -v taskset >/dev/null && command -v flock >/dev/null || return 0
  local dir=${TMPDIR:-/tmp}/stickdup-sim-cpus cpus="" part cpu f count best="" least="" lock
  mkdir -p "$dir" 2>/dev/null || return 0
  # Cpus_allowed_list: "0-3,6", say.
  for part in $(sed -n 's/^Cpus_allowed_list:\s*//p' /proc/self/status | tr ',' ' '); do
    cpus+=" $(seq "${part%-*}" "${part#*-}" | tr '\n' ' ')"
  done
  [ -n "$cpus" ] || return 0
  exec {lock}>"$dir/lock" || return 0
  flock "$lock"
  for cpu in $cpus; do
    count=0
    for f in "$dir/$cpu".*; do
      [ -e "$f" ] && kill -0 "${f##*.}" 2>/dev/null && count=$((count + 1))
    done
    if [ -z "$least" ] || [ "$count" -lt "$least" ]; then least=$count best=$cpu; fi
  done
  : >"$dir/$best.$$" && cpu_marker=$dir/$best.$$
  exec {lock}>&-
  taskset -pc "$best" $$ >/dev/null || { rm -f "$cpu_marker"; cpu_marker=""; }
}
