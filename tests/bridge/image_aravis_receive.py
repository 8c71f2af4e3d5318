"""Receives one block from the device through Aravis and prints it, one item per line:
"image|parts N", then per part "<pixel format as 0x%08X> <width> <height> <data in hex>",
then for each chunk id asked for "<id as 0x%X> <data in hex>".

usage: image_aravis_receive.py ADDRESS [CHUNK_ID ...]
"""
import struct
import sys

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402

BLOCK_WAIT_US = 20000000


def chunk_data(buffer, chunk_id):
    """The data of a chunk: through Aravis for an image block; for a multi-part block from its
    chunk part, walked back from its end (each chunk's data is followed by its big-endian id and
    length)."""
    if buffer.has_chunks():
        return bytes(buffer.get_chunk_data(chunk_id))
    for p in range(buffer.get_n_parts()):
        if buffer.get_part_data_type(p) != Aravis.BufferPartDataType.CHUNK_DATA:
            continue
        area = bytes(buffer.get_part_data(p))
        end = len(area)
        while end >= 8:
            found, length = struct.unpack(">II", area[end - 8:end])
            if length > end - 8:
                break
            if found == chunk_id:
                return area[end - 8 - length:end - 8]
            end -= 8 + length
    return b""


def main():
    camera = Aravis.Camera.new(sys.argv[1])
    payload = camera.get_payload()
    stream = camera.create_stream(None, None)
    for _ in range(4):
        stream.push_buffer(Aravis.Buffer.new_allocate(payload))
    camera.start_acquisition()
    buffer = stream.timeout_pop_buffer(BLOCK_WAIT_US)
    if buffer is None:
        print("FAIL: no block")
        return 1
    if buffer.get_status() != Aravis.BufferStatus.SUCCESS:
        print("FAIL: block status %s" % buffer.get_status())
        return 1
    kind = buffer.get_payload_type()
    if kind not in (Aravis.BufferPayloadType.IMAGE, Aravis.BufferPayloadType.EXTENDED_CHUNK_DATA):
        parts = [p for p in range(buffer.get_n_parts())
                 if buffer.get_part_data_type(p) != Aravis.BufferPartDataType.CHUNK_DATA]
        print("parts %d" % len(parts))
        for p in parts:
            print("0x%08X %d %d %s" % (buffer.get_part_pixel_format(p), buffer.get_part_width(p),
                                       buffer.get_part_height(p), bytes(buffer.get_part_data(p)).hex()))
    else:
        print("image 1")
        print("0x%08X %d %d %s" % (buffer.get_image_pixel_format(), buffer.get_image_width(),
                                   buffer.get_image_height(), bytes(buffer.get_image_data()).hex()))
    for chunk in sys.argv[2:]:
        print("%s %s" % (chunk, chunk_data(buffer, int(chunk, 16)).hex()))
    camera.stop_acquisition()
    return 0


if __name__ == "__main__":
    sys.exit(main())
