#!/usr/bin/python3
# Loads a GenICam description with Aravis and lists the features under Root:
# one line per node, "<depth spaces><Aravis node type> <name>", and for
# enumerations their entries. Exits 77 when Aravis is not installed.
import sys

try:
    import gi
    gi.require_version('Aravis', '0.8')
    from gi.repository import Aravis
except (ImportError, ValueError):
    sys.exit(77)

Aravis.set_fake_camera_genicam_filename(sys.argv[1])
device = Aravis.FakeDevice.new("TEST0")
genicam = device.get_genicam()


def walk(name, depth):
    node = genicam.get_node(name)
    if node is None:
        print(" " * depth + "MISSING " + name)
        return
    print(" " * depth + type(node).__name__ + " " + name)
    if isinstance(node, Aravis.GcCategory):
        for feature in node.get_features():
            walk(feature, depth + 1)
    elif isinstance(node, Aravis.GcEnumeration):
        for entry in sorted(e.get_name() for e in node.get_entries()):
            print(" " * (depth + 1) + "entry " + entry)


walk("Root", 0)
