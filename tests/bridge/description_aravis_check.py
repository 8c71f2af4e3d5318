#!/usr/bin/python3
# Loads a GenICam description with Aravis and evaluates, for every node under Root, whether it is
# implemented, available and locked, and every enumeration entry's availability: one line per
# node or entry Aravis cannot evaluate. Exits 77 when Aravis is not installed.
import sys

try:
    import gi
    gi.require_version('Aravis', '0.8')
    from gi.repository import Aravis, GLib
except (ImportError, ValueError):
    sys.exit(77)

Aravis.set_fake_camera_genicam_filename(sys.argv[1])
device = Aravis.FakeDevice.new("TEST0")  # kept: the nodes read through it
genicam = device.get_genicam()
problems = []


def evaluate(name, call):
    try:
        call()
    except GLib.Error as e:
        problems.append(name + ": " + e.message)


def walk(name):
    node = genicam.get_node(name)
    if node is None:
        problems.append("missing " + name)
        return
    if isinstance(node, Aravis.GcFeatureNode):
        for what in ("is_implemented", "is_available", "is_locked"):
            evaluate(name + " " + what, getattr(node, what))
    if isinstance(node, Aravis.GcCategory):
        for feature in node.get_features():
            walk(feature)
    elif isinstance(node, Aravis.GcEnumeration):
        for entry in node.get_entries():
            evaluate(name + "/" + entry.get_name(), entry.is_available)


walk("Root")
print("\n".join(problems))
sys.exit(1 if problems else 0)
