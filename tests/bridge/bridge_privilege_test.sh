#!/bin/sh
# lumabridge without CAP_NET_ADMIN, in a network namespace of its own: with the served address
# configured beforehand it comes online and a FORCEIP changes nothing; -n, which would add the
# address, is refused with a clear message and leaves nothing behind. With the privilege, -n adds
# the address while online and removes it at the end.
# usage: bridge_privilege_test.sh LUMABRIDGE SCANNER_SIM
set -eu
if [ "${1:-}" != inner ]; then
  [ "$(id -u)" -eq 0 ] || { echo "needs root for a network namespace"; exit 77; }
  command -v setpriv >/dev/null || { echo "setpriv missing"; exit 77; }
  command -v arv-tool-0.8 >/dev/null || { echo "arv-tool-0.8 missing"; exit 77; }
  exec unshare --net sh "$0" inner "$@"
fi
bridge=$2
sim=$3
. "$(dirname "$0")/process_common.sh"
report() { ip -4 addr show dev lbd0 || true; }
has_address() { ip -4 addr show dev lbd0 | grep -q "inet $1/"; }
unprivileged() { setpriv --inh-caps=-net_admin --bounding-set=-net_admin "$@"; }

ip link set lo up
ip link add lbd0 type veth peer name lbd1
ip link set lbd1 up
ip link set lbd0 up
ip addr add 10.77.0.1/24 dev lbd0
ip addr add 10.77.0.2/24 dev lbd0  # the served address, configured beforehand

unprivileged ip addr add 10.77.0.99/24 dev lbd0 2>/dev/null && fail "setpriv does not drop CAP_NET_ADMIN"

start_sim

# Configured beforehand: online without the privilege.
mkfifo "$dir/in"
unprivileged "$bridge" -i 127.0.0.1 -x "$port" -s 10.77.0.2 <"$dir/in" >"$dir/online.out" 2>"$dir/online.err" &
bridge_pid=$!
exec 3>"$dir/in"
await "$dir/online.out" "Vantocam is online" || fail "not online without the privilege"

# FORCEIP to the device's MAC (the scanner's, 00-1A-2B-3C-4D-5E): the address cannot be added,
# so the device stays where it is.
python3 - <<'EOF' >"$dir/forceip.out" || fail "FORCEIP sender"
import socket, struct
payload = bytearray(56)
struct.pack_into('>HI', payload, 2, 0x001A, 0x2B3C4D5E)
payload[20:24] = socket.inet_aton('10.77.0.9')
payload[36:40] = socket.inet_aton('255.255.255.0')
packet = struct.pack('>BBHHH', 0x42, 0x01, 0x0004, len(payload), 1) + payload
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(3)
s.sendto(packet, ('10.77.0.2', 3956))
try:
    data, sender = s.recvfrom(64)
    print('ack 0x%04x from %s' % (struct.unpack('>H', data[0:2])[0], sender[0]))
except socket.timeout:
    print('no ack')
EOF
sleep 1
has_address 10.77.0.9 && fail "FORCEIP added an address"
grep -q "ack 0x0000" "$dir/forceip.out" && fail "FORCEIP reported success: $(cat "$dir/forceip.out")"
timeout 10 arv-tool-0.8 -a 10.77.0.2 control 'R[0x0024]' >"$dir/arv.out" 2>&1 || fail "no answer on 10.77.0.2"
grep -qi "0x0a4d0002" "$dir/arv.out" || fail "current address changed: $(cat "$dir/arv.out")"
printf '\n' >&3
wait "$bridge_pid" || fail "online run: exit code $?"
bridge_pid=
exec 3>&-

# The index of the interface with 10.77.0.1, from the program's own list.
index=$("$bridge" -h </dev/null 2>&1 | sed -n 's/^Interface \([0-9]*\)  IP: 10\.77\.0\.1$/\1/p' | head -n 1)
[ -n "$index" ] || fail "no interface with 10.77.0.1 in the list"

# -n without the privilege: refused, nothing added.
code=0
unprivileged "$bridge" -i 127.0.0.1 -x "$port" -s 10.77.0.5 -n "$index" </dev/null >"$dir/n.out" 2>"$dir/n.err" ||
  code=$?
[ "$code" -ne 0 ] || fail "-n without the privilege: exit code 0"
grep -q "needs the CAP_NET_ADMIN privilege" "$dir/n.err" || fail "-n without the privilege: message"
has_address 10.77.0.5 && fail "-n without the privilege: the address stayed"

# -n with the privilege: the address is there while online and gone afterwards.
rm -f "$dir/in"
mkfifo "$dir/in"
"$bridge" -i 127.0.0.1 -x "$port" -s 10.77.0.5 -n "$index" <"$dir/in" >"$dir/np.out" 2>"$dir/np.err" &
bridge_pid=$!
exec 3>"$dir/in"
await "$dir/np.out" "Vantocam is online" || fail "-n with the privilege: not online"
has_address 10.77.0.5 || fail "-n with the privilege: no address"
printf '\n' >&3
wait "$bridge_pid" || fail "-n run: exit code $?"
bridge_pid=
exec 3>&-
has_address 10.77.0.5 && fail "-n with the privilege: the address stayed"
echo "ok"
