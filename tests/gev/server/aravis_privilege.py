#!/usr/bin/python3
"""Control privilege between two Aravis clients of one device.

usage: aravis_privilege.py ADDRESS holder|contender
holder: opens the device (taking control), prints "holding", then sleeps until killed.
contender: fails to write while the holder lives, then succeeds after the holder's heartbeat ends.
"""
import sys
import time

import gi

gi.require_version('Aravis', '0.8')
from gi.repository import Aravis, Gio  # noqa: E402


def open_device(address):
    return Aravis.GvDevice.new(Gio.InetAddress.new_from_string('127.0.0.1'),
                               Gio.InetAddress.new_from_string(address))


def take(device):
    try:
        return bool(device.take_control())
    except Exception:
        return False


def main(address, role):
    if role == 'holder':
        device = open_device(address)
        if not device.is_controller():
            print('FAIL: holder has no control')
            return 1
        device.write_register(0x0938, 1500)  # heartbeat time-out, ms
        print('holding', flush=True)
        while True:
            time.sleep(0.1)
    # Opened while held: the contender is not the controller, and cannot take control.
    device = open_device(address)
    if device.is_controller() or take(device):
        print('FAIL: control taken while held')
        return 1
    print('refused', flush=True)
    sys.stdin.readline()  # the holder is killed now
    deadline = time.time() + 6
    while time.time() < deadline:
        if take(device):
            device.write_register(0x0938, 2000)
            print('taken', flush=True)
            return 0
        time.sleep(0.2)
    print('FAIL: control never became free')
    return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
