#!/usr/bin/env bash
# Video and sound played together through the real devices under an X server of its own
# (xvfb-run): a generated 60-second video at 1.0 for 20 s with the real playback loop.
#   |video position - sound position| after each tick, the sound's cursor on an exact clock:
#     ticks within one frame step                                                  >= 95%
# Also shown: the same with SDL's dummy audio driver, and the CPU time per second of playback
# against mpv alone playing the file silently. Exits 1 when the target is missed, 2 when the
# check cannot be run.
#
#   BUILD_DIR          the build folder (default: build)
#   TAMSEL_BENCH_DIR   where the video and its side files go (default: the temporary folder)
#   PLAY_SECONDS       seconds of play in each session (default: 20)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
bin="$BUILD_DIR/bin/avsync_bench"
if [ ! -x "$bin" ]; then
  echo "avsync_check.sh: $bin not found; build first (scripts/build.sh)" >&2
  exit 2
fi
if ! command -v xvfb-run >/dev/null; then
  echo "avsync_check.sh: xvfb-run is not installed (scripts/install-deps.sh)" >&2
  exit 2
fi
QT_QPA_PLATFORM=xcb exec xvfb-run -a -s "-screen 0 1024x768x24" "$bin" "${PLAY_SECONDS:-20}"
