#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given number of seconds
# (default 120), starting from a seed corpus of small valid jobs.  The corpus
# grows in build-fuzz/corpus/ from run to run; crashes land in
# build-fuzz/findings/ and fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKELVO_FUZZ=ON -DKELVO_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_raster_job fuzz_image_stages fuzz_seed_corpus

mkdir -p build-fuzz/findings
for target in fuzz_raster_job fuzz_image_stages; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  build-fuzz/tests/fuzz/fuzz_seed_corpus "$corpus"
  echo "Fuzzing $target for ${seconds}s"
  # The filter's status lines would drown the fuzzer's own: close the
  # target's standard error (libFuzzer and the sanitizers keep theirs).
  # libcups itself may allocate a line buffer as large as a header asks.
  build-fuzz/tests/fuzz/$target -max_total_time="$seconds" -close_fd_mask=2 \
    -malloc_limit_mb=4200 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/ "$corpus" 2>&1 |
    grep -E "^(Done|stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+\s+DONE)|ERROR|SUMMARY|runtime error" || true
  if ls build-fuzz/findings/ | grep -q .; then
    echo "fuzzing found a failing input: build-fuzz/findings/" >&2
    exit 1
  fi
done
