#!/bin/sh
# Aravis against gev_host on 127.0.0.2: the description byte for byte, feature
# reads and writes through the host's handlers, and a refused write.
# usage: aravis_host_test.sh GEV_HOST
set -eu
host=$1
lb_needs=arv-tool-0.8
. "$(dirname "$0")/aravis_netns.sh"
dir=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; rm -rf "$dir"' EXIT
mkfifo "$dir/in"
"$host" --xml "$dir/camera.xml" 127.0.0.2 <"$dir/in" >"$dir/host.out" 2>&1 &
pid=$!
exec 3>"$dir/in"
# Waits for a process to be ready are long: on a loaded machine one may take seconds to start.
for _ in $(seq 300); do grep -q serving "$dir/host.out" && break; sleep 0.1; done
arv() { timeout 10 arv-tool-0.8 -a 127.0.0.2 "$@"; }
fail() { echo "FAIL: $*"; cat "$dir/host.out"; exit 1; }
grep -q serving "$dir/host.out" || fail "host did not start"

# arv-tool prints the description followed by one line break.
arv genicam >"$dir/arv.xml"
printf '\n' >>"$dir/camera.xml"
cmp "$dir/arv.xml" "$dir/camera.xml" || fail "genicam differs"
xmllint --noout "$dir/arv.xml" || fail "not well-formed"

arv features | grep -q "Integer *: \[RW\] 'Gain'" || fail "Gain not listed"
arv control Gain | grep -q "Gain = 10" || fail "Gain default"
grep -q "^read Gain$" "$dir/host.out" || fail "no read callback"
arv control Gain=42 ScanMode=Triggered >/dev/null
grep -q "^write Gain 42$" "$dir/host.out" || fail "no write callback for Gain"
grep -q "^write ScanMode 1$" "$dir/host.out" || fail "no write callback for ScanMode"
arv control Gain=13 2>&1 | grep -q "invalid-parameter" || fail "refusal not reported"
arv control Gain ScanMode | tr '\n' ' ' | grep -q "Gain = 42 .*ScanMode = Triggered" || fail "values after writes"
arv control 'R[0x0000]' | grep -q 0x00020000 || fail "version register"

exec 3>&-
wait $pid || fail "host did not stop cleanly"
grep -q "stopped 0x0" "$dir/host.out" || fail "Stop"
