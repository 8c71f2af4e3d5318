#!/bin/sh
# Aravis acquires from gev_host on 127.0.0.41: single-part images in GigE
# Vision 1.2 (standard ids) and 2.0 (extended ids), multi-part blocks of two
# and three parts in 2.0, each with and without chunk data; images whose size
# the client set; images converted into the pixel format the client selected;
# then the host stops while a client streams.
# usage: aravis_stream_test.sh GEV_HOST CHECK_SCRIPT FORMAT_CHECK_SCRIPT
set -eu
host=$1
check=$2
format_check=$3
address=127.0.0.41
lb_needs=aravis-python
. "$(dirname "$0")/aravis_netns.sh"
dir=$(mktemp -d)
pid=
cleanup() {
    exec 3>&- 2>/dev/null || true
    [ -n "$pid" ] && { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
    rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$dir/host.out"; exit 1; }

. "$(dirname "$0")/host_process.sh"

run_case() {  # GEV KIND CHUNKS
    opt=
    [ "$3" = 1 ] && opt=--chunks
    start_host --gev "$1" --stream "$2" $opt --rate 100 --width 96 --lines 24
    timeout 30 /usr/bin/python3 "$check" "$address" "$2" 96 24 "$3" 20 || fail "GEV $1 $2 chunks $3"
    stop_host
}

for chunks in 0 1; do
    run_case 1.2 image $chunks
    run_case 2.0 image $chunks
    run_case 2.0 parts2 $chunks
    run_case 2.0 parts3 $chunks
done

# The client sets the image size: the blocks follow it.
for gev in 1.2 2.0; do
    start_host --gev $gev --stream image --chunks --rate 100 --width 96 --lines 24
    timeout 30 /usr/bin/python3 "$check" --resize 40 7 "$address" image 96 24 1 10 || fail "GEV $gev resized image"
    stop_host
done

# The client selects a pixel format: the Mono16 test image arrives converted into it.
formats="Mono8 Mono10 Mono12 Mono14 Mono10Packed Mono12Packed BayerRG8 BayerGR16 BayerRG12Packed BayerBG10Packed"
for gev in 1.2 2.0; do
    start_host --gev $gev --stream image --rate 50 --width 64 --lines 8 --formats "$(echo $formats | tr ' ' ,)"
    # shellcheck disable=SC2086
    timeout 120 /usr/bin/python3 "$format_check" "$address" 64 8 3 Mono16 $formats || fail "GEV $gev formats"
    stop_host
    grep -q "Error" "$dir/host.out" && fail "GEV $gev formats: host errors"
done

# A capture of a multi-part stream with chunks decodes without malformed GVSP
# packets (when tshark may capture on lo).
if command -v tshark >/dev/null && [ "$(id -u)" = 0 ]; then
    tshark -i lo -f "udp and host $address" -w "$dir/stream.pcap" >/dev/null 2>&1 &
    capture=$!
    for _ in $(seq 300); do [ -s "$dir/stream.pcap" ] && break; sleep 0.1; done
    sleep 0.5
    run_case 2.0 parts3 1
    sleep 0.5
    kill "$capture"
    wait "$capture" 2>/dev/null || true
    port=$(tshark -r "$dir/stream.pcap" -Y "udp.srcport != 3956 && udp.dstport != 3956" -T fields \
        -e udp.dstport 2>/dev/null | head -n 1)
    [ -n "$port" ] || fail "no stream packet captured"
    tshark -r "$dir/stream.pcap" -d "udp.port==$port,gvsp" -Y gvsp >"$dir/decoded.txt" 2>/dev/null
    [ "$(wc -l <"$dir/decoded.txt")" -gt 100 ] || fail "too few GVSP packets decoded"
    tshark -r "$dir/stream.pcap" -d "udp.port==$port,gvsp" -Y "_ws.malformed || _ws.expert.severity >= warning" \
        >"$dir/bad.txt" 2>/dev/null || fail "tshark could not read the capture"
    [ -s "$dir/bad.txt" ] && { head "$dir/bad.txt"; fail "malformed GVSP packets"; }
fi

# Stop while a client acquires. The marker, made before the host is told to
# stop, tells the client from when its device reads may fail and the stream may
# end; every block it received is still checked in full.
start_host --gev 2.0 --stream parts3 --chunks --rate 200 --width 96 --lines 24
timeout 60 /usr/bin/python3 "$check" --stop-marker "$dir/stopping" "$address" parts3 96 24 1 1000000 \
    >"$dir/client.out" 2>&1 3>&- &
client=$!
for _ in $(seq 300); do grep -q "first block" "$dir/client.out" && break; sleep 0.1; done
grep -q "first block" "$dir/client.out" || { cat "$dir/client.out"; fail "client received no block"; }
sleep 1.5
: >"$dir/stopping"
stop_host
status=0
wait "$client" || status=$?
cat "$dir/client.out"
grep -q "block .* status" "$dir/client.out" && fail "incomplete block before the stop"
[ "$status" = 0 ] || fail "client (status $status)"
grep -q "stream ended after the stop" "$dir/client.out" || fail "client did not see the end of the stream"
echo ok
