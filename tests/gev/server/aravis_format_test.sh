#!/bin/sh
# Aravis selects pixel formats of gev_host's test image on 127.0.0.107: each block
# arrives converted from the Mono16 pattern into the chosen Mono or Bayer format,
# packed or not, in GigE Vision 1.2 and 2.0.
# usage: aravis_format_test.sh GEV_HOST CHECK_SCRIPT
set -eu
host=$1
check=$2
address=127.0.0.107
/usr/bin/python3 -c 'import gi; gi.require_version("Aravis", "0.8"); from gi.repository import Aravis' \
    2>/dev/null || { echo "Aravis for Python missing"; exit 77; }
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

formats="Mono8 Mono10 Mono12 Mono14 Mono10Packed Mono12Packed BayerRG8 BayerGR16 BayerRG12Packed BayerBG10Packed"
for gev in 1.2 2.0; do
    rm -f "$dir/in"
    mkfifo "$dir/in"
    "$host" --gev "$gev" --stream image --rate 50 --width 64 --lines 8 \
        --formats "$(echo $formats | tr ' ' ,)" "$address" <"$dir/in" >"$dir/host.out" 2>&1 &
    pid=$!
    exec 3>"$dir/in"
    for _ in $(seq 300); do grep -q serving "$dir/host.out" && break; sleep 0.1; done
    grep -q serving "$dir/host.out" || fail "host did not start"
    # shellcheck disable=SC2086
    timeout 120 /usr/bin/python3 "$check" "$address" 64 8 3 Mono16 $formats || fail "GEV $gev"
    exec 3>&-
    wait "$pid" || fail "host exit status"
    pid=
    grep -q "stopped 0x0" "$dir/host.out" || fail "Stop"
    grep -q "Error" "$dir/host.out" && fail "host errors"
done
echo ok
