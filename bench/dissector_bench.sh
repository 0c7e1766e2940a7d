#!/usr/bin/env bash
# tshark on captures of game datagrams, without the dissector and with it,
# in turn: the least CPU time (user + system) of a few runs of each, and
# their ratio. Three views over a realistic mix: the fields (every packet's
# type and every game packet, against tshark alone printing the UDP
# payloads it finds), the summary lines, and the full tree (-V). Then two
# hostile captures read with -V: the least time and the most memory
# (maximum resident set) of each side.
# Usage: bench/dissector_bench.sh path/to/dissector_capture [datagrams] [runs]
# DISSECTOR=path/to/subspace.lua measures another copy of the dissector.
set -euo pipefail
capture_tool=$(realpath "$1")
datagrams=${2:-100000}
runs=${3:-3}
dissector=${DISSECTOR:-$(realpath "$(dirname "$0")/../wireshark/subspace.lua")}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$capture_tool" "$dir/game.pcapng" "$datagrams" mix
"$capture_tool" "$dir/flood.pcapng" "$datagrams" flood
"$capture_tool" "$dir/nested.pcapng" 2000 nested

# The CPU seconds and the peak memory (MB) of one run of the command, its
# output thrown away.
measure() {
  /usr/bin/time -f '%U %S %M' -o "$dir/time.txt" "$@" >/dev/null 2>"$dir/errors.txt"
  awk '{printf "%.2f %.0f\n", $1 + $2, $3 / 1024}' "$dir/time.txt"
}

# The lesser of two numbers, and the greater.
less() { awk -v a="$1" -v b="$2" 'BEGIN {print (b == "" || a < b) ? a : b}'; }
more() { awk -v a="$1" -v b="$2" 'BEGIN {print (b == "" || a > b) ? a : b}'; }

echo "tshark $(tshark --version 2>/dev/null | head -1 | awk '{print $3}'), $datagrams datagrams, least of $runs runs (CPU s, peak MB)"
printf '%-8s %-8s %8s %8s %7s %8s %8s %7s\n' view capture without with ratio "MB w/o" "MB with" ratio
# Runs the two commands in turn, so that both meet the same load on a
# shared machine, and keeps the least time and the most memory of each.
compare() {
  local name=$1 file=$2 without_options=$3 with_options=$4
  local without="" with="" without_mb="" with_mb="" result
  for _ in $(seq "$runs"); do
    # shellcheck disable=SC2086
    read -r result mb < <(measure tshark -n -r "$dir/$file.pcapng" $without_options)
    without=$(less "$result" "$without") without_mb=$(more "$mb" "$without_mb")
    # shellcheck disable=SC2086
    read -r result mb < <(measure tshark -n -X "lua_script:$dissector" -r "$dir/$file.pcapng" \
      $with_options)
    with=$(less "$result" "$with") with_mb=$(more "$mb" "$with_mb")
  done
  printf '%-8s %-8s %8s %8s %7.2f %8s %8s %7.2f\n' "$name" "$file" "$without" "$with" \
    "$(awk -v a="$with" -v b="$without" 'BEGIN {print a / b}')" "$without_mb" "$with_mb" \
    "$(awk -v a="$with_mb" -v b="$without_mb" 'BEGIN {print a / b}')"
}
compare fields game "-T fields -e data.data" "-T fields -e subspace.core -e subspace.game_data"
compare summary game "" ""
compare tree game "-V" "-V"
compare tree flood "-V" "-V"
compare tree nested "-V" "-V"
