#!/bin/sh
# lumabridge + the scanner simulator through Aravis, in a network namespace of its own.
# usage: online_test.sh LUMABRIDGE SCANNER_SIM GROUP...   (groups: see online_test.py)
set -eu
lb_needs="aravis-python arv-tool-0.8"
. "$(dirname "$0")/../../gev/server/aravis_netns.sh"
exec /usr/bin/python3 "$(dirname "$0")/online_test.py" "$@"
