#!/usr/bin/env bash
# Creates the Wine prefix the tests and the demo run in (once; later calls return at once).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
stamp="$WINEPREFIX/.vrsetup-ready"
[ -f "$stamp" ] && exit 0
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
# Debian's Wine does not load its own fonts from /usr/share/wine/fonts; copy them and a Japanese font in.
cp -f /usr/share/wine/fonts/* "$fonts/" 2>/dev/null || true
cp -f /usr/share/fonts/opentype/ipafont-gothic/*.ttf "$fonts/" 2>/dev/null || true
cp -f /usr/share/fonts/truetype/fonts-japanese-gothic.ttf "$fonts/" 2>/dev/null || true
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "ＭＳ Ｐゴシック" /d IPAPGothic /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "ＭＳ ゴシック" /d IPAGothic /f >/dev/null 2>&1
# Without a window manager every hide or destroy of a window stalls; the tests run without one.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# A fresh prefix has the text file type but no ".txt" extension for it: opening a read-me would fail.
wine reg add 'HKCR\.txt' /ve /d txtfile /f >/dev/null 2>&1
wineserver -w
touch "$stamp"
