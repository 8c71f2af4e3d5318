#!/bin/sh
# The IP configuration worker between two network namespaces joined by a veth pair: gev_host
# serves on 10.77.0.1 (vdev) in one, Aravis and a FORCEIP client work in the other (vcli,
# 10.77.0.2 and 10.88.0.2). FORCEIP for the device's MAC moves it to a new address on vdev and
# back, the persistent-IP registers move it after their delay, FORCEIP for another MAC or to an
# unusable address changes nothing, a failing apply rolls back and the device keeps serving,
# and the end of gev_host (Stop) removes what was added. A capture on vcli dissects in tshark
# without a malformed packet.
# usage: ip_config_netns_test.sh GEV_HOST FORCEIP_CLIENT
set -eu
host=$1
forceip_client=$2
[ "$(id -u)" -eq 0 ] || { echo "needs root for network namespaces"; exit 77; }
for tool in ip arv-tool-0.8 setpriv; do
  command -v "$tool" >/dev/null || { echo "$tool missing"; exit 77; }
done

dev=lbipc-dev-$$
cli=lbipc-cli-$$
dir=$(mktemp -d)
host_pid=
pids=""
cleanup() {
  exec 3>&- 2>/dev/null || true
  for p in $host_pid $pids; do kill -9 "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  ip netns del "$dev" 2>/dev/null || true
  ip netns del "$cli" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  ip -n "$dev" -4 addr show 2>/dev/null || true
  for f in "$dir"/*.out; do [ -f "$f" ] && { echo "== $f"; cat "$f"; }; done
  exit 1
}
incli() { ip netns exec "$cli" "$@"; }

ip netns add "$dev" 2>/dev/null || { echo "cannot make network namespaces"; exit 77; }
ip netns add "$cli"
ip -n "$dev" link set lo up
ip -n "$cli" link set lo up
ip -n "$dev" link add vdev type veth peer name vcli netns "$cli"
ip -n "$dev" addr add 10.77.0.1/24 dev vdev
ip -n "$dev" link set vdev up
ip -n "$cli" addr add 10.77.0.2/24 dev vcli
ip -n "$cli" addr add 10.88.0.2/24 dev vcli
ip -n "$cli" link set vcli up
# A second interface of the device's host, whose address no FORCEIP may take.
ip -n "$dev" link add lbipc0 type veth peer name lbipc1
ip -n "$dev" addr add 10.99.0.1/24 dev lbipc0
ip -n "$dev" link set lbipc0 up
vdev_addresses() { ip -n "$dev" -4 -o addr show dev vdev | awk '{print $4}' | sort | tr '\n' ' '; }
initial=$(vdev_addresses)

capture=0
if command -v tshark >/dev/null; then
  ip netns exec "$cli" tshark -q -i vcli -f "udp port 3956" -w "$dir/gvcp.pcap" >"$dir/tshark.log" 2>&1 &
  tshark_pid=$!
  pids="$pids $tshark_pid"
  for _ in $(seq 300); do [ -s "$dir/gvcp.pcap" ] && break; sleep 0.1; done
  [ -s "$dir/gvcp.pcap" ] && capture=1
  sleep 0.5
fi

# gev_host in the device namespace, standard input on descriptor 3; $1 = a name for its output,
# the rest a command prefix (setpriv ...).
start_host() {
  name=$1
  shift
  rm -f "$dir/in"
  mkfifo "$dir/in"
  ip netns exec "$dev" "$@" "$host" 10.77.0.1 <"$dir/in" >"$dir/$name.out" 2>&1 &
  host_pid=$!
  exec 3>"$dir/in"
  for _ in $(seq 300); do grep -q serving "$dir/$name.out" && return 0; sleep 0.1; done
  fail "$name: gev_host did not start"
}
stop_host() {
  exec 3>&-
  code=0
  wait "$host_pid" || code=$?
  host_pid=
  [ "$code" -eq 0 ] || fail "$1: gev_host ended with $code"
  grep -q "stopped 0x0" "$dir/$1.out" || fail "$1: no clean Stop"
}

has_address() { ip -n "$dev" -4 addr show dev vdev | grep -q "inet $1/"; }
hex_ip() { printf '0x%02x%02x%02x%02x' $(echo "$1" | tr . ' '); }
# The device answers GVCP register reads at $1 with its current address (and gateway $2).
answers_at() {
  incli timeout 10 arv-tool-0.8 -a "$1" control 'R[0x0024]' 'R[0x0044]' >"$dir/read.out" 2>&1 || return 1
  grep -qi "R\[0x00000024\] = $(hex_ip "$1")" "$dir/read.out" || return 1
  [ -z "${2:-}" ] || grep -qi "R\[0x00000044\] = $(hex_ip "$2")" "$dir/read.out"
}
# No answer at $1 (arv-tool ends with 0 also when it cannot connect).
silent_at() {
  incli timeout 10 arv-tool-0.8 -a "$1" control 'R[0x0024]' >"$dir/silent.out" 2>&1 || true
  ! grep -q 'R\[0x00000024\] =' "$dir/silent.out"
}
# Discovery from the client's side lists the device at $1 alone.
discovered_at() {
  incli timeout 10 arv-tool-0.8 >"$dir/discovery.out" 2>&1 || true
  grep -q "($1)" "$dir/discovery.out" && [ "$(grep -c '(' "$dir/discovery.out")" -eq 1 ]
}
# Waits up to $1 tenths of a second for the condition in the rest.
wait_for() {
  n=$1
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# FORCEIP from 10.77.0.2: DEST MAC IP MASK GATEWAY [client options]; the answers in $answer.
id=0
forceip() {
  id=$((id + 1))
  d=$1 m=$2 i=$3 k=$4 g=$5
  shift 5
  answer=$(incli /usr/bin/python3 "$forceip_client" --id "$id" "$@" 10.77.0.2 "$d" "$m" "$i" "$k" "$g" 2>&1) ||
    fail "FORCEIP client: $answer"
}
expect_answer() { [ "$answer" = "$1" ] || fail "$2: FORCEIP answered '$answer', expected '$1'"; }
unchanged() {
  [ "$(vdev_addresses)" = "$initial" ] || fail "$1: addresses of vdev changed to $(vdev_addresses)"
  answers_at 10.77.0.1 || fail "$1: no longer serving at 10.77.0.1"
}

start_host main
answers_at 10.77.0.1 || fail "not serving at 10.77.0.1"
discovered_at 10.77.0.1 || fail "not discovered at 10.77.0.1: $(cat "$dir/discovery.out")"
incli timeout 10 arv-tool-0.8 -a 10.77.0.1 control 'R[0x0008]' 'R[0x000C]' >"$dir/mac.out" 2>&1 || fail "MAC registers"
high=$(sed -n 's/R\[0x00000008\] = //p' "$dir/mac.out")
low=$(sed -n 's/R\[0x0000000c\] = //p' "$dir/mac.out")
mac=$(printf '%04x%08x' $((high & 0xFFFF)) $((low)))
other=$(printf '%04x%08x' $((high & 0xFFFF)) $(((low ^ 1) & 0xFFFFFFFF)))
echo "device MAC $mac"

# Another device's MAC: no answer, nothing changes.
forceip 255.255.255.255 "$other" 10.88.0.5 255.255.255.0 0.0.0.0 --wait 2
expect_answer "no ack" "another MAC (broadcast)"
forceip 10.77.0.1 "$other" 10.88.0.5 255.255.255.0 0.0.0.0 --wait 2
expect_answer "no ack" "another MAC (unicast)"
unchanged "another MAC"

# Addresses no device may take: refused at once, nothing changes.
for bad in 224.0.0.5/255.255.255.0 0.1.2.3/255.0.0.0 10.88.0.0/255.255.255.0 10.88.0.255/255.255.255.0 \
           10.88.0.5/255.0.255.0 10.88.0.5/0.0.0.0 127.0.0.5/255.0.0.0 255.255.255.255/255.255.255.0 \
           10.99.0.1/255.255.255.0 10.88.0.5/255.255.255.255; do
  forceip 255.255.255.255 "$mac" "${bad%/*}" "${bad#*/}" 0.0.0.0 --wait 2
  case "$answer" in
    "ack 0x800"[12]" from 10.77.0.1") ;;
    *) fail "FORCEIP to $bad answered '$answer'" ;;
  esac
done
unchanged "unusable addresses"

# FORCEIP moves the device to a new subnet: it answers there, is discovered there, and the old
# address is silent.
forceip 255.255.255.255 "$mac" 10.88.0.5 255.255.255.0 10.88.0.1
expect_answer "ack 0x0000 from 10.88.0.5" "move to 10.88.0.5"
has_address 10.88.0.5 || fail "10.88.0.5 not added to vdev"
answers_at 10.88.0.5 10.88.0.1 || fail "not serving at 10.88.0.5: $(cat "$dir/read.out")"
discovered_at 10.88.0.5 || fail "not discovered at 10.88.0.5: $(cat "$dir/discovery.out")"
silent_at 10.77.0.1 || fail "still answering at 10.77.0.1"

# The same configuration again: re-bound at the same address and answered 0x8001.
forceip 255.255.255.255 "$mac" 10.88.0.5 255.255.255.0 10.88.0.1
expect_answer "ack 0x8001 from 10.88.0.5" "the current configuration"
answers_at 10.88.0.5 10.88.0.1 || fail "not serving at 10.88.0.5 after the same configuration"

# IP 0 restarts the IP configuration: back on the adapter's own address, the added one removed.
forceip 255.255.255.255 "$mac" 0.0.0.0 0.0.0.0 0.0.0.0
expect_answer "ack 0x0000 from 10.77.0.1" "restart of the IP configuration"
unchanged "back from 10.88.0.5"
silent_at 10.88.0.5 || fail "still answering at 10.88.0.5"

# The persistent-IP registers written by a client move the device after their delay; a FORCEIP
# meanwhile is refused at once.
incli timeout 10 arv-tool-0.8 -a 10.77.0.1 control 'R[0x064C]=0x0A4D003C' 'R[0x065C]=0xFFFFFF00' \
  'R[0x066C]=0x0A4D00FE' 'R[0x0014]=0x7' >"$dir/write.out" 2>&1 || fail "persistent-IP writes"
forceip 255.255.255.255 "$mac" 10.88.0.5 255.255.255.0 0.0.0.0 --wait 1
expect_answer "ack 0x8001 from 10.77.0.1" "FORCEIP while a configuration is pending"
wait_for 100 has_address 10.77.0.60 || fail "persistent IP 10.77.0.60 not added"
answers_at 10.77.0.60 10.77.0.254 || fail "not serving at the persistent IP: $(cat "$dir/read.out")"
discovered_at 10.77.0.60 || fail "not discovered at 10.77.0.60: $(cat "$dir/discovery.out")"
has_address 10.88.0.5 && fail "10.88.0.5 was applied after all"

# An unusable persistent address is not applied: the device stays where it is.
incli timeout 10 arv-tool-0.8 -a 10.77.0.60 control 'R[0x064C]=0xE0000001' >"$dir/write.out" 2>&1 ||
  fail "persistent-IP write of a multicast address"
sleep 4
answers_at 10.77.0.60 || fail "moved away for an unusable persistent IP"
[ "$(vdev_addresses)" = "$(echo "$initial 10.77.0.60/24" | tr ' ' '\n' | grep . | sort | tr '\n' ' ')" ] ||
  fail "addresses after an unusable persistent IP: $(vdev_addresses)"

# Persistent IP disabled: back on the adapter's address, 10.77.0.60 removed.
incli timeout 10 arv-tool-0.8 -a 10.77.0.60 control 'R[0x0014]=0x6' >"$dir/write.out" 2>&1 ||
  fail "write of 0x0014"
wait_for 100 answers_at 10.77.0.1 || fail "not back at 10.77.0.1 after persistent IP was disabled"
wait_for 30 sh -c "! ip -n $dev -4 addr show dev vdev | grep -q 'inet 10.77.0.60/'" || fail "10.77.0.60 stayed"
unchanged "persistent IP disabled"

# A failing apply: the new address exists (set up by the user) but its port is taken, so the
# bind fails; the device rolls back, answers 0x8001 from the old address, and the user's
# address stays.
ip -n "$dev" addr add 10.88.0.7/24 dev vdev
ip netns exec "$dev" /usr/bin/python3 -c "
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(('10.88.0.7', 3956))
print('bound', flush=True)
time.sleep(120)" >"$dir/blocker.out" 2>&1 &
blocker=$!
pids="$pids $blocker"
wait_for 100 grep -q bound "$dir/blocker.out" || fail "port blocker"
forceip 255.255.255.255 "$mac" 10.88.0.7 255.255.255.0 0.0.0.0 --wait 20
expect_answer "ack 0x8001 from 10.77.0.1" "bind refused"
has_address 10.88.0.7 || fail "the user's address 10.88.0.7 was removed"
answers_at 10.77.0.1 || fail "not serving at 10.77.0.1 after the failed apply"
discovered_at 10.77.0.1 || fail "not discovered at 10.77.0.1 after the failed apply"
kill -9 "$blocker"
wait "$blocker" 2>/dev/null || true
ip -n "$dev" addr del 10.88.0.7/24 dev vdev

# Stop while the worker waits out its delay: gev_host ends cleanly at once and nothing is added.
incli timeout 10 arv-tool-0.8 -a 10.77.0.1 control 'R[0x064C]=0x0A4D003C' 'R[0x0014]=0x7' >"$dir/write.out" 2>&1 ||
  fail "persistent-IP writes before Stop"
stop_host main
sleep 3.5
[ "$(vdev_addresses)" = "$initial" ] || fail "Stop during the delay: addresses $(vdev_addresses)"

# Stop removes the address FORCEIP added.
start_host second
forceip 255.255.255.255 "$mac" 10.88.0.5 255.255.255.0 0.0.0.0
expect_answer "ack 0x0000 from 10.88.0.5" "second move to 10.88.0.5"
has_address 10.88.0.5 || fail "10.88.0.5 not added the second time"
stop_host second
[ "$(vdev_addresses)" = "$initial" ] || fail "after Stop: addresses $(vdev_addresses)"

# Without CAP_NET_ADMIN the address cannot be added: rolled back, answered 0x8001, still serving.
start_host unprivileged setpriv --inh-caps=-net_admin --bounding-set=-net_admin
forceip 255.255.255.255 "$mac" 10.88.0.5 255.255.255.0 0.0.0.0
expect_answer "ack 0x8001 from 10.77.0.1" "without CAP_NET_ADMIN"
unchanged "without CAP_NET_ADMIN"
stop_host unprivileged

if [ "$capture" -eq 1 ]; then
  sleep 1
  kill -INT "$tshark_pid"
  wait "$tshark_pid" 2>/dev/null || true
  forceips=$(tshark -r "$dir/gvcp.pcap" -Y "gvcp.cmd.forceip.ip == 10.88.0.5" 2>/dev/null | wc -l)
  acks=$(tshark -r "$dir/gvcp.pcap" -Y "gvcp.ack == 0x0005" 2>/dev/null | wc -l)
  malformed=$(tshark -r "$dir/gvcp.pcap" -Y "_ws.malformed || _ws.expert.severity >= error" 2>/dev/null | wc -l)
  echo "captured $forceips FORCEIP commands to 10.88.0.5, $acks FORCEIP_ACK, $malformed malformed"
  [ "$forceips" -ge 5 ] && [ "$acks" -ge 5 ] || fail "capture lacks the FORCEIP exchange"
  [ "$malformed" -eq 0 ] || { tshark -r "$dir/gvcp.pcap" -Y _ws.malformed; fail "malformed GVCP packets"; }
fi
echo "ip configuration test passed"
