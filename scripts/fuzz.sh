#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for SECONDS
# (default 60), starting from its seed corpus in tests/fuzz/corpus/<target>
# and its dictionary tests/fuzz/<target>.dict when there is one. Ends non-zero
# on any finding and prints the input that reproduces it.
#   scripts/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
scripts/deps.sh --fuzz
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORBALT_BUILD_TESTS=OFF -DORBALT_BUILD_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_settings fuzz_ctrltable fuzz_commands fuzz_reply fuzz_rotctld fuzz_valuetext
    fuzz_rotormessages fuzz_webapi)
fi
cmake --build build-fuzz --parallel "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for t in "${targets[@]}"; do
  work="build-fuzz/run/$t"
  mkdir -p "$work/corpus" "$work/findings"
  # The seeds are copied: the run adds what it finds to its own corpus.
  if [ -d "tests/fuzz/corpus/$t" ]; then
    cp -n tests/fuzz/corpus/"$t"/* "$work/corpus/" 2>/dev/null || true
  fi
  dict=()
  [ -f "tests/fuzz/$t.dict" ] && dict=(-dict="tests/fuzz/$t.dict")
  echo "== $t for ${seconds}s"
  if ! "build-fuzz/$t" "$work/corpus" "${dict[@]}" -max_total_time="$seconds" \
      -artifact_prefix="$work/findings/" -print_final_stats=1 2>"$work/log"; then
    status=1
    echo "FINDING in $t; reproduce with: build-fuzz/$t $(ls -t "$work"/findings/* | head -1)"
    tail -40 "$work/log"
  else
    grep -E "stat::number_of_executed_units|cov:" "$work/log" | tail -2 || true
  fi
done
exit $status
