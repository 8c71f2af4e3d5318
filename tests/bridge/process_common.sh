# Shared by the process tests of lumabridge ($bridge and $sim set by the test): a scratch
# directory, the simulator and the program started and ended, failures with every output file,
# and waiting for a text.
dir=$(mktemp -d)
sim_pid=
bridge_pid=
cleanup() {
  for pid in $bridge_pid $sim_pid; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  exec 3>&- 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
# Extra lines for a failure report; a test may redefine it.
report() { :; }
fail() {
  echo "FAIL: $*"
  report
  for f in "$dir"/*.out "$dir"/*.err "$dir"/*.log; do [ -f "$f" ] && { echo "== $f"; cat "$f"; }; done
  exit 1
}
# Waits up to 30 s for a fixed text in a file.
await() {
  for _ in $(seq 300); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
# Starts the simulator with the given options, its command log in $dir/sim.log; sets $port.
start_sim() {
  stop_sim
  rm -f "$dir/sim.log"
  "$sim" --port 0 --log "$dir/sim.log" "$@" >"$dir/sim.out" 2>&1 &
  sim_pid=$!
  await "$dir/sim.out" "listening on" || fail "simulator did not start"
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/sim.out")
}
stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
# Starts lumabridge (name, then its options after -i and -x) with standard input on a pipe held
# by descriptor 3; its output in $dir/NAME.out and NAME.err.
start_bridge() {
  name=$1
  shift
  rm -f "$dir/in"
  mkfifo "$dir/in"
  "$bridge" -i 127.0.0.1 -x "$port" "$@" <"$dir/in" >"$dir/$name.out" 2>"$dir/$name.err" &
  bridge_pid=$!
  exec 3>"$dir/in"
}
# Waits up to 20 s for lumabridge (name) to end; its exit code must be $2.
finish_bridge() {
  for _ in $(seq 200); do kill -0 "$bridge_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$bridge_pid" 2>/dev/null && fail "$1: still running after 20 s"
  code=0
  wait "$bridge_pid" || code=$?
  bridge_pid=
  exec 3>&-
  [ "$code" -eq "$2" ] || fail "$1: exit code $code, expected $2"
}
