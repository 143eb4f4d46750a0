#!/usr/bin/env bash
# Fuzzes the subtitle loader for SECONDS seconds (default 60): builds tamsel_loader_fuzz with
# clang into build-fuzz/ (or $FUZZ_BUILD_DIR) and runs it on a scratch copy of the kept corpus,
# so the corpus in the tree is left as it is. Exits non-zero when an input crashes the target
# or breaks one of its checks; the input is kept under <build dir>/fuzz-run/artifacts/.
#
# New inputs worth keeping (small ones that reach new code) can be picked from
# <build dir>/fuzz-run/corpus/ by hand. A crash, once minimised (-minimize_crash=1), belongs in
# tests/fuzz/crashes/, where every test run replays it.
set -euo pipefail
cd "$(dirname "$0")/../.."

duration=${1:-60}
if ! [[ "$duration" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi
build=${FUZZ_BUILD_DIR:-build-fuzz}

export CC=clang CXX=clang++
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTAMSEL_FUZZ=ON -DTAMSEL_TESTS=ON -DTAMSEL_BENCH=OFF >/dev/null
cmake --build "$build" --target tamsel_loader_fuzz tamsel_wav_fuzz

run="$build/fuzz-run"
rm -rf "$run/corpus"
mkdir -p "$run/corpus" "$run/artifacts"
cp tests/fuzz/corpus/* "$run/corpus/"

status=0
"$build/bin/tamsel_loader_fuzz" "$run/corpus" \
  -max_len=4096 -max_total_time="$duration" -timeout=20 \
  -dict=tests/fuzz/loader.dict -artifact_prefix="$run/artifacts/" \
  -print_final_stats=1 || status=$?

# The WAV reader and the builder's header checks, for the same time.
if [ "$status" -eq 0 ]; then
  rm -rf "$run/wav-corpus"
  mkdir -p "$run/wav-corpus"
  cp tests/fuzz/wav-corpus/* "$run/wav-corpus/"
  "$build/bin/tamsel_wav_fuzz" "$run/wav-corpus" \
    -max_len=8192 -max_total_time="$duration" -timeout=20 \
    -artifact_prefix="$run/artifacts/" -print_final_stats=1 || status=$?
fi

if [ "$status" -ne 0 ]; then
  echo "run.sh: the fuzzer stopped with status $status; inputs in $run/artifacts/:" >&2
  ls -l "$run/artifacts/" >&2 || true
  exit 1
fi
echo "run.sh: ${duration}s without a crash; the corpus grew to $(ls "$run/corpus" | wc -l) inputs"
