#!/bin/sh
# Compressed streaming through the device library: Aravis receives JPEG blocks
# of Mono8 and RGB8 test images that decode to the source; H.264 without the
# encoder module is refused with its message; with the stand-in module on the
# library search path a client's acquisition gives H.264 blocks that tshark
# dissects without a malformed packet.
# usage: aravis_compress_test.sh COMPRESS_HOST CHECK_SCRIPT MODULE_DIR
set -eu
host=$1
check=$2
module_dir=$3
address=127.0.7.2
lb_needs=aravis-python
. "$(dirname "$0")/aravis_netns.sh"
dir=$(mktemp -d)
pid=
capture=
cleanup() {
    exec 3>&- 2>/dev/null || true
    [ -n "$pid" ] && { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
    [ -n "$capture" ] && { kill "$capture" 2>/dev/null || true; wait "$capture" 2>/dev/null || true; }
    rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$dir/host.out" 2>/dev/null || true; exit 1; }

. "$(dirname "$0")/host_process.sh"
stop_clean() {
    stop_host
    grep -q "not sent" "$dir/host.out" && fail "a frame was not sent"
    return 0
}

for format in mono8 rgb8; do
    start_host jpeg $format 320 240
    timeout 60 /usr/bin/python3 "$check" "$address" jpeg $format 320 240 5 || fail "JPEG $format"
    stop_clean
done

# Without the module (none on this host's search path) the mode is refused.
status=0
env -u LD_LIBRARY_PATH "$host" h264 mono8 320 240 "$address" >"$dir/host.out" 2>&1 </dev/null || status=$?
[ "$status" = 3 ] || fail "H.264 without the module: exit status $status"
grep -qx "compression refused 0x80004005" "$dir/host.out" || fail "H.264 refusal status"
[ "$(grep -c "^Tessaron error: Additional modules required for H.264 support. Contact your vendor.$" "$dir/host.out")" = 1 ] ||
    fail "H.264 refusal message"

# With the stand-in module: a capture of the stream dissects cleanly.
if ! command -v tshark >/dev/null || [ "$(id -u)" != 0 ]; then
    echo "tshark cannot capture here: H.264 capture skipped"
    exit 77
fi
tshark -i lo -f "udp and host $address" -w "$dir/h264.pcap" >/dev/null 2>&1 &
capture=$!
for _ in $(seq 300); do [ -s "$dir/h264.pcap" ] && break; sleep 0.1; done
sleep 0.5
LD_LIBRARY_PATH="$module_dir" start_host h264 rgb8 320 240
timeout 60 /usr/bin/python3 "$check" "$address" h264 1.5 || fail "H.264 acquisition"
stop_clean
sleep 0.5
kill "$capture"
wait "$capture" 2>/dev/null || true
capture=
port=$(tshark -r "$dir/h264.pcap" -Y "udp.srcport != 3956 && udp.dstport != 3956" -T fields \
    -e udp.dstport 2>/dev/null | head -n 1)
[ -n "$port" ] || fail "no stream packet captured"
tshark -r "$dir/h264.pcap" -d "udp.port==$port,gvsp" -Y "gvsp.format == 0x85" >"$dir/h264.txt" 2>/dev/null
[ "$(wc -l <"$dir/h264.txt")" -gt 20 ] || fail "too few H.264 payload packets decoded"
tshark -r "$dir/h264.pcap" -d "udp.port==$port,gvsp" -Y "_ws.malformed || _ws.expert.severity >= warning" \
    >"$dir/bad.txt" 2>/dev/null || fail "tshark could not read the capture"
[ -s "$dir/bad.txt" ] && { head "$dir/bad.txt"; fail "malformed GVSP packets"; }
echo ok
