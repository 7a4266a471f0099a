#!/usr/bin/env bash
# vrtool against setup.exe inside two fresh Wine prefixes made under an English locale (C.UTF-8):
#
# 1. vrtool install --wine-prefix is refused while a Wine server runs for the prefix, nothing written.
# 2. vrtool install --wine-prefix A and setup.exe /VERYSILENT in B give the same game folder (every file
#    byte for byte), the same shortcuts (lnkinfo: target, description, working folder, icon; an empty
#    argument string, which Wine's link object writes, counts as none) and the same InstallPath.
# 3. install.exe of A, started under C.UTF-8, shows its wizard with the Japanese caption drawn through
#    the fonts vrtool linked (screenshot build/e2e/wineprefix-uninstall-en.png) and uninstalls what
#    vrtool wrote: files, shortcuts, the registry key.
# 4. vrtool start runs the demo's game in B under Wine; its window carries its Japanese title (the
#    Japanese locale makes Wine rewrite a prefix's font links, so this comes after 3).
# 5. vrtool uninstall --wine-prefix B removes what setup.exe wrote.
#
# Slow (two fresh prefixes, about a minute). Needs a display or Xvfb (lib.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

e2e_name="wineprefix"
. "$root/tests/e2e/lib.sh"
e2e_begin "$0" "$@"

# The English locale is the point here; the Japanese one comes with vrtool start.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
a=$work/pfx-vrtool
b=$work/pfx-setup
mkprefix() {
  WINEPREFIX=$1 wineboot -i >/dev/null 2>&1
  WINEPREFIX=$1 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX=$1 wineserver -w
}
echo "wineprefix: two fresh prefixes"
mkprefix "$a" &
mkprefix "$b"
wait
regkey='HKCU\Software\vrsetup\HoshimiDemo'
gamepath="C:\\Program Files (x86)\\vrsetup\\$title"
game_a=$a/drive_c/Program\ Files\ \(x86\)/vrsetup/$title
game_b=$b/drive_c/Program\ Files\ \(x86\)/vrsetup/$title
menu="drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$title"

# --- 1. a running server ------------------------------------------------------------------------------
WINEPREFIX=$a wineserver -p &
server=$!
sleep 1
sum=$(md5sum <"$a/user.reg")
"$vrtool" -q install --wine-prefix "$a" "$demo_medium" >"$work/out" 2>&1
st=$?
[ "$st" = 2 ] && grep -q "a Wine server runs for this prefix" "$work/out" && pass "refused while a server runs" ||
  fail "with a server: exit $st: $(cat "$work/out")"
[ "$(md5sum <"$a/user.reg")" = "$sum" ] && [ ! -e "$game_a" ] && pass "nothing written meanwhile" ||
  fail "written while a server ran"
WINEPREFIX=$a wineserver -k
wait "$server" 2>/dev/null

# --- 2. the same install two ways ---------------------------------------------------------------------
"$vrtool" -q install --wine-prefix "$a" "$demo_medium" >"$work/out" 2>&1 && pass "vrtool install --wine-prefix" ||
  fail "vrtool install: $(cat "$work/out")"
# In the Japanese locale setup is meant for (the .lnk files keep the ANSI path in the locale's code page).
(cd "$demo_medium" && WINEPREFIX=$b LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 exec wine setup.exe /VERYSILENT >/dev/null 2>&1)
st=$?
WINEPREFIX=$b wineserver -w
[ "$st" = 0 ] && pass "setup.exe /VERYSILENT" || fail "setup.exe /VERYSILENT: exit $st"

# A string value through `wine reg export`, which writes UTF-16 whatever the locale (reg query writes in
# the ANSI code page, and a Japanese locale would make Wine rewrite the font links of the prefix).
reg_export_value() {  # prefix key name
  rm -f "$work/export.reg"
  WINEPREFIX=$1 wine reg export "$2" "$(WINEPREFIX=$1 winepath -w "$work/export.reg")" /y >/dev/null 2>&1 || return 0
  iconv -f UTF-16 -t UTF-8 "$work/export.reg" | tr -d '\r' | sed -n "s/^\"$3\"=\"\(.*\)\"$/\1/p" | sed 's/\\\\/\\/g'
}
tree() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum); }
if [ -d "$game_a" ] && [ -d "$game_b" ] && diff <(tree "$game_a") <(tree "$game_b") >"$work/diff"; then
  pass "the same files, byte for byte ($(tree "$game_a" | wc -l))"
else
  fail "game folders differ: $(head -5 "$work/diff" | tr '\n' '|')"
fi
lnkfields() { lnkinfo -c windows-932 "$1" 2>/dev/null | grep -E '^\s*(Local path|Description|Working directory|Icon location|Icon index|Command line arguments)\s*:' | sed 's/\s\+/ /g' | grep -v ': $'; }
names_a=$(ls "$a/$menu" 2>/dev/null)
names_b=$(ls "$b/$menu" 2>/dev/null)
[ -n "$names_a" ] && [ "$names_a" = "$names_b" ] && pass "the same shortcuts: $(echo $names_a)" ||
  fail "shortcuts: '$names_a' against '$names_b'"
for name in $(ls "$b/$menu" | tr ' ' '\001'); do
  name=$(echo "$name" | tr '\001' ' ')
  if [ -n "$(lnkfields "$b/$menu/$name")" ] && diff <(lnkfields "$a/$menu/$name") <(lnkfields "$b/$menu/$name") >"$work/diff"; then
    pass "lnkinfo $name: the same"
  else
    fail "lnkinfo $name: $(tr '\n' '|' <"$work/diff")"
  fi
done
value_a=$(reg_export_value "$a" "$regkey" InstallPath)
value_b=$(reg_export_value "$b" "$regkey" InstallPath)
[ "$value_a" = "$gamepath\\" ] && [ "$value_a" = "$value_b" ] && pass "InstallPath (wine reg export) = $value_a" ||
  fail "InstallPath: '$value_a' against '$value_b'"

# --- 3. install.exe uninstalls what vrtool wrote --------------------------------------------------------
(cd "$game_a" && WINEPREFIX=$a exec wine "$gamepath\\install.exe" >/dev/null 2>&1) &
if wizard=$(wait_window '^アンインストール$' 30); then
  sleep 1
  import -window root "$shots/wineprefix-uninstall-en.png"
  pass "install.exe shows its wizard under C.UTF-8 (screenshot wineprefix-uninstall-en.png)"
  read -r cx cy <<<"$(client_origin "$wizard" 497 336)"
  xdotool mousemove $((cx + 360)) $((cy + 312)) click 1  # 実行
  for ((i = 0; i < 300; i++)); do [ "$(xdotool getwindowname "$wizard" 2>/dev/null)" = "完了" ] && break; sleep 0.1; done
  xdotool mousemove $((cx + 453)) $((cy + 312)) click 1  # 閉じる
else
  fail "install.exe: no uninstall wizard"
fi
wait
WINEPREFIX=$a wineserver -w
for ((i = 0; i < 100; i++)); do [ -e "$game_a" ] || break; sleep 0.1; done
[ ! -e "$game_a" ] && pass "install.exe: the game folder is gone" || fail "install.exe left $(ls -A "$game_a" | tr '\n' ' ')"
[ ! -e "$a/$menu" ] && pass "install.exe: the shortcuts are gone" || fail "install.exe left the shortcuts"
[ -z "$(reg_export_value "$a" "$regkey" InstallPath)" ] && pass "install.exe: InstallPath is gone" ||
  fail "install.exe left InstallPath"
WINEPREFIX=$a wineserver -k

# --- 4. the game under Wine ---------------------------------------------------------------------------
"$vrtool" -q start --wine-prefix "$b" "$game_b" >"$work/start.log" 2>&1 &
game=$!
if id=$(wait_window "^${title} ゲーム画面\$" 30); then
  pass "vrtool start: the game's window \"$(xdotool getwindowname "$id")\""
  sleep 1
  import -window root "$shots/wineprefix-game.png"
  xdotool windowclose "$id" 2>/dev/null
else
  fail "vrtool start: no game window ($(cat "$work/start.log"))"
fi
for ((i = 0; i < 50; i++)); do kill -0 "$game" 2>/dev/null || break; sleep 0.1; done
kill "$game" 2>/dev/null
WINEPREFIX=$b wineserver -k

# --- 5. vrtool uninstall of what setup.exe wrote ------------------------------------------------------------
WINEPREFIX=$b wineserver -k
"$vrtool" -q uninstall --wine-prefix "$b" "$game_b" >"$work/out" 2>&1 && pass "vrtool uninstall --wine-prefix" ||
  fail "vrtool uninstall: $(cat "$work/out")"
[ ! -e "$game_b" ] && [ ! -e "$b/$menu" ] && [ -z "$(reg_export_value "$b" "$regkey" InstallPath)" ] &&
  pass "vrtool uninstall: files, shortcuts and InstallPath gone" || fail "vrtool uninstall left something"
WINEPREFIX=$b wineserver -k

if [ "$failures" -ne 0 ]; then
  echo "wineprefix: $failures check(s) failed" >&2
  exit 1
fi
echo "wineprefix: all checks passed"
