# Sourced by the Aravis test scripts: a device program on $address fed by a
# fifo, so that closing its standard input stops it. Uses $host, $address,
# $dir, pid and the script's fail.
# Waits for a process to be ready are long: on a loaded machine one may take
# seconds to start.
start_host() {
    rm -f "$dir/in"
    mkfifo "$dir/in"
    "$host" "$@" "$address" <"$dir/in" >"$dir/host.out" 2>&1 &
    pid=$!
    exec 3>"$dir/in"
    for _ in $(seq 300); do grep -q serving "$dir/host.out" && return 0; sleep 0.1; done
    fail "host did not start: $*"
}

# Closing standard input stops the host; it must end promptly and cleanly.
stop_host() {
    exec 3>&-
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "host hangs in Stop"
    wait "$pid" || fail "host exit status"
    pid=
    grep -q "stopped 0x0" "$dir/host.out" || fail "Stop"
}
