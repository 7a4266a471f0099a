#!/usr/bin/env bash
# Runs a Windows program of the mingw builds under Wine (CMake's cross-compiling emulator).
# The prefix must exist (scripts/wine-prefix.sh); the display comes from the caller (one Xvfb for all).
#
# The program's output goes through a file: processes Wine starts on the program's behalf (the
# server, the prefix's services, an Explorer window a test opens) keep the output they were started
# with, and a test runner reading a pipe would wait for them to end as well.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null' TERM INT
status=0
wait "$pid" || status=$?
# A signal ends the first wait early; the program's own end is waited for.
while kill -0 "$pid" 2>/dev/null; do wait "$pid" || status=$?; done
cat "$out"
exit "$status"
