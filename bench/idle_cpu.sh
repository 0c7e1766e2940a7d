#!/usr/bin/env bash
# CPU time and wake-ups of an idle relay, read from /proc over a few seconds.
# Usage: bench/idle_cpu.sh path/to/tessard [seconds]
set -euo pipefail
tessard=$(realpath "$1")
seconds=${2:-10}
dir=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
# Any port pair that is free will do; the server is never there.
port=$((40000 + RANDOM % 20000))
printf '[Proxy]\r\nPort=%d\r\n[Server]\r\nIP=127.0.0.1\r\nPort=%d\r\n' \
  "$port" $((port + 2)) >"$dir/TESSARD.INI"
cd "$dir"
# Standard input a pipe that stays open and silent: the relay stops at a
# key press, so it must see none.
mkfifo "$dir/stdin"
"$tessard" <"$dir/stdin" >/dev/null 2>"$dir/errors.txt" &
pid=$!
exec 3>"$dir/stdin"
sleep 1
if ! kill -0 "$pid" 2>/dev/null; then
  echo "idle_cpu.sh: the relay did not stay up:" >&2
  cat "$dir/errors.txt" >&2
  exit 1
fi
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Each time the relay gives up the processor to wait is a wake-up to come.
wakeups() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$pid/status"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
woken_before=$(wakeups)
start=$(date +%s.%N)
sleep "$seconds"
after=$(ticks)
woken_after=$(wakeups)
end=$(date +%s.%N)
awk -v t=$((after - before)) -v w=$((woken_after - woken_before)) -v hz="$hz" \
  -v s="$start" -v e="$end" \
  'BEGIN { cpu = t / hz; wall = e - s;
           printf "idle relay: %.3f s CPU over %.2f s wall = %.3f%% of one core, %.1f wake-ups a second\n",
                  cpu, wall, 100 * cpu / wall, w / wall }'
