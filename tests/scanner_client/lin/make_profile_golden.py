#!/usr/bin/python3
"""Builds golden profile frames (legacy frames and containers) from the
format's definition and prints them, with the values they encode, as a C++
include (profile_golden.inc).

Usage: make_profile_golden.py > profile_golden.inc
"""
import math
import struct

F32 = lambda v: struct.unpack('<f', struct.pack('<f', v))[0]


def crc32_mpeg2(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def pack_samples(samples):
    """Eight 10-bit samples, little-endian in 80 bits."""
    n = 0
    for k, s in enumerate(samples):
        n |= (s & 0x3FF) << (10 * k)
    return n.to_bytes(10, 'little')


def fit_peak(reserved, width, samples):
    """Vertex of the least-squares parabola through the log samples."""
    e, w = reserved, width
    xs = [e - w - 3, e - w - 2, e - w - 1, e - w, e, e + 1, e + 2, e + 3]
    ys = [math.log(samples[i]) for i in (0, 1, 2, 3, 7, 6, 5, 4)]
    # Normal equations for y = a + b x + c x^2, solved by Cramer's rule.
    s = [sum(x ** k for x in xs) for k in range(5)]
    t = [sum(y * x ** k for x, y in zip(xs, ys)) for k in range(3)]
    m = [[s[0], s[1], s[2]], [s[1], s[2], s[3]], [s[2], s[3], s[4]]]

    def det(a):
        return (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1])
                - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0])
                + a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]))

    d = det(m)
    mb = [[m[r][0], t[r], m[r][2]] for r in range(3)]
    mc = [[m[r][0], m[r][1], t[r]] for r in range(3)]
    b, c = det(mb) / d, det(mc) / d
    return -b / (2 * c)


class Echo:
    def __init__(self, column, echo, z=0, strength=0, width=0, res=(0, 0), samples=None):
        self.column, self.echo = column, echo
        self.z, self.strength, self.width = z, strength, width
        self.res = res
        self.samples = samples
        self.x_mm = 0.0
        self.z_mm = 0.0

    @property
    def reserved(self):
        return self.res[0] + 8 * self.res[1]

    def peak(self):
        if (self.samples is None or self.width == 0 or self.z == 0
                or min(self.samples) <= 0):
            return 0.0
        return fit_peak(self.reserved, self.width, self.samples)

    def pixel_fields(self, content, sizes=(2, 1, 1, 2)):
        """Z, strength, width, reserved as present, padded to their sizes."""
        out = b''
        fields = [
            (1, struct.pack('<H', self.z)),
            (2, bytes([self.strength >> 2])),
            (4, bytes([((self.strength & 3) << 6) | self.width])),
            (8, bytes(self.res)),
        ]
        for (bit, data), size in zip(fields, sizes):
            if content == 0 or content & bit:
                out += (data + bytes(size))[:size]
        return out


def point_data(columns, content, raw_per_echo):
    """columns: lists of Echo in mask order; samples after each echo when raw_per_echo."""
    data = b''
    for col in columns:
        for e in col:
            data += e.pixel_fields(content)
            if raw_per_echo:
                data += pack_samples(e.samples)
    return data


def interleaved_samples(per_echo):
    """Byte k of echo j at 4k + j."""
    packed = [pack_samples(s) for s in per_echo]
    return bytes(packed[j][k] for k in range(10) for j in range(4))


def legacy_frame(header, data, echo_mask, content, raw_per_echo, tail_status):
    length = 320 + len(data) + 64
    f = bytearray(length)
    f[0], f[1] = 2, 0x19
    f[2:6] = struct.pack('<I', length)
    struct.pack_into('<H', f, 6, header['pictureCounter'])
    struct.pack_into('<I', f, 12, header['encoder'])
    struct.pack_into('<H', f, 23, header['headerWord23'])
    f[62], f[63] = header['status62'], header['status63']
    struct.pack_into('<HH', f, 65, header['widthX'], header['offsetX'])
    struct.pack_into('<H', f, 99, header['stepX'])
    struct.pack_into('<H', f, 190, header['headerWord190'])
    f[192] = 0x10 if raw_per_echo else 0
    f[213] = echo_mask
    f[215] = content
    struct.pack_into('<HHH', f, 290, header['heightZ'], header['offsetZ'], header['stepZ'])
    f[320:320 + len(data)] = data
    struct.pack_into('<I', f, length - 64, header['trailer'])
    f[length - 14], f[length - 13] = tail_status
    struct.pack_into('>I', f, length - 4, crc32_mpeg2(bytes(f[:length - 4])))
    return bytes(f)


def block(tag, body_size, fields=()):
    b = bytearray(body_size)
    struct.pack_into('<II', b, 0, tag, body_size)
    for fmt, at, value in fields:
        struct.pack_into('<' + fmt, b, at, value)
    return bytes(b)


def container(blocks):
    total = 8 + sum(len(b) for b in blocks) + 12
    head = struct.pack('<II', 0x021A01FF, total) + b''.join(blocks)
    end = struct.pack('<II', 0x021AFFFF, 12)
    return head + end + struct.pack('>I', crc32_mpeg2(head + end))


def status_blocks(picture, htl, ttl, io30, io31, io34, roi_x, roi_z, htl_lines):
    general = block(0x021A0101, 52, [('H', 8, picture), ('I', 10, 777), ('I', 14, htl), ('I', 22, ttl),
                                     ('B', 30, io30), ('B', 31, io31), ('B', 34, io34)])
    static = block(0x021A0102, 60, [('H', 8, 0x5A5A), ('B', 32, 41), ('B', 33, 0xB3), ('B', 34, 0xB4),
                                    ('B', 35, 0xB5)])
    rx = block(0x021A0201, 16, [('H', 10, roi_x[0]), ('H', 12, roi_x[1]), ('H', 14, roi_x[2])])
    rz = block(0x021A0202, 16, [('H', 10, roi_z[0]), ('H', 12, roi_z[1]), ('H', 14, roi_z[2])])
    line = 5 if htl_lines else 1
    fpga = block(0x021A0402, 160, [('B', 136, line), ('B', 142, line)])
    return [general, static, rx, rz, fpga]


# ---- C++ output -------------------------------------------------------------

def hex_literal(name, data):
    text = data.hex()
    lines = ['static const char %s[] =' % name]
    for i in range(0, len(text), 96):
        lines.append('    "%s"' % text[i:i + 96])
    lines.append('    ;')
    return '\n'.join(lines)


def echo_table(name, echoes):
    lines = ['static const GoldenEcho %s[] = {' % name]
    for e in echoes:
        lines.append('    {%d, %d, %d, %d, %d, %d, %.17g, %.17g, %.17g},' % (
            e.column, e.echo, e.z, e.strength, e.width, e.reserved, e.x_mm, e.z_mm, e.peak()))
    lines.append('};')
    return '\n'.join(lines)


def main():
    out = ['// Generated by make_profile_golden.py; do not edit.']

    # Legacy frame: mask 0x01, all four fields, 3 columns.
    header = dict(pictureCounter=513, encoder=0xA1B2C3D4, headerWord23=0x1234, status62=0x11, status63=0x22,
                  widthX=4000, offsetX=10, stepX=2047, headerWord190=0xBEEF, heightZ=0, offsetZ=3000, stepZ=1,
                  trailer=0xCAFEBABE)
    cols = [[Echo(0, 0, 32 * 100 + 5, 1023, 63, (7, 1))],
            [Echo(1, 0, 0, 0, 0, (0, 0))],
            [Echo(2, 0, 65535, 513, 17, (255, 255))]]
    out.append(hex_literal('kLegacyBasicHex', legacy_frame(header, point_data(cols, 0, False), 0x01, 0, False, (0x33, 0x44))))
    out.append(echo_table('kLegacyBasicEchoes', [e for c in cols for e in c]))

    # Legacy frame: mask 0x02 (second echo only), Z and width present.
    cols = [[Echo(c, 1, 320 * (c + 1), 3 - c, 10 + c)] for c in range(4)]
    out.append(hex_literal('kLegacySecondEchoHex', legacy_frame(header, point_data(cols, 0x05, False), 0x02, 0x05, False, (0, 0))))
    out.append(echo_table('kLegacySecondEchoEchoes', [e for c in cols for e in c]))

    # Legacy frame: rawPerEcho with mask 0x1F: echoes 0 and 1, each with samples.
    sym = [20, 90, 300, 700, 20, 90, 300, 700]      # s0..3 mirror s4..7: vertex at e - w/2
    skew = [50, 200, 600, 900, 30, 100, 400, 800]
    cols = [[Echo(0, 0, 3200, 400, 4, (12, 0), sym), Echo(0, 1, 6400, 500, 6, (20, 1), skew)],
            [Echo(1, 0, 3232, 404, 2, (9, 0), [1] + sym[1:]), Echo(1, 1, 6432, 504, 0, (3, 0), skew)]]
    out.append(hex_literal('kLegacyRawPerEchoHex', legacy_frame(header, point_data(cols, 0, True), 0x1F, 0, True, (0, 0))))
    out.append(echo_table('kLegacyRawPerEchoEchoes', [e for c in cols for e in c]))

    # Legacy frame: echo 0 plus 40 interleaved sample bytes per column.
    zero_samples = [0] * 8
    interleaved = [[skew, sym, zero_samples, [5] * 8], [sym, skew, skew, skew]]
    cols = [[Echo(c, 0, 1600 * (c + 1), 100 + c, 3, (15, 0), interleaved[c][0])] for c in range(2)]
    data = b''.join(col[0].pixel_fields(0) + interleaved_samples(interleaved[c]) for c, col in enumerate(cols))
    data_frame = legacy_frame(header, data, 0x11, 0, False, (0, 0))
    out.append(hex_literal('kLegacyInterleavedHex', bytes(data_frame)))
    out.append(echo_table('kLegacyInterleavedEchoes', [e for c in cols for e in c]))
    samples_lines = ['static const int kLegacyInterleavedSamples[2][4][8] = {']
    for c in interleaved:
        samples_lines.append('    {' + ', '.join('{' + ', '.join(map(str, s)) + '}' for s in c) + '},')
    samples_lines.append('};')
    out.append('\n'.join(samples_lines))

    # Pixel profile container: 4 columns, mask 0x01, all fields (sizes 16, 8, 8, 16 bits).
    cols = [Echo(c, 0, 3200 + 48 * c, 200 + 100 * c, 5, (c, 1)) for c in range(4)]
    data = b''.join(e.pixel_fields(0) for e in cols)
    prof = bytearray(block(0x021A0601, 20 + len(data)))
    prof[10], prof[11], prof[12] = 0x01, 0x00, 0x00
    prof[13:18] = bytes([16, 8, 8, 16, 80])
    prof[20:] = data
    blocks = status_blocks(4242, 0x11111111, 0x22222222, 0x22, 0x20, 0x0A, (100, 4, 1), (50, 600, 0), True)
    out.append(hex_literal('kPixelContainerHex', container(blocks + [bytes(prof)])))
    out.append(echo_table('kPixelContainerEchoes', cols))

    # Linearized profile containers: 5 columns, one echo, Z, strength+width, X, with a scale block.
    xs, xo, zs, zo = 0.01, -30.0, 0.005, 100.0
    cols = [Echo(c, 0, 1000 * c + 7, 1023 - 200 * c, 3 * c) for c in range(5)]
    raw_x = [0, 1500, 3000, 4500, 6000]
    for e, x in zip(cols, raw_x):
        e.x_mm = F32(xs) * x + F32(xo)
        e.z_mm = F32(zs) * e.z + F32(zo)
    scale = block(0x021A0801, 32, [('f', 8, xs), ('f', 12, xo), ('f', 16, zs), ('f', 20, zo)])
    for name, swap in (('kLinearizedContainerHex', False), ('kLinearizedSwappedHex', True)):
        elems = b''
        for e, x in zip(cols, raw_x):
            if swap:
                sw = (e.strength >> 2) | (e.width << 8) | ((e.strength & 3) << 14)
            else:
                sw = (e.strength << 6) | e.width
            elems += struct.pack('<HHH', e.z, sw, x)
        lin = bytearray(block(0x021A0602, 56 + len(elems)))
        struct.pack_into('<I', lin, 16, len(cols))
        lin[20] = 1
        lin[28], lin[32], lin[36], lin[40] = 2, 4, 5, 1
        struct.pack_into('<I', lin, 52, len(elems) + 8)
        lin[56:] = elems
        blocks = status_blocks(7, 0x33333333, 0x44444444, 0, 0, 0, (0, 5, 0), (0, 0, 0), False)
        out.append(hex_literal(name, container(blocks + [scale, bytes(lin)])))
    out.append(echo_table('kLinearizedEchoes', cols))

    # Raw samples: 10 bytes and the 8 values they hold.
    vec = [0x3FF, 0, 0x155, 0x2AA, 1, 512, 1000, 3]
    out.append(hex_literal('kPackedSamplesHex', pack_samples(vec)))
    out.append('static const int kPackedSamples[8] = {%s};' % ', '.join(map(str, vec)))
    print('\n\n'.join(out))


if __name__ == '__main__':
    main()
