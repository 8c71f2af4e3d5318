# Sourced first by the Aravis test scripts: runs the script again in a network
# namespace of its own with only loopback up, so that concurrent tests (of this
# run or of others on the host) cannot meet on addresses, ports or discovery
# broadcasts. Root unshares the namespace; another user tries a user namespace
# that maps it to root. Where neither works the script goes on on the host's
# loopback and says so; with lb_netns_required=1 it skips (77) instead.
# The UDP receive buffer limits are host-wide: they are not raised here.
# First, on the host, the script skips (77, saying what is missing) unless all
# that lb_needs names is present: "aravis-python" stands for Aravis 0.8 for
# Python (/usr/bin/python3), any other word for a command on the PATH.
# usage: lb_needs="aravis-python arv-tool-0.8"   (optional)
#        . "$(dirname "$0")/aravis_netns.sh"
if [ "${LB_IN_NETNS:-}" = 1 ]; then
    ip link set lo up || { echo "FAIL: loopback of the test's network namespace"; exit 1; }
    echo "in a network namespace of its own"
else
    for lb_need in ${lb_needs:-}; do
        if [ "$lb_need" = aravis-python ]; then
            /usr/bin/python3 -c 'import gi; gi.require_version("Aravis", "0.8"); from gi.repository import Aravis' \
                2>/dev/null || { echo "Aravis for Python missing"; exit 77; }
        else
            command -v "$lb_need" >/dev/null || { echo "$lb_need missing"; exit 77; }
        fi
    done
    lb_unshare=
    if [ "$(id -u)" = 0 ]; then
        unshare --net true 2>/dev/null && lb_unshare="unshare --net"
    elif unshare --map-root-user --net true 2>/dev/null; then
        lb_unshare="unshare --map-root-user --net"
    fi
    if [ -n "$lb_unshare" ] && command -v ip >/dev/null; then
        exec env LB_IN_NETNS=1 $lb_unshare sh "$0" "$@"
    fi
    if [ "${lb_netns_required:-0}" = 1 ]; then
        echo "no network namespace (unshare failed or missing): skipped"
        exit 77
    fi
    echo "note: no network namespace (unshare failed or missing): on the host's loopback, where concurrent tests may clash"
fi
