#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian packages. Safe to run again.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

# A deb-src entry derived from the machine's own apt sources (for source packages the cross build needs).
src_list=/etc/apt/sources.list.d/vrsetup-src.sources
need_update=0
if [ ! -f "$src_list" ]; then
  need_update=1
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    [ "$f" = "$src_list" ] && continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$tmp"
    echo >>"$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' >"${tmp}.list" || true
    [ -s "${tmp}.list" ] && $SUDO cp "${tmp}.list" /etc/apt/sources.list.d/vrsetup-src.list
    rm -f "${tmp}.list"
  fi
  [ -s "$tmp" ] && $SUDO cp "$tmp" "$src_list"
  rm -f "$tmp"
fi

packages=(
  cmake g++ make ninja-build pkg-config clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev zlib1g-dev libjpeg62-turbo-dev libpng-dev libcli11-dev nlohmann-json3-dev libdeflate-dev libpugixml-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev nasm dpkg-dev
  xorriso genisoimage desktop-file-utils
  # Independent readers of the disc-image fixtures (GPL; run by tests only, never linked or shipped).
  ccd2iso mdf2iso nrg2iso p7zip-full
  time wine wine64 wine32:i386 fonts-wine fonts-ipafont-gothic xvfb xauth xdotool imagemagick locales liblnk-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" = 1 ]; then
  $SUDO apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  $SUDO sed -i 's/^# *ja_JP.UTF-8/ja_JP.UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
echo "setup: all packages present"
