#!/usr/bin/env bash
# End-to-end keyboard walk through the install wizard of the demo package under Wine: launcher ->
# Install -> temp copy -> backdrop and wizard, then only keys: Enter from the welcome page, Space on the
# consent box (Enter does nothing before it), Enter to "confirm", Enter on "インストール" (the copy run is
# not part of this build: a warning says so and the wizard returns to "confirm" without writing
# anything), Alt+A and Yes to leave. A screenshot of every page goes to build/e2e/wizard-*.png.
#
# Needs the Wine prefix (scripts/wine-prefix.sh) and a display; without $DISPLAY it starts its own Xvfb.
# Uses build/mingw-i686 for setup.exe and a native build (build/debug, else build/release) for the demo
# package; missing targets are built.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

e2e_name="wizard walk"
. "$root/tests/e2e/lib.sh"
e2e_begin "$0" "$@"

work=$(mktemp -d "${TMPDIR:-/tmp}/vr-wizard.XXXXXX")
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT

regkey='HKCU\Software\vrsetup\HoshimiDemo'

wait_title() {  # id title [seconds]: true once the window carries that title
  local id=$1 want=$2 limit=${3:-10} i
  for ((i = 0; i < limit * 10; i++)); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$want" ] && return 0
    sleep 0.1
  done
  return 1
}
# Processes of this walk only (their command lines name its work folder); other runs may share the prefix.
leftovers() { pgrep -af 'setup\.exe|rinstall[0-9]*\.exe' | grep -F "$(basename "$work")" | grep -v -e pgrep || true; }
shot() { sleep 0.4; import -window root "$shots/wizard-$1.png"; }

medium="$work/メディア"
mkdir -p "$medium"
cp "$demo"/medium/* "$medium/"
cp "$root/build/mingw-i686/apps/setup/setup.exe" "$medium/"
wine reg delete "$regkey" /v InstallPath /f >/dev/null 2>&1
destination=$(winepath -u 'C:\Program Files (x86)\vrsetup' 2>/dev/null)
[ -n "$destination" ] && [ ! -e "$destination" ] || destination=$(winepath -u 'C:\Program Files\vrsetup' 2>/dev/null)

echo "e2e: wizard keyboard walk (i686)"
(cd "$medium" && exec wine setup.exe >>"$work/wine.log" 2>&1) &
first=$!
launcher=$(wait_window "^${title}\$" 20) || { fail "no launcher window"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$launcher")"
# A click on the window's empty lower left corner activates it; the focus is on "インストール".
xdotool mousemove $((X + 12)) $((Y + HEIGHT - 12)) click 1
sleep 0.2
xdotool key Return
wait "$first"
pid=""

wizard=$(wait_window "^ようこそ\$" 25) || { fail "no wizard window"; exit 1; }
pid=$(pgrep -f "rinstall[0-9]*\\.exe.*$(basename "$work")" | head -1)
pass "wizard opens on the welcome page"
shot Hello

step() {  # keys expected-title name
  local keys=$1 want=$2 name=$3
  xdotool key $keys
  if wait_title "$wizard" "$want" 10; then
    pass "$keys -> $want"
    shot "$name"
  else
    fail "$keys: title \"$(xdotool getwindowname "$wizard" 2>/dev/null)\", expected \"$want\""
  fi
}

step Return "ライセンス契約" License
xdotool key Return
sleep 0.6
[ "$(xdotool getwindowname "$wizard")" = "ライセンス契約" ] && pass "Enter does nothing before consent" ||
  fail "Enter left the licence page without consent"
xdotool key space
sleep 0.3
step Return "インストールするファイル" file
step Return "インストール先の選択" seldir
step Return "インストール準備完了" confirm

# "インストール": the copy run is not part of this build; the wizard says so and stays.
xdotool key Return
if warning=$(wait_window "^警告\$" 10); then
  pass "the copy run reports that it is not available"
  shot copy-warning
  xdotool key Return
  wait_no_window "^警告\$" 5 && wait_title "$wizard" "インストール準備完了" 5 && pass "back on confirm" ||
    fail "not back on confirm"
else
  fail "no warning for the copy run"
fi
[ -n "$destination" ] && [ ! -e "$destination" ] && pass "nothing written to $destination" ||
  fail "destination folder exists: $destination"
wine reg query "$regkey" /v InstallPath >/dev/null 2>&1 && fail "InstallPath written" ||
  pass "no InstallPath value"

# Leave with Alt+A (中断) and Yes.
xdotool key alt+a
if wait_window "^確認\$" 10 >/dev/null; then
  shot abort-question
  xdotool key Return
  wait_no_window "^${title}のセットアップ" 10 && pass "Alt+A and Yes close the wizard and the backdrop" ||
    fail "wizard still up after the abort question"
else
  fail "no abort question"
fi
for ((i = 0; i < 50; i++)); do [ -z "$(leftovers)" ] && break; sleep 0.1; done
[ -z "$(leftovers)" ] && pass "no process left" || fail "processes left: $(leftovers)"
pid=""

echo "e2e: wizard screenshots in $shots/wizard-*.png"
if [ "$failures" -ne 0 ]; then
  echo "e2e: $failures wizard check(s) failed" >&2
  exit 1
fi
echo "e2e: wizard walk passed"
