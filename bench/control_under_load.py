#!/usr/bin/python3
"""Control round trips while the device streams: GVCP READREG and WRITEREG
latency (p50, p99, max) and lost requests, seen by an Aravis client that holds
control of gev_host and receives its multi-part stream on loopback.

Four cases, each measured the same way: without streaming and while streaming,
each on a quiet machine and with one busy loop per core at normal priority.
The write goes to a host feature register (Gain), so it runs the device's
feature write path (register hooks, the host's write callback), not only the
register tree.

usage: control_under_load.py GEV_HOST [SECONDS] [WIDTH] [LINES] [RATE]
Serves gev_host on 127.0.0.43: three-part blocks with chunks of WIDTH x LINES
at RATE blocks/s (default 1024 x 64 at 2000/s, about 400 MB/s asked for; the
device sends what it can).
"""
import os
import subprocess
import sys
import tempfile
import threading
import time

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402

ADDRESS = "127.0.0.43"
# A request that needs Aravis's own retry (its GVCP time-out is far above any
# normal round trip) shows up as a sample above this; counted apart.
RETRY_MS = 100.0


def percentile(sorted_values, p):
    if not sorted_values:
        return float("nan")
    k = min(len(sorted_values) - 1, int(round(p / 100.0 * (len(sorted_values) - 1))))
    return sorted_values[k]


class Receiver(threading.Thread):
    """Pops and returns Aravis buffers so the stream runs at the device's pace."""

    def __init__(self, stream, payload):
        super().__init__(daemon=True)
        self.stream = stream
        self.payload = payload
        self.complete = 0
        self.failed = 0
        self.bytes = 0
        self.running = True

    def run(self):
        while self.running:
            b = self.stream.timeout_pop_buffer(100000)
            if b is None:
                continue
            if b.get_status() == Aravis.BufferStatus.SUCCESS:
                self.complete += 1
                self.bytes += self.payload
            else:
                self.failed += 1
            self.stream.push_buffer(b)


def round_trips(device, address, seconds):
    """READREG and WRITEREG of one register, alternately, for SECONDS."""
    reads, writes, errors = [], [], set()
    lost_reads = lost_writes = 0
    end = time.monotonic() + seconds
    value = 0
    while time.monotonic() < end:
        t = time.perf_counter()
        try:
            device.read_register(address)
            reads.append((time.perf_counter() - t) * 1000.0)
        except Exception as e:
            lost_reads += 1
            errors.add(str(e))
        value = (value + 1) % 100
        if value == 13:  # gev_host refuses this one Gain value
            value = 14
        t = time.perf_counter()
        try:
            device.write_register(address, value)
            writes.append((time.perf_counter() - t) * 1000.0)
        except Exception as e:
            lost_writes += 1
            errors.add(str(e))
    for e in sorted(errors):
        print("  error: " + e)
    return (sorted(reads), lost_reads), (sorted(writes), lost_writes)


def busy_loops(n):
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(n)]


def measure(host, seconds, width, lines, rate, streaming, busy):
    # gev_host prints every feature write: its output goes to a file, never to
    # a pipe nobody drains (a full pipe would stall its write callback).
    out = tempfile.TemporaryFile()
    proc = subprocess.Popen([host, "--gev", "2.0", "--stream", "parts3", "--chunks", "--rate", str(rate),
                             "--width", str(width), "--lines", str(lines), ADDRESS],
                            stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT)
    loads = []
    try:
        for _ in range(50):
            out.seek(0)
            if b"serving" in out.read():
                break
            time.sleep(0.1)
        else:
            out.seek(0)
            raise RuntimeError("gev_host did not start: " + out.read().decode(errors="replace"))
        camera = Aravis.Camera.new(ADDRESS)
        device = camera.get_device()
        address = device.get_genicam().get_node("regGain").get_address()
        receiver = None
        if streaming:
            camera.gv_set_packet_size(8192)
            payload = camera.get_payload()
            stream = camera.create_stream(None, None)
            for _ in range(32):
                stream.push_buffer(Aravis.Buffer.new_allocate(payload))
            receiver = Receiver(stream, payload)
            receiver.start()
            camera.start_acquisition()
        if busy:
            loads = busy_loops(os.cpu_count() or 1)
        time.sleep(0.5)
        c0, t0 = (receiver.complete, receiver.bytes) if receiver else (0, 0), time.monotonic()
        (reads, lost_r), (writes, lost_w) = round_trips(device, address, seconds)
        elapsed = time.monotonic() - t0
        mbps = blocks = 0
        if receiver:
            blocks = (receiver.complete - c0[0]) / elapsed
            mbps = (receiver.bytes - c0[1]) / elapsed / 1e6
            camera.stop_acquisition()
            receiver.running = False
            receiver.join()
        del camera
        return reads, lost_r, writes, lost_w, blocks, mbps
    finally:
        for p in loads:
            p.kill()
            p.wait()
        proc.stdin.close()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def row(name, values, lost):
    retried = sum(1 for v in values if v > RETRY_MS)
    return "  %-6s n %6d  p50 %7.3f ms  p99 %7.3f ms  max %8.3f ms  >%g ms %d  lost %d" % (
        name, len(values), percentile(values, 50), percentile(values, 99), values[-1] if values else float("nan"),
        RETRY_MS, retried, lost)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    host = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10
    width = int(sys.argv[3]) if len(sys.argv) > 3 else 1024
    lines = int(sys.argv[4]) if len(sys.argv) > 4 else 64
    rate = int(sys.argv[5]) if len(sys.argv) > 5 else 2000
    print("control round trips from an Aravis client, %g s per case, stream %dx%d parts3+chunks at up to %d/s, "
          "%d cores" % (seconds, width, lines, rate, os.cpu_count() or 1))
    for streaming in (False, True):
        for busy in (False, True):
            reads, lost_r, writes, lost_w, blocks, mbps = measure(host, seconds, width, lines, rate, streaming, busy)
            print("%s, %s:%s" % ("streaming" if streaming else "no stream", "every core busy" if busy else "quiet",
                                 "  %.0f blocks/s complete, %.0f MB/s" % (blocks, mbps) if streaming else ""))
            print(row("READ", reads, lost_r))
            print(row("WRITE", writes, lost_w))
    return 0


if __name__ == "__main__":
    sys.exit(main())
