#!/bin/sh
# lumabridge + the scanner simulator through Aravis, in a network namespace of its own.
# usage: online_test.sh LUMABRIDGE SCANNER_SIM GROUP...   (groups: see online_test.py)
set -eu
/usr/bin/python3 -c 'import gi; gi.require_version("Aravis", "0.8"); from gi.repository import Aravis' \
    2>/dev/null || { echo "Aravis for Python missing"; exit 77; }
command -v arv-tool-0.8 >/dev/null || { echo "arv-tool-0.8 missing"; exit 77; }
. "$(dirname "$0")/../../gev/server/aravis_netns.sh"
exec /usr/bin/python3 "$(dirname "$0")/online_test.py" "$@"
