#!/usr/bin/env bash
# Checks scripts/in-env from the host, where its namespaces are made (the Python tests run inside
# the root and cannot see them): exit status and input, host folders, signals, the hidden
# .sysroot, the launcher, and that no mount outlives a command. One line per check; stops at the
# first failure.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd -P)
root="$top/.sysroot"
in_env="$top/scripts/in-env"
if [ ! -f "$root/.ready" ]; then
  echo "skip: no Debian 13 root in .sysroot/, scripts/in-env runs commands directly"
  exit 0
fi
root=$(cd "$root" && pwd -P)
d=$(mktemp -d)
v=$(mktemp -d -p /var/tmp)
trap 'rm -rf "$d" "$v"' EXIT
ok() { echo "ok   $*"; }
fail() {
  echo "FAIL $*"
  exit 1
}

status=0
"$in_env" sh -c 'exit 7' || status=$?
[ $status -eq 7 ] || fail "exit status 7 came back as $status"
status=0
"$in_env" sh -c 'kill -TERM $$' || status=$?
[ $status -eq 143 ] || fail "a command ended by TERM gave $status, not 143"
[ "$(echo hi | "$in_env" cat)" = hi ] || fail "standard input did not reach the command"
ok "exit status (7, and 143 after TERM) and standard input pass through"

# The init stage polls for the status line; "13", then "0" a few polls later must still be 130.
eval "$(sed -n '/^await_status() {/,/^}/p' "$in_env")"
out=$(
  tick=0.2
  on_tick() { :; }
  finish() { echo "$1" && exit 0; }
  exec 4< <(printf 13 && sleep 0.5 && echo 0)
  await_status $!
)
[ "$out" = 130 ] || fail "a status line that came in pieces was read as '$out', not 130"
ok "a status line that comes in pieces across polls is read whole"

echo data >"$d/a"
"$in_env" cp "$d/a" "$d/b"
[ "$(cat "$d/b")" = data ] || fail "could not copy $d/a to $d/b inside the root"
echo here >"$v/rel"
[ "$(cd "$v" && "$in_env" cat rel)" = here ] || fail "relative path from $v not readable inside"
ok "host folders keep their paths inside: $d read and written, relative path from $v"

start=$(date +%s)
status=0
timeout 2 "$in_env" sleep 30 || status=$?
elapsed=$(($(date +%s) - start))
[ $status -eq 124 ] && [ $elapsed -le 5 ] || fail "timeout 2 ... sleep 30: status $status after ${elapsed}s"
ok "timeout 2 ends 'sleep 30' (status 124 after ${elapsed}s)"

# Counts the HUP, INT and TERM signals delivered to it in the half second after the first, then
# exits with 3 (gives up after 10 s). The wakeup fd gets a byte per delivery, even when Python
# runs the handler once for two; real-time scheduling lets it take each copy as it comes, before
# a later one could merge with it. With "group" it sends INT to its own process group, as Ctrl-C.
counter='
import os, select, signal, sys, time
sigs = (signal.SIGHUP, signal.SIGINT, signal.SIGTERM)
ignored = [s.name for s in sigs if signal.getsignal(s) == signal.SIG_IGN]
for s in sigs:
    signal.signal(s, lambda *_: None)
r, w = os.pipe()
os.set_blocking(w, False)
signal.set_wakeup_fd(w)
try:
    os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
except OSError:
    pass
open(sys.argv[1], "w").close()
if sys.argv[2] == "group":
    os.kill(0, signal.SIGINT)
got = b""
if select.select([r], [], [], 10)[0]:
    time.sleep(0.5)
    got = os.read(r, 64)
print(len(got), *ignored)
sys.exit(3)
'
# Runs the counter through in-env as a job of its own (own process group, INT not ignored), sends
# signal $1 to the wrapper once the counter is ready (unless $1 is "group"); sets $status, $out.
signalled() {
  local pid i
  rm -f "$d/ready"
  set -m
  "$in_env" python3 -c "$counter" "$d/ready" "$1" >"$d/out" 2>&1 &
  pid=$!
  set +m
  for i in $(seq 200); do [ -e "$d/ready" ] && break || sleep 0.05; done
  [ -e "$d/ready" ] || fail "the counter never started: $(cat "$d/out")"
  [ "$1" = group ] || kill -s "$1" "$pid"
  status=0
  wait "$pid" || status=$?
  out=$(cat "$d/out")
}
# The signals this shell's jobs start with ignored (a caller that ignores INT passes that on, and
# the wrapper must keep it so): the command inside must report the same ones.
set -m
python3 -c '
import signal
print(*[s.name for s in (signal.SIGHUP, signal.SIGINT, signal.SIGTERM)
        if signal.getsignal(s) == signal.SIG_IGN])' >"$d/ignored" &
set +m
wait $!
want=$(echo 1 $(cat "$d/ignored"))
signalled TERM
[ "$status $out" = "3 $want" ] ||
  fail "TERM to the wrapper: status $status, counted '$out' (want 3, $want)"
ok "a TERM sent to the wrapper reaches the command once, its status comes back"
if [ "$want" = 1 ]; then
  # The relay and the init stage get it in either order: a few rounds to catch a race.
  for round in 1 2 3 4 5; do
    signalled group
    [ "$status $out" = "3 1" ] ||
      fail "INT to the process group, round $round: status $status, counted '$out' (want 3, 1)"
  done
  ok "an INT sent to the whole process group reaches the command once (5 rounds)"
else
  echo "skip INT to the process group: this shell's jobs start with $(cat "$d/ignored") ignored"
fi

"$in_env" sh -c "[ -f '$top/scripts/in-env' ] && [ -z \"\$(ls -A '$root')\" ] && ! touch '$root/x' 2>/dev/null" ||
  fail "inside, $root is not an empty read-only folder (or the project is missing)"
ok "inside, the project is there and its .sysroot is empty and read-only"

if [ -x "$top/.venv/bin/linetopo" ]; then
  ln -s "$top/bin/linetopo" "$d/linetopo"
  out=$(cd "$d" && echo '{"type":"LineString","coordinates":[[0,0],[10,0]]}' |
    ./linetopo centerline - -o - --feature-size 1)
  case $out in *'"FeatureCollection"'*'"LineString"'*) ;; *) fail "launcher through a symlink: $out" ;; esac
  status=0
  (cd "$d" && ./linetopo centerline a -o - --feature-size 1 2>/dev/null) || status=$?
  [ $status -eq 2 ] || fail "launcher: input that is not JSON gave status $status, not 2"
  ok "bin/linetopo through a symlink: standard input and output, status 2 on bad input"
else
  echo "skip bin/linetopo: .venv/bin/linetopo is not installed yet"
fi

mounts=$(findmnt -rn -o TARGET | grep -F "$root" || :)
[ -z "$mounts" ] || fail "still mounted: $mounts"
ok "nothing stays mounted under $root"
