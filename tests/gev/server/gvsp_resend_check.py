"""Checks the GVSP packets of a capture taken before any loss: groups them by
(block id, packet id) and requires that some were sent more than once and that
every repeated copy is byte-identical to the first one. Prints the stream's
destination port on its last line ("port N") for a dissector.

usage: gvsp_resend_check.py CAPTURE.pcap SOURCE_ADDRESS
"""
import socket
import struct
import sys

GVCP_PORT = 3956
# Link types of a capture on lo: Ethernet, Linux cooked v1 and v2, BSD loopback.
LINK_HEADER = {1: 14, 113: 16, 276: 20, 0: 4}


def fail(text):
    print("FAIL: " + text)
    sys.exit(1)


def datagrams(path):
    """(source address, source port, destination port, UDP payload) of each IPv4 UDP packet."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 24:
        fail("capture too short")
    magic = data[:4]
    if magic in (b"\xd4\xc3\xb2\xa1", b"\x4d\x3c\xb2\xa1"):
        endian = "<"
    elif magic in (b"\xa1\xb2\xc3\xd4", b"\xa1\xb2\x3c\x4d"):
        endian = ">"
    else:
        fail("not a pcap file (pcapng is not read)")
    link = struct.unpack(endian + "I", data[20:24])[0]
    if link not in LINK_HEADER:
        fail("link type %d not handled" % link)
    skip = LINK_HEADER[link]
    at = 24
    while at + 16 <= len(data):
        incl, orig = struct.unpack(endian + "II", data[at + 8:at + 16])
        frame = data[at + 16:at + 16 + incl]
        at += 16 + incl
        if incl != orig:
            fail("packet cut in the capture (%d of %d bytes)" % (incl, orig))
        ip = frame[skip:]
        if len(ip) < 20 or ip[0] >> 4 != 4 or ip[9] != 17:
            continue
        ihl = (ip[0] & 0x0F) * 4
        total = struct.unpack(">H", ip[2:4])[0]
        if struct.unpack(">H", ip[6:8])[0] & 0x3FFF:
            fail("fragmented datagram in the capture")
        udp = ip[ihl:total]
        if len(udp) < 8:
            continue
        sport, dport, length = struct.unpack(">HHH", udp[:6])
        yield socket.inet_ntoa(ip[12:16]), sport, dport, udp[8:length]


def gvsp_key(payload):
    """(block id, packet id) of a GVSP packet, None for a test packet or a runt."""
    if len(payload) < 8 or payload[:8] == b"\0" * 8:
        return None
    if payload[4] & 0x80:  # extended ids
        if len(payload) < 20:
            return None
        return struct.unpack(">Q", payload[8:16])[0], struct.unpack(">I", payload[16:20])[0]
    return struct.unpack(">H", payload[2:4])[0], int.from_bytes(payload[5:8], "big")


def main():
    path, source = sys.argv[1:3]
    first = {}
    copies = {}
    ports = set()
    total = 0
    for address, sport, dport, payload in datagrams(path):
        if address != source or GVCP_PORT in (sport, dport):
            continue
        key = gvsp_key(payload)
        if key is None:
            continue
        total += 1
        ports.add(dport)
        if key not in first:
            first[key] = payload
            copies[key] = 1
            continue
        copies[key] += 1
        if payload != first[key]:
            fail("block %d packet %d: copy %d differs from the first (%d vs %d bytes)"
                 % (key[0], key[1], copies[key], len(payload), len(first[key])))
    if not first:
        fail("no GVSP packet in the capture")
    if len(ports) != 1:
        fail("GVSP packets to %d ports" % len(ports))
    repeated = sum(1 for n in copies.values() if n > 1)
    extra = total - len(first)
    blocks = len({k[0] for k in first})
    print("%d GVSP packets, %d distinct in %d blocks, %d sent again (%d extra copies), all identical"
          % (total, len(first), blocks, repeated, extra))
    if repeated == 0:
        fail("no packet was sent more than once")
    # Each packet seen twice would mean the capture counts both directions.
    if repeated * 2 > len(first):
        fail("more than half of the packets repeated: the capture is doubled")
    print("port %d" % ports.pop())


if __name__ == "__main__":
    main()
