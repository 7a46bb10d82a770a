#!/usr/bin/env bash
# The front panel worked by keys in a terminal that tmux provides: a distribute
# with a hung stick pulled during it (busy, then a failed result, the stick lost, the
# other student's folders), a dismissal, a clear gesture, and a clean end.
#   panel_test.sh REPO BUILD
set -uo pipefail
repo=$1 build=$2
socket=stickdup-panel-$$
session=(-L "$socket")
trap 'tmux "${session[@]}" kill-server 2>/dev/null' EXIT

screen() { tmux "${session[@]}" capture-pane -p -t panel; }
# shows SECONDS REGEX: waits until the panel shows REGEX.
shows() {
  local limit=$(( SECONDS + $1 ))
  until screen | grep -Eq -- "$2"; do
    if [ $SECONDS -ge $limit ]; then
      echo "FAIL after ${SECONDS}s: the panel never showed /$2/; it shows:"; screen; exit 1
    fi
    sleep 0.5
  done
  echo "${SECONDS}s: $2"
}
keys() { tmux "${session[@]}" send-keys -t panel "$@"; }

tmux "${session[@]}" new-session -d -s panel -x 100 -y 48 \
  "STICKDUP_BUILD='$build' '$repo/sim/panel' 0:master 1:empty 2:empty; echo panel ended \$?; sleep 600"
shows 420 ' 2 +2 present +empty'
shows 10 'means: ready'

# Student 2's stick stops answering, so the job waits on it until it is pulled:
# no race between the screen and a copy that may be over in a moment.
keys Right Right h
shows 60 'slot 2: hung: done'
keys d
shows 120 'means: distribute running'
shows 120 ' 0 +3 working'
shows 120 '^mount -o utf8,nosymfollow,nodev,nosuid,noexec /dev/tmvl2-part1 /tmp/tamvikel2'
keys p
shows 300 'distribute finished: a stick FAILED'
shows 10 ' 2 +5 LOST +pulled'
shows 10 ' 1 +4 done'

keys Left v                                      # student 1's folders
shows 120 '^TAMVIK-IN/Documents/sujet.txt'
shows 10 '^TAMVIK-IN/Exercices/exercice1.txt'

keys s
shows 60 'means: ready'
keys e                                           # hold, let go at the prompt, press again
shows 120 'means: clear running'
shows 300 'clear finished: every stick served'
shows 10 ' 1 +4 done'

keys q
shows 60 'panel ended 0'
