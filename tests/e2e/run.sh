#!/usr/bin/env bash
# End-to-end run of setup.exe under Wine on the demo package: the launcher with its title and picture,
# Exit, a second instance, Install starting the temp copy with the medium folder, the backdrop window
# behind the wizard, and start-up errors reaching the error report. Every run must end with exit code 0
# and leave no window or process behind.
#
# Needs the Wine prefix (scripts/wine-prefix.sh) and a display; without $DISPLAY it starts its own Xvfb.
# Uses build/mingw-i686 (and build/mingw-x86_64 when built) for setup.exe and a native build
# (build/debug, else build/release) for vrtool and the demo package; missing targets are built.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

e2e_name=e2e
. "$root/tests/e2e/lib.sh"
e2e_begin "$0" "$@"

convert=/usr/bin/convert
compare=/usr/bin/compare
[ -x "$compare" ] || compare=compare

# Processes of this program in this Wine prefix (the medium's setup.exe or a temp copy), as
# "pid command line" lines; $1 narrows the pattern.
ours() {
  local pattern=${1:-'setup\.exe|rinstall[0-9]*\.exe'} p
  for p in $(pgrep -f "$pattern"); do
    [ "$p" = "$$" ] && continue
    tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    echo "$p $(tr '\0' ' ' 2>/dev/null <"/proc/$p/cmdline")"
  done
}
leftovers() { ours; }
# Number of pixels that differ (by more than a small tolerance) between a region of the screenshot
# and a region of the expected picture.
differing() {
  local shot=$1 sx=$2 sy=$3 picture=$4 px=$5 py=$6 w=$7 h=$8
  "$convert" "$shot" -crop "${w}x${h}+${sx}+${sy}" +repage "$work/a.png"
  "$convert" "$picture" -crop "${w}x${h}+${px}+${py}" +repage "$work/b.png"
  "$compare" -metric AE -fuzz 3% "$work/a.png" "$work/b.png" null: 2>&1 | cut -d' ' -f1
}
# Colour of one screen pixel as "r,g,b".
pixel() {
  "$convert" "$1" -crop "1x1+$2+$3" +repage -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:
}

# --- the medium -------------------------------------------------------------------------------------
medium="$work/メディア"
mkdir -p "$medium"
cp -r "$demo_medium"/. "$medium/"
cp "$setup_exe" "$medium/"
"$vrtool" image convert --seed 20240 "$demo/archive/pict/back.vsk" "$work/picture.png" >/dev/null ||
  { echo "e2e: cannot decode the demo picture" >&2; exit 1; }
# The launcher's 265 x 158 client area shows the middle of the picture: where that lies in the picture.
read -r pw ph < <(identify -format '%w %h' "$work/picture.png")
px0=$(((pw - 265) / 2))
py0=$(((ph - 158) / 2))

start_setup() {  # folder [args...]: starts its setup.exe in the background, sets $pid
  local folder=$1
  shift
  (cd "$folder" && exec wine setup.exe "$@" >>"$work/wine.log" 2>&1) &
  pid=$!
}

echo "e2e: setup.exe (i686) on the demo package"

# 1. The launcher: title, picture, and Exit through the keyboard.
start_setup "$medium"
if launcher=$(wait_window "^${title}\$" 20); then
  pass "launcher window \"$title\""
  sleep 0.7
  import -window root "$shots/launcher.png"
  read -r cx cy < <(client_origin "$launcher" 265 158)
  # The picture is centred in the 265 x 158 client area; the strips left and right of the buttons and
  # the gaps between them show it unscaled.
  bad=0
  for region in "0 0 28 158" "242 0 23 158" "28 42 214 22" "28 94 214 22"; do
    read -r rx ry rw rh <<<"$region"
    n=$(differing "$shots/launcher.png" $((cx + rx)) $((cy + ry)) "$work/picture.png" $((rx + px0)) $((ry + py0)) "$rw" "$rh")
    [ "${n:-x}" -le $((rw * rh / 100)) ] 2>/dev/null || { bad=1; echo "    region $region: $n pixels differ"; }
  done
  [ $bad = 0 ] && pass "backdrop picture at its place in the launcher" || fail "launcher picture differs"

  # 2. A second instance for the same title ends at once, silently.
  start_setup "$medium"
  second=$pid
  wait_exit "$second" 15
  count=$(xdotool search --onlyvisible --name "^${title}" 2>/dev/null | wc -l)
  [ "$status" = 0 ] && [ "$count" = 1 ] && pass "second instance ended silently (exit 0)" ||
    fail "second instance: exit $status, $count windows"

  # Focus starts on "インストール" (the game is not installed); Tab moves to "終了".
  xdotool mousemove $((cx + 10)) $((cy + 150)) click 1
  sleep 0.2
  xdotool key Tab
  sleep 0.2
  xdotool key Return
  wait_exit "$pid" 10
  [ "$status" = 0 ] && wait_no_window "^${title}" 5 && pass "終了 ends the launcher (exit 0)" ||
    fail "終了: exit $status"
else
  fail "no launcher window"
  kill "$pid" 2>/dev/null
fi

# 3. Install: the temp copy starts with the medium folder and shows the backdrop and the wizard.
start_setup "$medium"
if launcher=$(wait_window "^${title}\$" 20); then
  read -r cx cy < <(client_origin "$launcher" 265 158)
  xdotool mousemove $((cx + 10)) $((cy + 150)) click 1
  sleep 0.2
  xdotool key Return
  wait_exit "$pid" 10
  [ "$status" = 0 ] && pass "インストール ends the first process (exit 0)" || fail "first process: exit $status"
  if backdrop=$(wait_window "^${title}のセットアップ\$" 20); then
    pass "backdrop window \"${title}のセットアップ\""
    [ -n "$(ours 'rinstall[0-9]*\.exe')" ] && pass "~rinstall.exe runs" || fail "no ~rinstall.exe process"
    # In a folder of its own named after the token it was handed.
    copy=$(ls -t "$(winepath -u 'C:\users' 2>/dev/null)"/*/Temp/~rinstall-*/~rinstall.exe 2>/dev/null | head -1)
    [ -n "$copy" ] && cmp -s "$copy" "$medium/setup.exe" && pass "temp copy is a byte copy" || fail "temp copy missing"
    token=$(basename "$(dirname "$copy")")
    ours "/TEMPCOPY=${token#~rinstall-}" | grep -q . && pass "the copy runs with its token" ||
      fail "no copy with the token ${token#~rinstall-}"
    sleep 1
    import -window root "$shots/backdrop.png"
    read -r bx by < <(client_origin "$backdrop" 924 568)
    # The wizard in front covers the centred picture; the gradient and the footer show around it.
    top=$(pixel "$shots/backdrop.png" $((bx + 4)) $((by + 1)))
    footer=$(pixel "$shots/backdrop.png" $((bx + 4)) $((by + 568 - 14)))
    [ "$top" = "0,0,255" ] && [ "$footer" = "0,0,0" ] && pass "gradient and footer strip" ||
      fail "gradient $top, footer $footer"
    # Leave the wizard: the install wizard through Abort and its question, the stand-in through its
    # only button.
    if wait_window '^ようこそ$' 2 >/dev/null; then
      xdotool key alt+a
      if wait_window '^確認$' 5 >/dev/null; then xdotool key Return; else fail "no question on Abort"; fi
    else
      xdotool key Return
    fi
    if wait_no_window "^${title}のセットアップ" 10; then pass "wizard closed"; else fail "wizard still up"; fi
    for ((i = 0; i < 50; i++)); do [ -z "$(ours 'rinstall[0-9]*\.exe')" ] && break; sleep 0.1; done
  else
    fail "no backdrop window from the temp copy"
  fi
else
  fail "no launcher window for the install run"
  kill "$pid" 2>/dev/null
fi
sleep 0.5
[ -z "$(leftovers)" ] && pass "no process left" || { fail "processes left: $(leftovers)"; }

# 4. Start-up errors: the error report shows, the run ends with exit code 0, nothing stays.
error_case() {  # name folder
  local name=$1 folder=$2 id i
  start_setup "$folder"
  id=""
  # The report is the first window with a caption (Wine's desktop window has none); a loaded machine
  # may take a while to start Wine.
  for ((i = 0; i < 300; i++)); do
    for id in $(program_windows); do
      [ -n "$(xdotool getwindowname "$id" 2>/dev/null)" ] && break 2
    done
    id=""
    sleep 0.1
  done
  if [ -z "$id" ]; then
    fail "$name: no error report"
    kill "$pid" 2>/dev/null
    return
  fi
  sleep 0.5
  import -window root "$shots/error-$name.png"
  xdotool key Return
  wait_exit "$pid" 10
  [ "$status" = 0 ] && [ -z "$(leftovers)" ] && pass "$name: error report, exit 0, nothing left" ||
    fail "$name: exit $status, left: $(leftovers)"
}

broken="$work/broken-archive"
mkdir -p "$broken"
cp "$medium/setup.exe" "$medium/install.dat" "$broken/"
printf 'vf\x66\x00\x00\x00\xf0\xff\xff\x7fshort' >"$broken/game.dat"
error_case damaged-archive "$broken"

nosettings="$work/no-settings"
mkdir -p "$nosettings/pack/pict"
cp "$demo/archive/pict/back.vsk" "$nosettings/pack/pict/"
"$vrtool" -q pack -o "$nosettings/pack.dat" "$nosettings/pack" >/dev/null
cp "$medium/setup.exe" "$nosettings/"
"$vrtool" append "$nosettings/setup.exe" "$nosettings/pack.dat" >/dev/null
rm -rf "$nosettings/pack" "$nosettings/pack.dat"
error_case missing-settings-entry "$nosettings"

badpicture="$work/bad-picture"
mkdir -p "$badpicture/pack/pict"
printf 'Vesk107 and nothing of a picture' >"$badpicture/pack/pict/back.vsk"
"$vrtool" -q pack -o "$badpicture/game.dat" "$badpicture/pack" >/dev/null
rm -rf "$badpicture/pack"
cp "$medium/setup.exe" "$medium/install.dat" "$badpicture/"
error_case undecodable-picture "$badpicture"

# 5. The x86-64 build shows the same launcher.
if [ -x "$root/build/mingw-x86_64/apps/setup/setup.exe" ]; then
  echo "e2e: setup.exe (x86-64)"
  medium64="$work/medium64"
  mkdir -p "$medium64"
  cp -r "$demo_medium"/. "$medium64/"
  cp "$root/build/mingw-x86_64/apps/setup/setup.exe" "$medium64/"
  start_setup "$medium64"
  if launcher=$(wait_window "^${title}\$" 20); then
    read -r cx cy < <(client_origin "$launcher" 265 158)
    sleep 0.5
    import -window root "$shots/launcher64.png"
    n=$(differing "$shots/launcher64.png" "$cx" "$cy" "$work/picture.png" "$px0" "$py0" 28 158)
    [ "${n:-x}" -le 44 ] 2>/dev/null && pass "x86-64 launcher with its picture" || fail "x86-64 picture: $n"
    xdotool mousemove $((cx + 10)) $((cy + 150)) click 1
    xdotool key Tab Return
    wait_exit "$pid" 10
    [ "$status" = 0 ] && pass "x86-64 終了 (exit 0)" || fail "x86-64 exit $status"
  else
    fail "x86-64: no launcher"
    kill "$pid" 2>/dev/null
  fi
fi

"$root/tests/e2e/install.sh" || failures=$((failures + 1))
"$root/tests/e2e/silent.sh" || failures=$((failures + 1))
"$root/tests/e2e/wineprefix.sh" || failures=$((failures + 1))
"$root/tests/e2e/planted.sh" || failures=$((failures + 1))
echo "e2e: screenshots in $shots"
if [ "$failures" -ne 0 ]; then
  echo "e2e: $failures check(s) failed" >&2
  exit 1
fi
echo "e2e: all checks passed"
