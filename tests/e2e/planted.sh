#!/usr/bin/env bash
# End-to-end: nothing planted beside the setup program runs.
#
# 1. Canary libraries under the names of common system libraries that are not KnownDLLs, forced to load
#    "native first" as Windows does for such names, lie beside setup.exe, in the temp folder and in the
#    game folder. The launcher, a /VERYSILENT install and install.exe /VERYSILENT run, and succeed; no
#    canary is loaded (each one that is leaves a file), and Wine's loader names no library of ours.
# 2. A Windows program keeps putting its own program in place of every temp copy it can find or guess
#    while setup.exe /VERYSILENT installs, three times: each install succeeds and that program never runs.
#
# Needs the Wine prefix and a display (lib.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

e2e_name="planted"
. "$root/tests/e2e/lib.sh"
e2e_begin "$0" "$@"

# Not KnownDLLs: a program's own folder is searched for them before the system folder.
names=(version uxtheme dwmapi cryptbase propsys userenv winmm msimg32 riched20 msftedit comctl32 oleacc
  profapi sspicli secur32 wtsapi32 netapi32 mpr urlmon wininet dbghelp bcrypt crypt32 windowscodecs usp10
  winhttp dnsapi iphlpapi cryptsp rsaenh ntmarta wintrust msasn1 apphelp dhcpcsvc powrprof textshaping
  shfolder imagehlp srvcli wkscli logoncli edputil dwrite d3d9 dxgi uiautomationcore)

tools="$work/planted"
mkdir -p "$tools"
build() {  # compiler output sources... [flags]
  "$@" 2>"$tools/cc.log" || { echo "planted: cannot build $2: $(cat "$tools/cc.log")" >&2; exit 1; }
}
src="$root/tests/e2e/planted"
build i686-w64-mingw32-gcc -o "$tools/canary32.dll" -shared -O2 "$src/canary.c"
build i686-w64-mingw32-gcc -o "$tools/intruder.exe" -mwindows -O2 -DCANARY_EXE "$src/canary.c"
build i686-w64-mingw32-gcc -o "$tools/swapper.exe" -municode -O2 "$src/swapper.c"
setup64=$root/build/mingw-x86_64/apps/setup/setup.exe
[ -x "$setup64" ] && build x86_64-w64-mingw32-gcc -o "$tools/canary64.dll" -shared -O2 "$src/canary.c"

canaries="$work/canaries"
mkdir -p "$canaries"
export VR_CANARY_DIR
VR_CANARY_DIR=$(winepath -w "$canaries" 2>/dev/null)
overrides="$WINEDLLOVERRIDES;$(IFS=,; echo "${names[*]}")=n,b"
temp="$(winepath -u 'C:\users' 2>/dev/null)/$(whoami)/Temp"
mkdir -p "$temp"
planted_here=()
plant() {  # folder dll
  local n
  for n in "${names[@]}"; do
    cp "$2" "$1/$n.dll"
    planted_here+=("$1/$n.dll")
  done
}
cleanup() {
  rm -f "${planted_here[@]}" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Runs `wine ARGS...` in the folder $1 with the canaries forced native first and Wine's loader
# tracing; sets $status (or "timeout" after 90 s).
run_planted() {
  local folder=$1
  shift
  (cd "$folder" && WINEDEBUG=+loaddll WINEDLLOVERRIDES="$overrides" exec wine "$@" >>"$work/loaddll.log" 2>&1) &
  wait_exit $! 90
}
no_canary() {  # what
  local loaded
  loaded=$(ls "$canaries")
  # Libraries Wine's loader mapped from anywhere but the system folders, besides our own programs.
  local foreign
  foreign=$(grep -a 'Loaded L"' "$work/loaddll.log" | grep -a ': native' |
    grep -aiv -e 'setup\.exe"' -e 'install\.exe"' -e 'rinstall\.exe"' -e 'hoshimi\.exe"' -e 'swapper\.exe"' | head -3)
  [ -z "$loaded$foreign" ] && pass "$1: no planted library loaded" ||
    fail "$1: loaded $(echo $loaded) $foreign"
  rm -f "$canaries"/*
  : >"$work/loaddll.log"
}

medium="$work/medium"
mkdir -p "$medium"
cp -r "$demo_medium"/. "$medium/"
cp "$setup_exe" "$medium/setup.exe"
cp "$setup_exe" "$medium/install.exe"
plant "$medium" "$tools/canary32.dll"
plant "$temp" "$tools/canary32.dll"
regkey='HKCU\Software\vrsetup\HoshimiDemo'
wine reg delete "$regkey" /f >/dev/null 2>&1

# --- 1. launcher, unattended install and uninstall ------------------------------------------------------
echo "planted: ${#names[@]} canary libraries beside setup.exe, in the temp folder and in the game folder"
(cd "$medium" && WINEDEBUG=+loaddll WINEDLLOVERRIDES="$overrides" exec wine setup.exe >>"$work/loaddll.log" 2>&1) &
pid=$!
if launcher=$(wait_window "^${title}\$" 20); then
  pass "launcher window"
  sleep 0.5
  import -window root "$shots/planted-launcher.png"
  read -r cx cy < <(client_origin "$launcher" 265 158)
  xdotool mousemove $((cx + 10)) $((cy + 150)) click 1
  sleep 0.2
  xdotool key Tab
  sleep 0.2
  xdotool key Return
  wait_exit "$pid" 10
  [ "$status" = 0 ] && pass "launcher: 終了 (exit 0)" || fail "launcher: exit $status"
else
  fail "no launcher window"
  kill "$pid" 2>/dev/null
fi
no_canary "launcher"

# インストール: the temp copy shows the wizard over the backdrop; its Abort ends it.
(cd "$medium" && WINEDEBUG=+loaddll WINEDLLOVERRIDES="$overrides" exec wine setup.exe >>"$work/loaddll.log" 2>&1) &
pid=$!
if launcher=$(wait_window "^${title}\$" 20); then
  read -r cx cy < <(client_origin "$launcher" 265 158)
  xdotool mousemove $((cx + 10)) $((cy + 150)) click 1
  sleep 0.2
  xdotool key Return
  if wait_window '^ようこそ$' 20 >/dev/null; then
    pass "the temp copy shows the wizard"
    sleep 0.5
    import -window root "$shots/planted-wizard.png"
    xdotool key alt+a
    if wait_window '^確認$' 5 >/dev/null; then xdotool key Return; else fail "no question on Abort"; fi
    wait_no_window "^${title}のセットアップ" 10 || fail "the wizard stays up"
  else
    fail "no wizard from the temp copy"
  fi
else
  fail "no launcher window for the install"
fi
wait "$pid" 2>/dev/null
for ((i = 0; i < 100; i++)); do pgrep -f 'rinstall\.exe' >/dev/null || break; sleep 0.1; done
no_canary "wizard in the temp copy"
rm -rf "$temp"/~rinstall-*

dest="$work/games/hoshimi"
run_planted "$medium" setup.exe /VERYSILENT "/DIR=$(winepath -w "$dest")"
[ "$status" = 0 ] && [ -f "$dest/hoshimi.exe" ] && [ -f "$dest/install.dat" ] &&
  pass "/VERYSILENT install (exit 0)" || fail "/VERYSILENT install: exit $status"
no_canary "/VERYSILENT install"

plant "$dest" "$tools/canary32.dll"
run_planted "$dest" "$dest/install.exe" /VERYSILENT
[ "$status" = 0 ] && [ ! -f "$dest/hoshimi.exe" ] && [ ! -f "$dest/install.dat" ] &&
  pass "install.exe /VERYSILENT (exit 0)" || fail "install.exe /VERYSILENT: exit $status"
# The copy removes install.exe once the first process has ended.
for ((i = 0; i < 100; i++)); do [ -f "$dest/install.exe" ] || break; sleep 0.1; done
no_canary "install.exe /VERYSILENT"
# The uninstaller's copy outlives its starter: it and its folder go at the next system start.
left=$(cd "$temp" && ls -d ~rinstall-* 2>/dev/null)
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null)
[ "$(echo "$left" | wc -w)" = 1 ] && [[ $pending == *"$left"* ]] &&
  pass "the uninstaller's temp copy folder is removed at the next start" ||
  fail "temp copy folders left: $left (pending: ${pending:0:200})"
rm -rf "$temp"/~rinstall-*

if [ -x "$setup64" ]; then
  medium64="$work/medium64"
  mkdir -p "$medium64"
  cp -r "$demo_medium"/. "$medium64/"
  cp "$setup64" "$medium64/setup.exe"
  plant "$medium64" "$tools/canary64.dll"
  dest64="$work/games/hoshimi64"
  run_planted "$medium64" setup.exe /VERYSILENT "/DIR=$(winepath -w "$dest64")"
  [ "$status" = 0 ] && [ -f "$dest64/hoshimi.exe" ] && pass "x86-64 /VERYSILENT install (exit 0)" ||
    fail "x86-64 /VERYSILENT install: exit $status"
  no_canary "x86-64 /VERYSILENT install"
  wine reg delete "$regkey" /f >/dev/null 2>&1
fi

# --- 2. temp copies swapped while they start ------------------------------------------------------------
echo "planted: a program keeps replacing temp copies while setup.exe /VERYSILENT installs"
stop="$work/swap.stop"
(VR_SWAP_STOP=$(winepath -w "$stop") exec wine "$tools/swapper.exe" "$(winepath -w "$tools/intruder.exe")" \
  >>"$work/swapper.log" 2>&1) &
swapper=$!
sleep 1
for round in 1 2 3; do
  dest="$work/games/swap$round"
  run_planted "$medium" setup.exe /VERYSILENT "/DIR=$(winepath -w "$dest")"
  [ "$status" = 0 ] && [ -f "$dest/hoshimi.exe" ] && "$vrtool" -q verify "$dest/game.dat" >/dev/null 2>&1 &&
    pass "install $round beside the swapper (exit 0, data file verified)" || fail "install $round: exit $status"
  wine reg delete "$regkey" /f >/dev/null 2>&1
done
cmp -s "$temp/~rinstall.exe" "$tools/intruder.exe" && pass "the swapper was at work" ||
  fail "the swapper planted nothing"
touch "$stop"
for ((i = 0; i < 100; i++)); do kill -0 "$swapper" 2>/dev/null || break; sleep 0.1; done
kill "$swapper" 2>/dev/null
ls "$canaries"/*intruder* "$canaries"/*rinstall* >/dev/null 2>&1 && fail "the swapped-in program ran" ||
  pass "the swapped-in program never ran"
no_canary "installs beside the swapper"
rm -rf "$temp"/~rinstall* 2>/dev/null

if [ "$failures" -ne 0 ]; then
  echo "planted: $failures check(s) failed" >&2
  exit 1
fi
echo "planted: all checks passed"
