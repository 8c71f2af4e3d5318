#!/usr/bin/python3
"""Golden byte vectors of the scanner protocol, built with struct alone.

Written apart from the C++ encoders so that both cannot share one mistake.
  golden_vectors.py              print "name hex" lines
  golden_vectors.py --check EXE  run EXE (it prints the same lines from the C++ encoders) and compare
"""
import math
import struct
import subprocess
import sys


def crc32_mpeg2(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else (crc << 1)
            crc &= 0xFFFFFFFF
    return crc


def container(blocks, magic=0x021A01FF):
    """blocks: list of (tag, body); the end block with the CRC is added."""
    body = b"".join(struct.pack("<II", tag, 8 + len(b)) + b for tag, b in blocks)
    total = 8 + len(body) + 12
    head = struct.pack("<II", magic, total) + body + struct.pack("<II", 0x021AFFFF, 12)
    return head + struct.pack(">I", crc32_mpeg2(head))


def xml_container(text):
    return container([(0x021A0103, text.encode() + b"\0")])


def lin1dd_image(serial, zs, zr, xs, xe, w, h, n=1):
    f32 = lambda v: struct.unpack("<i", struct.pack("<f", v))[0]
    params = [f32(zs), f32(zr), f32(xs), f32(xe), 0, w, h, 0, 0, 0, 0]

    def table(a00, a10, a01, a11):
        # n x n cells over evenly spaced axes; cell (i, j) holds a00 + a10 u + a01 v + a11 u v
        # re-expanded in du = u - U[i], dv = v - V[j]; cells of the last axis values stay 0.
        us = [w * i / n for i in range(n + 1)]
        vs = [h * j / n for j in range(n + 1)]
        cells = [0.0] * 16 * (n + 1) * (n + 1)
        for i in range(n):
            for j in range(n):
                u, v = us[i], vs[j]
                base = (i * (n + 1) + j) * 16
                cells[base + 0] = a00 + a10 * u + a01 * v + a11 * u * v
                cells[base + 4] = a10 + a11 * v  # du
                cells[base + 1] = a01 + a11 * u  # dv
                cells[base + 5] = a11  # du dv
        return (struct.pack("<II", n, n) + struct.pack(f"<{n + 1}d", *us) + struct.pack(f"<{n + 1}d", *vs) +
                struct.pack(f"<{len(cells)}d", *cells))

    k = (xe - xs) / h
    x_table = table(-xs / 2, xs / w, -k / 2, k / w)
    z_table = table(zs, 0.0, zr / h, 0.0)
    records = [(1, struct.pack("<Q", serial)), (2, struct.pack("<11i", *params)), (3, x_table + z_table)]
    return b"LIN1DD\0\0" + b"".join(struct.pack("<II", t, len(b)) + b for t, b in records)


def type7_frame(image):
    length = len(image) + 10
    head = struct.pack("<BBI", 7, 0x19, length) + image
    return head + struct.pack(">I", crc32_mpeg2(head))


# Values of the status-only golden case (the C++ side fills the same fields).
STATUS = dict(
    picture_counter=0x1234, time_stamp=0x89ABCDEF, encoder_htl=1000, encoder_ttl=2000, io_state=0b1010,
    io_high=0x9, user_io_counter=77, exposure=0x123456,
    header_word23=5, cpu_fifo=11, fpga_fifo=12, temperature=41, status33=1, status34=2, status35=3,
    ethernet_bw=900, dma_bw=800, statistic_user=0xBEEF,
    roi_x=(16, 1024, 0), roi_z=(32, 512, 1),
    laser_active=1, trigger_source=-1, trigger_amount=10, camera_running=1,
    line_time=1000, trigger_delay=7, sync_out_delay=300, sync_out=200, signal_enable=3,
    content=(1, 1, 0, 1), trigger_encoder_step=4, signal_selection=2, width_min=3, width_max=40,
    amount_profiles_y=100, strength_min=15, count_direction=1, encoder_trigger_function=4,
    io_lines=[
        # function, laseroff, profileenable, resetcounter, inputfunction, inputload, output, outputfunction,
        # repeat, signaledge, basetime, picture, htl, ttl
        (5, 1, 0, 1, 1, 0, 1, 0, 2, 1, 1, 0, 1, 0),
        (5, 0, 1, 0, 0, 1, 2, 1, 1, 2, 0, 1, 0, 1),
        (3, 0, 0, 0, 1, 1, 3, 0, 0, 0, 0, 0, 0, 0),
        (4, 1, 1, 1, 0, 0, 1, 1, 3, 3, 1, 1, 1, 1),
    ],
)


def u24(value):
    return struct.pack("<I", value)[:3]


def status_blocks(s, series_b=True):
    g = bytearray(52)
    io = s["io_state"]
    struct.pack_into("<HIIxxxxI", g, 8, s["picture_counter"], s["time_stamp"], s["encoder_htl"], s["encoder_ttl"])
    g[30] = ((io >> 0 & 1) << 1) | ((io >> 1 & 1) << 5)
    g[31] = ((io >> 2 & 1) << 1) | ((io >> 3 & 1) << 5)
    g[34] = s["io_high"] & 0x0F
    struct.pack_into("<II", g, 43, s["user_io_counter"], s["exposure"] & 0xFFFFFF)

    st = bytearray(60)
    struct.pack_into("<H", st, 8, s["header_word23"])
    struct.pack_into("<II", st, 12, s["cpu_fifo"], s["fpga_fifo"])
    st[32:36] = bytes([s["temperature"], s["status33"], s["status34"], s["status35"]])
    struct.pack_into("<HH", st, 46, s["ethernet_bw"], s["dma_bw"])
    struct.pack_into("<H", st, 53, s["statistic_user"])

    rx = bytearray(16)
    struct.pack_into("<HHH", rx, 10, *s["roi_x"])
    rz = bytearray(16)
    struct.pack_into("<HHH", rz, 10, *s["roi_z"])

    f = bytearray(160)
    f[8] = 0x40 if s["laser_active"] else 0
    if s["trigger_source"] == -1:
        trigger = (s["trigger_amount"] & 0x7F) | 0x08
    else:
        trigger = s["trigger_source"] & 0x7F
    f[9] = trigger | (0x80 if s["camera_running"] else 0)
    f[10:13] = u24(s["line_time"])
    f[13:16] = u24(s["trigger_delay"])
    f[22:25] = u24(s["sync_out_delay"])
    f[25:28] = u24(s["sync_out"])
    f[29] = s["signal_enable"]
    f[31] = sum(bit << i for i, bit in enumerate(s["content"]))
    struct.pack_into("<H", f, 36, s["trigger_encoder_step"])
    f[47:50] = bytes([s["signal_selection"], s["width_min"], s["width_max"]])
    struct.pack_into("<H", f, 52, s["amount_profiles_y"])
    struct.pack_into("<H", f, 67, s["strength_min"])
    function = s["encoder_trigger_function"]
    variant = function <= 2  # 0..2 are sent with bit 2 set, 3 and 4 as 0 and 1 without it
    f[71] = (s["count_direction"] & 1) | (0x04 if variant else 0)
    f[72] = function if variant else function - 3
    for n, line in enumerate(s["io_lines"]):
        (function_, laseroff, profileenable, resetcounter, inputfunction, inputload, output, outputfunction,
         repeat, signaledge, basetime, picture, htl, ttl) = line
        at = 136 + 6 * n
        f[at] = function_
        f[at + 1] = laseroff | profileenable << 1 | resetcounter << 2
        f[at + 2] = (output & 0x7F) | outputfunction << 7
        f[at + 3] = inputfunction << 1 | inputload << 2
        f[at + 4] = basetime | picture << 1 | htl << 2 | ttl << 3
        f[at + 5] = (repeat & 3) | (signaledge & 3) << 2
    fpga_tag = 0x021A0402 if series_b else 0x021A0401
    return [(0x021A0101, bytes(g[8:])), (0x021A0102, bytes(st[8:])), (0x021A0201, bytes(rx[8:])),
            (0x021A0202, bytes(rz[8:])), (fpga_tag, bytes(f[8:]))]


# Profile containers. The surface of profile n, column c of `columns`, echo e, sensor W x H:
#   zRaw = floor(32 (H/2 + H/4 sin(2 pi (c/W + (n mod 100)/100))) + 1/2) + 2 H e
#   strength = (4c + n + 256e) mod 1024, width = 5 + e, reserved = c mod 256
#   no point (all 0) in columns [columns * 3 // 4, that + max(1, columns // 64))
W, H = 2048, 1088
GEOMETRY = dict(zs=100.0, zr=200.0, xs=60.0, xe=120.0)
SCALE = (1.0 / 256, -128.0, 1.0 / 64, 0.0)  # X scale, X offset, Z scale, Z offset (all exact in f32)


def surface(columns, c, n, e):
    start = columns * 3 // 4
    if start <= c < start + max(1, columns // 64):
        return 0, 0, 0, 0
    row = H / 2 + H / 4 * math.sin(2 * math.pi * (c / W + (n % 100) / 100))
    z = min(max(math.floor(32 * row + 0.5) + 2 * H * e, 0), 65535)
    return int(z), (4 * c + n + 256 * e) % 1024, 5 + e, c % 256


def present(content):
    return content if any(content) else (1, 1, 1, 1)


def pixel_block(columns, signal_enable, content):
    z, s, w, r = present(content)
    flags = sum(bit << i for i, bit in enumerate(content))
    mask = signal_enable & 0x0F
    echoes = [e for e in range(4) if mask >> e & 1]
    return lambda n: _pixel(columns, mask, echoes, flags, (z, s, w, r), n)


def _pixel(columns, mask, echoes, flags, fields, n):
    z, s, w, r = fields
    data = bytearray()
    for c in range(columns):
        for e in echoes:
            zraw, strength, width, reserved = surface(columns, c, n, e)
            if z:
                data += struct.pack("<H", zraw)
            if s:
                data.append(strength >> 2)
            if w:
                data.append(((strength & 3) << 6 if s else 0) | width)
            if r:
                data += struct.pack("<H", reserved)
    head = bytes([0, 0, mask, 0, flags, 16, 8, 8, 16, 80, 0, 0])  # +8 .. +19
    return (0x021A0601, head + bytes(data))


def to_raw(mm, offset, scale):
    return int(min(max(math.floor((mm - offset) / scale + 0.5), 0), 65535))


def linearized_blocks(columns, offset_x, step_x, offset_z, step_z, content, swapped, n):
    _, s, w, _ = present(content)
    xscale, xoffset, zscale, zoffset = SCALE
    g = GEOMETRY
    k = (g["xe"] - g["xs"]) / H
    elements = bytearray()
    for c in range(columns):
        zraw, strength, width, _ = surface(columns, c, n, 0)
        if zraw:
            u = c * (step_x + 1) + offset_x
            v = (step_z + 1) * (zraw / 32) + offset_z
            x_mm, z_mm = (u / W - 0.5) * (g["xs"] + k * v), g["zs"] + g["zr"] * v / H
        else:
            x_mm = z_mm = 0.0
        elements += struct.pack("<H", to_raw(z_mm, zoffset, zscale))
        if s and w:
            packed = ((strength >> 2) | width << 8 | (strength & 3) << 14) if swapped else (strength << 6 | width)
            elements += struct.pack("<H", packed)
        elif s:
            elements.append(strength >> 2)
        elif w:
            elements.append(width)
        elements += struct.pack("<H", to_raw(x_mm, xoffset, xscale))
    element_size = 2 + (2 if s and w else 1 if s or w else 0) + 2
    body = bytearray(48)  # +8 .. +55
    struct.pack_into("<I", body, 16 - 8, columns)
    body[20 - 8] = 1
    codes = [2] + ([4] if s else []) + ([5] if w else []) + [1]
    for i, code in enumerate(codes):
        body[28 - 8 + 4 * i] = code
    struct.pack_into("<I", body, 52 - 8, columns * element_size + 8)
    scale = struct.pack("<4f", *SCALE) + bytes(8)
    return [(0x021A0801, scale), (0x021A0602, bytes(body) + bytes(elements))]


# name, ROI X (offset, width, step), signal enable, content bits (Z, strength, width, reserved),
# linearized, swapped strength/width, profile number; with the status values above.
PROFILES = [
    ("profile_pixel", (0, 2048, 0), 1, (1, 1, 1, 0), False, False, 7),
    ("profile_two_echoes", (16, 100, 1), 3, (1, 0, 1, 1), False, False, 123),
    ("profile_all_fields_echo1", (8, 40, 0), 2, (0, 0, 0, 0), False, False, 99),
    ("profile_linearized", (1000, 64, 0), 1, (1, 1, 1, 0), True, False, 42),
    ("profile_linearized_swapped", (0, 16, 2), 3, (1, 1, 1, 1), True, True, 250),
    ("profile_linearized_strength_only", (500, 20, 0), 1, (1, 1, 0, 0), True, False, 3),
]
COUNTERS = dict(picture_counter=0x1234, time_stamp=0x89ABCDEF, encoder_htl=1000, encoder_ttl=2000)


def profile_container(case):
    _, roi_x, signal_enable, content, linearized, swapped, n = case
    s = dict(STATUS, roi_x=roi_x, signal_enable=signal_enable, content=content, **COUNTERS)
    blocks = status_blocks(s)
    columns = min(roi_x[1], 2048)
    if linearized:
        offset_z, _, step_z = s["roi_z"]
        blocks += linearized_blocks(columns, roi_x[0], roi_x[2], offset_z, step_z, content, swapped, n)
    else:
        blocks.append(pixel_block(columns, signal_enable, content)(n))
    return container(blocks)


def legacy_frame(frame_type, roi_x, signal_enable, content, n):
    """Legacy profile frame: 320-byte header, the pixel layout's point data, 64-byte tail, CRC."""
    s = dict(STATUS, **COUNTERS)
    columns = min(roi_x[1], 2048)
    _, data = pixel_block(columns, signal_enable, content)(n)
    data = data[12:]  # the block's +20.. without the header
    length = 320 + len(data) + 64
    h = bytearray(320)
    h[0], h[1] = frame_type, 0x19
    h[2:5] = u24(length)
    struct.pack_into("<HI", h, 6, s["picture_counter"], s["time_stamp"])
    htl = s["io_lines"][0][0] == 5 and s["io_lines"][1][0] == 5
    struct.pack_into("<I", h, 12, s["encoder_htl"] if htl else s["encoder_ttl"])
    struct.pack_into("<H", h, 23, s["header_word23"])
    h[62], h[63] = s["status34"], s["status33"]
    struct.pack_into("<HH", h, 65, roi_x[1], roi_x[0])
    struct.pack_into("<H", h, 99, roi_x[2])
    h[213] = signal_enable & 0x0F
    h[215] = sum(bit << i for i, bit in enumerate(content))
    struct.pack_into("<HHH", h, 290, s["roi_z"][1], s["roi_z"][0], s["roi_z"][2])
    tail = bytearray(60)
    tail[64 - 14] = s["temperature"]
    tail[64 - 13] = s["status35"]
    frame = bytes(h) + data + bytes(tail)
    return frame + struct.pack(">I", crc32_mpeg2(frame))


LEGACY = [
    ("legacy_type2", 2, (4, 30, 0), 1, (1, 1, 1, 0), 11),
    ("legacy_type3_all_fields", 3, (0, 10, 1), 3, (0, 0, 0, 0), 60),
]


def vectors():
    lin = type7_frame(lin1dd_image(12345678, 100.0, 200.0, 60.0, 120.0, 2048, 1088))
    table = {
        "crc_check": struct.pack(">I", crc32_mpeg2(b"123456789")),
        "empty_container": container([]),
        "xml_device": xml_container("<device/>"),
        "sync_container": container([], magic=0x021A0100),
        "lin1dd_frame": lin,
        "status_container": container(status_blocks(STATUS)),
        "lin1dd_frame_8x8": type7_frame(lin1dd_image(12345678, 100.0, 200.0, 60.0, 120.0, 2048, 1088, n=8)),
    }
    for case in PROFILES:
        table[case[0]] = profile_container(case)
    for name, frame_type, roi_x, signal_enable, content, n in LEGACY:
        table[name] = legacy_frame(frame_type, roi_x, signal_enable, content, n)
    return table


# Values stated with the protocol; the script's own encoders must reproduce them.
KNOWN = {
    "crc_check": "0376e6e7",
    "empty_container": "ff011a0214000000ffff1a020c000000264f14d8",
    "xml_device": "ff011a022600000003011a02120000003c6465766963652f3e00ffff1a020c000000ae8167b3",
    "sync_container": "00011a0214000000ffff1a020c000000cdd39a68",
}


def self_check(table):
    errors = []
    for name, want in KNOWN.items():
        if table[name].hex() != want:
            errors.append(f"{name}: {table[name].hex()} != {want}")
    lin = table["lin1dd_frame"]
    if len(lin) != 1198 or lin[:6].hex() != "0719ae040000" or lin[-4:].hex() != "61ee1027":
        errors.append(f"lin1dd_frame: length {len(lin)}, head {lin[:6].hex()}, crc {lin[-4:].hex()}")
    if len(table["status_container"]) != 8 + 52 + 60 + 16 + 16 + 160 + 12:
        errors.append("status_container: wrong length")
    if len(table["profile_pixel"]) != 8536:  # 2048 columns of Z, strength and width
        errors.append(f"profile_pixel: length {len(table['profile_pixel'])} != 8536")
    if len(table["lin1dd_frame_8x8"]) != 1198 - 2 * (4 * 8 + 4 * 128) + 2 * (18 * 8 + 81 * 128):
        errors.append("lin1dd_frame_8x8: wrong length")
    return errors


def main(argv):
    table = vectors()
    errors = self_check(table)
    if len(argv) == 3 and argv[1] == "--check":
        out = subprocess.run([argv[2]], check=True, capture_output=True, text=True).stdout
        theirs = dict(line.split(" ", 1) for line in out.splitlines() if line)
        for name, value in table.items():
            got = theirs.get(name, "<missing>").strip()
            if got != value.hex():
                errors.append(f"C++ {name} differs:\n  C++    {got}\n  python {value.hex()}")
        for name in theirs.keys() - table.keys():
            errors.append(f"C++ prints an unknown vector {name}")
    elif len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    else:
        for name, value in table.items():
            print(name, value.hex())
    for e in errors:
        print("golden_vectors:", e, file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
