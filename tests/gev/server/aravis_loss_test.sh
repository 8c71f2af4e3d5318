#!/bin/sh
# With 5% of the GVSP packets dropped by an nftables rule (in a network
# namespace of its own, loopback MTU 1500), Aravis still receives every block
# complete through PACKETRESEND.
# usage: aravis_loss_test.sh GEV_HOST CHECK_SCRIPT
set -eu
host=$1
check=$2
if [ "${LB_IN_NETNS:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "needs root"; exit 77; }
    command -v nft >/dev/null && command -v unshare >/dev/null && command -v ip >/dev/null ||
        { echo "nft, unshare or ip missing"; exit 77; }
    /usr/bin/python3 -c 'import gi; gi.require_version("Aravis", "0.8"); from gi.repository import Aravis' \
        2>/dev/null || { echo "Aravis for Python missing"; exit 77; }
    exec env LB_IN_NETNS=1 timeout 120 unshare --net sh "$0" "$@"
fi

address=127.0.0.41
ip link set lo mtu 1500 up
nft add table inet lb_loss
nft add chain inet lb_loss out '{ type filter hook output priority 0; }'
nft add rule inet lb_loss out ip saddr $address udp sport != 3956 numgen random mod 100 '<' 5 counter drop

dir=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
    rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$dir/host.out"; exit 1; }

mkfifo "$dir/in"
"$host" --gev 2.0 --stream parts3 --chunks --rate 20 --width 128 --lines 32 $address <"$dir/in" >"$dir/host.out" 2>&1 &
pid=$!
exec 3>"$dir/in"
for _ in $(seq 50); do grep -q serving "$dir/host.out" && break; sleep 0.1; done
timeout 90 /usr/bin/python3 "$check" $address parts3 128 32 1 100 500000 3>&- >"$dir/check.out" 2>&1 ||
    { cat "$dir/check.out"; fail "blocks lost"; }
cat "$dir/check.out"
exec 3>&-
wait "$pid" || fail "host exit status"
pid=
dropped=$(nft list ruleset | sed -n 's/.*counter packets \([0-9]*\).*/\1/p')
echo "dropped $dropped packets"
[ "${dropped:-0}" -gt 0 ] || fail "the rule dropped nothing"
grep -q "n_resend_requests 0," "$dir/check.out" && fail "no resend request"
echo ok
