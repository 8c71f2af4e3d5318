#!/bin/sh
# Aravis against gev_host on 127.0.0.3: discovery, bootstrap register reads, control
# privilege between two clients with the heartbeat, and a capture that tshark decodes
# without a malformed packet.
# usage: aravis_control_test.sh GEV_HOST PRIVILEGE_SCRIPT
set -eu
host=$1
privilege=$2
lb_needs="arv-tool-0.8 aravis-python"
. "$(dirname "$0")/aravis_netns.sh"
addr=127.0.0.3
dir=$(mktemp -d)
pids=""
cleanup() {
  for p in $pids; do kill -9 "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$dir/host.out"; exit 1; }

# Waits for a process to be ready are long: on a loaded machine one may take
# seconds to start. A capture has started once its file holds a header.
capture=0
if command -v tshark >/dev/null && [ "$(id -u)" -eq 0 ]; then
  tshark -q -i lo -f "udp port 3956" -w "$dir/gvcp.pcap" >"$dir/tshark.out" 2>&1 &
  tpid=$!
  pids="$pids $tpid"
  capture=1
  for _ in $(seq 300); do [ -s "$dir/gvcp.pcap" ] && break; sleep 0.1; done
  [ -s "$dir/gvcp.pcap" ] || { cat "$dir/tshark.out"; fail "capture did not start"; }
  sleep 0.5
fi

mkfifo "$dir/in"
"$host" "$addr" <"$dir/in" >"$dir/host.out" 2>&1 &
pids="$pids $!"
hpid=$!
exec 3>"$dir/in"
for _ in $(seq 300); do grep -q serving "$dir/host.out" && break; sleep 0.1; done
grep -q serving "$dir/host.out" || fail "host did not start"

timeout 10 arv-tool-0.8 >"$dir/discovered" 2>&1 || true
grep -q "($addr)" "$dir/discovered" || { cat "$dir/discovered"; fail "not discovered"; }
timeout 10 arv-tool-0.8 -a "$addr" control 'R[0x0000]' 'R[0x0934]' >"$dir/regs" 2>&1
grep -q "R\[0x00000000\] = 0x00020000" "$dir/regs" || { cat "$dir/regs"; fail "version register"; }
grep -q "R\[0x00000934\] = 0x" "$dir/regs" || { cat "$dir/regs"; fail "capability register"; }

/usr/bin/python3 "$privilege" "$addr" holder >"$dir/holder" 2>&1 &
holder=$!
pids="$pids $holder"
for _ in $(seq 300); do grep -q holding "$dir/holder" && break; sleep 0.1; done
grep -q holding "$dir/holder" || { cat "$dir/holder"; fail "holder"; }
mkfifo "$dir/go"
/usr/bin/python3 "$privilege" "$addr" contender <"$dir/go" >"$dir/contender" 2>&1 &
contender=$!
pids="$pids $contender"
exec 4>"$dir/go"
for _ in $(seq 300); do grep -q -E 'refused|FAIL' "$dir/contender" && break; sleep 0.1; done
grep -q refused "$dir/contender" || { cat "$dir/contender"; fail "second client was not refused"; }
kill -9 "$holder"   # no release: only the heartbeat time-out frees control
echo go >&4
wait "$contender" || { cat "$dir/contender"; fail "control not handed over"; }
grep -q taken "$dir/contender" || fail "contender"

exec 3>&-
wait "$hpid" || fail "host did not stop cleanly"

if [ "$capture" -eq 1 ]; then
  sleep 1
  kill -INT "$tpid"; wait "$tpid" 2>/dev/null || true
  packets=$(tshark -r "$dir/gvcp.pcap" -Y "gvcp && (ip.src == $addr || ip.dst == $addr)" 2>/dev/null | wc -l)
  malformed=$(tshark -r "$dir/gvcp.pcap" -Y "_ws.malformed || _ws.expert.severity >= error" 2>/dev/null | wc -l)
  echo "captured $packets GVCP packets, $malformed malformed"
  [ "$packets" -gt 10 ] || fail "capture holds too few packets"
  [ "$malformed" -eq 0 ] || { tshark -r "$dir/gvcp.pcap" -Y _ws.malformed; fail "malformed GVCP packets"; }
  # Every acknowledge answers a request with the same id.
  tshark -r "$dir/gvcp.pcap" -Y "gvcp && ip.src != $addr" -T fields -e gvcp.cmd.req_id 2>/dev/null | sort -u >"$dir/req"
  tshark -r "$dir/gvcp.pcap" -Y "gvcp && ip.src == $addr" -T fields -e gvcp.cmd.req_id 2>/dev/null | sort -u >"$dir/ack"
  [ -s "$dir/ack" ] || fail "no acknowledges captured"
  unmatched=$(comm -13 "$dir/req" "$dir/ack" | wc -l)
  [ "$unmatched" -eq 0 ] || { comm -13 "$dir/req" "$dir/ack"; cp "$dir/gvcp.pcap" /tmp/last_gvcp.pcap; fail "$unmatched acknowledge ids without a request"; }
fi
echo "aravis control test passed"
