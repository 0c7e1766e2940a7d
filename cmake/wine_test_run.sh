#!/bin/sh
# Runs a Windows test program under wine for ctest: wine_test_run.sh WINE
# PROGRAM ARGUMENTS... The program's output goes through a file, because
# the console host and desktop that wine starts for a test with a console
# outlive the test by many seconds and would hold ctest's pipe open (and
# ctest waiting) all that time.
wine=$1
shift
output=$(mktemp) || exit 1
"$wine" "$@" >"$output" 2>&1
status=$?
# A test program always prints GoogleTest's lines, so a failure with no
# output at all is wine failing to start it (now and then, on a busy
# machine, with its own messages turned off); that is tried once more,
# and said.
if [ $status -ne 0 ] && [ ! -s "$output" ]; then
  echo "wine_test_run.sh: wine started nothing (status $status); starting it once more"
  "$wine" "$@" >"$output" 2>&1
  status=$?
fi
cat "$output"
rm -f "$output"
exit $status
