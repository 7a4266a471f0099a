#!/usr/bin/env bash
# Builds a library as a static library for mingw-w64 from the distribution's source package.
# Usage: build-mingw-dep.sh <jpeg|deflate|pugixml> <i686|x86_64> <install-dir>
# Installs lib/lib<name>.a and its headers under install-dir.
set -euo pipefail
name=$1
arch=$2
out=$3
here=$(cd "$(dirname "$0")/.." && pwd)
case "$name" in
  jpeg) package=libjpeg-turbo ;;
  deflate) package=libdeflate ;;
  pugixml) package=pugixml ;;
  *) echo "build-mingw-dep.sh: unknown library $name" >&2; exit 2 ;;
esac
work=$(dirname "$out")/src-$name-$arch
rm -rf "$work"
mkdir -p "$work"
cd "$work"
apt-get source -qq "$package" >/dev/null 2>&1 || {
  echo "apt-get source $package failed (is a deb-src entry present? run scripts/setup.sh)" >&2
  exit 1
}
srcdir=$(find . -maxdepth 1 -type d -name "$package-*" | head -n 1)
mkdir -p "$out/lib" "$out/include"
case "$name" in
  jpeg)
    cmake -S "$srcdir" -B build -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$arch.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR= -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
      -DCMAKE_INSTALL_PREFIX="$out" -DCMAKE_SYSTEM_PROCESSOR="$arch" >/dev/null
    cmake --build build --target jpeg-static -j"$(nproc)" >/dev/null
    cp build/libjpeg.a "$out/lib/libjpeg.a"
    cp build/jconfig.h "$srcdir/jpeglib.h" "$srcdir/jmorecfg.h" "$srcdir/jerror.h" "$out/include/"
    ;;
  deflate)
    # Plain C without a build system of its own for this target: every library source, compiled once.
    mkdir -p obj
    for f in "$srcdir"/lib/*.c "$srcdir"/lib/x86/*.c; do
      "$arch-w64-mingw32-gcc" -O2 -I"$srcdir" -c "$f" -o "obj/$(basename "$f" .c).o"
    done
    "$arch-w64-mingw32-ar" rcs "$out/lib/libdeflate.a" obj/*.o
    cp "$srcdir/libdeflate.h" "$out/include/"
    ;;
  pugixml)
    # One source file and its two headers.
    "$arch-w64-mingw32-g++-posix" -O2 -c "$srcdir/src/pugixml.cpp" -o pugixml.o
    "$arch-w64-mingw32-ar" rcs "$out/lib/libpugixml.a" pugixml.o
    cp "$srcdir/src/pugixml.hpp" "$srcdir/src/pugiconfig.hpp" "$out/include/"
    ;;
esac
rm -rf "$work"
echo "$package for $arch in $out"
