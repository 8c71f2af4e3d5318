#!/bin/sh
# The description lumabridge serves, as Aravis sees it: the XML it downloads against the GenApi
# schema Aravis ships, every category in its feature listing, every value it reads, every node it
# can evaluate; and the -c variant's listing.
# usage: description_aravis_test.sh LUMABRIDGE SCANNER_SIM
set -eu
bridge=$1
sim=$2
here=$(dirname "$0")
command -v arv-tool-0.8 >/dev/null || { echo "arv-tool-0.8 missing"; exit 77; }
. "$here/process_common.sh"
arv() { timeout 30 arv-tool-0.8 -a "$@"; }

# Schema errors, one per line as "element pointee keyref" for pointers to nodes of a type the
# schema does not allow there; other errors as xmllint prints them.
schema_errors() {
  xmllint --noout --schema "$1" "$2" 2>&1 |
    sed -e "s/^[^:]*:[0-9]*: Schemas validity error : Element '{[^}]*}\([A-Za-z]*\)': No match found for key-sequence \['\([^']*\)'\] of keyref '{[^}]*}\([A-Za-z_]*\)'\./\1 \2 \3/" \
      -e '/ validates$/d' -e '/ fails to validate$/d' | sort
}

start_sim
start_bridge standard -s 127.0.3.11
await "$dir/standard.out" "Vantocam is online" || fail "standard: not online"
arv 127.0.3.11 genicam >"$dir/genicam.xml" 2>"$dir/genicam.err" || fail "genicam: Aravis"
grep -q "<RegisterDescription" "$dir/genicam.xml" || fail "genicam: no description"
arv 127.0.3.11 features >"$dir/features.out" 2>&1 || fail "features: Aravis"
for category in ImageFormatControl AcquisitionControl TransportLayerControl TLParamsLockedCategory \
  DigitalIOControl CounterAndTimerControl EncoderControl SignalControl Scan3dControl DeviceControl ChunkDataControl; do
  grep -q "^    Category    : '$category'$" "$dir/features.out" || fail "features: category $category"
done
# The camera's SourceControl is there, and not implemented with one source.
grep -q '<Category Name="SourceControl"' "$dir/genicam.xml" || fail "genicam: SourceControl"
grep -q "Category    : 'SourceControl'" "$dir/features.out" && fail "features: SourceControl listed"
for entry in SingleFrame FrameStart CoordinateB; do
  grep -q "EnumEntry   : '$entry'" "$dir/features.out" || fail "features: entry $entry"
done
grep -q "Boolean      : \[RW\] 'Scan3DSortX'" "$dir/features.out" || fail "features: Scan3DSortX"
arv 127.0.3.11 values >"$dir/values.out" 2>&1 || fail "values: Aravis"
grep -q "StringReg    : \[RO\] 'DeviceScanType' = 'Linescan3D'" "$dir/values.out" || fail "values: DeviceScanType"
grep -q "Enumeration  : \[RW\] 'AcquisitionMode' = 'Continuous'" "$dir/values.out" || fail "values: AcquisitionMode"
printf '\n' >&3
finish_bridge standard 0

# Aravis evaluates availability and locks of every node without an error.
/usr/bin/python3 "$here/description_aravis_check.py" "$dir/genicam.xml" >"$dir/evaluate.out" 2>&1 ||
  fail "Aravis could not evaluate nodes"

# The schema Aravis validates descriptions with (the one its test tool carries). Its only
# complaints are the pointers the description has by design: availability and SwissKnife
# variables at enumerations, and a float maximum at an integer register.
if command -v gresource >/dev/null && command -v xmllint >/dev/null && [ -x /usr/bin/arv-test-0.8 ]; then
  gresource extract /usr/bin/arv-test-0.8 /org/aravis/GenApiSchema_Version_1_0.xsd >"$dir/schema.xsd" ||
    fail "schema: not in arv-test-0.8"
  cat >"$dir/expected.schema" <<'EOF'
pIsAvailable EncoderResetSource pIsAvailable
pIsAvailable LineMode pIsAvailable
pIsAvailable LineMode pIsAvailable
pIsAvailable LineMode pIsAvailable
pIsAvailable TriggerMode pIsAvailable
pMax regAcquisitionLineRateMax pMax_Float
pVariable ComponentSelector pVariable_Integer
pVariable ComponentSelector pVariable_Integer
pVariable ComponentSelector pVariable_Integer
pVariable RegionSelector pVariable_Integer
pVariable RegionSelector pVariable_Integer
pVariable Scan3dCoordinateSelector pVariable_Integer
pVariable Scan3dCoordinateSelector pVariable_Integer
pVariable Scan3dCoordinateSelector pVariable_Integer
pVariable TriggerMode pVariable_Integer
EOF
  schema_errors "$dir/schema.xsd" "$dir/genicam.xml" >"$dir/schema.log"
  cmp -s "$dir/expected.schema" "$dir/schema.log" || fail "schema: errors other than the known ones"
else
  echo "schema check skipped: gresource, xmllint or arv-test-0.8 missing"
fi

# -c: no Scan3DSortX, SingleFrame, FrameStart or CoordinateB; the rest as before.
start_bridge orbalis -s 127.0.3.12 -c
await "$dir/orbalis.out" "Vantocam is online" || fail "orbalis: not online"
arv 127.0.3.12 features >"$dir/orbalis_features.out" 2>&1 || fail "orbalis: Aravis"
for gone in "EnumEntry   : 'SingleFrame'" "EnumEntry   : 'FrameStart'" "EnumEntry   : 'CoordinateB'" "'Scan3DSortX'"; do
  grep -qF "$gone" "$dir/orbalis_features.out" && fail "orbalis: $gone listed"
done
grep -q "^    Category    : 'ChunkDataControl'$" "$dir/orbalis_features.out" || fail "orbalis: chunk category"
printf '\n' >&3
finish_bridge orbalis 0
echo "ok"
