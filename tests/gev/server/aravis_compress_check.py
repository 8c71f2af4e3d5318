#!/usr/bin/python3
"""Aravis as the control client of compress_host, with a GVSP receiver of our own.

Aravis (0.8.26) ignores JPEG leaders, so its stream cannot hand out JPEG
payloads: Aravis connects, points the stream channel at a UDP socket here and
starts the acquisition; this script reassembles the blocks.
jpeg: COUNT blocks arrive complete as JPEG blocks (payload type 0x0006, leader
pixel format of the source, data size a multiple of 16 and within the payload
size) and decode (TurboJPEG, through ctypes) to the host's test image with a
PSNR of at least 35 dB.
h264: H.264 blocks (payload type 0x0008) arrive for SECONDS, their payload
packets in the H.264 format (the capture is judged by tshark).
usage: aravis_compress_check.py ADDRESS jpeg mono8|rgb8 W H COUNT
       aravis_compress_check.py ADDRESS h264 SECONDS
"""
import ctypes
import math
import socket
import struct
import sys
import time

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402

TJPF_RGB, TJPF_GRAY = 0, 6
PFNC = {"mono8": 0x01080001, "rgb8": 0x02180014}


def gradient(mono, w, h):
    out = bytearray()
    for y in range(h):
        for x in range(w):
            if mono:
                out.append(x * 200 // w + y * 50 // h)
            else:
                out += bytes((x * 250 // w, y * 250 // h, 128 + x * 60 // w - y * 60 // h))
    return bytes(out)


def decode(data, mono):
    tj = ctypes.CDLL("libturbojpeg.so.0")
    tj.tjInitDecompress.restype = ctypes.c_void_p
    handle = ctypes.c_void_p(tj.tjInitDecompress())
    w, h, sub, space = ctypes.c_int(), ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    src = ctypes.create_string_buffer(data, len(data))
    try:
        if tj.tjDecompressHeader3(handle, src, ctypes.c_ulong(len(data)), ctypes.byref(w), ctypes.byref(h),
                                  ctypes.byref(sub), ctypes.byref(space)) != 0:
            return None, 0, 0
        out = ctypes.create_string_buffer(w.value * h.value * (1 if mono else 3))
        if tj.tjDecompress2(handle, src, ctypes.c_ulong(len(data)), out, w, 0, h,
                            TJPF_GRAY if mono else TJPF_RGB, 0) != 0:
            return None, 0, 0
        return out.raw, w.value, h.value
    finally:
        tj.tjDestroy(handle)


def psnr(a, b):
    se = sum((x - y) * (x - y) for x, y in zip(a, b))
    return 99.0 if se == 0 else 10 * math.log10(255.0 * 255.0 * len(a) / se)


class Block:
    def __init__(self):
        self.payload_type = None
        self.pixel_format = None
        self.data_size = None
        self.pieces = {}
        self.formats = set()
        self.trailer_id = None

    def complete(self):
        return (self.payload_type is not None and self.trailer_id is not None and
                all(i in self.pieces for i in range(1, self.trailer_id)))

    def data(self):
        return b"".join(self.pieces[i] for i in range(1, self.trailer_id))


def add(blocks, packet):
    """Extended-id GVSP packets: 20-byte header, H.264 payload packets with an 8-byte timestamp."""
    if len(packet) < 20 or not packet[4] & 0x80:
        raise ValueError("not an extended-id GVSP packet")
    fmt = packet[4] & 0x7F
    block_id, packet_id = struct.unpack(">QI", packet[8:20])
    b = blocks.setdefault(block_id, Block())
    body = packet[20:]
    if fmt == 1:
        b.payload_type = struct.unpack(">H", body[2:4])[0]
        b.data_size = struct.unpack(">Q", body[4:12] if b.payload_type == 8 else body[12:20])[0]
        if b.payload_type == 6:
            b.pixel_format = struct.unpack(">I", body[28:32])[0]
    elif fmt == 2:
        b.trailer_id = packet_id
    else:
        b.formats.add(fmt)
        b.pieces[packet_id] = body[8:] if fmt == 5 else body
    return block_id


def main():
    address, kind = sys.argv[1], sys.argv[2]
    camera = Aravis.Camera.new(address)
    device = camera.get_device()
    rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rx.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
    rx.bind(("127.0.0.1", 0))
    rx.settimeout(5.0)
    payload = camera.get_payload()
    device.write_register(0x0D18, 0x7F000001)
    device.write_register(0x0D00, rx.getsockname()[1])
    camera.start_acquisition()
    blocks = {}
    try:
        if kind == "h264":
            end = time.monotonic() + float(sys.argv[3])
            while time.monotonic() < end:
                add(blocks, rx.recv(70000))
            done = [b for b in blocks.values() if b.complete()]
            if not done or any(b.payload_type != 8 or b.formats != {5} for b in done):
                print("FAIL: %d complete H.264 blocks" % len(done))
                return 1
            print("%d H.264 blocks" % len(done))
            return 0
        mono = sys.argv[3] == "mono8"
        w, h, count = int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
        expected = gradient(mono, w, h)
        checked = 0
        quality = 0.0
        while checked < count:
            block_id = add(blocks, rx.recv(70000))
            b = blocks[block_id]
            if not b.complete():
                continue
            del blocks[block_id]
            data = b.data()
            if b.payload_type != 6 or b.pixel_format != PFNC[sys.argv[3]] or b.formats != {3}:
                print("FAIL: block %d: payload type %s, pixel format %s" % (block_id, b.payload_type,
                                                                            b.pixel_format))
                return 1
            if b.data_size != len(data) or len(data) % 16 != 0 or len(data) > payload:
                print("FAIL: block %d of %d bytes, leader %s (payload size %d)" % (block_id, len(data),
                                                                                 b.data_size, payload))
                return 1
            image, dw, dh = decode(data, mono)
            if image is None or (dw, dh) != (w, h):
                print("FAIL: block %d does not decode to %dx%d" % (block_id, w, h))
                return 1
            quality = psnr(image, expected)
            if quality < 35.0:
                print("FAIL: block %d PSNR %.1f dB" % (block_id, quality))
                return 1
            checked += 1
        print("%d JPEG blocks (payload size %d) decoded, PSNR %.1f dB" % (count, payload, quality))
        return 0
    except socket.timeout:
        print("FAIL: no packet for 5 s")
        return 1
    finally:
        camera.stop_acquisition()


if __name__ == "__main__":
    sys.exit(main())
