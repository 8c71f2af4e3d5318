#!/bin/sh
# lumabridge as a process: the missing scanner address, then Enter and the interrupt
# while online against the scanner simulator, served on 127.0.0.23.
# usage: entry_process_test.sh LUMABRIDGE SCANNER_SIM
set -eu
bridge=$1
sim=$2
dir=$(mktemp -d)
sim_pid=
bridge_pid=
cleanup() {
  for pid in $bridge_pid $sim_pid; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in "$dir"/*.out "$dir"/*.err; do [ -f "$f" ] && { echo "== $f"; cat "$f"; }; done
  exit 1
}
# Waits up to 30 s for a fixed text in a file.
await() {
  for _ in $(seq 300); do grep -qF "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# No scanner address: the message, the 3 s wait, exit 1; nothing else on either stream.
code=0
"$bridge" -x 32001 </dev/null >"$dir/noip.out" 2>"$dir/noip.err" || code=$?
[ "$code" -eq 1 ] || fail "no -i: exit code $code"
printf 'Version: 2.0.0\n\n\n' | cmp -s - "$dir/noip.out" || fail "no -i: standard output"
printf 'Error: scanner IP address is not valid\nCheck Help for more Info\n' | cmp -s - "$dir/noip.err" ||
  fail "no -i: standard error"

"$sim" --port 0 >"$dir/sim.out" 2>&1 &
sim_pid=$!
await "$dir/sim.out" "listening on" || fail "simulator did not start"
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/sim.out")

# Starts lumabridge with standard input on a pipe held open by descriptor 3; waits until online.
start() {
  rm -f "$dir/in"
  mkfifo "$dir/in"
  "$bridge" -i 127.0.0.1 -x "$port" -s 127.0.0.23 <"$dir/in" >"$dir/$1.out" 2>"$dir/$1.err" &
  bridge_pid=$!
  exec 3>"$dir/in"
  await "$dir/$1.out" "Vantocam is online" || fail "$1: not online"
}
# Waits for lumabridge to end with exit code 0; its standard output must end with the lines $2.
finish() {
  for _ in $(seq 200); do kill -0 "$bridge_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$bridge_pid" 2>/dev/null && fail "$1: still running after 20 s"
  code=0
  wait "$bridge_pid" || code=$?
  bridge_pid=
  exec 3>&-
  [ "$code" -eq 0 ] || fail "$1: exit code $code"
  printf '%b' "$2" >"$dir/expected"
  tail -n "$(wc -l <"$dir/expected")" "$dir/$1.out" | cmp -s - "$dir/expected" || fail "$1: last lines"
}

start enter
printf '\n' >&3
finish enter '--- exit ---\n'
grep -qF -- "--- stopping ---" "$dir/enter.out" && fail "enter: stopping line"

start interrupt
kill -INT "$bridge_pid"
finish interrupt '--- stopping ---\n--- exit ---\n'
echo "ok"
