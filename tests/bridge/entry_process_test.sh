#!/bin/sh
# lumabridge as a process: the missing scanner address, then Enter and the interrupt
# while online against the scanner simulator, served on 127.0.0.23.
# usage: entry_process_test.sh LUMABRIDGE SCANNER_SIM
set -eu
bridge=$1
sim=$2
. "$(dirname "$0")/process_common.sh"

# No scanner address: the message, the 3 s wait, exit 1; nothing else on either stream.
code=0
"$bridge" -x 32001 </dev/null >"$dir/noip.out" 2>"$dir/noip.err" || code=$?
[ "$code" -eq 1 ] || fail "no -i: exit code $code"
printf 'Version: 2.0.0\n\n\n' | cmp -s - "$dir/noip.out" || fail "no -i: standard output"
printf 'Error: scanner IP address is not valid\nCheck Help for more Info\n' | cmp -s - "$dir/noip.err" ||
  fail "no -i: standard error"

start_sim

# Starts lumabridge served on 127.0.0.23; waits until online.
start() {
  start_bridge "$1" -s 127.0.0.23
  await "$dir/$1.out" "Vantocam is online" || fail "$1: not online"
}
# Waits for lumabridge to end with exit code 0; its standard output must end with the lines $2.
finish() {
  finish_bridge "$1" 0
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
