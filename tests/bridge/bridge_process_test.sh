#!/bin/sh
# lumabridge against the scanner simulator: the set-up sequence in the simulator's command log,
# the device as Aravis reads it, the firmware gate, the lost scanner with and without -r, and
# the interrupt while connecting, while waiting for the user name and online.
# usage: bridge_process_test.sh LUMABRIDGE SCANNER_SIM
set -eu
bridge=$1
sim=$2
command -v arv-tool-0.8 >/dev/null || { echo "arv-tool-0.8 missing"; exit 77; }
. "$(dirname "$0")/process_common.sh"

# The commands of one connection in the simulator's log, repeated lines once.
commands() {
  sed -n "s/^[0-9]* $1 //p" "$dir/sim.log" | uniq
}
arv() { timeout 10 arv-tool-0.8 -a "$@"; }

# Online: the set-up sequence, the identity Aravis reads, the console lines, Enter ends it.
start_sim
start_bridge online -s 127.0.0.71
await "$dir/online.out" "Vantocam is online" || fail "online: not online"
cat >"$dir/expected" <<'EOF'
text "SetHostLibraryVersion=1.11.0   x64\r"
binary 02 00 00 03 00 00 00 02
text "SetAcquisitionStop\r"
text "get_xmldescriptor\r"
text "SetAcquisitionStop\r"
text "SetSignalContentWidth=0\r"
text "SetEA1InputLoad=1\r"
text "SetEA2InputLoad=1\r"
text "SetEA3InputLoad=1\r"
text "SetEA4InputLoad=1\r"
text "SetHeartBeat=3000\r"
text "SetLinearizationMode=0\r"
text "SetSignalContentReserved=0\r"
text "get_xmldescriptor\r"
EOF
commands 0 | cmp -s - "$dir/expected" || { commands 0; fail "online: set-up sequence"; }
# The DeviceVersion feature is the scanner's product version; the bootstrap's device version
# (0x0088) the program's.
arv 127.0.0.71 control DeviceVendorName DeviceModelName DeviceVersion 'R[0x88]' >"$dir/arv.out" 2>&1 ||
  fail "online: Aravis"
grep -qx "DeviceVendorName = Lumabridge" "$dir/arv.out" || fail "online: vendor"
grep -qx "DeviceModelName = KTRB-2048" "$dir/arv.out" || fail "online: model"
grep -qx "DeviceVersion = 2.1" "$dir/arv.out" || fail "online: version"
grep -qix "R\[0x00000088\] = 0x322e302e" "$dir/arv.out" || fail "online: bootstrap version"
printf '\n' >&3
finish_bridge online 0
# A thread's first line may come before or after the next start message.
[ "$(head -n 2 "$dir/online.err" | tr '\n' '|')" = "Scanner connected|Starting scanner monitor thread|" ] ||
  fail "online: standard error at start"
head -n 5 "$dir/online.err" | sort >"$dir/online.head"
printf '%s\n' "Scanner connected" "Starting scanner monitor thread" "Scanner monitor thread has started" \
  "Starting scanner thread" "Scanner thread has started" | sort | cmp -s - "$dir/online.head" ||
  fail "online: standard error at start"
grep -qx "Client is connected" "$dir/online.err" || fail "online: Aravis as client"
[ "$(tail -n 1 "$dir/online.err")" = "Scanner monitor thread has been ended" ] || fail "online: standard error at the end"

# -u and the bare word: the user string after the descriptor; a scanner whose check value is 0
# gets no linearization command.
# -p and -w: the point-cloud file is created empty at start-up.
start_sim
printf 'an older run\n' >"$dir/cloud.txt"
start_bridge user -s 127.0.0.72 -u "Cell 7" -p 3 -w "$dir/cloud.txt" activatehardwarelinearization
await "$dir/user.out" "Vantocam is online" || fail "user: not online"
[ -f "$dir/cloud.txt" ] && [ ! -s "$dir/cloud.txt" ] || fail "user: point-cloud file not emptied"
commands 0 | sed -n 5p | grep -qxF 'text "SetUserString=Cell 7\r"' || fail "user: SetUserString"
commands 0 | grep -q "Linearization\|SignalContentReserved" && fail "user: linearization commands"
grep -qx "activate hardware linearization" "$dir/user.out" || fail "user: linearization line"
kill -INT "$bridge_pid"
finish_bridge user 0

# Firmware below 1.2.0 (1.1.10 by parts): refused; with -e online.
start_sim --firmware 1.1.10
start_bridge firmware -s 127.0.0.73
finish_bridge firmware 1
grep -qx "Error: Update the scanner FW to at least 1.2.0" "$dir/firmware.err" || fail "firmware: message"
grep -qx "Error: failed to connect to scanner" "$dir/firmware.err" || fail "firmware: connect message"
start_bridge firmware_e -s 127.0.0.73 -e
await "$dir/firmware_e.out" "Vantocam is online" || fail "firmware -e: not online"
kill -INT "$bridge_pid"
finish_bridge firmware_e 0

# The scanner lost without -r: a failure, with its message. (The simulator refuses connections
# for a while after the close, so that the loss outlasts the monitor's 10 ms poll.)
start_sim --refuse-after-close 2000
start_bridge lost -s 127.0.0.74
await "$dir/lost.out" "Vantocam is online" || fail "lost: not online"
kill -USR1 "$sim_pid"
finish_bridge lost 1
grep -qx "disconnected" "$dir/lost.err" || fail "lost: disconnected"
grep -q "^Error: .*lost" "$dir/lost.err" || fail "lost: error message"

# With -r: reconnected by the client library, nothing more sent, still running.
start_sim --refuse-after-close 2000
start_bridge reconnect -s 127.0.0.75 -r
await "$dir/reconnect.out" "Vantocam is online" || fail "reconnect: not online"
kill -USR1 "$sim_pid"
await "$dir/reconnect.err" "disconnected" || fail "reconnect: no loss seen"
for _ in $(seq 300); do [ "$(grep -cx connected "$dir/reconnect.err")" -ge 1 ] && break; sleep 0.1; done
grep -qx connected "$dir/reconnect.err" || fail "reconnect: not connected again"
kill -0 "$bridge_pid" || fail "reconnect: ended"
printf 'text "SetHostLibraryVersion=1.11.0   x64\\r"\nbinary 02 00 00 03 00 00 00 02\n' >"$dir/expected"
commands 1 | cmp -s - "$dir/expected" || { commands 1; fail "reconnect: commands after the reconnection"; }
printf '\n' >&3
finish_bridge reconnect 0
[ "$(grep -cx disconnected "$dir/reconnect.err")" -eq 1 ] || fail "reconnect: one loss"

# The interrupt while connecting to a scanner that never becomes ready.
start_sim --lin never
start_bridge connecting -s 127.0.0.76
await "$dir/sim.log" "SetHostLibraryVersion" || fail "connecting: no connection"
kill -INT "$bridge_pid"
finish_bridge connecting 0
grep -qx -- "--- exit ---" "$dir/connecting.out" || fail "connecting: exit line"

# The interrupt while waiting for a user name the scanner never reports (silent after it).
start_sim --silent-on 'SetUserString=Cell 9\r'
start_bridge waiting -s 127.0.0.76 -u "Cell 9"
await "$dir/sim.log" 'SetUserString=Cell 9' || fail "waiting: no user string"
sleep 0.5
kill -0 "$bridge_pid" || fail "waiting: ended by itself"
grep -qF "Vantocam is online" "$dir/waiting.out" && fail "waiting: online without the name"
kill -INT "$bridge_pid"
finish_bridge waiting 0
grep -qx -- "--- exit ---" "$dir/waiting.out" || fail "waiting: exit line"
echo "ok"
