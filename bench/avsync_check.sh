#!/usr/bin/env bash
# Video and sound as the user sees and hears them in the real window, against mpv alone; see
# avsync_check.py. Exits 1 when a target is missed, 2 when the check cannot be run.
#
#   BUILD_DIR      the build folder (default: build)
#   PLAY_SECONDS   seconds of play at 1.0 (default: 20)
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 bench/avsync_check.py "${BUILD_DIR:-build}/bin" "${PLAY_SECONDS:-20}"
