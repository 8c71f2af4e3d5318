#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora from the tests' independent frame builders."""
import os
import struct
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, 'tests', 'scanner_client', 'stream'))
sys.path.insert(0, os.path.join(root, 'tests', 'scanner_client', 'lin'))

import golden_frames as gf  # noqa: E402
import make_lin1dd_golden as lg  # noqa: E402


def write(directory, name, data):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), 'wb') as f:
        f.write(data)


def main(out):
    lin_image = lg.image()
    lin_frame = b'\x07\x19' + (len(lin_image) + 10).to_bytes(4, 'little') + lin_image
    lin_frame += lg.crc32_mpeg2(lin_frame).to_bytes(4, 'big')
    profiles = [gf.profile_container(n, 1000 * n) for n in range(3)]
    frames = {
        'profile': profiles[0],
        'image': gf.image_container(1, 10),
        'status': gf.status_container(),
        'legacy': gf.legacy_frame(2, 400, 5, 7),
    }
    stream = os.path.join(out, 'fuzz_stream_parser')
    # The first byte of a stream seed picks the chunk size.
    write(stream, 'lin_then_profiles', b'\x10' + lin_frame + b''.join(profiles))
    write(stream, 'garbage_then_profile', b'\x03' + b'\x02\x19\xff\xff\xff\x00' * 4 + profiles[1])
    for name, data in frames.items():
        write(stream, name, b'\x40' + data)
        write(os.path.join(out, 'fuzz_container_decoder'), name, data)
    write(os.path.join(out, 'fuzz_lin1dd'), 'analytic', lin_image)

    # GVCP commands: key 0x42, flags (ack wanted), command, length, request id, payload.
    def gvcp(command, payload, flags=0x01, req=1):
        return struct.pack('>BBHHH', 0x42, flags, command, len(payload), req) + payload
    requests = {
        'discovery': gvcp(0x0002, b'', flags=0x11),
        'readreg': gvcp(0x0080, struct.pack('>III', 0x0000, 0x0934, 0x0A00)),
        'writereg_ccp': gvcp(0x0082, struct.pack('>II', 0x0A00, 2)),
        'readmem': gvcp(0x0084, struct.pack('>IHH', 0x0048, 0, 64)),
        'writemem': gvcp(0x0086, struct.pack('>I', 0x0200) + b'abcd'),
        'packetresend': gvcp(0x0040, struct.pack('>HHII', 0, 1, 1, 3)),
        'action': gvcp(0x0100, struct.pack('>III', 0, 1, 1)),
        'forceip': gvcp(0x0004, bytes(56)),
    }
    for name, data in requests.items():
        write(os.path.join(out, 'fuzz_gvcp'), name, data)


if __name__ == '__main__':
    main(sys.argv[1])
