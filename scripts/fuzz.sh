#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each for VR_FUZZ_SECONDS seconds
# (default 30), seeded with inputs written by fuzz_seeds and any files in tests/fuzz/corpus/<target>/.
# Fails when a target crashes, leaks, takes more than 10 s for one input or more than 512 MB; the input that did it is kept in
# build/fuzz/artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${VR_FUZZ_SECONDS:-30}
targets=(fuzz_archive fuzz_unscramble fuzz_settings fuzz_vesk fuzz_xml fuzz_merge fuzz_disc fuzz_mds fuzz_ccd fuzz_nrg fuzz_udf)

cd "$root"
# The project's warning set is GCC's (-Wshadow=local); clang only has to compile the parsers here.
cmake --preset fuzz -DVR_WERROR=OFF -DCMAKE_CXX_FLAGS=-Wno-unknown-warning-option >/dev/null
cmake --build --preset fuzz --target fuzz_all

bin="$root/build/fuzz/tests/fuzz"
artifacts="$root/build/fuzz/artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/fuzz_seeds" "$work/seeds"

# A small quarantine leaves the memory limit to the code under test.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=64}"
status=0
for target in "${targets[@]}"; do
  corpus="$work/corpus/$target"
  mkdir -p "$corpus"
  inputs=("$work/seeds/$target")
  if [ -d "$root/tests/fuzz/corpus/$target" ]; then inputs+=("$root/tests/fuzz/corpus/$target"); fi
  log="$work/$target.log"
  echo "== $target: ${seconds}s"
  # A memory bomb or a slowdown fails the run: 512 MB and 10 s per input at most.
  if "$bin/$target" -max_total_time="$seconds" -rss_limit_mb=512 -malloc_limit_mb=512 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$target-" "$corpus" "${inputs[@]}" >"$log" 2>&1; then
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$log" | sed 's/^/   /'
    echo "   corpus: $(ls "$corpus" | wc -l) inputs"
  else
    echo "   FAILED (artifacts in $artifacts)"
    tail -40 "$log"
    status=1
  fi
done
exit $status
