#!/usr/bin/python3
"""A small GVCP client for FORCEIP: sends one FORCEIP_CMD and prints what comes back.

usage: gvcp_forceip.py BIND_IP DEST MAC IP MASK GATEWAY [--no-ack] [--id N] [--wait S] [--linger S]

MAC as six hexadecimal groups separated by ':' or '-'; DEST may be a broadcast
address. Prints "ack STATUS from ADDRESS" (STATUS as 0x%04x) for each
acknowledge with the request id received within the wait (which ends LINGER
seconds after the first acknowledge), or "no ack" when there was none. Exits 2
on a malformed acknowledge.
"""
import argparse
import socket
import struct
import sys
import time

FORCEIP_CMD = 0x0004
FORCEIP_ACK = 0x0005


def forceip_packet(mac, ip, mask, gateway, request_id, ack):
    payload = bytearray(56)
    struct.pack_into('>HI', payload, 2, mac >> 32, mac & 0xFFFFFFFF)
    payload[20:24] = socket.inet_aton(ip)
    payload[36:40] = socket.inet_aton(mask)
    payload[52:56] = socket.inet_aton(gateway)
    flags = 0x01 if ack else 0x00
    return struct.pack('>BBHHH', 0x42, flags, FORCEIP_CMD, len(payload), request_id) + bytes(payload)


def main(argv):
    parser = argparse.ArgumentParser(description='Sends one FORCEIP_CMD.')
    for name in ('bind_ip', 'dest', 'mac', 'ip', 'mask', 'gateway'):
        parser.add_argument(name)
    parser.add_argument('--no-ack', action='store_true')
    parser.add_argument('--id', type=int, default=1)
    parser.add_argument('--wait', type=float, default=3.0)
    parser.add_argument('--linger', type=float, default=0.5)
    a = parser.parse_args(argv)
    mac = int(a.mac.replace(':', '').replace('-', ''), 16)
    request_id = a.id

    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind((a.bind_ip, 0))
    s.sendto(forceip_packet(mac, a.ip, a.mask, a.gateway, request_id, not a.no_ack), (a.dest, 3956))
    deadline = time.monotonic() + a.wait
    acks = 0
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        s.settimeout(left)
        try:
            data, sender = s.recvfrom(1024)
        except socket.timeout:
            break
        if len(data) != 8:
            print('malformed acknowledge of %d bytes from %s' % (len(data), sender[0]))
            return 2
        status, answer, length, ack_id = struct.unpack('>HHHH', data)
        if ack_id != request_id:
            continue
        if answer != FORCEIP_ACK or length != 0:
            print('malformed acknowledge %s from %s' % (data.hex(), sender[0]))
            return 2
        print('ack 0x%04x from %s' % (status, sender[0]))
        sys.stdout.flush()
        acks += 1
        deadline = min(deadline, time.monotonic() + a.linger)
    if acks == 0:
        print('no ack')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
