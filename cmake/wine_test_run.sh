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
cat "$output"
rm -f "$output"
exit $status
