# Shared part of the end-to-end scripts (sourced): display, builds, Wine prefix, reporting and window waits.
# The sourcing script sets `root` and `e2e_name` and passes its own "$0" "$@" to e2e_begin.

# Re-runs the script inside its own Xvfb when there is no usable display; then builds what is missing
# (vrtool and the demo package natively, setup.exe for i686) and makes sure the Wine prefix exists.
# Sets `native` (the native build folder), `demo`, `demo_medium` (the demo's first medium), `vrtool`,
# `setup_exe` and `work` (a temporary folder removed at exit).
e2e_begin() {
  if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
  fi
  . "$root/scripts/wine-env.sh"
  # VR_NATIVE_BUILD and VR_SETUP_EXE name other builds than the ones found here.
  native=${VR_NATIVE_BUILD:-}
  local preset
  [ -n "$native" ] || for preset in debug release; do
    if [ -f "$root/build/$preset/CMakeCache.txt" ]; then native=$root/build/$preset; break; fi
  done
  if [ -z "$native" ]; then
    (cd "$root" && cmake --preset debug >/dev/null) || exit 1
    native=$root/build/debug
  fi
  # Configure again first: a build folder made before the demo package existed has no target for it.
  cmake -S "$root" -B "$native" >/dev/null &&
    cmake --build "$native" --target vrtool demo -j2 >/dev/null || { echo "$e2e_name: native build failed" >&2; exit 1; }
  vrtool=$native/apps/vrtool/vrtool
  setup_exe=${VR_SETUP_EXE:-$root/build/mingw-i686/apps/setup/setup.exe}
  work=$(mktemp -d "${TMPDIR:-/tmp}/vr-$e2e_name.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  if [ ! -x "$setup_exe" ]; then
    [ -f "$root/build/mingw-i686/CMakeCache.txt" ] || (cd "$root" && cmake --preset mingw-i686 >/dev/null)
    cmake --build "$root/build/mingw-i686" --target setup -j2 >/dev/null ||
      { echo "$e2e_name: setup.exe build failed" >&2; exit 1; }
  fi
  "$root/scripts/wine-prefix.sh"
  demo=$native/demo
  # The demo's game program comes from the same Windows build.
  local winbuild
  winbuild=$(cd "$(dirname "$setup_exe")/../.." && pwd)
  game_exe=$winbuild/demo/game/hoshimi.exe
  if [ ! -f "$game_exe" ]; then
    cmake -S "$root" -B "$winbuild" >/dev/null && cmake --build "$winbuild" --target hoshimi -j2 >/dev/null ||
      { echo "$e2e_name: the demo's game program could not be built" >&2; exit 1; }
  fi
  # The demo's media with the Windows build's setup.exe and game program (the native build holds
  # stand-ins).
  mkdir -p "$work/demo-src"
  cp -r "$demo/media.json" "$demo/files" "$demo/archive" "$work/demo-src/"
  cp "$game_exe" "$work/demo-src/files/hoshimi.exe"
  "$vrtool" -q media build "$work/demo-src/media.json" --setup "$setup_exe" -o "$work/demo-media" >/dev/null ||
    { echo "$e2e_name: the demo media could not be built" >&2; exit 1; }
  demo_medium=$work/demo-media/disc1
  shots=$root/build/e2e
  mkdir -p "$shots"
  title="星見の丘 体験版"
  failures=0
}

# Waits for a background job of this shell and sets $status to its exit status, or to "timeout" (and
# kills it) after $2 seconds.
wait_exit() {
  local pid=$1 limit=${2:-10} i
  for ((i = 0; i < limit * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      status=$?
      return 0
    fi
    sleep 0.1
  done
  kill "$pid" 2>/dev/null
  status=timeout
}

pass() { printf '  ok    %s\n' "$*"; }
fail() { printf '  FAIL  %s\n' "$*"; failures=$((failures + 1)); }

# Window id of the first visible top-level window whose title matches (a regular expression), waiting up
# to $2 seconds; empty when none came.
wait_window() {
  local pattern=$1 limit=${2:-15} i id
  for ((i = 0; i < limit * 10; i++)); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  return 1
}

# True once no visible window matches, within $2 seconds.
wait_no_window() {
  local pattern=$1 limit=${2:-10} i
  for ((i = 0; i < limit * 10; i++)); do
    xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}

# Visible top-level windows other than the input method's, one id per line, sorted.
program_windows() {
  local w
  for w in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" != "Default IME" ] && echo "$w"
  done | sort
}

# The string value $2 of the registry key $1, or nothing. reg.exe writes in the ANSI code page (932).
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | iconv -f CP932 -t UTF-8 | tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"
}

# Client-area origin of a window with a dialog frame (equal borders left, right and bottom).
client_origin() {
  local id=$1 cw=$2 ch=$3
  eval "$(xdotool getwindowgeometry --shell "$id")"
  local border=$(((WIDTH - cw) / 2))
  echo "$((X + border)) $((Y + HEIGHT - ch - border))"
}
