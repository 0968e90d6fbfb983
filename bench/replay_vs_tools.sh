#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times the offline replay against tcpdump and tshark reading the same capture.
#
#   bench/replay_vs_tools.sh [CAPTURE.pcap]
#
# Without an argument a capture of 1,000,000 datagrams is made in a temporary directory with
# make_capture.py. Each tool reads the capture 5 times, the tools taking turns so that changing
# load on the machine falls on all of them alike; the median wall time is reported. tshark runs
# only once when that once takes longer than 5 s.
#
# Environment: ZPMONI (the binary; default build/src/zpmoni), RUNS (default 5),
# COUNT (datagrams of a made capture; default 1000000).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
zpmoni="${ZPMONI:-$here/../build/src/zpmoni}"
runs="${RUNS:-5}"
count="${COUNT:-1000000}"

for tool in tcpdump tshark python3; do
    command -v "$tool" >/dev/null || { echo "replay_vs_tools: $tool not found" >&2; exit 2; }
done
[[ -x "$zpmoni" ]] || { echo "replay_vs_tools: no zpmoni binary at $zpmoni" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if [[ $# -ge 1 ]]; then
    capture="$1"
    [[ -r "$capture" ]] || { echo "replay_vs_tools: cannot read $capture" >&2; exit 2; }
else
    capture="$work/capture.pcap"
    echo "making $capture ($count datagrams)..."
    python3 "$here/make_capture.py" "$capture" -n "$count"
fi
# Into the page cache, so the first timed run reads no more from disk than the later ones.
cat "$capture" >/dev/null

# The replay has to read the whole capture and accept it; a fast failure proves nothing.
summary="$("$zpmoni" --replay "$capture" --local 198.51.100.1 | tail -n 1)"
echo "replay: $summary"
[[ "$summary" == "# datagrams="* ]] || { echo "replay_vs_tools: the replay failed" >&2; exit 1; }

run_replay()  { "$zpmoni" --replay "$capture" --local 198.51.100.1 >/dev/null; }
run_tcpdump() { tcpdump -r "$capture" -w /dev/null 'tcp port 7915' 2>"$work/tcpdump.err"; }
run_tshark()  {
    tshark -o tcp.analyze_sequence_numbers:FALSE -r "$capture" -Y "tcp.port==7915" \
        >/dev/null 2>"$work/tshark.err"
}

# Wall time of one run in seconds.
timed() {
    local start end
    start=$(date +%s%N)
    "$@" || { echo "replay_vs_tools: $1 failed" >&2; cat "$work"/*.err >&2 2>/dev/null; exit 1; }
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.4f\n", ns / 1e9 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/replay.t"; : >"$work/tcpdump.t"; : >"$work/tshark.t"
tshark_runs="$runs"
for ((i = 1; i <= runs; i++)); do
    echo "round $i/$runs..."
    timed run_replay >>"$work/replay.t"
    timed run_tcpdump >>"$work/tcpdump.t"
    if ((i <= tshark_runs)); then
        timed run_tshark >>"$work/tshark.t"
        if ((i == 1)) && awk '{ exit !($1 > 5) }' "$work/tshark.t"; then
            tshark_runs=1
        fi
    fi
done

replay=$(median <"$work/replay.t")
tcpdump_t=$(median <"$work/tcpdump.t")
tshark_t=$(median <"$work/tshark.t")
datagrams=$(sed -n 's/^# datagrams=\([0-9]*\).*/\1/p' <<<"$summary")

echo
printf '%s, %s datagrams, %s bytes\n' "$capture" "$datagrams" "$(stat -c %s "$capture")"
echo "replay:  $zpmoni --replay FILE --local 198.51.100.1 >/dev/null"
echo "tcpdump: tcpdump -r FILE -w /dev/null 'tcp port 7915'"
echo "tshark:  tshark -o tcp.analyze_sequence_numbers:FALSE -r FILE -Y tcp.port==7915 >/dev/null"
echo
printf '%-8s %4s %9s %9s %10s\n' "" "runs" "median s" "Mdgram/s" "x tcpdump"
row() {
    awk -v name="$1" -v n="$2" -v t="$3" -v base="$tcpdump_t" -v d="$datagrams" \
        'BEGIN { printf "%-8s %4d %9.3f %9.2f %10.2f\n", name, n, t, d / t / 1e6, t / base }'
}
row replay "$runs" "$replay"
row tcpdump "$runs" "$tcpdump_t"
row tshark "$(wc -l <"$work/tshark.t")" "$tshark_t"
echo
awk -v r="$replay" -v d="$tcpdump_t" -v s="$tshark_t" 'BEGIN {
    a = r / d; b = s / r
    printf "replay / tcpdump = %.2f  (target <= 1.5)  %s\n", a, (a <= 1.5 ? "met" : "MISSED")
    printf "tshark / replay  = %.1f  (target >= 20)   %s\n", b, (b >= 20 ? "met" : "MISSED")
    exit !(a <= 1.5 && b >= 20)
}'
