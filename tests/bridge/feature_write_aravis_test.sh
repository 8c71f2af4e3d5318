#!/bin/sh
# Feature writes from Aravis reach the simulator as the scanner commands they stand for, and
# reads show the scanner's values: width, height and PayloadSize, exposure and line rate, the
# LineStart trigger, the range pixel format and its coordinate scale.
# usage: feature_write_aravis_test.sh LUMABRIDGE SCANNER_SIM
set -eu
bridge=$1
sim=$2
command -v arv-tool-0.8 >/dev/null || { echo "arv-tool-0.8 missing"; exit 77; }
. "$(dirname "$0")/process_common.sh"
address=127.0.3.21
arv() { timeout 30 arv-tool-0.8 -a "$address" control "$@" >>"$dir/arv.out" 2>&1; }
# The simulator's log from line $1 on, commands only.
commands_since() {
  tail -n "+$1" "$dir/sim.log" | sed -n 's/^[0-9]* [0-9]* text "\(.*\)"$/\1/p'
}
mark() { wc -l <"$dir/sim.log"; }
# Each line of $2 (a command as logged) arrives, in order, after log line $1.
expect_commands() {
  since=$1
  shift
  commands_since "$since" >"$dir/since.log"
  for command in "$@"; do
    grep -n -F -x -- "$command" "$dir/since.log" >"$dir/found.log" || fail "no $command"
    line=$(head -n 1 "$dir/found.log" | cut -d: -f1)
    tail -n "+$((line + 1))" "$dir/since.log" >"$dir/rest.log"
    mv "$dir/rest.log" "$dir/since.log"
  done
}
value() { sed -n "s/^$1 = \([^ ]*\).*/\1/p" "$dir/arv.out" | tail -n 1; }

start_sim
start_bridge writes -s "$address"
await "$dir/writes.out" "Vantocam is online" || fail "not online"

m=$(mark)
arv RegionSelector=Region0 Width=1024
expect_commands "$m" 'SetROI1WidthX=1024\r' 'get_xmldescriptor\r'
arv Width
[ "$(value Width)" = 1024 ] || fail "Width reads $(value Width)"

m=$(mark)
arv RegionSelector=Region0 Width=5000 || true
commands_since "$m" | grep -q '^SetROI1WidthX' && fail "a width beyond the sensor was sent"
arv RegionSelector=Region0 Width
[ "$(value Width)" = 1024 ] || fail "Width after 5000 reads $(value Width)"

m=$(mark)
arv RegionSelector=Scan3DExtraction0 Height=200 PayloadSize
expect_commands "$m" 'SetAmountProfilesY=200\r' 'get_xmldescriptor\r'
[ "$(value PayloadSize)" = $((1024 * 200 * 12)) ] || fail "PayloadSize $(value PayloadSize) right after Height"

m=$(mark)
arv ExposureTime=150 AcquisitionLineRate=1000
expect_commands "$m" 'SetExposureTime=150\r' 'get_xmldescriptor\r' 'SetAcquisitionLineTime=1000\r'

m=$(mark)
arv TriggerSelector=LineStart TriggerMode=On
expect_commands "$m" 'SetTriggerSource=2\r' 'SetAcquisitionStop\r' 'get_xmldescriptor\r'
m=$(mark)
arv TriggerSelector=LineStart TriggerSource=Line2
expect_commands "$m" 'SetTriggerSource=1\r' 'SetAcquisitionStop\r' 'SetEA2Function=1\r' \
  'SetEA2FunctionFixedFrameNumberFinishSignal=0\r' 'get_xmldescriptor\r'

m=$(mark)
arv ComponentSelector=Range PixelFormat=Mono16 Scan3dCoordinateSelector=CoordinateA Scan3dCoordinateScale
commands_since "$m" | grep -v '^get_xmldescriptor' | grep -q . && fail "PixelFormat sent a command"
case "$(value Scan3dCoordinateScale)" in
  0.0585937*|0.0585938*) ;;  # field width 120 mm over 2048 pixels
  *) fail "CoordinateA scale $(value Scan3dCoordinateScale) for Mono16" ;;
esac
printf '\n' >&3
finish_bridge writes 0
echo "ok"
