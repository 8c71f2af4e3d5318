# Sourced first by the Aravis test scripts: runs the script again in a network
# namespace of its own with only loopback up, so that concurrent tests (of this
# run or of others on the host) cannot meet on addresses, ports or discovery
# broadcasts. Root unshares the namespace; another user tries a user namespace
# that maps it to root. Where neither works the script goes on on the host's
# loopback and says so; with lb_netns_required=1 it skips (77) instead.
# The UDP receive buffer limits are host-wide: they are not raised here.
# usage: . "$(dirname "$0")/aravis_netns.sh"
if [ "${LB_IN_NETNS:-}" = 1 ]; then
    ip link set lo up || { echo "FAIL: loopback of the test's network namespace"; exit 1; }
    echo "in a network namespace of its own"
else
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
