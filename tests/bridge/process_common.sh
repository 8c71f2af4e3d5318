# Shared by the process tests of lumabridge: a scratch directory, the simulator and the program
# ended at exit, failures with every output file, and waiting for a text.
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
