#!/usr/bin/env bash
# tshark on a capture of encrypted game datagrams, without the dissector
# and with it, in turn: the least CPU time (user + system) of a few runs
# of each, and their ratio. Three ways of reading: the summary lines; every
# datagram's payload as a field (udp.payload without the dissector, the
# decrypted subspace.payload with it); and, with the dissector, every
# packet's type and every game packet (subspace.core, subspace.game_data)
# against tshark alone printing udp.payload.
# Usage: bench/dissector_bench.sh path/to/dissector_capture [datagrams] [runs]
set -euo pipefail
capture_tool=$(realpath "$1")
datagrams=${2:-100000}
runs=${3:-3}
dissector=$(realpath "$(dirname "$0")/../wireshark/subspace.lua")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$capture_tool" "$dir/game.pcapng" "$datagrams"

# The CPU seconds of one run of the command, its output thrown away.
cpu() {
  local TIMEFORMAT='%3U %3S'
  { time "$@" >/dev/null 2>"$dir/errors.txt"; } 2>&1 | awk '{print $1 + $2}'
}

# The lesser of two times.
less() { awk -v a="$1" -v b="$2" 'BEGIN {print (b == "" || a < b) ? a : b}'; }

echo "tshark $(tshark --version 2>/dev/null | head -1 | awk '{print $3}'), $datagrams datagrams, least of $runs runs (CPU s)"
printf '%-10s %10s %10s %7s\n' reading without with ratio
# Runs the two commands in turn, so that both meet the same load on a
# shared machine, and keeps the least time of each.
compare() {
  local name=$1 without_fields=$2 with_fields=$3
  local without="" with=""
  for _ in $(seq "$runs"); do
    # shellcheck disable=SC2086
    without=$(less "$(cpu tshark -n -r "$dir/game.pcapng" $without_fields)" "$without")
    # shellcheck disable=SC2086
    with=$(less "$(cpu tshark -n -X "lua_script:$dissector" -r "$dir/game.pcapng" $with_fields)" "$with")
  done
  printf '%-10s %10s %10s %7.2f\n' "$name" "$without" "$with" \
    "$(awk -v a="$with" -v b="$without" 'BEGIN {print a / b}')"
}
compare summary "" ""
compare payload "-T fields -e udp.payload" "-T fields -e subspace.payload"
compare packets "-T fields -e udp.payload" "-T fields -e subspace.core -e subspace.game_data"
