#!/usr/bin/python3
"""End to end: the scanner simulator at a chosen line rate -> lumabridge -> an
Aravis receiver, all on loopback (in a network namespace of its own when one
can be made). For each rate: profiles per second delivered, blocks complete,
lost profiles, lumabridge's CPU (user and system apart, from /proc/PID/stat),
its CPU per profile, and its resident memory at the start and at the end.

usage: bridge_e2e_bench.py LUMABRIDGE SCANNER_SIM [--rates R[,R...]] [--points N]
           [--seconds S] [--lines L] [--packet-size B] [--no-chunks]

--rates: profiles per second asked of the simulator (default 6000); its line
  time is whole microseconds, so the rate run is 1e6 / round(1e6 / R).
--points: points per profile, the simulator's sensor columns (default 2048).
--lines: profiles per block (Height of Scan3dExtraction0, default 100).
--sim-only: the simulator alone with a plain TCP reader instead of lumabridge,
  to show the simulator's own limit.
Blocks carry Coord3D_ABC32f + Mono10 and, unless --no-chunks, all six chunks.

Lost profiles: lines delivered empty (an all-zero intensity line: the
simulator's intensity is never zero over a whole line), picture-counter jumps
between delivered lines, and the lines of failed or missing blocks. "sent"
is what the simulator wrote during the run, for comparison.
"""
import argparse
import os
import re
import resource
import struct
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
SIM_ADDRESS = "127.0.6.1"
ADDRESS = "127.0.6.9"
COORD3D, MONO10 = 0x026000C0, 0x01100003
CHUNKS = ["ChunkPictureCounter", "ChunkTimestamp", "ChunkDeviceTemperature", "ChunkLineStatusAll",
          "ChunkEncoderValue", "ChunkScannerStatus"]


def in_netns():
    """Runs this script again in a network namespace of its own with loopback up (root only)."""
    if os.environ.get("LB_IN_NETNS") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    if os.getuid() == 0 and subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode == 0:
        os.environ["LB_IN_NETNS"] = "1"
        os.execvp("unshare", ["unshare", "--net", sys.executable] + sys.argv)
    print("note: no network namespace: on the host's loopback")


def cpu(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) / TICK, int(fields[12]) / TICK


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def wait_for(what, done, timeout=30.0):
    end = time.monotonic() + timeout
    while not done():
        if time.monotonic() > end:
            raise SystemExit("bench: timed out waiting for %s" % what)
        time.sleep(0.05)


class Processes:
    def __init__(self, args, rate, bridge=True):
        self.dir = tempfile.mkdtemp(prefix="bridge_e2e_")
        self.line_time = max(1, round(1e6 / rate))
        self.sim_out = os.path.join(self.dir, "sim.out")
        self.sim = subprocess.Popen(
            [args.sim, "--bind", SIM_ADDRESS, "--port", "0", "--linetime", str(self.line_time), "--min-period", "1",
             "--sensor", "%dx1088" % args.points],
            stdin=subprocess.PIPE, stdout=open(self.sim_out, "w"), stderr=subprocess.STDOUT, text=True)
        wait_for("the simulator", lambda: "listening on" in self.read(self.sim_out))
        port = re.search(r"listening on [0-9.]+:(\d+)", self.read(self.sim_out)).group(1)
        self.port = int(port)
        self.bridge = None
        if not bridge:
            return
        self.bridge_out = os.path.join(self.dir, "bridge.out")
        self.bridge = subprocess.Popen([args.bridge, "-i", SIM_ADDRESS, "-x", port, "-s", ADDRESS],
                                       stdin=subprocess.PIPE, stdout=open(self.bridge_out, "w"),
                                       stderr=subprocess.STDOUT)
        wait_for("lumabridge online", lambda: "Vantocam is online" in self.read(self.bridge_out))

    @staticmethod
    def read(path):
        with open(path, errors="replace") as f:
            return f.read()

    def sent(self):
        """Profiles the simulator has written."""
        before = self.read(self.sim_out).count("scanner_sim: sent ")
        self.sim.stdin.write("count\n")
        self.sim.stdin.flush()
        wait_for("the simulator's count", lambda: self.read(self.sim_out).count("scanner_sim: sent ") > before, 10)
        return int(re.findall(r"scanner_sim: sent (\d+) profiles", self.read(self.sim_out))[-1])

    def close(self):
        for p, stop in ((self.bridge, b"\n"), (self.sim, None)):
            if p is not None and p.poll() is None:
                try:
                    if stop:
                        p.stdin.write(stop)
                        p.stdin.flush()
                    else:
                        p.terminate()
                    p.wait(20)
                except (BrokenPipeError, subprocess.TimeoutExpired):
                    p.kill()
                    p.wait()


def configure(dev, lines, chunks):
    dev.set_integer_feature_value("RegionSelector", 1)
    dev.set_integer_feature_value("Height", lines)
    dev.get_integer_feature_value("Height")
    dev.set_integer_feature_value("ComponentSelector", 0)
    dev.set_boolean_feature_value("ComponentEnable", True)
    dev.set_integer_feature_value("PixelFormat", MONO10)
    dev.set_integer_feature_value("ComponentSelector", 1)
    dev.set_integer_feature_value("PixelFormat", COORD3D)
    dev.get_integer_feature_value("Width")
    if chunks:
        for name in CHUNKS:
            dev.set_string_feature_value("ChunkSelector", name)
            dev.set_boolean_feature_value("ChunkEnable", True)


def measure(args, rate):
    procs = Processes(args, rate)
    try:
        camera = Aravis.Camera.new(ADDRESS)
        dev = camera.get_device()
        configure(dev, args.lines, not args.no_chunks)
        camera.gv_set_packet_size(args.packet_size)
        width = dev.get_integer_feature_value("Width")
        payload = camera.get_payload()
        stream = camera.create_stream(None, None)
        for _ in range(args.buffers):
            stream.push_buffer(Aravis.Buffer.new_allocate(payload))
        empty_line = bytes(2 * width)
        pid = procs.bridge.pid
        rss_start = rss_kb(pid)
        sent_start = procs.sent()
        camera.start_acquisition()
        # The first block starts the clock: the run's set-up is not counted.
        first = stream.timeout_pop_buffer(10000000)
        if first is None:
            raise SystemExit("bench: no block at %d profiles/s" % rate)
        stream.push_buffer(first)
        t0 = time.monotonic()
        cpu0, sim_cpu0, me0 = cpu(pid), cpu(procs.sim.pid), resource.getrusage(resource.RUSAGE_SELF)
        sent0 = procs.sent()
        complete = failed = lines_ok = empty = jumps = 0
        last_id = first.get_frame_id()
        last_counter = None
        missing_ids = 0
        samples = []  # resident memory at each quarter of the run
        while time.monotonic() - t0 < args.seconds:
            if len(samples) < 4 and time.monotonic() - t0 >= len(samples) * args.seconds / 4:
                samples.append(rss_kb(pid))
            buffer = stream.timeout_pop_buffer(2000000)
            if buffer is None:
                break
            fid = buffer.get_frame_id()
            missing_ids += max(0, fid - last_id - 1)
            last_id = fid
            if buffer.get_status() != Aravis.BufferStatus.SUCCESS:
                failed += 1
                stream.push_buffer(buffer)
                continue
            complete += 1
            intensity = bytes(buffer.get_part_data(1))
            for i in range(args.lines):
                if intensity[2 * width * i:2 * width * (i + 1)] == empty_line:
                    empty += 1
            if not args.no_chunks:
                counters = struct.unpack("<%dI" % args.lines, bytes(buffer.get_chunk_data(0xFFFFF0)))
                for c in counters:
                    if last_counter is not None and c != (last_counter + 1) & 0xFFFF:
                        jumps += (c - last_counter - 1) & 0xFFFF
                    last_counter = c
            lines_ok += args.lines
            stream.push_buffer(buffer)
        elapsed = time.monotonic() - t0
        cpu1, sim_cpu1, me1 = cpu(pid), cpu(procs.sim.pid), resource.getrusage(resource.RUSAGE_SELF)
        sent1 = procs.sent()
        rss_end = rss_kb(pid)
        camera.stop_acquisition()
        del stream, dev, camera
    finally:
        procs.close()
    delivered = lines_ok - empty
    lost = empty + jumps + (failed + missing_ids) * args.lines
    user, system = cpu1[0] - cpu0[0], cpu1[1] - cpu0[1]
    run_rate = 1e6 / procs.line_time
    sim_cpu = (sim_cpu1[0] + sim_cpu1[1] - sim_cpu0[0] - sim_cpu0[1]) / elapsed
    me = (me1.ru_utime + me1.ru_stime - me0.ru_utime - me0.ru_stime) / elapsed
    print("rate %.0f/s (line time %d us), %d points, %d lines per block, %.1f s:" %
          (run_rate, procs.line_time, args.points, args.lines, elapsed))
    print("  delivered %.0f profiles/s; blocks complete %d, failed %d, missing %d; lost profiles %d "
          "(empty lines %d, counter jumps %d); the simulator sent %d (%.0f/s)" %
          (delivered / elapsed, complete, failed, missing_ids, lost, empty, jumps, sent1 - sent0,
           (sent1 - sent0) / elapsed))
    print("  lumabridge CPU: user %.1f%%, system %.1f%% of one core; %.2f us per profile delivered" %
          (100 * user / elapsed, 100 * system / elapsed, 1e6 * (user + system) / max(delivered, 1)))
    print("  lumabridge resident memory: %d kB before the start; %s kB at each quarter of the run; %d kB at the end"
          % (rss_start, ", ".join(str(k) for k in samples), rss_end))
    print("  simulator CPU %.0f%%, receiver (this process, Aravis included) CPU %.0f%%" % (100 * sim_cpu, 100 * me))
    sys.stdout.flush()
    return lost


def measure_sim(args, rate):
    """The simulator streaming to a reader that only counts bytes."""
    import socket
    procs = Processes(args, rate, bridge=False)
    try:
        s = socket.create_connection((SIM_ADDRESS, procs.port))
        s.sendall(b"\x02\x00\x00\x03\x00\x00\x00\x02")
        time.sleep(0.2)
        s.sendall(b"SetAcquisitionStart\r")
        s.settimeout(0.5)
        total = 0
        t0 = time.monotonic()
        sent0, cpu0 = procs.sent(), cpu(procs.sim.pid)
        while time.monotonic() - t0 < args.seconds:
            try:
                data = s.recv(1 << 20)
            except socket.timeout:
                continue
            if not data:
                break
            total += len(data)
        elapsed = time.monotonic() - t0
        sent1, cpu1 = procs.sent(), cpu(procs.sim.pid)
        s.close()
    finally:
        procs.close()
    print("simulator alone, asked %.0f/s (line time %d us), %d points: sent %.0f profiles/s, %.0f MB/s, "
          "simulator CPU %.0f%%" % (1e6 / procs.line_time, procs.line_time, args.points, (sent1 - sent0) / elapsed,
                                   total / elapsed / 1e6, 100 * (sum(cpu1) - sum(cpu0)) / elapsed))
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bridge")
    parser.add_argument("sim")
    parser.add_argument("--rates", default="6000")
    parser.add_argument("--points", type=int, default=2048)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--lines", type=int, default=100)
    parser.add_argument("--packet-size", type=int, default=8192)
    parser.add_argument("--buffers", type=int, default=64)
    parser.add_argument("--no-chunks", action="store_true")
    parser.add_argument("--sim-only", action="store_true")
    args = parser.parse_args()
    in_netns()
    for rate in [int(r) for r in args.rates.split(",")]:
        (measure_sim if args.sim_only else measure)(args, rate)


main()
