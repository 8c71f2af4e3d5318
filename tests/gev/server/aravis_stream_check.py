"""Acquires blocks from gev_host through Aravis and checks them against the
host's test pattern: status, payload type, size, pixel formats, geometry,
timestamps, chunk data (as raw chunks and through Aravis's GenICam chunk
parser, which reads the chunk features of the host's description) and pixel
values.

usage: aravis_stream_check.py [--resize W H] [--no-line-reads] [--stop-marker FILE]
                              ADDRESS image|parts2|parts3 WIDTH LINES CHUNKS(0|1) BLOCKS [RETENTION_US]

WIDTH, LINES: the host's command line. --resize: the client first sets Width
and Height of an image to W x H (the per-line chunk keeps LINES values).
--no-line-reads: the per-line chunk value is checked as raw chunk data only,
not through the parser (whose reads of the selector go to the device: while
Aravis waits for resent packets its control reads stall for the retention time).
--stop-marker: the test creates FILE before it stops the host. Once it exists,
a device read may fail and the stream may end: the blocks already received are
still checked in full, and the client then ends with "stream ended after the
stop" (status 0). Before it exists (and without the option) a failed device
read or a missing block fails at once.
RETENTION_US: how long Aravis keeps an incomplete block asking for resends
(default 1 s).
"""
import os
import struct
import sys
import time

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis, GLib  # noqa: E402

MONO16, MONO10, COORD3D_ABC32F = 0x01100007, 0x01100003, 0x026000C0
TS_BASE = 1000000000000

# The client's time-outs. A loaded machine holds up the client (this script and
# Aravis's stream thread), not the device: bench/control_under_load.py measures
# the device's control answers while it streams with every core busy (p99 a few
# ms, none lost). A held-up client loses neither an answer nor a block: they
# wait in its sockets (large receive buffers, raised by scripts/test) and in the
# stream's buffers until it runs again.
# - Device reads: Aravis 0.8 sends a GVCP request up to 5 times, 500 ms apart
#   (fixed, not a property), so a read fails only when the device left it
#   unanswered for 2.5 s. That is a fault while the host serves.
# - A block: waited for BLOCK_WAIT_US, far above the host's block period, so a
#   client that was not scheduled does not take it for the end of the stream;
#   END_WAIT_US once the host was told to stop.
# - Buffers: a held-up client falls behind the stream; BUFFERS blocks can wait
#   for it (a block that finds none is an underrun and a gap in the block ids).
# - An incomplete block: Aravis waits RETENTION_US (its own default: 100 ms) for
#   the rest of its packets, as a loaded machine may hold up the host's sender
#   between two packets; then the block fails.
BLOCK_WAIT_US = 10000000
END_WAIT_US = 3000000
BUFFERS = 512
RETENTION_US = 1000000

stream = None
# --stop-marker FILE
marker = None
# The longest selector write and value read of a line: seconds, which line.
slowest_line = (0.0, "")


def statistics():
    infos = {}
    for i in range(stream.get_n_infos()):
        if stream.get_info_type(i).name == "guint64":
            infos[stream.get_info_name(i)] = stream.get_info_uint64(i)
    return infos


def print_statistics(infos):
    print("stream statistics: " + ", ".join("%s %d" % kv for kv in sorted(infos.items())))


def stopping():
    return marker is not None and os.path.exists(marker)


def summary(blocks, last_id, most_waiting):
    text = "%d blocks, last id %s, at most %d waiting" % (blocks, last_id, most_waiting)
    if slowest_line[1]:
        text += ", slowest line read %.1f ms (%s)" % (1000 * slowest_line[0], slowest_line[1])
    return text


def fail(text):
    print("FAIL: " + text)
    if stream is not None:
        print_statistics(statistics())
    sys.exit(1)


def check_u16(data, k, mask, what):
    values = struct.unpack("<%dH" % (len(data) // 2), data)
    for i in (0, 1, len(values) - 1):
        if values[i] != (k + i) & mask:
            fail("%s pixel %d of frame %d is %d" % (what, i, k, values[i]))


class ControlLost(Exception):
    pass


def parsed(parser, buffer, name):
    try:
        return parser.get_integer_value(buffer, name)
    except GLib.Error as e:
        fail("chunk parser on %s: %s" % (name, e.message))


# Through the description: ChunkTimestamp and ChunkFrameCounter read the
# block's chunks 0x1001 and 0x1002, ChunkLineValue the value of chunk 0x1003
# for the line ChunkScanLineSelector selects. The parser of
# camera.create_chunk_parser() has a description of its own without a device,
# so the line's address, which reads the device's selector register, needs a
# parser over the camera's description (line_parser). All lines of the first
# blocks, then the first, a middle and the last line, so the reader keeps up.
# These reads go to the device; their failure raises ControlLost.
def check_parsed_chunks(camera, parsers, buffer, k, timestamp, lines, n, line_reads):
    parser, line_parser = parsers
    for p in parsers:
        if parsed(p, buffer, "ChunkTimestamp") != timestamp:
            fail("parsed timestamp %d for %d" % (parsed(p, buffer, "ChunkTimestamp"), timestamp))
        if parsed(p, buffer, "ChunkFrameCounter") != k:
            fail("parsed frame counter %d for frame %d" % (parsed(p, buffer, "ChunkFrameCounter"), k))
    if not line_reads:
        return
    global slowest_line
    for line in range(lines) if n < 2 else sorted({0, lines // 2, lines - 1}):
        start = time.monotonic()
        try:
            camera.set_integer("ChunkScanLineSelector", line)
            value = line_parser.get_integer_value(buffer, "ChunkLineValue")
        except GLib.Error as e:
            raise ControlLost("line %d of frame %d: %s" % (line, k, e.message))
        slowest_line = max(slowest_line, (time.monotonic() - start, "line %d of frame %d%s"
                                          % (line, k, ", after the stop" if stopping() else "")))
        if value != k * 1000 + line:
            fail("parsed line %d value %d of frame %d" % (line, value, k))


def main():
    global stream, marker
    args = sys.argv[1:]
    resize = None
    if args[:1] == ["--resize"]:
        resize = int(args[1]), int(args[2])
        args = args[3:]
    line_reads = True
    if args[:1] == ["--no-line-reads"]:
        line_reads = False
        args = args[1:]
    if args[:1] == ["--stop-marker"]:
        marker = args[1]
        args = args[2:]
    address, kind, width, lines, chunks, blocks = args[:6]
    width, lines, chunks, blocks = int(width), int(lines), chunks == "1", int(blocks)
    parts = {"image": 1, "parts2": 2, "parts3": 3}[kind]
    # Timestamp, frame counter and one u32 per host line, each with its
    # trailer, and the image-data trailer.
    chunk_lines = lines
    chunk_size = 8 + 4 + 4 * chunk_lines + 3 * 8 + 8 if chunks else 0

    camera = Aravis.Camera.new(address)
    if resize:
        camera.set_integer("Width", resize[0])
        camera.set_integer("Height", resize[1])
        width, lines = resize
        if (camera.get_integer("Width"), camera.get_integer("Height")) != resize:
            fail("Width x Height read back %dx%d" % (camera.get_integer("Width"), camera.get_integer("Height")))
    pixels = width * lines
    part_bytes = [2 * pixels, 2 * pixels, 12 * pixels][:parts]
    expected_payload = sum(part_bytes) + chunk_size
    if camera.get_payload() != expected_payload:
        fail("PayloadSize %d, expected %d" % (camera.get_payload(), expected_payload))
    parsers = None
    if chunks:
        parsers = (camera.create_chunk_parser(), Aravis.ChunkParser(genicam=camera.get_device().get_genicam()))
    stream = camera.create_stream(None, None)
    stream.set_property("frame-retention", int(args[6]) if len(args) > 6 else RETENTION_US)
    for _ in range(min(blocks, BUFFERS)):
        stream.push_buffer(Aravis.Buffer.new_allocate(expected_payload))
    camera.start_acquisition()
    last_id = None
    # The device reads failed after the host was told to stop: no more of them.
    stopped = None
    most_waiting = 0
    for n in range(blocks):
        buffer = stream.timeout_pop_buffer(END_WAIT_US if stopping() else BLOCK_WAIT_US)
        if buffer is None:
            if stopping():
                print_statistics(statistics())
                print("stream ended after the stop: %s%s" % (summary(n, last_id, most_waiting),
                                                            ", device reads failed: " + stopped if stopped else ""))
                return
            fail("no block %d" % n)
        if n == 0 and marker is not None:
            print("first block", flush=True)
        most_waiting = max(most_waiting, 1 + stream.get_n_buffers()[1])
        if buffer.get_status() != Aravis.BufferStatus.SUCCESS:
            fail("block %d status %s" % (n, buffer.get_status()))
        frame_id = buffer.get_frame_id()
        if last_id is not None and frame_id != last_id + 1:
            fail("block id %d after %d" % (frame_id, last_id))
        last_id = frame_id
        want_type = Aravis.BufferPayloadType.IMAGE if parts == 1 else Aravis.BufferPayloadType.MULTIPART
        if buffer.get_payload_type() != want_type:
            fail("payload type %s" % buffer.get_payload_type())
        if buffer.has_chunks() != chunks:
            fail("chunk flag %s" % buffer.has_chunks())
        data = buffer.get_data()
        if len(data) != expected_payload:
            fail("block of %d bytes, expected %d" % (len(data), expected_payload))
        timestamp = buffer.get_timestamp()
        k = (timestamp - TS_BASE) // 1000
        if timestamp != TS_BASE + 1000 * k or k < 1:
            fail("timestamp %d" % timestamp)
        if chunks:
            ts_chunk = struct.unpack(">Q", bytes(buffer.get_chunk_data(0x1001)))[0]
            counter = struct.unpack(">I", bytes(buffer.get_chunk_data(0x1002)))[0]
            if ts_chunk != timestamp or counter != k:
                fail("chunks %d %d for timestamp %d" % (ts_chunk, counter, timestamp))
            line_values = struct.unpack("<%dI" % chunk_lines, bytes(buffer.get_chunk_data(0x1003)))
            if line_values != tuple(k * 1000 + i for i in range(chunk_lines)):
                fail("line chunk %s of frame %d" % (line_values[:3], k))
            try:
                check_parsed_chunks(camera, parsers, buffer, k, timestamp, chunk_lines, n,
                                    line_reads and stopped is None)
            except ControlLost as e:
                if not stopping():
                    fail("chunk parser device reads failed while the host serves: %s" % e)
                stopped = str(e)
        # The chunk data of a multi-part block is a part of its own.
        chunk_part = parts > 1 and chunks
        if buffer.get_n_parts() != parts + (1 if chunk_part else 0):
            fail("%d parts" % buffer.get_n_parts())
        if chunk_part:
            if buffer.get_part_data_type(parts) != Aravis.BufferPartDataType.CHUNK_DATA:
                fail("chunk part of type %s" % buffer.get_part_data_type(parts))
            if len(bytes(buffer.get_part_data(parts))) != chunk_size:
                fail("chunk part of %d bytes" % len(bytes(buffer.get_part_data(parts))))
        formats = [MONO16, MONO10, COORD3D_ABC32F]
        for p in range(parts):
            if buffer.get_part_pixel_format(p) != formats[p]:
                fail("part %d pixel format 0x%08X" % (p, buffer.get_part_pixel_format(p)))
            if buffer.get_part_width(p) != width or buffer.get_part_height(p) != lines:
                fail("part %d geometry %dx%d" % (p, buffer.get_part_width(p), buffer.get_part_height(p)))
            part = bytes(buffer.get_part_data(p))
            # A single-part image with chunks reports the whole payload as its data.
            if len(part) != (expected_payload if parts == 1 else part_bytes[p]):
                fail("part %d of %d bytes" % (p, len(part)))
            part = part[: part_bytes[p]]
            if p == 0:
                check_u16(part, k, 0xFFFF, "range")
            elif p == 1:
                check_u16(part, k, 0x3FF, "intensity")
            else:
                last = struct.unpack_from("<3f", part, 12 * (pixels - 1))
                if last != (float(k), float(pixels - 1), -1.0):
                    fail("point %s of frame %d" % (last, k))
        stream.push_buffer(buffer)
    camera.stop_acquisition()
    infos = statistics()
    if infos["n_failures"] != 0:
        fail("%d failed blocks" % infos["n_failures"])
    print_statistics(infos)
    print("ok %s: %s, %d packets resent" % (kind, summary(blocks, last_id, most_waiting), infos["n_resent_packets"]))


main()
