# Environment for running the Windows builds under Wine; sourced by the other scripts.
export WINEPREFIX="${VR_WINEPREFIX:-$HOME/.cache/vrsetup/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
# Wine uses code page 932 for the ANSI functions only under a Japanese locale.
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
