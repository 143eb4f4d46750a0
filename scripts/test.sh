#!/usr/bin/env bash
# Installs what is needed, builds and runs every test: the unit and end-to-end tests through
# CTest (they replay the fuzzing corpus too), a short fuzzing run and the benchmark checks
# (subtitle loading and saving; a split against a save; what the coverage map costs; the
# waveform strip's tick; the waveform and speech-data builder on a 60-minute WAV; entering
# editing on a 90-minute video; video and sound played together; the window's start-up).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --parallel "$(nproc)"
tests/fuzz/run.sh "${FUZZ_SECONDS:-30}"
bench/check.sh
bench/split_check.sh
bench/map_check.sh
bench/strip_check.sh
bench/prepare_check.sh 60 --builder
bench/readygo_check.sh
bench/avsync_check.sh
bench/startup_check.sh
