#!/usr/bin/env bash
# Runs a Windows program of the mingw builds under Wine (CMake's cross-compiling emulator).
# The prefix must exist (scripts/wine-prefix.sh); the display comes from the caller (one Xvfb for all).
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
exec wine "$@"
