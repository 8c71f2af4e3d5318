"""Shared by the online tests: the scanner simulator and lumabridge as child
processes in a scratch directory, their logs read back, and an Aravis camera on
the served address.

The simulator listens on 127.0.6.1 (a port of its own), lumabridge serves on
127.0.6.x. The simulator's command log holds what lumabridge sent, its profile
log what each profile carried as the simulator computed it from its analytic
model; standard input of the simulator takes the runtime faults (see
scanner_sim --help).
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Aravis", "0.8")
from gi.repository import Aravis, GLib  # noqa: E402,F401

SIM_ADDRESS = "127.0.6.1"
# Waits are long: on a loaded machine a process may take seconds to start.
WAIT = 30.0


class Failure(Exception):
    pass


def wait_until(what, done, timeout=WAIT, step=0.05):
    end = time.monotonic() + timeout
    while True:
        value = done()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(step)


def unescape(text):
    """The simulator log's quoting: \\r, \\\\, \\" and \\xNN."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "r":
                out.append("\r")
                i += 2
                continue
            if n == "x":
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append(n)
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def escape(text):
    return text.replace("\r", "\\r")


class Scratch:
    def __init__(self, name):
        self.dir = tempfile.mkdtemp(prefix="online_%s_" % name)
        self.children = []

    def path(self, name):
        return os.path.join(self.dir, name)

    def report(self):
        for name in sorted(os.listdir(self.dir)):
            if name.endswith((".out", ".err", ".log")) and name != "profiles.log" and not os.environ.get("ONLINE_QUIET"):
                with open(self.path(name), errors="replace") as f:
                    text = f.read()
                print("== %s (last 80 lines)" % name)
                print("\n".join(text.splitlines()[-80:]))

    def close(self, keep=False):
        for child in reversed(self.children):
            child.kill()
        if not keep:
            shutil.rmtree(self.dir, ignore_errors=True)


class Sim:
    def __init__(self, scratch, exe, *args):
        self.scratch = scratch
        self.log_path = scratch.path("sim.log")
        self.profile_path = scratch.path("profiles.log")
        self._profiles_read, self._profile_records = 0, {}
        self.out_path = scratch.path("sim.out")
        self.out = open(self.out_path, "w")
        self.proc = subprocess.Popen(
            [exe, "--bind", SIM_ADDRESS, "--port", "0", "--log", self.log_path,
             "--profile-log", self.profile_path] + list(args),
            stdin=subprocess.PIPE, stdout=self.out, stderr=subprocess.STDOUT, text=True)
        scratch.children.append(self)
        self.port = wait_until("the simulator to listen", lambda: self._port())

    def _port(self):
        m = re.search(r"listening on [0-9.]+:(\d+)", self.read_out())
        return int(m.group(1)) if m else None

    def read_out(self):
        with open(self.out_path) as f:
            return f.read()

    def control(self, line):
        """A standard-input command; returns its acknowledgement."""
        before = self.read_out().count("\n")
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

        def answer():
            lines = self.read_out().splitlines()[before:]
            for l in lines:
                if l.startswith("scanner_sim: ") and not l.startswith("scanner_sim: listening"):
                    return l
            return None
        return wait_until("the simulator to take '%s'" % line, answer)

    def commands(self, connection=None):
        """(ms, connection, bytes) of every text command received, in order."""
        out = []
        try:
            with open(self.log_path) as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return out
        for line in lines:
            m = re.match(r'(\d+) (\d+) text "(.*)"$', line)
            if m and (connection is None or int(m.group(2)) == connection):
                out.append((int(m.group(1)), int(m.group(2)), unescape(m.group(3))))
        return out

    def texts(self):
        return [c[2] for c in self.commands()]

    def profiles(self):
        """Profile log records by picture counter, in the order sent (read on from where the last call ended)."""
        with open(self.profile_path, "rb") as f:
            f.seek(self._profiles_read)
            data = f.read()
        end = data.rfind(b"\n") + 1  # a line without its end is being written
        self._profiles_read += end
        for line in data[:end].decode().splitlines():
            words = line.split()
            i = words.index("points")
            head = dict(zip(words[0:i:2], words[1:i:2]))
            values = words[i + 2:]
            points = [(float(values[k]), float(values[k + 1]), int(values[k + 2]))
                      for k in range(0, len(values), 3)]
            rec = {k: (v if k == "fault" else int(v)) for k, v in head.items()}
            rec["points"] = points
            self._profile_records.setdefault(rec["counter"], []).append(rec)
        return self._profile_records

    def fault_counters(self):
        """Picture counters of the profiles sent with a fault."""
        return [c for c, recs in self.profiles().items() if any(r["fault"] != "none" for r in recs)]

    def kill(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.out.close()


class Bridge:
    def __init__(self, scratch, exe, sim, address, *args, name="bridge"):
        self.out_path = scratch.path(name + ".out")
        self.err_path = scratch.path(name + ".err")
        self.address = address
        self.proc = subprocess.Popen(
            [exe, "-i", SIM_ADDRESS, "-x", str(sim.port), "-s", address] + list(args),
            stdin=subprocess.PIPE, stdout=open(self.out_path, "w"), stderr=open(self.err_path, "w"))
        scratch.children.append(self)
        self.await_text("Vantocam is online")

    def text(self, which="out"):
        with open(self.out_path if which == "out" else self.err_path, errors="replace") as f:
            return f.read()

    def await_text(self, text, which="out", timeout=WAIT):
        def seen():
            if self.proc.poll() is not None and text not in self.text(which):
                raise Failure("lumabridge ended (%d) before '%s'" % (self.proc.returncode, text))
            return text in self.text(which)
        wait_until("'%s' from lumabridge" % text.strip(), seen, timeout)

    def status(self, field):
        """A /proc/PID/status field as an integer (VmRSS in kB, Threads)."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        raise Failure("no %s in /proc status" % field)

    def stop(self):
        """Enter ends it; it must end by itself with status 0."""
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"\n")
                self.proc.stdin.flush()
            except BrokenPipeError:
                pass
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                raise Failure("lumabridge still running 20 s after Enter")
        if self.proc.returncode != 0:
            raise Failure("lumabridge exit status %d" % self.proc.returncode)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def camera(address):
    cam = Aravis.Camera.new(address)
    return cam, cam.get_device()


def run(groups):
    """usage: PROGRAM LUMABRIDGE SCANNER_SIM GROUP...; each group a function(lumabridge, sim)."""
    if len(sys.argv) < 4:
        print(__doc__)
        sys.exit(2)
    bridge_exe, sim_exe = sys.argv[1], sys.argv[2]
    for name in sys.argv[3:]:
        print("--- %s" % name, flush=True)
        groups[name](bridge_exe, sim_exe)
    print("ok")
