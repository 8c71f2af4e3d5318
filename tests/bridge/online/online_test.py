"""lumabridge + the scanner simulator, driven through Aravis.

usage: online_test.py LUMABRIDGE SCANNER_SIM GROUP...

Groups:
  description  the description loads, resolves and lists the scanner's
             features; reads show the scanner's values, refreshed while stopped
  writes     writes reach the simulator as the exact commands and reads show
             the new values
  region_reads  the values of the region the selector picks, and LineInverter,
             read back after writes
  stream     blocks of Coord3D_ABC32f + Mono10 with all chunks: every line's
             millimetres, intensity and chunk values equal what the simulator
             sent (its profile log); a counter gap and a corrupted frame give
             exactly the empty lines
  timeout    a profile time-out pads the block with empty lines
  chunk_lines  every line's chunk values through Aravis's chunk parser
  reconnect  the scanner lost and reconnected (-r) while streaming
  client_killed  a client killed while streaming, then a new client streams
  restarts   200 stops and starts without a leak or a stuck thread
"""
import math
import os
import signal
import struct
import subprocess
import sys
import time

from online_common import Aravis, Bridge, Failure, GLib, Scratch, Sim, camera, escape, run, wait_until

COORD3D, MONO10, MONO16, MONO10P = 0x026000C0, 0x01100003, 0x01100007, 0x010C0004
CHUNKS = ["ChunkPictureCounter", "ChunkTimestamp", "ChunkDeviceTemperature", "ChunkLineStatusAll",
          "ChunkEncoderValue", "ChunkScannerStatus"]
CHUNK_IDS = dict(zip(CHUNKS, range(0xFFFFF0, 0xFFFFF6)))
REFRESH = "get_xmldescriptor\r"


def scenario(fn):
    def wrapped(bridge_exe, sim_exe):
        scratch = Scratch(fn.__name__)
        try:
            fn(scratch, bridge_exe, sim_exe)
        except (Failure, GLib.Error) as e:
            print("FAIL: %s: %s" % (fn.__name__, e.message if isinstance(e, GLib.Error) else e))
            scratch.report()
            scratch.close()
            sys.exit(1)
        scratch.close()
    return wrapped


def online(scratch, bridge_exe, sim_exe, address, sim_args=(), bridge_args=("-d",)):
    """The simulator, lumabridge serving on address, and an Aravis camera on it."""
    sim = Sim(scratch, sim_exe, *sim_args)
    bridge = Bridge(scratch, bridge_exe, sim, address, *bridge_args)
    cam, dev = camera(bridge.address)
    return sim, bridge, cam, dev


def check(condition, text):
    if not condition:
        raise Failure(text)


def set_feature(dev, name, value):
    if isinstance(value, bool):
        dev.set_boolean_feature_value(name, value)
    elif isinstance(value, float):
        dev.set_float_feature_value(name, value)
    elif isinstance(value, str):
        dev.set_string_feature_value(name, value)
    elif value is None:
        dev.execute_command(name)
    else:
        dev.set_integer_feature_value(name, value)


def get_feature(dev, name, like):
    if isinstance(like, bool):
        return dev.get_boolean_feature_value(name)
    if isinstance(like, float):
        return dev.get_float_feature_value(name)
    if isinstance(like, str):
        return dev.get_string_feature_value(name)
    return dev.get_integer_feature_value(name)


def same(a, b):
    if isinstance(b, float):
        return math.isclose(a, b, rel_tol=1e-5, abs_tol=1e-6)
    return a == b


# --- features ---------------------------------------------------------------

REFERENCES = ("pValue", "pMin", "pMax", "pInc", "pIsLocked", "pIsAvailable", "pInvalidator", "pSelected",
              "pVariable", "pAlias", "pAddress", "pPort", "pIndex", "pLength", "pFeature", "pCastAlias")


def check_description(dev, address):
    import xml.etree.ElementTree as ET
    xml = dev.get_genicam_xml()
    text = xml[0] if isinstance(xml, tuple) else xml
    root = ET.fromstring(text.encode() if isinstance(text, str) else bytes(text))
    check(root.tag.split("}")[-1] == "RegisterDescription", "root element %s" % root.tag)
    names = {e.get("Name") for e in root.iter() if e.get("Name")}
    for e in root.iter():
        tag = e.tag.split("}")[-1]
        if tag in REFERENCES and (e.text or "").strip() and e.text.strip() not in names:
            raise Failure("%s names %s, which is no node" % (tag, e.text.strip()))
    listed = subprocess.run(["arv-tool-0.8", "-a", address, "features"], capture_output=True, text=True,
                            timeout=60).stdout
    for name in ["Width", "Height", "OffsetX", "OffsetY", "PixelFormat", "ComponentSelector", "ExposureTime",
                 "AcquisitionLineRate", "TriggerSelector", "TriggerMode", "TriggerSource", "LineSelector",
                 "LineMode", "LineInverter", "EncoderSelector", "EncoderOutputMode", "SignalEnable",
                 "Scan3dCoordinateScale", "ChunkSelector", "ChunkEnable"] + CHUNKS:
        check((" %s " % name) in listed or (" %s\n" % name) in listed or (": %s" % name) in listed
              or ("'%s'" % name) in listed, "arv-tool lists no %s" % name)
    formats = {e.get("Name") for e in root.iter() if e.tag.split("}")[-1] == "EnumEntry"}
    for entry in ["Mono10", "Mono10Packed", "Mono16", "Coord3D_ABC32f"]:
        check(entry in formats, "no PixelFormat entry %s" % entry)


def new_commands(sim, before):
    return sim.texts()[before:]


# Each write: selector settings first, then the write, the commands the
# simulator must receive (a trailing REFRESH: at least one descriptor request
# after them), and reads that must follow.
WRITES = [
    ([("RegionSelector", 0)], ("Width", 1024), ["SetROI1WidthX=1024\r", REFRESH], [("Width", 1024)]),
    ([("RegionSelector", 0)], ("Width", 5000), [], [("Width", 1024)]),
    ([("RegionSelector", 0)], ("OffsetX", 512), ["SetROI1OffsetX=512\r", REFRESH], []),
    ([("RegionSelector", 0)], ("OffsetY", 100), ["SetROI1OffsetZ=100\r", REFRESH], []),
    ([("RegionSelector", 0)], ("Height", 500), ["SetROI1HeightZ=500\r", REFRESH], []),
    ([("RegionSelector", 1)], ("Height", 200), ["SetAmountProfilesY=200\r", REFRESH],
     [("Height", 200), ("ScanLineSelectorMax", 199)]),
    ([], ("ExposureTime", 50), ["SetExposureTime=50\r", REFRESH], [("ExposureTime", 50)]),
    # Line time 1000 us - overhead 60 - delay 0 - 2: 938 is the longest exposure.
    ([], ("ExposureTime", 938), ["SetExposureTime=938\r", REFRESH], [("ExposureTime", 938)]),
    ([], ("ExposureTime", 939), [REFRESH], [("ExposureTime", 938)]),
    ([], ("ExposureTime", 100), ["SetExposureTime=100\r", REFRESH], []),
    ([], ("AcquisitionLineRate", 500.0), ["SetAcquisitionLineTime=2000\r", REFRESH],
     [("AcquisitionLineRate", 500.0)]),
    ([], ("AcquisitionLineRate", 1000.0), ["SetAcquisitionLineTime=1000\r", REFRESH], []),
    ([("ComponentSelector", 1)], ("PixelFormat", MONO16), [], [("PixelFormat", MONO16)]),
    ([("Scan3dCoordinateSelector", 0)], None, [], [("Scan3dCoordinateScale", 120.0 / 2048)]),
    ([("ComponentSelector", 1)], ("PixelFormat", COORD3D), [], [("PixelFormat", COORD3D)]),
    ([("ComponentSelector", 0)], ("ComponentEnable", True), ["SetSignalContentStrength=1\r"],
     [("ComponentEnable", True)]),
    ([("ComponentSelector", 0)], ("ComponentEnable", False), ["SetSignalContentStrength=0\r"],
     [("ComponentEnable", False)]),
    ([], ("Scan3DSortX", True), [], [("Scan3DSortX", True)]),
    ([], ("Scan3DSortX", False), [], []),
    ([("TriggerSelector", 0)], ("TriggerDivider", 3), ["SetTriggerEncoderStep=3\r", REFRESH], []),
    ([("LineSelector", 2)], ("LineMode", 1),
     ["SetEA3Function=4\r", "SetEA3FunctionFixedFrameNumberFinishSignal=0\r", REFRESH], [("LineMode", 1)]),
    ([("LineSelector", 2)], ("UserOutputValue", True), ["SetEA3OutputFunction=1\r", REFRESH],
     [("UserOutputValue", True)]),
    ([("LineSelector", 2)], ("OutputFunction", 2), ["SetEA3Output=2\r", REFRESH], [("OutputFunction", 2)]),
    ([("LineSelector", 0)], ("InputLoad", False), ["SetEA1InputLoad=0\r", REFRESH], [("InputLoad", False)]),
    ([("LineSelector", 0)], ("LineInverter", True), ["SetEA1InputFunction=0\r", REFRESH], []),
    ([("EncoderSelector", 0)], ("EncoderOutputMode", 3), ["SetEncoderTriggerFunction=3\r", REFRESH],
     [("EncoderOutputMode", 3)]),
    ([], ("EncoderReset", None), ["SetResetEncoder\r"], []),
    ([], ("SignalSelection", 2), ["SetSignalSelection=2\r", REFRESH], [("SignalSelection", 2)]),
    ([], ("SignalWidthMin", 4), ["SetSignalWidthMin=4\r", REFRESH], [("SignalWidthMin", 4)]),
    ([], ("SignalWidthMax", 40), ["SetSignalWidthMax=40\r", REFRESH], [("SignalWidthMax", 40)]),
    ([], ("SignalStrengthMin", 100), ["SetSignalStrengthMin=100\r", REFRESH], [("SignalStrengthMin", 100)]),
    ([], ("SignalEnable", 2), ["SetSignalEnable=2\r", "SetAcquisitionStop\r", REFRESH], [("SignalEnable", 2)]),
    ([], ("SignalEnable", 1), ["SetSignalEnable=1\r", "SetAcquisitionStop\r", REFRESH], [("SignalEnable", 1)]),
    ([("TimerSelector", 0)], ("TimerDuration", 40), ["SetSyncOut=40\r", REFRESH], [("TimerDuration", 40)]),
    ([("TimerSelector", 0)], ("TimerDelay", 9), ["SetSyncOutDelay=9\r", REFRESH], [("TimerDelay", 9)]),
    ([], ("LaserOff", None), ["SetLaserDeactivated=1\r"], []),
    ([], ("LaserOn", None), ["SetLaserDeactivated=0\r"], []),
    ([], ("AsciiCommand", "SetTriggerDelay=5"), ["SetTriggerDelay=5\r"], []),
    # LineStart on (FrameStart off): the source command 2.
    ([("TriggerSelector", 0)], ("TriggerMode", 1), ["SetTriggerSource=2\r", "SetAcquisitionStop\r", REFRESH],
     [("TriggerMode", 1)]),
    ([("TriggerSelector", 0)], ("TriggerSource", 2),
     ["SetTriggerSource=1\r", "SetAcquisitionStop\r", "SetEA2Function=1\r",
      "SetEA2FunctionFixedFrameNumberFinishSignal=0\r", REFRESH], []),
    ([("TriggerSelector", 0)], ("TriggerMode", 0), ["SetTriggerSource=0\r", "SetAcquisitionStop\r", REFRESH],
     [("TriggerMode", 0)]),
]


def check_write(sim, dev, selectors, write, expected, reads):
    for name, value in selectors:
        set_feature(dev, name, value)
    before = len(sim.texts())
    what = "%s %s" % (selectors, write)
    if write is not None:
        set_feature(dev, *write)
    wanted = [c for c in expected if c != REFRESH]
    # A write without a refresh is acknowledged before its command has crossed the scanner link.
    if expected[-1:] != [REFRESH]:
        settle = time.monotonic() + (2.0 if wanted else 0.3)
        while time.monotonic() < settle:
            if wanted and len([c for c in new_commands(sim, before) if c != REFRESH]) >= len(wanted):
                time.sleep(0.1)  # and nothing more
                break
            time.sleep(0.02)
    got = new_commands(sim, before)
    # A read before the write (Aravis checks locks and availability) may refresh the description.
    while got[:1] == [REFRESH] and expected[:1] != [REFRESH]:
        got = got[1:]
    sent = [c for c in got if c != REFRESH]
    check(sent == wanted, "%s: the simulator received %s, expected %s"
          % (what, [escape(c) for c in got], [escape(c) for c in expected]))
    if expected[-1:] == [REFRESH]:
        # The write waited for the scanner's answer; the simulator logs a command once it has answered.
        def refreshed():
            got = new_commands(sim, before)
            last = max((i for i, c in enumerate(got) if c != REFRESH), default=-1)
            return REFRESH in got[last + 1:]
        settle = time.monotonic() + 2.0
        while not refreshed() and time.monotonic() < settle:
            time.sleep(0.01)
        check(refreshed(), "%s: no descriptor request after the commands" % what)
    for name, value in reads:
        got_value = get_feature(dev, name, value)
        check(same(got_value, value), "%s: %s reads %s, expected %s" % (what, name, got_value, value))


@scenario
def description(scratch, bridge_exe, sim_exe):
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.2")
    check_description(dev, bridge.address)

    # Reads show the scanner's values.
    check(dev.get_integer_feature_value("RegionSelector") == 1, "RegionSelector after start-up")
    reads = [("SensorWidth", 2048), ("SensorHeight", 1088), ("ExposureTime", 100), ("AcquisitionLineRate", 1000.0),
             ("DeviceModelName", "KTRB-2048"), ("DeviceVendorName", "Lumabridge"), ("DeviceSerialNumber", "12345678"),
             ("DeviceFirmwareVersion", "1.2.0"), ("DeviceTemperature", 41.0), ("SignalEnable", 1),
             ("SignalStrengthMin", 10), ("SignalWidthMax", 63), ("TimerDuration", 20)]
    for name, value in reads:
        got = get_feature(dev, name, value)
        check(same(got, value), "%s reads %s, expected %s" % (name, got, value))
    got = (dev.get_integer_feature_value("Width"), dev.get_integer_feature_value("Height"))
    check(got == (2048, 1), "Scan3dExtraction0 reads %s, expected (2048, 1)" % (got,))
    check(cam.get_payload() == 2048 * 1 * 12, "PayloadSize %d for one Coord3D line of 2048" % cam.get_payload())

    # A changed scanner shows after the refresh interval (while stopped).
    before = len(sim.texts())
    sim.control("set device:general:temperatur 47")
    time.sleep(1.2)
    check(same(dev.get_float_feature_value("DeviceTemperature"), 47.0), "DeviceTemperature after the scanner changed")
    check(REFRESH in new_commands(sim, before), "no descriptor request for the stale read")

    del dev, cam
    bridge.stop()


def run_all(cases, fn):
    """Every case runs; the failures are reported together."""
    failures = []
    for case in cases:
        try:
            fn(case)
        except (Failure, GLib.Error) as e:
            failures.append(str(e.message if isinstance(e, GLib.Error) else e))
    check(not failures, "%d of %d cases failed:\n  %s" % (len(failures), len(cases), "\n  ".join(failures)))


# The region the selector picks, and the values written there read back: each write with the
# commands it sends (checked as in WRITES), then the reads.
REGION_READS = [
    ([("RegionSelector", 0)], None, [], [("Width", 2048), ("Height", 1088), ("OffsetX", 0), ("OffsetY", 0)]),
    ([("RegionSelector", 1)], None, [], [("Width", 2048), ("Height", 1), ("OffsetX", 0), ("OffsetY", 0)]),
    ([("RegionSelector", 0)], ("Height", 500), ["SetROI1HeightZ=500\r", REFRESH], [("Height", 500)]),
    # Room for the offset: the scanner keeps the region on the sensor.
    ([("RegionSelector", 0)], ("Width", 1024), ["SetROI1WidthX=1024\r", REFRESH], [("Width", 1024)]),
    ([("RegionSelector", 0)], ("OffsetX", 512), ["SetROI1OffsetX=512\r", REFRESH], [("OffsetX", 512)]),
    ([("RegionSelector", 0)], ("OffsetY", 100), ["SetROI1OffsetZ=100\r", REFRESH], [("OffsetY", 100)]),
    ([("RegionSelector", 1)], None, [], [("Height", 1), ("OffsetX", 0), ("OffsetY", 0)]),
    # Inverted: the scanner's input function 0; read back, still inverted.
    ([("LineSelector", 0)], ("LineInverter", True), ["SetEA1InputFunction=0\r", REFRESH], [("LineInverter", True)]),
    ([("LineSelector", 0)], ("LineInverter", False), ["SetEA1InputFunction=1\r", REFRESH],
     [("LineInverter", False)]),
]


@scenario
def region_reads(scratch, bridge_exe, sim_exe):
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.11")
    run_all(REGION_READS, lambda case: check_write(sim, dev, *case))
    del dev, cam
    bridge.stop()


@scenario
def writes(scratch, bridge_exe, sim_exe):
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.8")
    run_all(WRITES, lambda case: check_write(sim, dev, *case))
    # Chunks: no command; the payload grows by each chunk's values and trailer.
    dev.set_integer_feature_value("RegionSelector", 1)
    lines = dev.get_integer_feature_value("Height")
    dev.set_integer_feature_value("RegionSelector", 0)
    width = dev.get_integer_feature_value("Width")
    dev.set_integer_feature_value("RegionSelector", 1)
    base = cam.get_payload()
    check(base == width * lines * 12, "PayloadSize %d for %d x %d Coord3D" % (base, width, lines))
    before = len(sim.texts())
    for k, name in enumerate(CHUNKS):
        dev.set_string_feature_value("ChunkSelector", name)
        dev.set_boolean_feature_value("ChunkEnable", True)
        want = base + 8 + (k + 1) * (4 * lines + 8)
        check(cam.get_payload() == want, "PayloadSize %d with %d chunks, expected %d" % (cam.get_payload(), k + 1, want))
    dev.set_boolean_feature_value("ChunkEnable", True)  # again: no change
    check(cam.get_payload() == base + 8 + 6 * (4 * lines + 8), "a second ChunkEnable changed the payload")
    check([c for c in new_commands(sim, before) if c != REFRESH] == [], "chunk writes sent commands")
    check(not any("SetSortingX" in c for c in sim.texts()), "SetSortingX reached the scanner")
    del dev, cam
    bridge.stop()


# --- stream -----------------------------------------------------------------

def configure_stream(dev, width, lines, intensity=True, chunks=True):
    dev.set_integer_feature_value("RegionSelector", 0)
    dev.set_integer_feature_value("Width", width)
    dev.set_integer_feature_value("RegionSelector", 1)
    dev.set_integer_feature_value("Height", lines)
    check(dev.get_integer_feature_value("Height") == lines, "Height")
    check(dev.get_integer_feature_value("Width") == width, "Width %d" % dev.get_integer_feature_value("Width"))
    if intensity:
        dev.set_integer_feature_value("ComponentSelector", 0)
        dev.set_boolean_feature_value("ComponentEnable", True)
        dev.set_integer_feature_value("PixelFormat", MONO10)
        check(dev.get_integer_feature_value("PixelFormat") == MONO10, "intensity PixelFormat")
    dev.set_integer_feature_value("ComponentSelector", 1)
    check(dev.get_integer_feature_value("PixelFormat") == COORD3D, "range PixelFormat")
    if chunks:
        for name in CHUNKS:
            dev.set_string_feature_value("ChunkSelector", name)
            dev.set_boolean_feature_value("ChunkEnable", True)


class Lines:
    """Every line received, in order, checked against the simulator's profile log."""

    def __init__(self, sim, width, lines, intensity):
        self.sim, self.width, self.lines, self.intensity = sim, width, lines, intensity
        self.counters = []  # per line received
        self.empty = []  # counters of the empty lines
        self.skipped = []  # counters lost right before a block: no line
        self.block_ids = []

    def add_block(self, cam, buffer, profiles):
        check(buffer.get_status() == Aravis.BufferStatus.SUCCESS, "block status %s" % buffer.get_status())
        self.block_ids.append(buffer.get_frame_id())
        w, l = self.width, self.lines
        n_parts = 2 if self.intensity else 1
        if self.intensity:
            check(buffer.get_payload_type() == Aravis.BufferPayloadType.MULTIPART, "payload type %s"
                  % buffer.get_payload_type())
            check(buffer.get_n_parts() == n_parts + 1, "%d parts" % buffer.get_n_parts())
        else:
            check(buffer.get_payload_type() == Aravis.BufferPayloadType.IMAGE, "payload type")
        formats = [COORD3D, MONO10]
        for p in range(n_parts):
            check(buffer.get_part_pixel_format(p) == formats[p], "part %d format 0x%08X"
                  % (p, buffer.get_part_pixel_format(p)))
            check((buffer.get_part_width(p), buffer.get_part_height(p)) == (w, l), "part %d geometry %dx%d"
                  % (p, buffer.get_part_width(p), buffer.get_part_height(p)))
        check(buffer.has_chunks(), "no chunk flag")
        chunk = {name: struct.unpack("<%dI" % l, bytes(buffer.get_chunk_data(cid)))
                 for name, cid in CHUNK_IDS.items()}
        check(buffer.get_timestamp() & 0xFFFFFFFF == chunk["ChunkTimestamp"][0], "leader timestamp %d, line 0 %d"
              % (buffer.get_timestamp(), chunk["ChunkTimestamp"][0]))
        rng = bytes(buffer.get_part_data(0))[:12 * w * l]
        ints = bytes(buffer.get_part_data(1))[:2 * w * l] if self.intensity else None
        for i in range(l):
            c = chunk["ChunkPictureCounter"][i]
            if self.counters and c != (self.counters[-1] + 1) & 0xFFFF:
                # The counter check starts again with each block: profiles lost right before a block
                # leave no empty line. They must have been lost (not sent whole), not dropped.
                skipped = [k & 0xFFFF for k in range(self.counters[-1] + 1, self.counters[-1] + 1 +
                                                     ((c - self.counters[-1] - 1) & 0xFFFF))]
                sent = [k for k in skipped if any(r["fault"] != "flip" for r in profiles.get(k, []))]
                if i != 0 or sent or len(skipped) > 16:
                    between = [(k & 0xFFFF, [r["fault"] for r in profiles.get(k & 0xFFFF, [])])
                               for k in range(self.counters[-1], self.counters[-1] + 4)]
                    raise Failure("line counter %d after %d (block %d line %d); the simulator sent (counter, "
                                  "faults) %s" % (c, self.counters[-1], buffer.get_frame_id(), i, between))
                self.skipped += skipped
            self.counters.append(c)
            xyz = struct.unpack_from("<%df" % (3 * w), rng, 12 * w * i)
            inten = struct.unpack_from("<%dH" % w, ints, 2 * w * i) if ints else None
            recs = [r for r in profiles.get(c, []) if r["fault"] != "flip"]
            where = "block %d line %d counter %d" % (buffer.get_frame_id(), i, c)
            if not recs:
                self.empty.append(c)
                check(not any(xyz) and (inten is None or not any(inten)), "%s: not sent, but not empty" % where)
                continue
            rec = recs[0]  # a repeated counter: the repeat is dropped
            check(len(rec["points"]) == w, "%s: %d points sent for width %d" % (where, len(rec["points"]), w))
            for k, (x, z, it) in enumerate(rec["points"]):
                a, c3 = xyz[3 * k], xyz[3 * k + 2]
                if not (math.isclose(a, x, abs_tol=1e-3) and math.isclose(c3, z, abs_tol=1e-3)):
                    raise Failure("%s point %d: (%g, %g), the simulator sent (%g, %g)" % (where, k, a, c3, x, z))
                if inten is not None and inten[k] != min(it, 1023):
                    raise Failure("%s point %d: intensity %d, the simulator sent %d" % (where, k, inten[k], it))
            enc = rec["encoder_ttl"]
            expect = {"ChunkTimestamp": rec["timestamp"], "ChunkEncoderValue": enc,
                      "ChunkScannerStatus": rec["state"], "ChunkDeviceTemperature": rec["temperature"],
                      "ChunkLineStatusAll": rec["io"]}
            for name, value in expect.items():
                check(chunk[name][i] == value, "%s: %s %d, the simulator sent %d" % (where, name, chunk[name][i], value))
            # Line 0's profile: the first one sent with its counter (a repeat after it is dropped).
            line0 = [r for r in profiles.get(chunk["ChunkPictureCounter"][0], []) if r["fault"] != "flip"]
            if line0:
                b = xyz[1]
                want = float((enc - line0[0]["encoder_ttl"]) & 0xFFFFFFFF)
                check(math.isclose(b, want, abs_tol=1e-3), "%s: B %g, encoder difference %g" % (where, b, want))


def check_chunk_parser(cam, dev, buffer, lines, which):
    """Aravis's chunk parser over the camera's description, line by line through ChunkScanLineSelector."""
    parser = Aravis.ChunkParser(genicam=dev.get_genicam())
    raw = struct.unpack("<%dI" % lines, bytes(buffer.get_chunk_data(CHUNK_IDS["ChunkPictureCounter"])))
    enc = struct.unpack("<%dI" % lines, bytes(buffer.get_chunk_data(CHUNK_IDS["ChunkEncoderValue"])))
    for line in which:
        dev.set_integer_feature_value("ChunkScanLineSelector", line)
        got = parser.get_integer_value(buffer, "ChunkPictureCounter")
        check(got == raw[line], "chunk parser: ChunkPictureCounter line %d reads %d, chunk data %d" % (line, got, raw[line]))
        got = parser.get_integer_value(buffer, "ChunkEncoderValue")
        check(got & 0xFFFFFFFF == enc[line], "chunk parser: ChunkEncoderValue line %d reads %d" % (line, got))


def acquire(cam, payload, count, on_block, buffers=64, wait_us=5000000, more=None, most=200):
    """count blocks, then, while more() holds, further ones up to most in all."""
    stream = cam.create_stream(None, None)
    for _ in range(buffers):
        stream.push_buffer(Aravis.Buffer.new_allocate(payload))
    cam.start_acquisition()
    try:
        n = 0
        while n < count or (more is not None and more()):
            check(n < most, "%d blocks, and still more wanted" % n)
            buffer = stream.timeout_pop_buffer(wait_us)
            check(buffer is not None, "no block %d within %.0f s" % (n, wait_us / 1e6))
            on_block(n, buffer)
            stream.push_buffer(buffer)
            n += 1
    finally:
        cam.stop_acquisition()
    return stream


@scenario
def stream(scratch, bridge_exe, sim_exe):
    width, lines = 256, 10
    # The counter wraps in the run.
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.3", sim_args=("--counter-start", "65500"))
    configure_stream(dev, width, lines)
    payload = cam.get_payload()
    want = width * lines * (12 + 2) + 8 + 6 * (4 * lines + 8)
    check(payload == want, "PayloadSize %d, expected %d" % (payload, want))
    got = Lines(sim, width, lines, True)
    blocks = []

    def on_block(n, buffer):
        check(buffer.get_status() == Aravis.BufferStatus.SUCCESS, "block %d status %s" % (n, buffer.get_status()))
        if n == 0:
            check_chunk_parser(cam, dev, buffer, lines, [0])
        blocks.append(buffer)
        if n == 5:
            sim.control("gap 3")
        if n == 10:
            sim.control("flip")
        if n == 15:
            sim.control("repeat")
    before = len(sim.texts())

    def faults_passed():
        # The blocks taken lag behind the simulator: a fault asked for at block n may land blocks later.
        faults = sim.fault_counters()
        seen = set(got.counters) | set(got.skipped)
        return len(faults) >= 3 and all(c in seen for c in faults)
    acquire(cam, payload, 30, lambda n, b: (on_block(n, b), got.add_block(cam, b, wait_profiles(sim, b, lines))),
            more=lambda: not faults_passed())
    check("SetAcquisitionStart\r" in new_commands(sim, before), "no SetAcquisitionStart")
    wait_until("SetAcquisitionStop", lambda: "SetAcquisitionStop\r" in new_commands(sim, before), 10)
    check(got.block_ids == list(range(got.block_ids[0], got.block_ids[0] + len(got.block_ids))),
          "block ids %s" % got.block_ids)
    # Gap 3: three empty lines; the corrupted frame: one; the repeat: none (it is dropped).
    check(len(got.empty) + len(got.skipped) == 4, "empty lines at counters %s and lost before a block %s, "
          "expected 3 + 1" % (got.empty, got.skipped))
    print("stream: %d lines, empty at %s, lost before a block %s" % (len(got.counters), got.empty, got.skipped))
    del dev, cam
    bridge.stop()


@scenario
def chunk_lines(scratch, bridge_exe, sim_exe):
    """Every line's chunk values through the parser: the line selector reaches the chunk address."""
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.10")
    configure_stream(dev, 64, 10, intensity=False)
    for line in (0, 5, 9, 3):
        dev.set_integer_feature_value("ChunkScanLineSelector", line)
        got = dev.get_integer_feature_value("ChunkScanLineSelector")
        check(got == line, "ChunkScanLineSelector reads %d after %d was written" % (got, line))
    acquire(cam, cam.get_payload(), 2, lambda n, b: check_chunk_parser(cam, dev, b, 10, range(10)))
    del dev, cam
    bridge.stop()


def wait_profiles(sim, buffer, lines):
    """The profile log once it holds the block's last line, or a later one when that line was not
    sent whole (the simulator logs a profile right after sending it)."""
    last = struct.unpack("<%dI" % lines, bytes(buffer.get_chunk_data(CHUNK_IDS["ChunkPictureCounter"])))[-1]

    def logged():
        records = sim.profiles()
        return any(((last + k) & 0xFFFF) in records for k in range(32))
    try:
        wait_until("the profile log to hold counter %d" % last, logged, 5, 0.005)
    except Failure:
        pass  # the line checks say what is missing
    return sim.profiles()


@scenario
def timeout(scratch, bridge_exe, sim_exe):
    """-t 1000 (the default) and three profiles by the software line trigger: a block of 3 + 7 empty lines."""
    width, lines = 64, 10
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.4")
    configure_stream(dev, width, lines, intensity=False)
    dev.set_integer_feature_value("TriggerSelector", 0)
    dev.set_integer_feature_value("TriggerMode", 1)
    dev.set_integer_feature_value("TriggerSource", 7)
    payload = cam.get_payload()
    stream = cam.create_stream(None, None)
    for _ in range(4):
        stream.push_buffer(Aravis.Buffer.new_allocate(payload))
    cam.start_acquisition()
    before = len(sim.texts())
    for _ in range(3):
        dev.execute_command("TriggerSoftware")
    try:
        wait_until("three SetTriggerSoftware", lambda: new_commands(sim, before).count("SetTriggerSoftware\r") >= 3, 5)
    except Failure:
        raise Failure("TriggerSoftware commands %s" % [escape(c) for c in new_commands(sim, before)])
    buffer = stream.timeout_pop_buffer(5000000)
    check(buffer is not None, "no block after the profile time-out")
    chunk = struct.unpack("<%dI" % lines, bytes(buffer.get_chunk_data(CHUNK_IDS["ChunkPictureCounter"])))
    data = struct.unpack("<%df" % (3 * width * lines), bytes(buffer.get_data())[:12 * width * lines])
    profiles = sim.profiles()
    for i in range(lines):
        filled = any(data[3 * width * i:3 * width * (i + 1)])
        check(filled == (i < 3), "line %d %s" % (i, "filled" if filled else "empty"))
        if i >= 3:
            check(chunk[i] == 0, "line %d chunk counter %d" % (i, chunk[i]))
        else:
            check(chunk[i] in profiles, "line %d counter %d was not sent" % (i, chunk[i]))
    bridge.await_text("Timeout. Sending image with active scans=3", "err", 5)
    cam.stop_acquisition()
    del dev, cam, stream
    bridge.stop()


# --- lifecycle --------------------------------------------------------------

def stream_blocks(cam, payload, buffers=32):
    stream = cam.create_stream(None, None)
    for _ in range(buffers):
        stream.push_buffer(Aravis.Buffer.new_allocate(payload))
    return stream


def pop_block(stream, what, wait_s=10.0):
    buffer = stream.timeout_pop_buffer(int(wait_s * 1e6))
    check(buffer is not None, "no block %s" % what)
    ok = buffer.get_status() == Aravis.BufferStatus.SUCCESS
    stream.push_buffer(buffer)
    return ok


@scenario
def reconnect(scratch, bridge_exe, sim_exe):
    # Refused for a while after the close, so that the loss outlasts the monitor's poll.
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.5", sim_args=("--refuse-after-close", "2000"),
                                   bridge_args=("-d", "-r"))
    configure_stream(dev, 128, 10, intensity=False, chunks=False)
    stream = stream_blocks(cam, cam.get_payload())
    cam.start_acquisition()
    for n in range(5):
        pop_block(stream, "%d before the loss" % n)
    sim.control("close")
    bridge.await_text("disconnected", "err")
    wait_until("the reconnection", lambda: any(c[1] >= 1 for c in sim.commands()))
    # Blocks flow again: drain what was queued, then complete blocks of the new connection.
    deadline = time.monotonic() + 15
    good = 0
    while good < 10:
        check(time.monotonic() < deadline, "streaming did not resume after the reconnection (%d blocks)" % good)
        good += 1 if pop_block(stream, "after the reconnection") else 0
    cam.stop_acquisition()
    check(bridge.proc.poll() is None, "lumabridge ended")
    del dev, cam, stream
    bridge.stop()


CLIENT = """
import sys, time
sys.path.insert(0, %r)
from online_common import Aravis, camera
cam, dev = camera(%r)
stream = cam.create_stream(None, None)
for _ in range(8):
    stream.push_buffer(Aravis.Buffer.new_allocate(cam.get_payload()))
cam.start_acquisition()
b = stream.timeout_pop_buffer(10000000)
print("block" if b is not None else "none", flush=True)
time.sleep(60)
"""


@scenario
def client_killed(scratch, bridge_exe, sim_exe):
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.6")
    configure_stream(dev, 128, 10, intensity=False, chunks=False)
    del dev, cam
    wait_until("the first client to let go", lambda: "Client is disconnected" in bridge.text("out") + bridge.text("err"), 15)
    seen = (bridge.text("out") + bridge.text("err")).count("Client is disconnected")
    client = subprocess.Popen([sys.executable, "-c", CLIENT % (os.path.dirname(os.path.abspath(__file__)), bridge.address)],
                              stdout=subprocess.PIPE, text=True)
    check(client.stdout.readline().strip() == "block", "the first client got no block")
    before = len(sim.texts())
    client.send_signal(signal.SIGKILL)
    client.wait()
    wait_until("the heartbeat expiry", lambda: (bridge.text("out") + bridge.text("err")).count("Client is disconnected") > seen, 15)
    wait_until("SetAcquisitionStop after the client died", lambda: "SetAcquisitionStop\r" in new_commands(sim, before), 5)
    cam, dev = camera(bridge.address)
    stream = stream_blocks(cam, cam.get_payload())
    cam.start_acquisition()
    for n in range(5):
        check(pop_block(stream, "%d for the new client" % n), "block %d of the new client failed" % n)
    cam.stop_acquisition()
    del dev, cam, stream
    bridge.stop()


@scenario
def restarts(scratch, bridge_exe, sim_exe):
    sim, bridge, cam, dev = online(scratch, bridge_exe, sim_exe, "127.0.6.7")
    # Short blocks: Aravis drops ids below the last one it saw on its stream, and each run numbers
    # its blocks from 1 again, so run k waits for some k blocks first.
    configure_stream(dev, 256, 2, intensity=True, chunks=True)
    stream = stream_blocks(cam, cam.get_payload(), 16)

    def cycle(k):
        stops = sim.texts().count("SetAcquisitionStop\r")
        cam.start_acquisition()
        check(pop_block(stream, "in run %d" % k, 5.0), "run %d: failed block" % k)
        cam.stop_acquisition()
        # A start that comes before lumabridge has stopped the scanner joins the run under way
        # (the block popped may be a late one of the run before): the next run waits for the stop.
        wait_until("SetAcquisitionStop after run %d" % k, lambda: sim.texts().count("SetAcquisitionStop\r") > stops, 5, 0.005)
        while True:  # what was under way at the stop
            b = stream.timeout_pop_buffer(1000)
            if b is None:
                break
            stream.push_buffer(b)
    for k in range(5):
        cycle(k)
    rss0, threads = bridge.status("VmRSS"), bridge.status("Threads")
    trace = os.environ.get("ONLINE_RSS_TRACE")
    rss = []
    # The first hundred runs also touch the device's block buffers for the first time (a bounded
    # pool, some 12 MB here, more under the sanitizers); a leak goes on growing in the second hundred.
    for k in range(200):
        cycle(5 + k)
        if k % 100 == 99:
            rss.append(bridge.status("VmRSS"))
            check(bridge.status("Threads") == threads, "threads %d after %d restarts, %d before"
                  % (bridge.status("Threads"), k + 1, threads))
        if trace and k % 10 == 9:
            print("after %d restarts: RSS %d kB" % (k + 1, bridge.status("VmRSS")), flush=True)
    print("restarts: RSS %d kB, %d kB after 100 restarts, %d kB after 200; %d threads"
          % (rss0, rss[0], rss[1], threads))
    if os.environ.get("LB_SANITIZE") == "address":
        # AddressSanitizer holds freed memory in its quarantine; its leak check at exit judges leaks.
        print("restarts: resident memory not judged under AddressSanitizer", flush=True)
    else:
        check(rss[1] - rss[0] < 2048,
              "resident memory grew by %d kB over the second 100 restarts" % (rss[1] - rss[0]))
    starts = sim.texts().count("SetAcquisitionStart\r")
    check(starts >= 205, "%d SetAcquisitionStart for 205 runs" % starts)
    del dev, cam, stream
    bridge.stop()


if __name__ == "__main__":
    run({"description": description, "writes": writes, "stream": stream, "timeout": timeout, "chunk_lines": chunk_lines, "region_reads": region_reads, "reconnect": reconnect,
         "client_killed": client_killed, "restarts": restarts})
