#!/usr/bin/env bash
# End-to-end installs under Wine, driven with the keyboard like a player would.
#
# 1. The demo package: launcher -> インストール -> temp copy -> wizard; Enter from the welcome page,
#    Space on the consent box (Enter does nothing before it), Enter through the pages, Enter on
#    "インストール"; the run copies, builds and checks the data file, writes install.dat, the shortcuts
#    and "InstallPath", opens the Programs folder and the read-me, and ends on "exit". Checked: the files,
#    `vrtool verify` of the data file, `vrtool settings show --json` of install.dat, the shortcuts read
#    with lnkinfo, the registry value, and the read-me and folder windows.
# 2. A two-medium package: the medium folder's contents are swapped when the prompt for disc 2 appears.
#
# Screenshots go to build/e2e/install-*.png. Needs the Wine prefix and a display (lib.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

e2e_name="install"
. "$root/tests/e2e/lib.sh"
e2e_begin "$0" "$@"


wait_title() {  # id title [seconds]: true once the window carries that title
  local id=$1 want=$2 limit=${3:-10} i
  for ((i = 0; i < limit * 10; i++)); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$want" ] && return 0
    sleep 0.1
  done
  return 1
}
# Processes of this script only (their command lines name its work folder), or temp copies.
leftovers() { pgrep -af 'setup\.exe|rinstall[0-9]*\.exe' | grep -v -e pgrep | grep -F -e "$(basename "$work")" || true; }
shot() { sleep 0.3; import -window root "$shots/install-$1.png"; }
# Closes the windows other programs opened for the run (the read-me, the Programs folder) and ends
# those programs: a folder window's process keeps its folder as current folder, and a folder in use
# cannot be removed (as on Windows), so the uninstaller would have to leave it.
close_shell_windows() {
  local id
  for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do xdotool windowclose "$id" 2>/dev/null; done
  pkill -f 'notepad\.exe' 2>/dev/null
  pkill -f 'explorer\.exe [A-Za-z]:' 2>/dev/null
  sleep 0.5
}

# Starts the launcher of the medium in $1, presses インストール and prints the wizard's window id.
start_wizard() {
  local medium=$1 first launcher
  (cd "$medium" && exec wine setup.exe >>"$work/wine.log" 2>&1) &
  first=$!
  launcher=$(wait_window "^${2}\$" 25) || return 1
  eval "$(xdotool getwindowgeometry --shell "$launcher")"
  xdotool mousemove $((X + 12)) $((Y + HEIGHT - 12)) click 1
  sleep 0.2
  xdotool key Return
  wait "$first"
  wait_window "^ようこそ\$" 25
}

step() {  # keys expected-title name
  local keys=$1 want=$2 name=$3
  xdotool key $keys
  if wait_title "$wizard" "$want" 10; then
    pass "$keys -> $want"
    [ -n "$name" ] && shot "$name"
  else
    fail "$keys: title \"$(xdotool getwindowname "$wizard" 2>/dev/null)\", expected \"$want\""
  fi
}

# Clicks the point (x, y) of the client area (497 x 336, dialog frame) of window $1.
click_client() {
  local cx cy
  read -r cx cy <<<"$(client_origin "$1" 497 336)"
  xdotool mousemove $((cx + $2)) $((cy + $3)) click 1
  sleep 0.3
}

# Walks from the welcome page to "confirm" with the keyboard; on the file page the three groups are
# ticked with the mouse (they start unchecked).
walk_to_confirm() {
  local prefix=$1
  step Return "ライセンス契約" "$prefix-license"
  # Back onto the welcome page: Enter must work there again.
  step alt+b "ようこそ" ""
  step Return "ライセンス契約" ""
  xdotool key Return
  sleep 0.6
  [ "$(xdotool getwindowname "$wizard")" = "ライセンス契約" ] && pass "Enter does nothing before consent" ||
    fail "Enter left the licence page without consent"
  xdotool key space
  sleep 0.3
  local page
  for ((n = 0; n < 5; n++)); do
    page=$(xdotool getwindowname "$wizard" 2>/dev/null)
    [ "$page" = "インストール準備完了" ] && break
    if [ "$page" = "インストールするファイル" ]; then
      click_client "$wizard" 30 76   # CheckData
      click_client "$wizard" 30 104  # CheckSound
      click_client "$wizard" 30 132  # CheckMovie
      shot "$prefix-file"
    fi
    xdotool key Return
    sleep 0.5
  done
  wait_title "$wizard" "インストール準備完了" 5 && pass "on confirm" || fail "not on confirm: $page"
  shot "$prefix-confirm"
}


# --- 1. the demo package ------------------------------------------------------------------------------
regkey='HKCU\Software\vrsetup\HoshimiDemo'
medium="$work/メディア"
mkdir -p "$medium"
cp -r "$demo_medium"/. "$medium/"
cp "$setup_exe" "$medium/setup.exe"
cp "$setup_exe" "$medium/install.exe"
# The tests' keys all lie below vrsetup: a clean start, so that the emptied parent can be checked.
wine reg delete 'HKCU\Software\vrsetup' /f >/dev/null 2>&1
destination=""
for candidate in 'C:\Program Files (x86)\vrsetup' 'C:\Program Files\vrsetup'; do
  folder=$(winepath -u "$candidate" 2>/dev/null)
  rm -rf "$folder"
done
programs=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs' 2>/dev/null)
rm -rf "$programs/$title"

install_demo() {
  echo "e2e: install the demo package with the keyboard (i686)"
  wizard=$(start_wizard "$medium" "$title") || { fail "no wizard window"; return 1; }
  pass "wizard opens on the welcome page"
  shot Hello
  walk_to_confirm demo

  xdotool key Return
  # The run is short: the shortcut pause is the moment to see the progress page.
  wait_title "$wizard" "ファイルコピー" 20 && { pass "the copy run starts"; shot copy; } || fail "no copy page"
  if wait_title "$wizard" "完了" 60; then
    pass "the run ends on the exit page"
    sleep 1
    shot exit
  else
    fail "no exit page: \"$(xdotool getwindowname "$wizard" 2>/dev/null)\""
  fi

  local installpath
  installpath=$(reg_value "$regkey" InstallPath)
  [ -n "$installpath" ] && pass "InstallPath = $installpath" || fail "no InstallPath value"
  destination=$(winepath -u "$installpath" 2>/dev/null)
  destination=${destination%/}
  for f in hoshimi.exe install.exe readme.txt bgm/theme.ogg movie/op.mpg game.dat game.ext install.dat; do
    [ -f "$destination/$f" ] || fail "missing in the destination: $f"
  done
  [ -f "$destination/hoshimi.exe" ] && pass "files in the destination"
  [ ! -e "$destination/setup.exe" ] && [ ! -e "$destination/omake.txt" ] &&
    pass "files outside the package list stay out" || fail "setup.exe or omake.txt installed"
  cmp -s "$medium/install.exe" "$destination/install.exe" && pass "install.exe is the setup program" ||
    fail "install.exe differs"
  "$vrtool" -q verify "$destination/game.dat" >"$work/verify.txt" 2>&1 && pass "vrtool verify of game.dat" ||
    fail "vrtool verify: $(cat "$work/verify.txt")"
  if "$vrtool" settings show --json "$destination/install.dat" >"$work/settings.json" 2>&1 &&
    python3 - "$work/settings.json" <<'EOF'; then
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))
want = {"hoshimi.exe", "install.exe", "readme.txt", "bgm\\theme.ogg", "movie\\op.mpg", "game.ext", "game.dat", "install.dat"}
got = set(s["InstalledFiles"])
assert s["Uninstaller"] is True, "Uninstaller not set"
assert want == got, "installed files: %r" % sorted(got)
EOF
    pass "install.dat: Uninstaller set and every installed file listed"
  else
    fail "install.dat: $(cat "$work/settings.json" | head -5)"
  fi

  # Shortcuts in the all-users Programs menu.
  for name in "$title" "${title}のアンインストール" "お読みください"; do
    lnk="$links/$name.lnk"
    if [ ! -f "$lnk" ]; then
      fail "no shortcut $name.lnk"
      continue
    fi
    lnkinfo "$lnk" >"$work/lnk.txt" 2>&1
    case $name in
      "$title") target=hoshimi.exe icon=0 ;;
      "${title}のアンインストール") target=install.exe icon=1 ;;
      *) target=readme.txt icon=0 ;;
    esac
    grep -q "Description[[:space:]]*: $name\$" "$work/lnk.txt" &&
      grep -qi "Icon index[[:space:]]*: $icon\$" "$work/lnk.txt" &&
      grep -q "Icon location[[:space:]]*: .*$title.$target\$" "$work/lnk.txt" &&
      grep -q "Working directory[[:space:]]*: .*vrsetup.$title.\$" "$work/lnk.txt" &&
      pass "shortcut $name: target, working folder, icon $icon, description" ||
      fail "shortcut $name: $(tr '\n' '|' <"$work/lnk.txt")"
  done

  # The Programs folder and the read-me were opened.
  wait_window "readme" 10 >/dev/null && pass "the read-me was opened" || fail "no read-me window"
  wait_window "^${title}\$" 10 >/dev/null && pass "the Programs folder was opened" || fail "no folder window"
  shot shell-windows

  click_client "$wizard" 453 312  # 閉じる: the shell's windows may hold the keyboard
  wait_no_window "^${title}のセットアップ" 10 && pass "閉じる closes the wizard and the backdrop" ||
    fail "wizard still up after 閉じる"
  close_shell_windows "readme"
  close_shell_windows "^${title}\$"
  for ((i = 0; i < 50; i++)); do [ -z "$(leftovers)" ] && break; sleep 0.1; done
  [ -z "$(leftovers)" ] && pass "no process left" || fail "processes left: $(leftovers)"

}

# Starts the installed install.exe like the uninstall shortcut does and walks uninst -> 実行 -> exit,
# with the save-data box checked when $1 is "delete-save".
uninstall_demo() {
  local mode=$1 first wizard2 x y
  (cd "$destination" && exec wine "$destination/install.exe" >>"$work/wine.log" 2>&1) &
  first=$!
  wizard2=$(wait_window "^アンインストール\$" 25) || { fail "no uninstall wizard"; return 1; }
  wait "$first" 2>/dev/null
  pass "install.exe starts the uninstaller"
  shot "uninst-$mode"
  if [ "$mode" = delete-save ]; then
    click_client "$wizard2" 28 72  # the save-data box, shown because save.dat exists
    shot uninst-checked
  fi
  # 実行 is clicked, since Enter on the focused check box would toggle it.
  click_client "$wizard2" 360 312
  if wait_title "$wizard2" "完了" 30; then
    pass "the uninstall run ends on the exit page"
    shot "uninstalled-$mode"
  else
    fail "uninstall: no exit page: \"$(xdotool getwindowname "$wizard2" 2>/dev/null)\""
  fi
  click_client "$wizard2" 453 312
  wait_no_window "^${title}の削除" 10 || fail "the uninstall wizard stays open"
  for ((i = 0; i < 50; i++)); do [ -z "$(leftovers)" ] && break; sleep 0.1; done
  for f in hoshimi.exe install.exe readme.txt bgm/theme.ogg movie/op.mpg game.dat game.ext install.dat; do
    [ ! -e "$destination/$f" ] || fail "still there after the uninstall: $f"
  done
  [ ! -e "$destination/hoshimi.exe" ] && pass "the recorded files are gone"
  [ ! -e "$links" ] && pass "the Programs-menu folder is gone" ||
    fail "shortcut folder left: $links: $(ls -A --full-time "$links" 2>&1 | tr '\n' '|')"
  [ -z "$(reg_value "$regkey" InstallPath)" ] && ! wine reg query 'HKCU\Software\vrsetup' >/dev/null 2>&1 &&
    pass "the registry key and its emptied parent are gone" || fail "registry values left"
}

links="$programs/$title"
install_demo
# What the game makes while it is played: a save file and a file in a folder of its own.
printf 'save' >"$destination/save.dat"
mkdir -p "$destination/userdata"
printf 'made by the game' >"$destination/userdata/options.cfg"
uninstall_demo keep-save
[ -f "$destination/save.dat" ] && [ -f "$destination/userdata/options.cfg" ] &&
  pass "without the box the save data and the game's own files stay" || fail "save data or game files removed"
[ ! -e "$destination/bgm" ] && [ ! -e "$destination/movie" ] && pass "emptied folders are gone" ||
  fail "emptied folders left"
rm -rf "$destination"

echo "e2e: install again and uninstall with the save data"
install_demo
printf 'save' >"$destination/save.dat"
uninstall_demo delete-save
[ ! -e "$destination" ] && pass "with the box the game folder is gone entirely" ||
  fail "left in the game folder: $(ls -A "$destination" 2>/dev/null | tr '\n' ' ')"

# --- 2. three media built by vrtool, swapped in one folder -----------------------------------------------
echo "e2e: a three-medium package from media build, media swapped at the prompts"
two="$work/two"
mkdir -p "$two/files/bgm" "$two/files/movie" "$two/archive/scene"
title2="三枚組テスト"
regkey2='HKCU\Software\vrsetup\ThreeDiscTest'
wine reg delete "$regkey2" /f >/dev/null 2>&1
# Sizes follow the setup program's S (on every disc, twice on the first): six entries of S/3, a sound
# and a movie of S/2 each, on discs of 2S + S/2 bytes: one entry on disc 1, four on disc 2, the rest on 3.
s=$(stat -c %s "$setup_exe")
for i in 1 2 3 4 5 6; do head -c $((s / 3)) /dev/urandom >"$two/archive/scene/s$i.bin"; done
printf 'scene one' >"$two/archive/scene/one.txt"
head -c $((s / 2)) /dev/urandom >"$two/files/bgm/theme.ogg"
head -c $((s / 2)) /dev/urandom >"$two/files/movie/op.mpg"
printf 'MZ two' >"$two/files/two.exe"
cat >"$two/media.json" <<EOF
{"settings": {"Title": "$title2", "DefaultFolder": "<ProgramFiles>\\\\vrsetup\\\\$title2", "GameExe": "two.exe",
              "MediaNoun": "ディスク", "RegistryKey": "vrsetup\\\\ThreeDiscTest", "WelcomeText": "三枚組",
              "LicenseText": "同意"},
 "files": "files", "archive": "archive", "capacity": $((2 * s + s / 2)), "setup": "$setup_exe"}
EOF
"$vrtool" -q media build "$two/media.json" -o "$two/media" >/dev/null || fail "cannot build the three media"
[ -d "$two/media/disc3" ] && [ ! -d "$two/media/disc4" ] && pass "media build made three media" ||
  fail "media build made $(ls "$two/media" 2>/dev/null | tr '\n' ' ')"
drive="$work/ドライブ"
mkdir -p "$drive"
cp -r "$two/media/disc1/." "$drive/"

wizard=$(start_wizard "$drive" "$title2") || { fail "no wizard for the three-medium package"; exit 1; }
walk_to_confirm two
xdotool key Return
for d in 2 3; do
  if prompt=$(wait_window "^情報\$" 60); then
    pass "the run asks for disc $d"
    [ "$d" = 2 ] && shot disc-prompt
    rm -rf "${drive:?}/"*
    cp -r "$two/media/disc$d/." "$drive/"
    xdotool windowactivate "$prompt" 2>/dev/null
    xdotool key Return
    wait_no_window "^情報\$" 10 || fail "the prompt for disc $d stays"
  else
    fail "no prompt for disc $d"
  fi
done
if wait_title "$wizard" "完了" 60; then
  pass "the three-medium install ends on the exit page"
  shot two-exit
else
  fail "three media: no exit page: \"$(xdotool getwindowname "$wizard" 2>/dev/null)\""
fi
dest2=$(winepath -u "$(reg_value "$regkey2" InstallPath)" 2>/dev/null)
dest2=${dest2%/}
# The same media installed natively give the same game folder.
"$vrtool" -q install "$two/media/disc1" "$two/media/disc2" "$two/media/disc3" -d "$two/native" >/dev/null 2>&1 ||
  fail "native install of the three media"
diff -r -x install.dat "$two/native" "$dest2" >/dev/null && pass "the wizard's install equals the native one" ||
  fail "the wizard's install differs from the native one: $(diff -rq -x install.dat "$two/native" "$dest2" | head -3)"
[ "$("$vrtool" settings show "$two/native/install.dat")" = "$("$vrtool" settings show "$dest2/install.dat")" ] &&
  pass "and so does its install.dat" || fail "install.dat differs from the native install's"
"$vrtool" -q verify "$dest2/game.dat" >/dev/null 2>&1 && [ -f "$dest2/bgm/theme.ogg" ] && [ -f "$dest2/movie/op.mpg" ] &&
  pass "data of the three discs verified, sound and movie there" || fail "data, sound or movie of the three discs"
click_client "$wizard" 453 312
wait_no_window "^${title2}のセットアップ" 10 && pass "wizard closed" || fail "three media: wizard still up"
close_shell_windows "^${title2}\$"
for ((i = 0; i < 50; i++)); do [ -z "$(leftovers)" ] && break; sleep 0.1; done
[ -z "$(leftovers)" ] && pass "no process left" || fail "processes left: $(leftovers)"

# --- 3. an add-on into a one-executable game ----------------------------------------------------------
echo "e2e: an add-on rebuilds a one-executable game"
one="$work/one"
mkdir -p "$one/game" "$one/addon"
title3="一本のゲーム"
regkey3='HKCU\Software\vrsetup\OneGame'
python3 - "$one" "$title3" <<'EOF2' || fail "cannot write the one-executable settings"
import json, sys
one, title = sys.argv[1], sys.argv[2]
base = {"Title": title, "DefaultFolder": "games\\onegame", "GameExe": "one.exe", "RegistryKey": "vrsetup\\OneGame",
        "DiskCount": 1, "BaseSizes": [100], "DataSizes": [100], "SoundSizes": [0], "MovieSizes": [0],
        "BaseSizeTotal": 100, "DataSizeTotal": 100}
json.dump(base, open(one + "/game.json", "w", encoding="utf-8"), ensure_ascii=False)
json.dump(dict(base, AddOnPackage=True, ArchiveInstall=True), open(one + "/addon.json", "w", encoding="utf-8"),
          ensure_ascii=False)
EOF2
"$vrtool" settings build "$one/game.json" -o "$one/game/install.dat" >/dev/null
"$vrtool" settings build "$one/addon.json" -o "$one/addon/install.dat" >/dev/null
printf 'old scene' >"$one/game/scene.txt"
printf 'kept' >"$one/game/kept.txt"
printf 'new scene' >"$one/addon/scene.txt"
printf 'extra' >"$one/addon/extra.txt"
"$vrtool" -q pack -o "$one/game.pak" "$one/game" >/dev/null && "$vrtool" -q pack -o "$one/addon.pak" "$one/addon" >/dev/null ||
  fail "cannot pack the one-executable game or its add-on"
printf 'MZ the one-executable game program' >"$one/one.exe"
"$vrtool" append "$one/one.exe" "$one/game.pak" >/dev/null || fail "cannot append the game's archive"
cp "$setup_exe" "$one/addon-setup.exe"
"$vrtool" append "$one/addon-setup.exe" "$one/addon.pak" >/dev/null || fail "cannot append the add-on's archive"
gamedir=$(winepath -u 'C:\games\onegame' 2>/dev/null)
rm -rf "$gamedir"
mkdir -p "$gamedir"
cp "$one/one.exe" "$gamedir/one.exe"
wine reg add "$regkey3" /v InstallPath /d 'C:\games\onegame' /f >/dev/null 2>&1
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)

(cd "$one" && exec wine addon-setup.exe >>"$work/wine.log" 2>&1) &
addon_pid=$!
if wizard=$(wait_window "^インストール先の選択\$" 25); then
  pass "the add-on's wizard opens on the destination page"
  shot addon-seldir
  step Return "インストール準備完了" addon-confirm
  xdotool key Return
  if wait_title "$wizard" "完了" 60; then
    pass "the add-on run ends on the exit page"
    shot addon-exit
  else
    fail "add-on: no exit page: \"$(xdotool getwindowname "$wizard" 2>/dev/null)\""
  fi
  click_client "$wizard" 453 312
else
  fail "no add-on wizard"
fi
for ((i = 0; i < 100; i++)); do kill -0 "$addon_pid" 2>/dev/null || break; sleep 0.1; done
"$vrtool" list "$gamedir/one.exe" >"$work/one-list.txt" 2>&1
grep -q 'extra.txt' "$work/one-list.txt" && grep -q 'kept.txt' "$work/one-list.txt" &&
  [ "$("$vrtool" cat "$gamedir/one.exe" scene.txt 2>/dev/null)" = "new scene" ] &&
  pass "vrtool list: the add-on's entries and the game's old ones, the add-on's content winning" ||
  fail "rebuilt archive: $(tr '\n' '|' <"$work/one-list.txt")"
"$vrtool" -q verify "$gamedir/one.exe" >/dev/null 2>&1 && pass "vrtool verify of the rebuilt executable" ||
  fail "the rebuilt executable does not verify"
head -c 34 "$gamedir/one.exe" | grep -q 'MZ the one-executable game program' && pass "program part carried over" ||
  fail "program part changed"
[ "$(ls -A "$gamedir")" = "one.exe" ] && pass "no install.dat or anything else beside the executable" ||
  fail "left beside the executable: $(ls -A "$gamedir" | tr '\n' ' ')"
[ -n "$temp" ] && ! ls -d "$temp"/~rmupdate* >/dev/null 2>&1 && pass "the temp folder is clean" ||
  fail "work folder left in $temp"
[ ! -e "$programs/$title3" ] && pass "no shortcuts for an add-on" || fail "add-on shortcuts made"
[ "$(reg_value "$regkey3" InstallPath)" = 'C:\games\onegame' ] && pass "InstallPath untouched" ||
  fail "InstallPath changed: $(reg_value "$regkey3" InstallPath)"
wine reg delete "$regkey3" /f >/dev/null 2>&1
rm -rf "$gamedir"

echo "e2e: install screenshots in $shots/install-*.png"
if [ "$failures" -ne 0 ]; then
  echo "e2e: $failures install check(s) failed" >&2
  exit 1
fi
echo "e2e: installs passed"
