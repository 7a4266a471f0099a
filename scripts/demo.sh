#!/usr/bin/env bash
# The main job on the bundled demo package. Builds what it needs (the native release build's vrtool and
# demo package; setup.exe and the demo's game program for x86), makes the demo medium folder
# build/demo-medium and starts setup.exe on it under Wine.
#
# On your display the clicking is yours: launcher -> インストール -> the wizard's pages.
# Without a display it runs in a virtual one and walks the whole path with the keyboard: the launcher,
# インストール, every page of the wizard, the copy, the exit page; then `vrtool verify` of the installed data
# file, the installed game started with `vrtool start`, and the uninstall through the installed
# install.exe. A screenshot of each step is kept in build/demo/.
#
# VR_NATIVE_BUILD and VR_WINDOWS_BUILD name other build folders than build/release and build/mingw-i686.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
native=${VR_NATIVE_BUILD:-$root/build/release}
windows=${VR_WINDOWS_BUILD:-$root/build/mingw-i686}
medium=$root/build/demo-medium
shots=$root/build/demo
title="星見の丘 体験版"
vrtool=$native/apps/vrtool/vrtool

# Runs inside the virtual display.
if [ "${1:-}" = "--virtual" ]; then
  . scripts/wine-env.sh
  . tests/e2e/lib.sh  # window waits and the registry reader
  rm -rf "$shots"
  mkdir -p "$shots"
  n=0
  shot() {  # name
    n=$((n + 1))
    sleep 0.5
    import -window root "$shots/$(printf '%02d' "$n")-$1.png"
  }
  die() {
    echo "demo: $*" >&2
    shot failed
    exit 1
  }
  title_of() { xdotool getwindowname "$1" 2>/dev/null; }
  wait_title() {  # id title
    for ((i = 0; i < 200; i++)); do [ "$(title_of "$1")" = "$2" ] && return 0; sleep 0.1; done
    return 1
  }
  click_client() {  # window x y: a point of the wizard's 497 x 336 client area
    local cx cy
    read -r cx cy <<<"$(client_origin "$1" 497 336)"
    xdotool mousemove $((cx + $2)) $((cy + $3)) click 1
    sleep 0.3
  }
  regkey='HKCU\Software\vrsetup\HoshimiDemo'
  wine reg delete "$regkey" /f >/dev/null 2>&1 || true

  echo "demo: the launcher"
  (cd "$medium" && exec wine setup.exe >/dev/null 2>&1) &
  launcher=$(wait_window "^${title}\$" 30) || die "the launcher did not appear"
  sleep 1
  shot launcher
  # The focus starts on インストール.
  eval "$(xdotool getwindowgeometry --shell "$launcher")"
  xdotool mousemove $((X + 12)) $((Y + HEIGHT - 12)) click 1
  sleep 0.2
  xdotool key Return
  echo "demo: インストール -> the wizard"
  wizard=$(wait_window '^ようこそ$' 30) || die "the wizard did not appear"
  sleep 1
  shot welcome
  xdotool key Return
  wait_title "$wizard" "ライセンス契約" || die "no licence page"
  shot license
  xdotool key space  # the consent box
  sleep 0.3
  shot license-accepted
  xdotool key Return
  # The pages up to the confirmation; the file groups are ticked on their page.
  for ((k = 0; k < 6; k++)); do
    sleep 0.6
    page=$(title_of "$wizard")
    [ "$page" = "インストール準備完了" ] && break
    echo "demo: page $page"
    if [ "$page" = "インストールするファイル" ]; then
      click_client "$wizard" 30 76
      click_client "$wizard" 30 104
      click_client "$wizard" 30 132
    fi
    shot "$page"
    xdotool key Return
  done
  wait_title "$wizard" "インストール準備完了" || die "no confirmation page"
  shot confirm
  xdotool key Return
  echo "demo: the copy"
  wait_title "$wizard" "ファイルコピー" && shot copy
  wait_title "$wizard" "完了" || die "the install did not end on its exit page"
  sleep 1.5
  # The run opened the Programs folder and the read-me.
  shot done
  click_client "$wizard" 453 312  # 閉じる
  wait_no_window "^${title}のセットアップ" 15 || die "the wizard stayed open"
  # The read-me's editor and the folder window keep the game folder or the shortcut folder as their
  # current folder, which the uninstaller could not remove then: they end here (this prefix's only).
  for pid in $(pgrep -f 'notepad\.exe|explorer\.exe [A-Za-z]:' || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && kill "$pid" 2>/dev/null || true
  done
  sleep 1

  installed=$(reg_value "$regkey" InstallPath)
  [ -n "$installed" ] || die "no InstallPath in the registry"
  folder=$(winepath -u "$installed" 2>/dev/null)
  folder=${folder%/}
  echo "demo: installed into $installed ($folder):"
  ls -l "$folder"
  echo "demo: vrtool verify of the installed data file"
  "$vrtool" verify "$folder/game.dat"

  echo "demo: the game, started with vrtool start"
  "$vrtool" -q start "$folder" &
  player=$!  # vrtool becomes Wine, and Wine the game
  if game=$(wait_window "^${title} ゲーム画面\$" 30); then
    sleep 1
    shot game
    eval "$(xdotool getwindowgeometry --shell "$game")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1 key Escape
  else
    echo "demo: the game's window did not appear" >&2
  fi
  for ((i = 0; i < 50; i++)); do kill -0 "$player" 2>/dev/null || break; sleep 0.1; done
  kill "$player" 2>/dev/null || true
  wait "$player" 2>/dev/null || true

  echo "demo: uninstall with the installed install.exe"
  (cd "$folder" && exec wine "$installed\\install.exe" >/dev/null 2>&1) &
  remover=$(wait_window '^アンインストール$' 30) || die "the uninstaller did not appear"
  sleep 1
  shot uninstall
  click_client "$remover" 360 312  # 実行
  wait_title "$remover" "完了" || die "the uninstall did not end"
  shot uninstalled
  click_client "$remover" 453 312  # 閉じる
  for ((i = 0; i < 100; i++)); do [ -e "$folder" ] || break; sleep 0.1; done
  [ ! -e "$folder" ] && echo "demo: the game folder is gone" || echo "demo: left in the game folder: $(ls -A "$folder")"
  echo "demo: $n screenshots in ${shots#"$root"/}/:"
  ls "$shots"
  exit 0
fi

scripts/setup.sh
echo "demo: building vrtool and the demo package (${native#"$root"/})"
[ -n "${VR_NATIVE_BUILD:-}" ] || cmake --preset release >/dev/null
cmake --build "$native" --target vrtool demo -j"$jobs"
echo "demo: building setup.exe and the demo's game (${windows#"$root"/})"
[ -n "${VR_WINDOWS_BUILD:-}" ] || cmake --preset mingw-i686 >/dev/null
cmake --build "$windows" --target setup hoshimi -j"$jobs"
scripts/wine-prefix.sh

# The demo's project file with the Windows build's setup.exe (also installed as install.exe, the
# uninstaller) and game program; the medium is the first and only disc of the media.
rm -rf "$medium" "$medium.media" "$medium.src"
mkdir -p "$medium.src"
cp -r "$native/demo/media.json" "$native/demo/files" "$native/demo/archive" "$medium.src/"
cp "$windows/demo/game/hoshimi.exe" "$medium.src/files/hoshimi.exe"
"$vrtool" -q media build "$medium.src/media.json" --setup "$windows/apps/setup/setup.exe" -o "$medium.media"
mv "$medium.media/disc1" "$medium"
rm -rf "$medium.media" "$medium.src"
echo "demo: medium folder ${medium#"$root"/}:"
ls -l "$medium"

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "demo: starting setup.exe on display $DISPLAY: インストール walks the wizard; 終了 closes the launcher"
  . scripts/wine-env.sh
  cd "$medium"
  wine setup.exe
else
  echo "demo: no display; running in a virtual one"
  xvfb-run -a -s "-screen 0 1024x768x24" "$0" --virtual
fi
