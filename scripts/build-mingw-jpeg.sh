#!/usr/bin/env bash
# Builds libjpeg-turbo as a static library for mingw-w64 from the distribution's source package.
# Usage: build-mingw-jpeg.sh <i686|x86_64> <install-dir>
set -euo pipefail
arch=$1
out=$2
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(dirname "$out")/src-$arch
rm -rf "$work"
mkdir -p "$work"
cd "$work"
apt-get source -qq libjpeg-turbo >/dev/null 2>&1 || {
  echo "apt-get source libjpeg-turbo failed (is a deb-src entry present? run scripts/setup.sh)" >&2
  exit 1
}
srcdir=$(find . -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -n 1)
cmake -S "$srcdir" -B build -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$arch.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR= -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
  -DCMAKE_INSTALL_PREFIX="$out" -DCMAKE_SYSTEM_PROCESSOR="$arch" >/dev/null
cmake --build build --target jpeg-static -j"$(nproc)" >/dev/null
mkdir -p "$out/lib" "$out/include"
cp build/libjpeg.a "$out/lib/libjpeg.a"
cp build/jconfig.h "$srcdir/jpeglib.h" "$srcdir/jmorecfg.h" "$srcdir/jerror.h" "$out/include/"
rm -rf "$work"
echo "libjpeg-turbo for $arch in $out"
