#!/usr/bin/python3
"""Streams blocks on loopback to an Aravis receiver from gev_host and from
Aravis's fake camera, measured the same way: blocks per second received
complete, Gbit/s of payload, and CPU seconds of the device process per GB.

usage: aravis_compare.py GEV_HOST [SECONDS] [WIDTH] [HEIGHT]
Serves gev_host on 127.0.0.42 and the fake camera on 127.0.0.1 (Mono8 images
of WIDTH x HEIGHT for both; gev_host sends Mono16, so half the lines).
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
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def measure(address, pid, seconds, setup=None):
    camera = Aravis.Camera.new(address)
    if setup:
        setup(camera)
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
    elapsed, cpu = time.monotonic() - t0, cpu_seconds(pid) - cpu0
    camera.stop_acquisition()
    gbytes = complete * payload / 1e9
    return {
        "payload": payload,
        "blocks/s": complete / elapsed,
        "failed": failed,
        "Gbit/s": 8 * gbytes / elapsed,
        "cpu s/GB": cpu / gbytes if gbytes else float("inf"),
    }


def wait_ready(address):
    for _ in range(50):
        try:
            Aravis.Camera.new(address)
            return
        except Exception:
            time.sleep(0.1)
    raise RuntimeError("no device at " + address)


def main():
    host = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5
    width = int(sys.argv[3]) if len(sys.argv) > 3 else 1024
    height = int(sys.argv[4]) if len(sys.argv) > 4 else 1024
    results = {}

    device = subprocess.Popen([host, "--gev", "2.0", "--stream", "image", "--rate", "100000", "--width",
                               str(width), "--lines", str(height // 2), "127.0.0.42"],
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    try:
        wait_ready("127.0.0.42")
        results["gev_host"] = measure("127.0.0.42", device.pid, seconds)
    finally:
        device.stdin.close()
        device.wait(timeout=10)

    def fake_setup(camera):
        camera.set_region(0, 0, width, height)
        camera.set_frame_rate(10000)

    fake = subprocess.Popen(["arv-fake-gv-camera-0.8", "-i", "127.0.0.1"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        wait_ready("127.0.0.1")
        results["fake"] = measure("127.0.0.1", fake.pid, seconds, fake_setup)
    finally:
        fake.terminate()
        fake.wait(timeout=10)

    for name, r in results.items():
        print("%-9s payload %d B: %.1f blocks/s, %.2f Gbit/s, %.3f CPU s/GB, %d incomplete"
              % (name, r["payload"], r["blocks/s"], r["Gbit/s"], r["cpu s/GB"], r["failed"]))
    g, f = results["gev_host"], results["fake"]
    print("ratios gev_host/fake: blocks/s %.2f, Gbit/s %.2f, CPU per GB %.2f"
          % (g["blocks/s"] / f["blocks/s"], g["Gbit/s"] / f["Gbit/s"], g["cpu s/GB"] / f["cpu s/GB"]))


main()
