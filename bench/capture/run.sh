#!/bin/bash
# SPDX-License-Identifier: MIT
# The monitor's live capture beside tcpdump, on the same traffic over a veth link between two
# network namespaces of our own (198.51.100.1 server side, 198.51.100.2 sender side).
#
#   sudo bench/capture/run.sh [BUILD_DIR]
#
# For each rate: capture_probe (CPacketcap on interface 0) and `tcpdump -i VETH -w /dev/null
# 'ip and port 7915'` run side by side in the server's namespace while capture_traffic sends
# RATE datagrams/s to port 7915 plus OTHER_RATE datagrams/s to another port, for SECONDS.
# Environment: RATES ("50000 100000 200000"), OTHER_RATE (200000), SECONDS_PER_RATE (5),
# ROUNDS (1).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
find_tool() {
    local f
    for f in "$build/bench/capture/$1" "$build/capture/$1" "$build/$1"; do
        [[ -x $f ]] && { echo "$f"; return; }
    done
    echo "run.sh: $1 not found under $build (build the targets capture_probe and capture_traffic)" >&2
    exit 1
}
probe_bin=$(find_tool capture_probe)
traffic_bin=$(find_tool capture_traffic)
[[ $(id -u) == 0 ]] || { echo "run.sh: needs root (namespaces, packet sockets)" >&2; exit 1; }
for t in ip tcpdump; do
    command -v "$t" > /dev/null || { echo "run.sh: needs $t" >&2; exit 1; }
done

rates=${RATES:-"50000 100000 200000"}
other_rate=${OTHER_RATE:-200000}
seconds=${SECONDS_PER_RATE:-5}
rounds=${ROUNDS:-1}
port=7915

prefix=zpt$$
ns_server=${prefix}s
ns_sender=${prefix}b
link_server=${prefix}sv
link_sender=${prefix}bv
work=$(mktemp -d /tmp/zpcapbench.XXXXXX)

cleanup() {
    ip netns del "$ns_server" 2> /dev/null || true
    ip netns del "$ns_sender" 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns_server"
ip netns add "$ns_sender"
ip -n "$ns_server" link add name "$link_server" type veth peer name "$link_sender" netns "$ns_sender"
ip -n "$ns_server" addr add 198.51.100.1/24 dev "$link_server"
ip -n "$ns_sender" addr add 198.51.100.2/24 dev "$link_sender"
for ns in "$ns_server" "$ns_sender"; do ip -n "$ns" link set lo up; done
ip -n "$ns_server" link set "$link_server" up
ip -n "$ns_sender" link set "$link_sender" up

softnet_drops() {
    # Second column of every CPU's line: packets the backlog queue had no room for.
    local sum=0 line
    while read -r -a line; do sum=$((sum + 16#${line[1]})); done < /proc/net/softnet_stat
    echo "$sum"
}

wait_for() {  # file, pattern
    local i
    for i in $(seq 100); do
        grep -q "$2" "$1" 2> /dev/null && return 0
        sleep 0.05
    done
    echo "run.sh: no '$2' in $1" >&2
    cat "$1" >&2
    return 1
}

cpu_ns() {  # CPU time of a process in nanoseconds: exact from schedstat, else in clock ticks
    if [[ -r /proc/$1/schedstat ]]; then
        cut -d' ' -f1 "/proc/$1/schedstat"
    else
        awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); printf "%.0f", ($12 + $13) * 1e9 / hz }' \
            "/proc/$1/stat"
    fi
}

value() {  # key, file of key=value pairs
    grep -o "$1=[0-9.]*" "$2" | head -1 | cut -d= -f2
}

per_million() {  # cpu seconds, datagrams
    awk -v c="$1" -v n="$2" 'BEGIN { if (n > 0) printf "%.3f", c / (n / 1e6); else print "-" }'
}

printf '%-7s %-6s %9s | %9s %7s %8s %9s %8s | %9s %7s %8s %9s | %8s\n' \
    rate/s round sent seen drops cpu_s cpu_s/M wakeups captured dropped cpu_s cpu_s/M backlog
for round in $(seq "$rounds"); do
    for rate in $rates; do
        rm -f "$work"/*
        # Warm the neighbour entry so that the first datagrams are not held for ARP.
        ip netns exec "$ns_sender" "$traffic_bin" --dst 198.51.100.1 --rate 100 --other-rate 0 \
            --seconds 0.05 > /dev/null
        # `ip netns exec` execs its command, so $! is the probe and tcpdump themselves.
        ip netns exec "$ns_server" "$probe_bin" --interface 0 --port "$port" \
            > "$work/probe.out" 2> "$work/probe.err" &
        probe_pid=$!
        ip netns exec "$ns_server" tcpdump -i "$link_server" -n -w /dev/null "ip and port $port" \
            2> "$work/tcpdump.err" &
        tcpdump_pid=$!
        wait_for "$work/probe.err" capturing
        wait_for "$work/tcpdump.err" listening
        tcpdump_cpu_before=$(cpu_ns "$tcpdump_pid")
        backlog_before=$(softnet_drops)

        ip netns exec "$ns_sender" "$traffic_bin" --dst 198.51.100.1 --port "$port" --rate "$rate" \
            --other-port 9 --other-rate "$other_rate" --seconds "$seconds" > "$work/traffic.out"
        # tcpdump hands over a part-filled block after its 1 s timeout: give both time to drain.
        sleep 2
        backlog_after=$(softnet_drops)
        # Read while tcpdump sleeps in poll: its set-up and its exit are left out, as the probe's.
        tcpdump_cpu_after=$(cpu_ns "$tcpdump_pid")
        kill -INT "$probe_pid" "$tcpdump_pid"
        wait "$probe_pid" "$tcpdump_pid" || true

        read -r _ sent other _ elapsed _ failures < "$work/traffic.out"
        seen=$(value delivered "$work/probe.out")
        drops=$(value kernel_drops "$work/probe.out")
        probe_cpu=$(awk -v c="$(value capture_cpu "$work/probe.out")" 'BEGIN { printf "%.4f", c }')
        wakeups=$(value voluntary_switches "$work/probe.out")
        captured=$(grep -o '^[0-9]* packets\? captured' "$work/tcpdump.err" | cut -d' ' -f1)
        dropped=$(grep -o '^[0-9]* packets\? dropped by kernel' "$work/tcpdump.err" | cut -d' ' -f1)
        tcpdump_cpu=$(awk -v a="$tcpdump_cpu_before" -v b="$tcpdump_cpu_after" \
            'BEGIN { printf "%.4f", (b - a) / 1e9 }')
        printf '%-7s %-6s %9s | %9s %7s %8s %9s %8s | %9s %7s %8s %9s | %8s\n' \
            "$rate" "$round" "$sent" "$seen" "$drops" "$probe_cpu" "$(per_million "$probe_cpu" "$seen")" \
            "$wakeups" "$captured" "$dropped" "$tcpdump_cpu" "$(per_million "$tcpdump_cpu" "$captured")" \
            "$((backlog_after - backlog_before))"
        if [[ $failures != 0 ]]; then
            echo "  (sender: $failures failed sends; other-port datagrams sent: $other in ${elapsed}s)"
        fi
    done
done
echo
echo "sent: game-port datagrams sent; left: capture_probe (delivered, kernel drops, CPU seconds"
echo "from its start to its stop, CPU seconds per million delivered, voluntary context switches);"
echo "right: tcpdump (captured, dropped by kernel, CPU seconds from 'listening' to its stop, per"
echo "million captured); backlog: datagrams the kernel's input queues dropped before any capture"
echo "saw them (all CPUs). CPU excludes the kernel's softirq work of filling the rings."
