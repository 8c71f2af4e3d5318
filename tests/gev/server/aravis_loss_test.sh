#!/bin/sh
# With 5% of the GVSP packets dropped by an nftables rule (in a network
# namespace of its own, loopback MTU 1500), Aravis still receives every block
# complete through PACKETRESEND. A capture on lo, which sees each packet before
# the ingress hook drops it, shows that packets were resent and that every resent
# packet is byte-identical to the original; tshark finds no malformed packet.
# usage: aravis_loss_test.sh GEV_HOST CHECK_SCRIPT RESEND_CHECK_SCRIPT
set -eu
host=$1
check=$2
resend_check=$3
lb_needs="nft unshare ip dumpcap tshark aravis-python"
# The drop rule and the MTU need a namespace of their own.
lb_netns_required=1
. "$(dirname "$0")/aravis_netns.sh"

address=127.0.0.41
ip link set lo mtu 1500
# 5% of the first copies of GVSP packets (neither end on the GVCP port) are
# dropped on lo's ingress: after the capture has seen them, before Aravis's
# socket (a packet socket too) gets them. Resent copies, known by their
# extended block and packet ids (UDP payload bytes 8-19) in a set, always pass:
# Aravis asks again for a lost resent packet only while its block is the
# newest, and never for a lost trailer (format byte 4 = 0x82), so drops of
# resent copies or trailers would fail blocks on the receiver's policy alone.
nft add table netdev lb_loss
nft add chain netdev lb_loss in '{ type filter hook ingress device lo priority 0; }'
nft add set netdev lb_loss seen '{ typeof @th,128,64 . @th,192,32; size 65535; flags dynamic,timeout; timeout 60s; }'
nft add rule netdev lb_loss in ip saddr $address udp sport != 3956 udp dport != 3956 \
    @th,128,64 . @th,192,32 @seen accept
nft add rule netdev lb_loss in ip saddr $address udp sport != 3956 udp dport != 3956 \
    @th,96,8 != 0x82 add @seen '{ @th,128,64 . @th,192,32 }' numgen random mod 100 '<' 5 counter drop

dir=$(mktemp -d)
pid=
capture=
cleanup() {
    [ -n "$pid" ] && { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
    [ -n "$capture" ] && { kill "$capture" 2>/dev/null || true; wait "$capture" 2>/dev/null || true; }
    rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$dir/host.out"; exit 1; }

dumpcap -q -P -B 64 -i lo -f "udp and src host $address and not port 3956" -w "$dir/stream.pcap" \
    >"$dir/dumpcap.out" 2>&1 &
capture=$!
# Waits for a process to be ready are long: on a loaded machine one may take
# seconds to start.
for _ in $(seq 300); do [ -s "$dir/stream.pcap" ] && break; sleep 0.1; done
[ -s "$dir/stream.pcap" ] || { cat "$dir/dumpcap.out"; fail "capture did not start"; }

mkfifo "$dir/in"
"$host" --gev 2.0 --stream parts3 --chunks --rate 20 --width 128 --lines 32 $address <"$dir/in" >"$dir/host.out" 2>&1 &
pid=$!
exec 3>"$dir/in"
for _ in $(seq 300); do grep -q serving "$dir/host.out" && break; sleep 0.1; done
grep -q serving "$dir/host.out" || fail "host did not start"
timeout 90 /usr/bin/python3 "$check" --no-line-reads $address parts3 128 32 1 100 500000 3>&- >"$dir/check.out" 2>&1 ||
    { cat "$dir/check.out"; fail "blocks lost"; }
cat "$dir/check.out"
exec 3>&-
wait "$pid" || fail "host exit status"
pid=
dropped=$(nft list ruleset | sed -n 's/.*counter packets \([0-9]*\).*/\1/p')
echo "dropped $dropped packets"
[ "${dropped:-0}" -gt 0 ] || fail "the rule dropped nothing"
grep -q "n_resend_requests 0," "$dir/check.out" && fail "no resend request"

sleep 0.2
kill "$capture"
wait "$capture" 2>/dev/null || true
capture=
grep -i "packets received" "$dir/dumpcap.out" || true
/usr/bin/python3 "$resend_check" "$dir/stream.pcap" $address >"$dir/resend.out" 2>&1 ||
    { cat "$dir/resend.out"; fail "resent packets"; }
cat "$dir/resend.out"
port=$(sed -n 's/^port //p' "$dir/resend.out")
decoded=$(tshark -r "$dir/stream.pcap" -d "udp.port==$port,gvsp" -Y gvsp 2>/dev/null | wc -l)
[ "$decoded" -gt 100 ] || fail "tshark decoded $decoded GVSP packets"
tshark -r "$dir/stream.pcap" -d "udp.port==$port,gvsp" -Y "_ws.malformed || _ws.expert.severity >= warning" \
    >"$dir/bad.txt" 2>/dev/null || fail "tshark could not read the capture"
[ -s "$dir/bad.txt" ] && { head "$dir/bad.txt"; fail "malformed GVSP packets"; }
echo ok
