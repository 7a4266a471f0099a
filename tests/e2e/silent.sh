#!/usr/bin/env bash
# End-to-end unattended runs of setup.exe under Wine, and the native vrtool install on a full disk.
#
# 1. /VERYSILENT /DIR= /LOG= from the demo medium: exit 0 once the install is complete; the files, the
#    verified data file, install.dat, the shortcuts, "InstallPath" and the log.
# 2. The installed install.exe /VERYSILENT /DELETESAVE: exit 0 and nothing left behind.
# 3. A bad switch, a second instance (a launcher is open), an unusable destination, the Windows folder,
#    an add-on without its game and a damaged data file: exit codes 1, 1, 3, 3, 3 and 4, the
#    destinations as before.
# No run may show a window: the visible top-level windows are sampled while each one runs.
#
# Needs the Wine prefix and a display (lib.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

e2e_name="silent"
. "$root/tests/e2e/lib.sh"
e2e_begin "$0" "$@"

regkey='HKCU\Software\vrsetup\HoshimiDemo'
programs=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs' 2>/dev/null)
links="$programs/$title"


# Runs `wine EXE ARGS...` in the folder $1 and waits (60 s at most); sets $status to its exit code and
# $windows to the windows that appeared meanwhile (ids, one a line).
run_silent() {
  local folder=$1 before pid i
  shift
  before=$(program_windows)
  (cd "$folder" && exec wine "$@" >>"$work/wine.log" 2>&1) &
  pid=$!
  : >"$work/seen"
  for ((i = 0; i < 600; i++)); do
    program_windows >>"$work/seen"
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    status=timeout
  else
    wait "$pid"
    status=$?
  fi
  windows=$(sort -u "$work/seen" | comm -13 <(echo "$before") -)
}
expect_run() {  # name expected-status
  [ "$status" = "$2" ] && pass "$1: exit $2" || fail "$1: exit $status, expected $2"
  [ -z "$windows" ] && pass "$1: no window" || fail "$1: windows appeared: $(echo $windows)"
}

medium="$work/medium"
mkdir -p "$medium"
cp -r "$demo_medium"/. "$medium/"
cp "$setup_exe" "$medium/setup.exe"
cp "$setup_exe" "$medium/install.exe"
wine reg delete "$regkey" /f >/dev/null 2>&1
rm -rf "$links"

# --- 1. the demo package, installed unattended ---------------------------------------------------------
echo "silent: /VERYSILENT install of the demo package"
dest="$work/games/hoshimi"
wdest=$(winepath -w "$dest")
log="$work/install.log"
run_silent "$medium" setup.exe /VERYSILENT "/DIR=$wdest" "/LOG=$(winepath -w "$log")"
expect_run "install" 0
for f in hoshimi.exe install.exe readme.txt bgm/theme.ogg movie/op.mpg game.dat game.ext install.dat; do
  [ -f "$dest/$f" ] || fail "missing in the destination: $f"
done
[ -f "$dest/hoshimi.exe" ] && pass "files in the destination"
"$vrtool" -q verify "$dest/game.dat" >/dev/null 2>&1 && pass "vrtool verify of game.dat" || fail "game.dat does not verify"
"$vrtool" settings show --json "$dest/install.dat" 2>/dev/null | grep -q '"Uninstaller": true' &&
  pass "install.dat marks the uninstaller" || fail "install.dat: no uninstaller flag"
for name in "$title" "${title}のアンインストール"; do
  [ -f "$links/$name.lnk" ] && pass "shortcut $name" || fail "no shortcut $name.lnk"
done
[ "$(reg_value "$regkey" InstallPath)" = "$wdest\\" ] && pass "InstallPath = $wdest\\" ||
  fail "InstallPath: '$(reg_value "$regkey" InstallPath)'"
for line in "コピー: hoshimi.exe" "データファイルのチェック: 正常" "設定ファイル:" "ショートカット:" "レジストリ: InstallPath" \
  "インストールが完了しました"; do
  grep -qF "$line" "$log" || fail "the log lacks \"$line\""
done
grep -qF "インストールが完了しました" "$log" && pass "the log lists the steps"

# --- 1b. /REPAIR from the medium: a damaged install is repaired, a second run finds it healthy ------------
echo "silent: /VERYSILENT /REPAIR of a damaged install"
cp "$dest/hoshimi.exe" "$work/hoshimi.exe.good"
rm -f "$dest/readme.txt"
printf 'X' | dd of="$dest/hoshimi.exe" bs=1 seek=3 conv=notrunc 2>/dev/null
printf 'save' >"$dest/save.dat"
run_silent "$medium" setup.exe /VERYSILENT /REPAIR "/DIR=$wdest" "/LOG=$(winepath -w "$work/repair.log")"
expect_run "repair" 0
cmp -s "$dest/hoshimi.exe" "$work/hoshimi.exe.good" && [ -f "$dest/readme.txt" ] && [ "$(cat "$dest/save.dat")" = save ] &&
  pass "repair: the files are back, the save data untouched" || fail "repair: $(tail -3 "$work/repair.log")"
run_silent "$medium" setup.exe /VERYSILENT /REPAIR "/DIR=$wdest" "/LOG=$(winepath -w "$work/repair2.log")"
expect_run "repair of a healthy install" 0
grep -qF "0 missing, 0 damaged" "$work/repair2.log" && pass "repair: the second run finds it healthy" ||
  fail "repair: second run: $(tail -2 "$work/repair2.log")"
rm -f "$dest/save.dat"

# --- 2. the uninstaller, unattended ----------------------------------------------------------------------
echo "silent: install.exe /VERYSILENT /DELETESAVE"
printf 'save' >"$dest/save.dat"
run_silent "$dest" "$dest/install.exe" /VERYSILENT /DELETESAVE "/LOG=$(winepath -w "$work/uninstall.log")"
expect_run "uninstall" 0
# The copy removes install.exe and the folder once the first process has ended.
for ((i = 0; i < 100; i++)); do [ -e "$dest" ] || break; sleep 0.1; done
[ ! -e "$dest" ] && pass "the game folder is gone" || fail "left in the game folder: $(ls -A "$dest" | tr '\n' ' ')"
[ ! -e "$links" ] && pass "the shortcuts are gone" || fail "shortcut folder left"
[ -z "$(reg_value "$regkey" InstallPath)" ] && pass "InstallPath is gone" || fail "InstallPath left"
grep -qF "ファイルを削除しました" "$work/uninstall.log" && grep -qF "フォルダを削除しました: $wdest" "$work/uninstall.log" &&
  pass "the uninstall log, install.exe and the folder removed at once" || fail "uninstall log: $(tail -3 "$work/uninstall.log")"

# --- 3. refusals and failures ----------------------------------------------------------------------------
echo "silent: refusals and failures"
run_silent "$medium" setup.exe /VERYSILENT /NOSUCHSWITCH
expect_run "bad switch" 1

(cd "$medium" && exec wine setup.exe >>"$work/wine.log" 2>&1) &
launcher_pid=$!
if wait_window "^${title}\$" 25 >/dev/null; then
  run_silent "$medium" setup.exe /VERYSILENT "/DIR=$wdest" "/LOG=$(winepath -w "$work/second.log")"
  expect_run "second instance" 1
  grep -qF "既に実行中です" "$work/second.log" && pass "second instance: logged" || fail "second instance: not logged"
  [ ! -e "$dest" ] && pass "second instance: nothing written" || fail "second instance wrote $dest"
else
  fail "no launcher for the second-instance check"
fi
for id in $(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null); do xdotool windowclose "$id" 2>/dev/null; done
for ((i = 0; i < 100; i++)); do kill -0 "$launcher_pid" 2>/dev/null || break; sleep 0.1; done
kill "$launcher_pid" 2>/dev/null
wait "$launcher_pid" 2>/dev/null

mkdir -p "$work/games"
printf 'not a folder' >"$work/games/blocked"
run_silent "$medium" setup.exe /VERYSILENT "/DIR=$(winepath -w "$work/games/blocked")" "/LOG=$(winepath -w "$work/refused.log")"
expect_run "unusable destination" 3
[ "$(cat "$work/games/blocked")" = "not a folder" ] && [ "$(ls -A "$work/games")" = blocked ] &&
  pass "unusable destination: nothing written" || fail "unusable destination: $(ls -A "$work/games")"

# The Windows folder is no install folder, whatever the switches say.
windir=$(winepath -u 'C:\windows')
before_windir=$(ls -A "$windir" | md5sum)
run_silent "$medium" setup.exe /VERYSILENT '/DIR=C:\windows' "/LOG=$(winepath -w "$work/windows.log")"
expect_run "the Windows folder" 3
[ "$(ls -A "$windir" | md5sum)" = "$before_windir" ] && [ ! -e "$windir/game.dat" ] &&
  pass "the Windows folder: nothing written" || fail "the Windows folder: files written"

# An add-on (one program with its archive appended) goes only where its game is: not into a folder
# without it, nor into one that is not there.
addon="$work/addon"
mkdir -p "$addon" "$work/addon-content"
"$vrtool" settings show --json "$medium/install.dat" | sed 's/"AddOnPackage": false/"AddOnPackage": true/' >"$work/addon.json"
"$vrtool" settings build "$work/addon.json" -o "$work/addon-content/install.dat" >/dev/null
printf 'a newer scene' >"$work/addon-content/scene.txt"
"$vrtool" -q pack -o "$work/addon.dat" "$work/addon-content" >/dev/null
cp "$setup_exe" "$addon/setup.exe"
"$vrtool" append "$addon/setup.exe" "$work/addon.dat" >/dev/null
mkdir -p "$work/games/nogame"
printf 'MZ not the game' >"$work/games/nogame/other.exe"
for target in nogame absent; do
  run_silent "$addon" setup.exe /VERYSILENT "/DIR=$(winepath -w "$work/games/$target")" "/LOG=$(winepath -w "$work/addon-$target.log")"
  expect_run "add-on into $target" 3
done
[ "$(ls -A "$work/games/nogame")" = other.exe ] && [ ! -e "$work/games/absent" ] &&
  pass "add-on without its game: nothing written" || fail "add-on: $(ls -A "$work/games" "$work/games/nogame" | tr '\n' ' ')"

damaged="$work/damaged"
cp -r "$medium" "$damaged"
# The last bytes of the data file belong to the last entry: its check must fail.
size=$(stat -c %s "$damaged/game.dat")
printf '\xff\xff\xff\xff' | dd of="$damaged/game.dat" bs=1 seek=$((size - 4)) conv=notrunc 2>/dev/null
mkdir -p "$dest"
printf 'mine' >"$dest/keep.txt"
run_silent "$damaged" setup.exe /VERYSILENT "/DIR=$wdest" "/LOG=$(winepath -w "$work/damaged.log")"
expect_run "damaged data file" 4
[ "$(ls -A "$dest")" = keep.txt ] && [ "$(cat "$dest/keep.txt")" = mine ] &&
  pass "damaged data file: the destination as before" || fail "damaged: left $(ls -A "$dest" | tr '\n' ' ')"
[ -z "$(reg_value "$regkey" InstallPath)" ] && pass "damaged data file: no InstallPath" || fail "damaged: InstallPath set"
rm -rf "$dest"

# --- 4. /SILENT: the progress window and nothing else ---------------------------------------------------
echo "silent: /SILENT install"
run_silent "$medium" setup.exe /SILENT /NOICONS "/DIR=$wdest"
[ "$status" = 0 ] && pass "/SILENT: exit 0" || fail "/SILENT: exit $status"
n=$(echo "$windows" | grep -c .)
[ "$n" = 1 ] && pass "/SILENT: one window" || fail "/SILENT: $n windows"
[ -f "$dest/install.dat" ] && pass "/SILENT: installed" || fail "/SILENT: not installed"
[ ! -e "$links" ] && pass "/SILENT /NOICONS: no shortcuts" || fail "/SILENT /NOICONS: shortcuts made"
rm -rf "$dest"

# --- 5. natively: a full disk ------------------------------------------------------------------------------
if [ "$(id -u)" = 0 ] && mkdir -p "$work/small" && mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null; then
  echo "silent: vrtool install onto a full disk"
  head -c 50000 /dev/zero >"$work/small/fill"
  "$vrtool" -q install "$demo_medium" -d "$work/small/game" >/dev/null 2>&1
  st=$?
  [ "$st" = 2 ] && pass "full disk: exit 2" || fail "full disk: exit $st"
  [ ! -e "$work/small/game" ] && pass "full disk: no destination left" || fail "full disk: $(ls -A "$work/small/game")"
  umount "$work/small"
else
  echo "silent: no tmpfs (needs root): the full-disk check is skipped"
fi

wine reg delete "$regkey" /f >/dev/null 2>&1
if [ "$failures" -ne 0 ]; then
  echo "silent: $failures check(s) failed" >&2
  exit 1
fi
echo "silent: all checks passed"
