"""Selects pixel formats of gev_host's test image through Aravis and checks the
converted blocks: pixel format of the leader, payload size and every pixel,
unpacked here from the GigE Vision layouts and compared with the host's Mono16
pattern (frame k, pixel i: (k + i) & 0xFFFF; k from the block's timestamp,
1e12 + 1000 k ns).

usage: aravis_format_check.py ADDRESS WIDTH HEIGHT BLOCKS FORMAT...
"""
import sys

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402

TS_BASE = 1000000000000

# name: (PFNC code, bits kept from the 16-bit sample, packed)
FORMATS = {
    "Mono16": (0x01100007, 16, False),
    "Mono8": (0x01080001, 8, False),
    "Mono10": (0x01100003, 10, False),
    "Mono12": (0x01100005, 12, False),
    "Mono14": (0x01100025, 14, False),
    "Mono10Packed": (0x010C0004, 10, True),
    "Mono12Packed": (0x010C0006, 12, True),
    "BayerRG8": (0x01080009, 8, False),
    "BayerGR16": (0x0110002E, 16, False),
    "BayerRG12Packed": (0x010C002B, 12, True),
    "BayerBG10Packed": (0x010C0029, 10, True),
}


def fail(text):
    print("FAIL: " + text)
    sys.exit(1)


def unpack(data, bits, packed, count):
    """The samples of a block, as the client would read them."""
    if not packed:
        if bits == 8:
            return list(data[:count])
        return [data[2 * i] | data[2 * i + 1] << 8 for i in range(count)]
    values = []
    for g in range(0, 3 * ((count + 1) // 2), 3):
        b0, b1, b2 = data[g], data[g + 1], data[g + 2]
        if bits == 10:
            if b1 & 0xCC:
                fail("unused bits set in byte 1 of group %d: 0x%02x" % (g // 3, b1))
            values += [b0 << 2 | (b1 & 3), b2 << 2 | (b1 >> 4 & 3)]
        else:
            values += [b0 << 4 | (b1 & 15), b2 << 4 | b1 >> 4]
    return values[:count]


def main():
    address, width, height, blocks = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    camera = Aravis.Camera.new(address)
    pixels = width * height
    for name in sys.argv[5:]:
        code, bits, packed = FORMATS[name]
        camera.set_string("PixelFormat", name)
        expected_payload = pixels * 3 // 2 if packed else pixels * (1 if bits == 8 else 2)
        if camera.get_payload() != expected_payload:
            fail("%s: PayloadSize %d, expected %d" % (name, camera.get_payload(), expected_payload))
        stream = camera.create_stream(None, None)
        for _ in range(blocks):
            stream.push_buffer(Aravis.Buffer.new_allocate(expected_payload))
        camera.start_acquisition()
        for n in range(blocks):
            buffer = stream.timeout_pop_buffer(10000000)
            if buffer is None:
                fail("%s: no block %d" % (name, n))
            if buffer.get_status() != Aravis.BufferStatus.SUCCESS:
                fail("%s: block %d status %s" % (name, n, buffer.get_status()))
            if buffer.get_image_pixel_format() != code:
                fail("%s: leader pixel format 0x%08x" % (name, buffer.get_image_pixel_format()))
            k = (buffer.get_timestamp() - TS_BASE) // 1000
            data = buffer.get_data()
            if len(data) != expected_payload:
                fail("%s: %d bytes" % (name, len(data)))
            got = unpack(data, bits, packed, pixels)
            for i in range(pixels):
                want = ((k + i) & 0xFFFF) >> (16 - bits)
                if got[i] != want:
                    fail("%s: pixel %d of frame %d is 0x%x, expected 0x%x" % (name, i, k, got[i], want))
            stream.push_buffer(buffer)
        camera.stop_acquisition()
        del stream
        print("%s: %d blocks checked" % (name, blocks))


if __name__ == "__main__":
    main()
