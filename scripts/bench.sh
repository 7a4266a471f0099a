#!/usr/bin/env bash
# Runs every benchmark: the Google Benchmark programs (release preset) and the whole-process
# measurements of vrtool (time against cp, peak memory), then prints the ratios.
# Sizes: VR_BENCH_MB (default 2048) for the mixed game folder and the install package, VR_BENCH_BIG_ENTRY_MB (default 1024) for
# the single stored entry, VR_BENCH_GROWTH (default "10000 100000 1000000") for the entry counts of the
# growth rows, VR_BENCH_DEEP_ENTRIES (default 20) for the deep names, VR_BENCH_UNINSTALL (default
# "10000 100000") for the recorded files of the uninstall growth rows, plus the variables vr_bench reads
# (see bench/archive_bench.cpp).
# VR_BENCH_QUICK=1 shrinks everything for a fast run. Large files go to VR_BENCH_DIR (default: the temp
# folder) and are deleted afterwards.
# VR_BENCH_ONLY runs some sections alone, named with commas (default: all of them): library, pack,
# extract, install, growth, onefolder, image, list, wine; e.g. VR_BENCH_ONLY=install,wine.
# VR_BENCH_BUILD names the native build folder (default build/release, configured and built here);
# VR_SETUP_EXE the setup.exe of the Wine rows (default: the mingw-i686 preset's, built here when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
only=",${VR_BENCH_ONLY:-},"
want() { [ "$only" = ",," ] || [[ $only == *",$1,"* ]]; }
# The windowed install needs a display: without one the script runs again inside a virtual one.
if want wine && command -v xvfb-run >/dev/null && command -v xdotool >/dev/null &&
  ! xdotool getdisplaygeometry >/dev/null 2>&1 && [ -z "${VR_BENCH_IN_XVFB:-}" ]; then
  export VR_BENCH_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
if [ "${VR_BENCH_QUICK:-0}" = 1 ]; then
  export VR_BENCH_MB=${VR_BENCH_MB:-128} VR_BENCH_BIG_ENTRY_MB=${VR_BENCH_BIG_ENTRY_MB:-64}
  export VR_BENCH_EXTRACT_MB=${VR_BENCH_EXTRACT_MB:-16} VR_BENCH_ENTRIES=${VR_BENCH_ENTRIES:-40000}
  export VR_BENCH_MERGE=${VR_BENCH_MERGE:-10000}
  export VR_BENCH_GROWTH=${VR_BENCH_GROWTH:-"1000 10000 100000"}
  export VR_BENCH_DEEP_ENTRIES=${VR_BENCH_DEEP_ENTRIES:-5}
fi
mb=${VR_BENCH_MB:-2048}
entry_mb=${VR_BENCH_BIG_ENTRY_MB:-1024}

cd "$root"
build=${VR_BENCH_BUILD:-$root/build/release}
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j2 --target vrtool vr_bench vr_disc_images
if [ -f bench/vesks_bench.cpp ]; then
  cmake --build "$build" -j2 --target vesks_bench || echo "(vesks_bench did not build; its figures are left out)"
fi
vrtool="$build/apps/vrtool/vrtool"
vr_bench="$build/bench/vr_bench"

: >/tmp/vr-bench-$$.txt
if want library; then
  echo "== library benchmarks"
  "$vr_bench" | tee /tmp/vr-bench-$$.txt
  if [ -f bench/vesks_bench.cpp ] && [ -x "$build/bench/vesks_bench" ]; then "$build/bench/vesks_bench"; fi
fi

work=$(mktemp -d "${VR_BENCH_DIR:-${TMPDIR:-/tmp}}/vr-bench-sh.XXXXXX")
trap 'rm -rf "$work" /dev/shm/vr-bench-sh.$$ /tmp/vr-bench-$$.txt' EXIT

# Runs a command under /usr/bin/time; sets t (seconds) and m (max RSS, KiB). Stops on failure.
measure() {
  if ! /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err"; then
    echo "failed: $*"; cat "$work/err"; exit 1
  fi
  read -r t m <"$work/time"
}

# Times a command against its reference, alternating, VR_BENCH_REPEAT times (default 3; `prepare`, if
# given as a shell snippet, runs untimed before each run, e.g. to remove the last output), and adds a
# RATIO row of the fastest times with its target. Usage: compare "what" TARGET "prepare" -- CMD... --
# REF...
ratio_rows=()
compare() {
  local what=$1 target=$2 prepare=$3
  shift 4
  local cmd=() ref=()
  while [ "$1" != "--" ]; do cmd+=("$1"); shift; done
  shift
  ref=("$@")
  local best_a="" best_b="" i
  for ((i = 0; i < ${VR_BENCH_REPEAT:-3}; i++)); do
    eval "$prepare"
    measure "${cmd[@]}"
    best_a=$(awk -v a="$best_a" -v b="$t" 'BEGIN { print (a == "" || b < a ? b : a) }')
    eval "$prepare"
    measure "${ref[@]}"
    best_b=$(awk -v a="$best_b" -v b="$t" 'BEGIN { print (a == "" || b < a ? b : a) }')
  done
  ratio_rows+=("$(awk -v w="$what" -v a="$best_a" -v b="$best_b" -v g="$target" 'BEGIN {
    printf "RATIO %-48s %6.3f  (target <= %s; %.2f s vs %.2f s)", w, (b > 0 ? a / b : 0), g, a, b }')")
  echo "${ratio_rows[-1]}"
  last_a=$best_a last_b=$best_b  # the best times, for rows derived from them
}

ratio_rows=() disc_rows=() growth_rows=() extra_rows=() peak_rows=() time_rows=() repair_row=""
peak64() {  # label KiB: a peak-memory row against the 64 MiB every run is held to
  awk -v l="$1" -v k="$2" 'BEGIN { printf "PEAK  %-48s %6.1f MiB (target <= 64)", l, k / 1024 }'
}

if want pack; then
  echo "== whole-process: a ${mb} MiB game folder of mixed files (1 GiB part files)"
  "$vr_bench" --make-mixed "$work/mixed" "$mb"
  find "$work/mixed" -type f -exec cat {} + >/dev/null  # into the page cache
  # The reference of pack: gzip -6 of the files pack deflates (text and data files below 5 MiB; sounds and
  # larger files are stored).
  find "$work/mixed" -type f \( -name '*.txt' -o -name '*.bin' \) -print0 >"$work/deflated"
  compare "vrtool pack / gzip -6 of the bytes it deflates" 0.5 'rm -f "$work"/pack.*' -- \
    "$vrtool" --quiet pack -o "$work/pack.dat" "$work/mixed" -- \
    sh -c 'xargs -0 cat <"$1" | gzip -6' sh "$work/deflated"
  # media build writes the same archive (on one DVD), the medium's small files, and reads it back once.
  printf 'MZ' >"$work/setup.exe"
  printf '{"settings": {"Title": "bench"}, "archive": "mixed", "capacity": "dvd5", "setup": "setup.exe"}' \
    >"$work/media.json"
  compare "vrtool media build / vrtool pack of the same folder" 1.1 'rm -rf "$work"/pack.* "$work/media"' -- \
    "$vrtool" --quiet media build -o "$work/media" "$work/media.json" -- \
    "$vrtool" --quiet pack -o "$work/pack.dat" "$work/mixed"
  rm -rf "$work/media" "$work/media.json" "$work/setup.exe"
  "$vrtool" --quiet pack -o "$work/pack.dat" "$work/mixed"
  rm -rf "$work/mixed" "$work/deflated"
  cat "$work"/pack.* >/dev/null
  compare "vrtool verify / cat > /dev/null" 2.0 ':' -- "$vrtool" --quiet verify "$work/pack.dat" -- \
    sh -c 'cat "$1"/pack.* >/dev/null' sh "$work"
  measure "$vrtool" --quiet verify "$work/pack.dat"
  peak_rows+=("$(peak64 "vrtool verify" "$m")")
  time_rows+=("$(printf 'TIME  %-48s %8.3f s' "vrtool verify (${mb} MiB)" "$t")")
  compare "vrtool merge / cp of the same bytes" 1.05 'rm -rf "$work"/game.* "$work/copy"; mkdir "$work/copy"' -- \
    "$vrtool" --quiet merge "$work/game.dat" "$work/pack.dat" -- sh -c 'cp "$1"/pack.* "$1/copy/"' sh "$work"
  measure "$vrtool" --quiet merge "$work/merged.dat" "$work/pack.dat"
  peak_rows+=("$(peak64 "vrtool merge" "$m")")
  rm -rf "$work"/game.* "$work"/merged.* "$work"/pack.* "$work/copy"
fi

if want extract; then
  echo "== whole-process: one stored entry of ${entry_mb} MiB"
  "$vr_bench" --make-stored "$work/one.dat" "$entry_mb" "$entry_mb"
  measure "$vrtool" --quiet extract -C "$work/out" "$work/one.dat"
  peak_rows+=("$(peak64 "vrtool extract (one stored entry)" "$m")")
  time_rows+=("$(printf 'TIME  %-48s %8.3f s' "vrtool extract (${entry_mb} MiB)" "$t")")

  rm -rf "$work/out" "$work"/one.*
fi

# The install package: a data file of VR_BENCH_MB MiB of stored sounds, a movie of VR_BENCH_BIG_ENTRY_MB
# MiB and 300 loose files of 1 to 64 KiB, every group installed without asking (InstallKind 1), through
# the temp copy of the setup program (ArchiveInstall clear). Made once, for the install and Wine rows.
make_install_package() {
  [ -f "$work/pkg/install.dat" ] && return 0
  echo "== the install package: a ${mb} MiB data file, a ${entry_mb} MiB movie and 300 loose files"
  # Random bytes in files the packer stores as they are (sound and movie extensions).
  mkdir -p "$work/pkgsrc/data" "$work/pkg/loose" "$work/pkg/movie"
  local i size loose=0 names=""
  for ((i = 0; i < mb / 64; i++)); do head -c $((64 << 20)) /dev/urandom >"$work/pkgsrc/data/$i.ogg"; done
  "$vrtool" --quiet pack -o "$work/pkg/game.dat" "$work/pkgsrc" >/dev/null
  rm -rf "$work/pkgsrc"
  head -c $((entry_mb << 20)) /dev/urandom >"$work/pkg/movie/op.mpg"
  for ((i = 0; i < 300; i++)); do
    size=$(((1 + i * 37 % 64) << 10))
    head -c "$size" /dev/urandom >"$work/pkg/loose/f$i.txt"
    loose=$((loose + size))
    names+=", \"loose\\\\f$i.txt\""
  done
  cat >"$work/pkg.json" <<JSON
{ "Title": "vrbench", "DefaultFolder": "vrbench", "GameExe": "bench.exe", "RegistryKey": "vrsetup\\\\vrbench",
  "DiskCount": 1, "InstallKind": 1, "ArchiveInstall": false,
  "BaseSizes": [$loose], "DataSizes": [$(stat -c %s "$work/pkg/game.dat")], "SoundSizes": [0],
  "MovieSizes": [$((entry_mb << 20))], "BaseSizeTotal": $loose, "DataSizeTotal": $(stat -c %s "$work/pkg/game.dat"),
  "SoundSizeTotal": 0, "MovieSizeTotal": $((entry_mb << 20)),
  "PackageFiles": ["movie\\\\op.mpg"$names] }
JSON
  "$vrtool" settings build "$work/pkg.json" -o "$work/pkg/install.dat" >/dev/null
  rm -f "$work/pkg.json"
}

if want install; then
  make_install_package
  echo "== whole-process: install run of that package"
  find "$work/pkg" -type f -exec cat {} + >/dev/null  # into the page cache
  # The install flushes what it wrote; cp does not, so the reference on the disk syncs after it. Every
  # run starts with nothing left to write back.
  compare "vrtool install / cp -r + sync of the package" 1.1 'rm -rf "$work/inst" "$work/pkgcopy"; sync' -- \
    "$vrtool" --quiet install "$work/pkg" -d "$work/inst" -- \
    sh -c 'cp -r "$1" "$2" && sync' sh "$work/pkg" "$work/pkgcopy"
  rm -rf "$work/inst" "$work/pkgcopy"
  # The same on tmpfs, where a flush costs nothing (twice the package must fit).
  shm=/dev/shm/vr-bench-sh.$$
  if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt $(((2 * (mb + entry_mb) + 512) << 10)) ]; then
    mkdir -p "$shm"
    compare "vrtool install / cp -r of the package (tmpfs)" 1.1 'rm -rf "$shm/inst" "$shm/pkgcopy"' -- \
      "$vrtool" --quiet install "$work/pkg" -d "$shm/inst" -- cp -r "$work/pkg" "$shm/pkgcopy"
    rm -rf "$shm"
  else
    echo "(too little room on /dev/shm: the tmpfs row is left out)"
  fi
  measure "$vrtool" --quiet install "$work/pkg" -d "$work/inst"; m_install=$m; t_install=$t
  peak_rows+=("$(peak64 "vrtool install" "$m_install")")
  "$vrtool" --quiet verify "$work/inst/game.dat" >/dev/null || { echo "the installed data file does not verify"; exit 1; }
  # The same package as an ISO image (in the page cache): install and verify read it through the image
  # reader, against the same files in the folder.
  if command -v xorriso >/dev/null; then
    xorriso -as mkisofs -quiet -iso-level 3 -J -R -o "$work/pkg.iso" "$work/pkg" 2>/dev/null
    cat "$work/pkg.iso" >/dev/null
    compare "vrtool install from an ISO / from its folder" 1.05 'rm -rf "$work/inst-iso" "$work/inst-dir"' -- \
      "$vrtool" --quiet install "$work/pkg.iso" -d "$work/inst-iso" -- "$vrtool" --quiet install "$work/pkg" -d "$work/inst-dir"
    rm -rf "$work/inst-iso" "$work/inst-dir"
    measure "$vrtool" --quiet install "$work/pkg.iso" -d "$work/inst-iso"; m_install_iso=$m
    rm -rf "$work/inst-iso"
    compare "vrtool verify ISO:game.dat / game.dat in a folder" 1.05 ':' -- \
      "$vrtool" --quiet verify "$work/pkg.iso:game.dat" -- "$vrtool" --quiet verify "$work/pkg/game.dat"
    measure "$vrtool" --quiet verify "$work/pkg.iso:game.dat"; m_verify_iso=$m
    disc_rows+=("$(printf 'PEAK  %-48s %6.1f MiB (target <= 64, as from the folder)' "vrtool install from an ISO" \
      "$(awk -v k="$m_install_iso" 'BEGIN { print k / 1024 }')")")
    disc_rows+=("$(printf 'PEAK  %-48s %6.1f MiB (target <= 64)' "vrtool verify ISO:game.dat" \
      "$(awk -v k="$m_verify_iso" 'BEGIN { print k / 1024 }')")")
    # The same ISO as MDS/MDF (raw sectors), CCD/IMG and NRG: each install against the folder's.
    "$build/bench/vr_disc_images" "$work/pkg.iso" "$work/formats"
    for image in mds/game.mds ccd/game.ccd nrg/game.nrg; do
      cat "$work/formats/${image%/*}"/* >/dev/null
      compare "vrtool install from ${image##*.} / from its folder" 1.05 'rm -rf "$work/inst-img" "$work/inst-dir"' -- \
        "$vrtool" --quiet install "$work/formats/$image" -d "$work/inst-img" -- "$vrtool" --quiet install "$work/pkg" -d "$work/inst-dir"
      rm -rf "$work/inst-img" "$work/inst-dir"
      measure "$vrtool" --quiet install "$work/formats/$image" -d "$work/inst-img"
      disc_rows+=("$(printf 'PEAK  %-48s %6.1f MiB (target <= 64, as from the folder)' "vrtool install from ${image##*.}" \
        "$(awk -v k="$m" 'BEGIN { print k / 1024 }')")")
      rm -rf "$work/inst-img"
    done
    rm -rf "$work/formats"
    rm -f "$work/pkg.iso"
  fi
  # Check and repair of that install: the check reads every installed byte once; the repair of one damaged
  # entry writes that entry alone, far less than an install again.
  compare "vrtool check / cat of the installed files" 1.2 ':' -- \
    "$vrtool" --quiet check "$work/inst" --medium "$work/pkg" -- \
    bash -c 'find "$1" -type f -exec cat {} + >/dev/null' bash "$work/inst"
  printf 'X' | dd of="$work/inst/game.dat" bs=1 seek=$(((mb / 2) << 20)) conv=notrunc 2>/dev/null
  measure "$vrtool" --quiet repair "$work/inst" --medium "$work/pkg"; t_repair=$t
  "$vrtool" --quiet check "$work/inst" --medium "$work/pkg" >/dev/null || { echo "the repair left damage"; exit 1; }
  repair_row=$(awk -v r="$t_repair" -v i="$t_install" 'BEGIN {
    printf "REPAIR one damaged entry of the %s data file %8.2f s, the install itself %8.2f s", "installed", r, i }')
  echo "$repair_row"
  rm -rf "$work/inst"
  want wine || rm -rf "$work/pkg"
fi

if want growth; then
  # Growth: merge and extract of many short patterned double-byte names in one folder, and extract of
  # deeply nested names. Each row: time per entry (per entry and folder level for the deep names) as a
  # multiple of the first row's; linear work keeps every factor near 1.
  first=""
  for n in ${VR_BENCH_GROWTH:-10000 100000 1000000}; do
    "$vr_bench" --make-patterned "$work/names.dat" "$n"
    measure "$vrtool" --quiet merge "$work/game.dat" "$work/names.dat"; t_m=$t
    measure "$vrtool" --quiet extract -C "$work/out" "$work/names.dat"; t_x=$t
    rm -rf "$work/out" "$work"/game.* "$work"/names.*
    per_m=$(awk -v t="$t_m" -v n="$n" 'BEGIN { printf "%.9f", t / n }')
    per_x=$(awk -v t="$t_x" -v n="$n" 'BEGIN { printf "%.9f", t / n }')
    [ -n "$first" ] || first="$per_m $per_x"
    growth_rows+=("$(awk -v n="$n" -v tm="$t_m" -v tx="$t_x" -v pm="$per_m" -v px="$per_x" -v f="$first" 'BEGIN {
      split(f, b, " ");
      printf "GROWTH %-47s merge %8.2f s (x%5.2f per entry)  extract %8.2f s (x%5.2f per entry)",
        n " patterned double-byte names", tm, (b[1] > 0 ? pm / b[1] : 0), tx, (b[2] > 0 ? px / b[2] : 0) }')")
  done
  deep_first=""
  deep_count=${VR_BENCH_DEEP_ENTRIES:-20}
  for levels in 250 500 1000; do
    "$vr_bench" --make-deep "$work/deep.dat" "$levels" "$deep_count"
    measure "$vrtool" --quiet extract -C "$work/out" "$work/deep.dat"; t_x=$t
    rm -rf "$work/out" "$work"/deep.*
    per=$(awk -v t="$t_x" -v n="$((levels * deep_count))" 'BEGIN { printf "%.9f", t / n }')
    [ -n "$deep_first" ] || deep_first=$per
    growth_rows+=("$(awk -v l="$levels" -v c="$deep_count" -v t="$t_x" -v p="$per" -v f="$deep_first" 'BEGIN {
      printf "GROWTH %-47s extract %8.2f s (x%5.2f per entry and level)", c " names of " l " folder levels", t, (f > 0 ? p / f : 0) }')")
  done
  # Uninstall of an installed game whose recorded files lie in four folders, one in 32 of them missing and
  # one in 32 recorded in other letter cases: time per file as a multiple of the first row's (100,000
  # files are to take well under 10 s).
  uninstall_first=""
  for n in ${VR_BENCH_UNINSTALL:-10000 100000}; do
    "$vr_bench" --make-installed "$work/installed" "$n" "$work/installed.json"
    "$vrtool" settings build "$work/installed.json" -o "$work/installed/install.dat" >/dev/null
    measure "$vrtool" --quiet uninstall "$work/installed"; t_u=$t
    if [ -e "$work/installed" ]; then echo "uninstall left $work/installed behind"; exit 1; fi
    rm -f "$work/installed.json"
    per=$(awk -v t="$t_u" -v n="$n" 'BEGIN { printf "%.9f", t / n }')
    [ -n "$uninstall_first" ] || uninstall_first=$per
    growth_rows+=("$(awk -v n="$n" -v t="$t_u" -v p="$per" -v f="$uninstall_first" 'BEGIN {
      printf "GROWTH %-47s uninstall %8.2f s (x%5.2f per file)", n " recorded files (1/32 missing, 1/32 other case)", t, (f > 0 ? p / f : 0) }')")
  done
fi

# ---- extraction, image and list rows
# Each row runs the tool and its reference on the same input here, twice in turn, and counts the faster
# run of each: extract of a package of stored entries only against cp -r of its files, extract of small
# files (1,000 a folder) against cp -r of that tree, image convert to PNG against the same to PPM, and
# the peak memory of list against verify of one archive of many entries.
# Sizes: VR_BENCH_STORED_MB (default VR_BENCH_MB) of 64 MiB files, VR_BENCH_SMALL_FOLDERS (default 10)
# folders of 1,000 files of 2 KiB, VR_BENCH_IMAGE (default "4096 4096") for the picture's width and
# height, VR_BENCH_LIST_ENTRIES (default 1000000).
if [ "${VR_BENCH_QUICK:-0}" = 1 ]; then
  VR_BENCH_SMALL_FOLDERS=${VR_BENCH_SMALL_FOLDERS:-3} VR_BENCH_IMAGE=${VR_BENCH_IMAGE:-"1920 1080"}
  VR_BENCH_LIST_ENTRIES=${VR_BENCH_LIST_ENTRIES:-100000}
fi
stored_mb=${VR_BENCH_STORED_MB:-$mb}
small_folders=${VR_BENCH_SMALL_FOLDERS:-10}
read -r image_w image_h <<<"${VR_BENCH_IMAGE:-4096 4096}"
list_entries=${VR_BENCH_LIST_ENTRIES:-1000000}
vesks_bench="$build/bench/vesks_bench"

if want extract; then
  echo "== whole-process: extract of ${stored_mb} MiB of stored entries"
  mkdir -p "$work/stored"
  for ((i = 0; i < (stored_mb + 63) / 64; i++)); do head -c $((64 << 20)) /dev/urandom >"$work/stored/$i.ogg"; done
  "$vrtool" --quiet pack -o "$work/stored.dat" "$work/stored" >/dev/null
  cat "$work"/stored.* "$work"/stored/* >/dev/null  # into the page cache
  compare "vrtool extract (stored entries) / cp -r" 1.05 'rm -rf "$work/pair-out"' -- \
    "$vrtool" --quiet extract -C "$work/pair-out" "$work/stored.dat" -- cp -r "$work/stored" "$work/pair-out"
  rm -rf "$work/stored" "$work"/stored.*

  echo "== whole-process: extract of ${small_folders} folders of 1,000 small files"
  for ((d = 0; d < small_folders; d++)); do
    mkdir -p "$work/small/folder$d"
    head -c 1536000 /dev/urandom | base64 -w 0 | head -c 2048000 |
      split -b 2048 -a 3 -d --additional-suffix=.txt - "$work/small/folder$d/file"
  done
  "$vrtool" --quiet pack -o "$work/small.dat" "$work/small" >/dev/null
  cat "$work"/small.* >/dev/null
  find "$work/small" -type f -exec cat {} + >/dev/null
  compare "vrtool extract (1,000 small files a folder) / cp -r" 1.5 'rm -rf "$work/pair-out"' -- \
    "$vrtool" --quiet extract -C "$work/pair-out" "$work/small.dat" -- cp -r "$work/small" "$work/pair-out"
  rm -rf "$work/small" "$work"/small.*
fi

# Extract of many small files in one folder against cp -r of that folder: VR_BENCH_ONE_FOLDER (default
# "1000 20000 50000") files of 2 KiB; each row after the first also gives the time per file against the
# first row's (target <= 1.5: what a file costs must not grow with the folder).
if want onefolder; then
  first_per_file=""
  for n in ${VR_BENCH_ONE_FOLDER:-1000 20000 50000}; do
    echo "== whole-process: extract of $n small files in one folder"
    mkdir -p "$work/one/folder"
    head -c $((n * 1536)) /dev/urandom | base64 -w 0 | head -c $((n * 2048)) |
      split -b 2048 -a 6 -d --additional-suffix=.txt - "$work/one/folder/file"
    "$vrtool" --quiet pack -o "$work/one.dat" "$work/one" >/dev/null
    cat "$work"/one.* >/dev/null
    find "$work/one" -type f -exec cat {} + >/dev/null
    compare "vrtool extract ($n small files in one folder) / cp -r" 1.5 'rm -rf "$work/pair-out"' -- \
      "$vrtool" --quiet extract -C "$work/pair-out" "$work/one.dat" -- cp -r "$work/one" "$work/pair-out"
    per_file=$(awk -v a="$last_a" -v n="$n" 'BEGIN { printf "%.3f", a * 1000000 / n }')
    if [ -z "$first_per_file" ]; then
      first_per_file=$per_file first_n=$n
    else
      growth_rows+=("$(awk -v n="$n" -v f="$first_n" -v p="$per_file" -v q="$first_per_file" 'BEGIN {
        printf "GROWTH %-47s extract %8.1f us a file (x%5.2f of %d files; target <= 1.5)",
        n " small files in one folder", p, (q > 0 ? p / q : 0), f }')")
      echo "${growth_rows[-1]}"
    fi
    rm -rf "$work/one" "$work"/one.* "$work/pair-out"
  done
fi

if want image; then
  if [ -x "$vesks_bench" ]; then
    echo "== whole-process: image convert of a ${image_w} x ${image_h} picture"
    "$vesks_bench" --make-image "$work/picture.vsk" "$image_w" "$image_h"
    mkdir -p "$work/pictures"
    compare "vrtool image convert PNG / PPM" 1.5 ':' -- \
      "$vrtool" image convert "$work/picture.vsk" "$work/pictures/out.png" -- \
      "$vrtool" image convert "$work/picture.vsk" "$work/pictures/out.ppm"
    rm -rf "$work/pictures" "$work/picture.vsk"
  fi
fi

if want list; then
  echo "== whole-process: list and verify of ${list_entries} entries"
  "$vr_bench" --make-patterned "$work/many.dat" "$list_entries"
  measure "$vrtool" --quiet verify "$work/many.dat"; m_verify_many=$m
  measure "$vrtool" list "$work/many.dat"; m_list=$m
  measure "$vrtool" list --json "$work/many.dat"; m_list_json=$m
  rm -f "$work"/many.*
  peak_row() {  # label KiB target-KiB
    awk -v l="$1" -v k="$2" -v g="$3" 'BEGIN { printf "PEAK  %-48s %6.1f MiB (target <= %.1f)\n", l, k / 1024, g / 1024 }'
  }
  extra_rows+=("$(peak_row "vrtool list (${list_entries} entries)" "$m_list" "$m_verify_many")")
  extra_rows+=("$(peak_row "vrtool list --json (${list_entries} entries)" "$m_list_json" "$m_verify_many")")
  extra_rows+=("$(printf 'PEAK  %-48s %6.1f MiB (the reference of the two above)' "vrtool verify (${list_entries} entries)" \
    "$(awk -v k="$m_verify_many" 'BEGIN { print k / 1024 }')")")
fi


# The Windows build under Wine against the native install of the same package: setup.exe /VERYSILENT
# (both processes: the starter and its temp copy), and the install made with the keyboard in the
# wizard, timed from the Enter on its confirm page to its exit page. That run holds the fixed pauses of
# the windowed install (2 s after the shortcuts, 1 s after the registry), which the row subtracts; the
# silent run has none. Left out when Wine, xvfb-run, xdotool or the mingw build are missing.
if want wine; then
  setup_exe=${VR_SETUP_EXE:-$root/build/mingw-i686/apps/setup/setup.exe}
  wine_skip=""
  for tool in wine xvfb-run xdotool; do command -v "$tool" >/dev/null || wine_skip="no $tool"; done
  if [ -z "$wine_skip" ] && [ ! -f "$setup_exe" ] && [ -z "${VR_SETUP_EXE:-}" ] &&
    command -v i686-w64-mingw32-g++-posix >/dev/null; then
    { cmake --preset mingw-i686 >/dev/null && cmake --build --preset mingw-i686 --target setup; } || true
  fi
  [ -n "$wine_skip" ] || [ -f "$setup_exe" ] || wine_skip="no mingw build of setup.exe ($setup_exe)"
  [ -n "$wine_skip" ] || xdotool getdisplaygeometry >/dev/null 2>&1 || wine_skip="no display"
  if [ -n "$wine_skip" ]; then
    echo "(the Wine rows are left out: $wine_skip)"
  else
    make_install_package
    echo "== whole-process: the install package under Wine, silent and with the keyboard"
    . "$root/scripts/wine-env.sh"
    "$root/scripts/wine-prefix.sh"
    # The server and Wine's services start here, with nothing of this script's output open.
    wineserver -p 60 >/dev/null 2>&1 </dev/null || true  # (fails when one runs already)
    wineboot >/dev/null 2>&1 </dev/null || true
    cp "$setup_exe" "$work/pkg/setup.exe"
    find "$work/pkg" -type f -exec cat {} + >/dev/null
    regkey='HKCU\Software\vrsetup\vrbench'
    fixed_pauses=3
    # Window id of the first visible top-level window whose title matches $1, within $2 seconds.
    bench_window() {
      local i id
      for ((i = 0; i < $2 * 50; i++)); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.02
      done
      return 1
    }
    # One install with the keyboard into the folder $1 (proposed through the registry's InstallPath):
    # the launcher's インストール, then Enter through the temp copy's wizard. Sets t to the seconds from
    # the Enter on the confirm page to the exit page; closes the wizard and the windows the run opened.
    windowed_install() {
      local dest=$1 before first launcher wizard t0 i w
      mkdir -p "$dest"
      wine reg add "$regkey" /v InstallPath /d "$(winepath -w "$dest" 2>/dev/null)" /f >/dev/null 2>&1
      before=$(xdotool search --onlyvisible --name '' 2>/dev/null | sort)
      (cd "$work/pkg" && exec wine setup.exe >/dev/null 2>&1) &
      first=$!
      launcher=$(bench_window '^vrbench$' 30) || { echo "windowed install: no launcher window"; exit 1; }
      eval "$(xdotool getwindowgeometry --shell "$launcher")"
      xdotool mousemove $((X + 12)) $((Y + HEIGHT - 12)) click 1
      sleep 0.2
      xdotool key Return
      wait "$first"
      wizard=$(bench_window '^(ようこそ|ライセンス契約|インストール先の選択|インストール準備完了)$' 30) ||
        { echo "windowed install: no wizard window"; exit 1; }
      for ((i = 0; i < 20; i++)); do
        [ "$(xdotool getwindowname "$wizard")" = "インストール準備完了" ] && break
        xdotool key Return
        sleep 0.5
      done
      t0=$(date +%s.%N)
      xdotool key Return
      for ((i = 0; i < 30000; i++)); do
        [ "$(xdotool getwindowname "$wizard" 2>/dev/null)" = "完了" ] && break
        sleep 0.01
      done
      t=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
      # The Programs folder the run opened may hold the keyboard: click 閉じる in the wizard's client
      # area (497 x 336, dialog frame).
      eval "$(xdotool getwindowgeometry --shell "$wizard")"
      xdotool mousemove $((X + (WIDTH - 497) / 2 + 453)) $((Y + HEIGHT - 336 - (WIDTH - 497) / 2 + 312)) click 1
      for ((i = 0; i < 500; i++)); do
        xdotool search --onlyvisible --name '^完了$' >/dev/null 2>&1 || break
        sleep 0.02
      done
      for w in $(xdotool search --onlyvisible --name '' 2>/dev/null | sort | comm -13 <(echo "$before") -); do
        xdotool windowkill "$w" 2>/dev/null || true
      done
      sleep 0.5
    }
    best_native="" best_silent="" best_window=""
    for ((i = 0; i < ${VR_BENCH_REPEAT:-3}; i++)); do
      rm -rf "$work/inst" "$work/winst" "$work/wwin"; sync
      measure "$vrtool" --quiet install "$work/pkg" -d "$work/inst"
      best_native=$(awk -v a="$best_native" -v b="$t" 'BEGIN { print (a == "" || b < a ? b : a) }')
      rm -rf "$work/inst"; sync
      measure sh -c 'cd "$1" && exec wine setup.exe /VERYSILENT "/DIR=$2"' sh "$work/pkg" "$(winepath -w "$work/winst" 2>/dev/null)"
      best_silent=$(awk -v a="$best_silent" -v b="$t" 'BEGIN { print (a == "" || b < a ? b : a) }')
      "$vrtool" --quiet verify "$work/winst/game.dat" >/dev/null && cmp -s "$work/pkg/movie/op.mpg" "$work/winst/movie/op.mpg" ||
        { echo "the silent install under Wine is incomplete"; exit 1; }
      rm -rf "$work/winst"; sync
      windowed_install "$work/wwin"
      best_window=$(awk -v a="$best_window" -v b="$t" 'BEGIN { print (a == "" || b < a ? b : a) }')
      "$vrtool" --quiet verify "$work/wwin/game.dat" >/dev/null && cmp -s "$work/pkg/movie/op.mpg" "$work/wwin/movie/op.mpg" ||
        { echo "the windowed install under Wine is incomplete"; exit 1; }
      echo "run $((i + 1)): native ${best_native} s, silent ${best_silent} s, windowed ${t} s (best so far)"
    done
    rm -rf "$work/wwin"
    wine reg delete 'HKCU\Software\vrsetup\vrbench' /f >/dev/null 2>&1 || true
    ratio_rows+=("$(awk -v a="$best_silent" -v b="$best_native" 'BEGIN {
      printf "RATIO %-48s %6.3f  (target <= 1.1; %.2f s vs %.2f s)", "setup.exe /VERYSILENT (Wine) / vrtool install", a / b, a, b }')")
    echo "${ratio_rows[-1]}"
    ratio_rows+=("$(awk -v a="$best_window" -v p="$fixed_pauses" -v b="$best_silent" 'BEGIN {
      printf "RATIO %-48s %6.3f  (target <= 1.2; %.2f s less the %d s of fixed pauses vs %.2f s)",
        "windowed install (Wine) / setup.exe /VERYSILENT", (a - p) / b, a, p, b }')")
    echo "${ratio_rows[-1]}"
  fi
fi

# ---- summary
echo
grep '^RATIO' /tmp/vr-bench-$$.txt || true
rows() { [ $# -eq 0 ] || printf '%s\n' "$@"; }
rows "${peak_rows[@]}" "${ratio_rows[@]}" "${extra_rows[@]}" "${disc_rows[@]}"
[ -z "$repair_row" ] || echo "$repair_row"
rows "${time_rows[@]}"
grep '^TIME' /tmp/vr-bench-$$.txt || true
rows "${growth_rows[@]}"
