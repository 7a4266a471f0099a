#!/usr/bin/env bash
# Builds what the demo needs (the native release build's vrtool and demo package, the x86 setup.exe),
# makes the demo medium folder build/demo-medium and starts setup.exe on it under Wine: on your display
# when $DISPLAY works, otherwise in a virtual display, where a screenshot of the launcher is saved to
# build/demo-screenshot.png and the window is closed again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
medium=$root/build/demo-medium
shot=$root/build/demo-screenshot.png
title="星見の丘 体験版"

# Runs inside the virtual display: start, wait for the launcher, take the screenshot, press Exit.
if [ "${1:-}" = "--virtual" ]; then
  . scripts/wine-env.sh
  (cd "$medium" && exec wine setup.exe >/dev/null 2>&1) &
  pid=$!
  id=""
  for ((i = 0; i < 200; i++)); do
    id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -1) && [ -n "$id" ] && break
    sleep 0.1
  done
  if [ -z "$id" ]; then
    echo "demo: the launcher did not appear" >&2
    kill "$pid" 2>/dev/null
    exit 1
  fi
  sleep 1
  import -window root "$shot"
  # The focus starts on "インストール"; Tab moves it to "終了".
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + 12)) $((Y + HEIGHT - 12)) click 1
  sleep 0.2
  xdotool key Tab Return
  for ((i = 0; i < 100; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "demo: setup.exe did not end; stopping it" >&2
    kill "$pid"
  fi
  wait "$pid" 2>/dev/null || true
  echo "demo: screenshot of the launcher in ${shot#"$root"/}"
  exit 0
fi

scripts/setup.sh
echo "demo: building vrtool and the demo package (release)"
cmake --preset release >/dev/null
cmake --build build/release --target vrtool demo -j"$jobs"
echo "demo: building setup.exe (mingw-i686)"
cmake --preset mingw-i686 >/dev/null
cmake --build build/mingw-i686 --target setup -j"$jobs"
scripts/wine-prefix.sh

# The demo's project file with the Windows build's setup.exe (also installed as install.exe, the
# uninstaller); the medium is the first and only disc of the media.
rm -rf "$medium" "$medium.media"
build/release/apps/vrtool/vrtool -q media build build/release/demo/media.json \
  --setup build/mingw-i686/apps/setup/setup.exe -o "$medium.media"
mv "$medium.media/disc1" "$medium"
rm -rf "$medium.media"
echo "demo: medium folder ${medium#"$root"/}:"
ls -l "$medium"

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "demo: starting setup.exe on display $DISPLAY (close the launcher with 終了)"
  . scripts/wine-env.sh
  cd "$medium"
  wine setup.exe
else
  echo "demo: no display; running in a virtual one"
  xvfb-run -a -s "-screen 0 1024x768x24" "$0" --virtual
fi
