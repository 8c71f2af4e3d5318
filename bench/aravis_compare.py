#!/usr/bin/python3
"""Streams blocks on loopback to an Aravis receiver from gev_host and from
Aravis's fake camera, measured the same way: blocks per second received
complete, Gbit/s of payload, and CPU seconds of the device process per GB.

usage: aravis_compare.py GEV_HOST [SECONDS] [WIDTH] [HEIGHT] [PACKET_SIZES]
Serves gev_host on 127.0.0.42 and the fake camera on 127.0.0.1 (Mono8 images
of WIDTH x HEIGHT for both; gev_host sends Mono16, so half the lines), once
per packet size (GevSCPSPacketSize, comma-separated, default 1400,8192): the
per-packet cost dominates, so both devices are measured at the same size.
"""
import os
import subprocess
import sys
import time

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system CPU seconds of a process."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) / TICK, int(fields[12]) / TICK


def measure(address, pid, seconds, packet_size, setup=None):
    camera = Aravis.Camera.new(address)
    if setup:
        setup(camera)
    camera.gv_set_packet_size(packet_size)
    payload = camera.get_payload()
    stream = camera.create_stream(None, None)
    for _ in range(32):
        stream.push_buffer(Aravis.Buffer.new_allocate(payload))
    camera.start_acquisition()
    # Warm up, then count.
    end = time.monotonic() + 0.5
    while time.monotonic() < end:
        b = stream.timeout_pop_buffer(200000)
        if b:
            stream.push_buffer(b)
    complete = failed = 0
    cpu0, t0 = cpu_seconds(pid), time.monotonic()
    while time.monotonic() - t0 < seconds:
        b = stream.timeout_pop_buffer(200000)
        if b is None:
            continue
        if b.get_status() == Aravis.BufferStatus.SUCCESS:
            complete += 1
        else:
            failed += 1
        stream.push_buffer(b)
    cpu1 = cpu_seconds(pid)
    elapsed = time.monotonic() - t0
    user, system = cpu1[0] - cpu0[0], cpu1[1] - cpu0[1]
    camera.stop_acquisition()
    gbytes = complete * payload / 1e9
    return {
        "payload": payload,
        "packet": camera.gv_get_packet_size(),
        "blocks/s": complete / elapsed,
        "failed": failed,
        "Gbit/s": 8 * gbytes / elapsed,
        "cpu s/GB": (user + system) / gbytes if gbytes else float("inf"),
        "user share": user / (user + system) if user + system else 0.0,
    }


def wait_ready(address):
    for _ in range(50):
        try:
            Aravis.Camera.new(address)
            return
        except Exception:
            time.sleep(0.1)
    raise RuntimeError("no device at " + address)


def run_device(command, address, pid_measure):
    device = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_ready(address)
        return pid_measure(device.pid)
    finally:
        device.terminate()
        device.wait(timeout=10)


def main():
    host = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5
    width = int(sys.argv[3]) if len(sys.argv) > 3 else 1024
    height = int(sys.argv[4]) if len(sys.argv) > 4 else 1024
    sizes = [int(v) for v in (sys.argv[5] if len(sys.argv) > 5 else "1400,8192").split(",")]

    def fake_setup(camera):
        camera.set_region(0, 0, width, height)
        camera.set_frame_rate(10000)

    host_command = [host, "--gev", "2.0", "--stream", "image", "--rate", "100000", "--width", str(width),
                    "--lines", str(height // 2), "127.0.0.42"]
    fake_command = ["arv-fake-gv-camera-0.8", "-i", "127.0.0.1"]
    for size in sizes:
        g = run_device(host_command, "127.0.0.42", lambda pid: measure("127.0.0.42", pid, seconds, size))
        f = run_device(fake_command, "127.0.0.1", lambda pid: measure("127.0.0.1", pid, seconds, size, fake_setup))
        for name, r in (("gev_host", g), ("fake", f)):
            print("%-9s packet %d B, payload %d B: %.1f blocks/s, %.2f Gbit/s, %.3f CPU s/GB (%.0f%% user), "
                  "%d incomplete" % (name, r["packet"], r["payload"], r["blocks/s"], r["Gbit/s"], r["cpu s/GB"],
                                     100 * r["user share"], r["failed"]))
        print("ratios gev_host/fake at %d B: blocks/s %.2f, Gbit/s %.2f, CPU per GB %.2f"
              % (size, g["blocks/s"] / f["blocks/s"], g["Gbit/s"] / f["Gbit/s"], g["cpu s/GB"] / f["cpu s/GB"]))
        sys.stdout.flush()


main()
