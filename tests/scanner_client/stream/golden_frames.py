#!/usr/bin/python3
"""Golden byte vectors of the scanner stream, built from the format's definition.

Writes golden_frames.h next to this script:  /usr/bin/python3 golden_frames.py
"""
import os
import struct

TAG_HEADER, TAG_STATS, TAG_XML = 0x021A0101, 0x021A0102, 0x021A0103
TAG_ROI_X, TAG_ROI_Z, TAG_REGS_B = 0x021A0201, 0x021A0202, 0x021A0402
TAG_IMAGE, TAG_PIXEL, TAG_END = 0x021A0501, 0x021A0601, 0x021AFFFF
MAGIC, SYNC_MAGIC = 0x021A01FF, 0x021A0100


def crc32_mpeg2(data, crc=0xFFFFFFFF):
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def block(tag, body):
    return struct.pack('<II', tag, 8 + len(body)) + bytes(body)


def container(*blocks):
    inner = b''.join(blocks)
    total = 8 + len(inner) + 12
    head = struct.pack('<II', MAGIC, total) + inner + struct.pack('<II', TAG_END, 12)
    return head + struct.pack('>I', crc32_mpeg2(head))


def poke(buf, offset, fmt, value):
    struct.pack_into(fmt, buf, offset, value)


def sized_block(tag, length, fields):
    """A block of `length` bytes whose body is zero but for (offset, fmt, value) fields."""
    b = bytearray(length)
    poke(b, 0, '<I', tag)
    poke(b, 4, '<I', length)
    for offset, fmt, value in fields:
        poke(b, offset, fmt, value)
    return bytes(b)


def header_block(counter, stamp):
    return sized_block(TAG_HEADER, 52, [(8, '<H', counter), (10, '<I', stamp)])


def profile_container(counter, stamp):
    # Pixel profile block: 4 columns of Z u16, strength u8, width u8 (content and sizes in the header).
    prof = bytearray(36)
    poke(prof, 0, '<I', TAG_PIXEL)
    poke(prof, 4, '<I', 36)
    prof[10] = 0x01
    prof[13:18] = bytes([16, 8, 8, 16, 80])
    for c in range(4):
        poke(prof, 20 + 4 * c, '<H', 32 * (100 + c))
        prof[22 + 4 * c] = 0x40 + c
        prof[23 + 4 * c] = 5
    return container(header_block(counter, stamp), bytes(prof))


def image_container(counter, stamp):
    return container(header_block(counter, stamp), block(TAG_IMAGE, bytes(range(24))))


def legacy_frame(kind, length, counter=0, stamp=0, body=b''):
    f = bytearray(length - 4)
    f[0], f[1] = kind, 0x19
    f[2:5] = length.to_bytes(3, 'little')
    if kind in (2, 3):
        poke(f, 6, '<H', counter)
        poke(f, 8, '<I', stamp)
        for i in range(12, length - 4):
            f[i] = (i * 7) & 0xFF
    else:
        f[6:6 + len(body)] = body
    return bytes(f) + struct.pack('>I', crc32_mpeg2(bytes(f)))


def status_container():
    header = sized_block(TAG_HEADER, 52, [
        (8, '<H', 0xBEEF), (10, '<I', 0x89ABCDEF), (14, '<I', 123456), (22, '<I', 654321),
        (30, 'B', 0x22), (31, 'B', 0x02), (43, '<I', 777), (47, '<I', 0xAB012345)])
    stats = sized_block(TAG_STATS, 60, [
        (12, '<I', 11), (16, '<I', 22), (32, 'B', 41), (46, '<H', 900), (48, '<H', 1200), (53, '<H', 4242)])
    roi_x = sized_block(TAG_ROI_X, 16, [(10, '<H', 16), (12, '<H', 1024), (14, '<H', 1)])
    roi_z = sized_block(TAG_ROI_Z, 16, [(10, '<H', 32), (12, '<H', 512), (14, '<H', 3)])
    regs = [
        (8, 'B', 0x45), (9, 'B', 0x82), (22, '<I', 0x00030201), (25, 'B', 0x10), (26, 'B', 0x27),
        (29, 'B', 3), (31, 'B', 0x0B), (36, '<H', 8), (47, 'B', 2), (48, 'B', 3), (49, 'B', 60),
        (52, '<H', 500), (67, '<H', 1000), (71, 'B', 0x05), (72, 'B', 1)]
    # Line time 1000 and trigger delay 70000 as 24-bit fields.
    regs += [(10 + i, 'B', b) for i, b in enumerate((1000).to_bytes(3, 'little'))]
    regs += [(13 + i, 'B', b) for i, b in enumerate((70000).to_bytes(3, 'little'))]
    lines = [(5, 0x05, 0x81, 0x06, 0x0F, 0x0E), (4, 0x02, 0x03, 0x02, 0x01, 0x01),
             (1, 0x01, 0x02, 0x00, 0x04, 0x08), (2, 0x04, 0x7F, 0x04, 0x08, 0x0B)]
    for n, line in enumerate(lines):
        regs += [(136 + 6 * n + i, 'B', b) for i, b in enumerate(line)]
    registers = sized_block(TAG_REGS_B, 160, regs)
    return container(header, stats, roi_x, roi_z, registers)


def pattern(n):
    return bytes(((i * 31) + 7) & 0xFF for i in range(n))


def hex_string(name, data):
    text = data.hex()
    rows = [text[i:i + 96] for i in range(0, len(text), 96)] or ['']
    body = '\n'.join(f'    "{r}"' for r in rows)
    return f'inline constexpr const char* {name} =\n{body};\n'


def main():
    assert crc32_mpeg2(b'123456789') == 0x0376E6E7
    empty = container()
    assert empty.hex() == 'ff011a0214000000ffff1a020c000000264f14d8'
    xml = container(block(TAG_XML, b'<device/>\x00'))
    assert xml.hex() == ('ff011a0226000000' '03011a0212000000' '3c6465766963652f3e00'
                         'ffff1a020c000000' 'ae8167b3')
    sync_head = struct.pack('<II', SYNC_MAGIC, 20) + struct.pack('<II', TAG_END, 12)
    sync = sync_head + struct.pack('>I', crc32_mpeg2(sync_head))
    assert sync.hex() == '00011a0214000000ffff1a020c000000cdd39a68'

    lin_body = b'LIN1DD\x00\x00' + struct.pack('<II', 9, 8 + 374) + bytes(374)
    out = ['#pragma once', '// Generated by golden_frames.py from the stream format; do not edit.',
           '#include <cstddef>', '#include <cstdint>', '', 'namespace golden {', '']
    out.append('// CRC-32/MPEG-2 of the first n bytes of pattern(i) = (31 i + 7) mod 256.')
    out.append('struct PatternCrc { size_t length; uint32_t crc; };')
    out.append('inline constexpr PatternCrc kPatternCrcs[] = {')
    for n in (0, 1, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 1000):
        out.append(f'    {{{n}, 0x{crc32_mpeg2(pattern(n)):08X}}},')
    out += ['};', '']
    vectors = [
        ('kEmptyContainer', empty),
        ('kXmlContainer', xml),
        ('kSyncContainer', sync),
        ('kProfileContainer', profile_container(0x1234, 1000)),
        ('kImageContainer', image_container(9, 2000)),
        ('kLegacyProfile', legacy_frame(2, 400, counter=7, stamp=5000)),
        ('kLinearizationFrame', legacy_frame(7, 400, body=lin_body)),
        ('kStatusContainer', status_container()),
    ]
    for name, data in vectors:
        out.append(f'// {len(data)} bytes')
        out.append(hex_string(name, data))
    out += ['}  // namespace golden', '']
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'golden_frames.h')
    with open(path, 'w') as f:
        f.write('\n'.join(out))


if __name__ == '__main__':
    main()
