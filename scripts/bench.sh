#!/usr/bin/env bash
# Runs every benchmark: the Google Benchmark programs (release preset) and the whole-process
# measurements of vrtool (time against cp, peak memory), then prints the ratios.
# Sizes: VR_BENCH_MB (default 2048) for the large data file, VR_BENCH_BIG_ENTRY_MB (default 1024) for
# the single stored entry, plus the variables vr_bench reads (see bench/archive_bench.cpp).
# VR_BENCH_QUICK=1 shrinks everything for a fast run. Large files go to VR_BENCH_DIR (default: the temp
# folder) and are deleted afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${VR_BENCH_QUICK:-0}" = 1 ]; then
  export VR_BENCH_MB=${VR_BENCH_MB:-128} VR_BENCH_BIG_ENTRY_MB=${VR_BENCH_BIG_ENTRY_MB:-64}
  export VR_BENCH_EXTRACT_MB=${VR_BENCH_EXTRACT_MB:-16} VR_BENCH_ENTRIES=${VR_BENCH_ENTRIES:-40000}
  export VR_BENCH_MERGE=${VR_BENCH_MERGE:-10000}
fi
mb=${VR_BENCH_MB:-2048}
entry_mb=${VR_BENCH_BIG_ENTRY_MB:-1024}

cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target vrtool vr_bench
if [ -f bench/vesks_bench.cpp ]; then
  cmake --build --preset release --target vesks_bench || echo "(vesks_bench did not build; its figures are left out)"
fi
build="$root/build/release"
vrtool="$build/apps/vrtool/vrtool"
vr_bench="$build/bench/vr_bench"

echo "== library benchmarks"
"$vr_bench" | tee /tmp/vr-bench-$$.txt
if [ -f bench/vesks_bench.cpp ] && [ -x "$build/bench/vesks_bench" ]; then "$build/bench/vesks_bench"; fi

work=$(mktemp -d "${VR_BENCH_DIR:-${TMPDIR:-/tmp}}/vr-bench-sh.XXXXXX")
trap 'rm -rf "$work" /tmp/vr-bench-$$.txt' EXIT

# Runs a command under /usr/bin/time; sets t (seconds) and m (max RSS, KiB). Stops on failure.
measure() {
  if ! /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err"; then
    echo "failed: $*"; cat "$work/err"; exit 1
  fi
  read -r t m <"$work/time"
}

echo "== whole-process: ${mb} MiB data file (1 GiB part files)"
"$vr_bench" --make-stored "$work/big.dat" "$mb" 64
cat "$work"/big.* >/dev/null  # into the page cache
mkdir -p "$work/copy"
measure cp "$work"/big.* "$work/copy/"; t_cp=$t
rm -rf "$work/copy"
measure "$vrtool" --quiet merge "$work/game.dat" "$work/big.dat"; t_merge=$t; m_merge=$m
# cp once more after the merge (write-back of the first copy can slow either run); the faster counts.
mkdir -p "$work/copy"
measure cp "$work"/big.* "$work/copy/"; t_cp=$(awk -v a="$t_cp" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
rm -rf "$work/copy"
measure "$vrtool" --quiet verify "$work/game.dat"; t_verify=$t; m_verify=$m
rm -f "$work"/game.* "$work"/big.*
echo "== whole-process: one stored entry of ${entry_mb} MiB"
"$vr_bench" --make-stored "$work/one.dat" "$entry_mb" "$entry_mb"
measure "$vrtool" --quiet extract -C "$work/out" "$work/one.dat"; t_extract=$t; m_extract=$m

rm -rf "$work/out" "$work"/one.*

echo "== whole-process: install run of a package with a ${mb} MiB data file and a ${entry_mb} MiB separate entry"
# Random bytes in files the packer stores as they are (sound and movie extensions).
mkdir -p "$work/pkgsrc/data" "$work/pkg"
for ((i = 0; i < mb / 64; i++)); do head -c $((64 << 20)) /dev/urandom >"$work/pkgsrc/data/$i.ogg"; done
head -c $((entry_mb << 20)) /dev/urandom >"$work/pkgsrc/movie.mpg"
cat >"$work/pkg.json" <<'JSON'
{ "Title": "bench", "DefaultFolder": "bench", "GameExe": "bench.exe", "RegistryKey": "vrsetup\\bench",
  "DiskCount": 1, "BaseSizes": [0], "DataSizes": [0], "SoundSizes": [0], "MovieSizes": [0],
  "ArchiveInstall": true }
JSON
"$vrtool" settings build "$work/pkg.json" -o "$work/pkg/install.dat" >/dev/null
"$vrtool" --quiet pack --separate movie.mpg -o "$work/pkg/game.dat" "$work/pkgsrc" >/dev/null
rm -rf "$work/pkgsrc"
cat "$work"/pkg/* >/dev/null  # into the page cache
measure cp -r "$work/pkg" "$work/pkgcopy"; t_cpr=$t
rm -rf "$work/pkgcopy"
measure "$vrtool" --quiet install "$work/pkg" -d "$work/inst"; t_install=$t; m_install=$m
"$vrtool" --quiet verify "$work/inst/game.dat" >/dev/null || { echo "the installed data file does not verify"; exit 1; }
rm -rf "$work/inst"
measure cp -r "$work/pkg" "$work/pkgcopy"; t_cpr=$(awk -v a="$t_cpr" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
rm -rf "$work/pkgcopy" "$work/pkg"

echo
grep '^RATIO' /tmp/vr-bench-$$.txt || true
awk -v a="$t_install" -v b="$t_cpr" 'BEGIN { printf "RATIO %-48s %6.3f  (target <= 1.3; %.2f s vs %.2f s)\n", "vrtool install / cp -r of the package", (b > 0 ? a / b : 0), a, b }'
printf 'PEAK  %-48s %6.1f MiB (target <= 64)\n' "vrtool install" "$(awk -v k="$m_install" 'BEGIN { print k / 1024 }')"
awk -v a="$t_merge" -v b="$t_cp" 'BEGIN { printf "RATIO %-48s %6.3f  (target <= 1.1; %.2f s vs %.2f s)\n", "vrtool merge / cp", (b > 0 ? a / b : 0), a, b }'
printf 'PEAK  %-48s %6.1f MiB (target <= 64)\n' "vrtool verify" "$(awk -v k="$m_verify" 'BEGIN { print k / 1024 }')"
printf 'PEAK  %-48s %6.1f MiB (target <= 64)\n' "vrtool merge" "$(awk -v k="$m_merge" 'BEGIN { print k / 1024 }')"
printf 'PEAK  %-48s %6.1f MiB (target <= 64)\n' "vrtool extract (one stored entry)" "$(awk -v k="$m_extract" 'BEGIN { print k / 1024 }')"
printf 'TIME  %-48s %8.3f s\n' "vrtool verify (${mb} MiB)" "$t_verify" "vrtool extract (${entry_mb} MiB)" "$t_extract"
grep '^TIME' /tmp/vr-bench-$$.txt || true
