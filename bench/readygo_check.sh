#!/usr/bin/env bash
# Runs the entering-editing benchmark and checks its ratio against its target:
#   ReadyGo on a prepared 90-minute video / a plain read of its .ws and .ai files   <= 2.0
#   the same with the editor's sound buffer mapping the WAV / the plain read         <= 2.0
# ReadyGo loads both side files into the editor's arrays and checks the WAV; its devices are the
# simulated ones, which map and read nothing of the sound, and then the editor's own sound
# buffer over the mapped WAV (without a device): entering editing costs the side files, not the
# sound. Exits 1 when the target
# is missed, 2 when the benchmark cannot be run.
#
#   BUILD_DIR          the build folder (default: build)
#   TAMSEL_BENCH_DIR   where the benchmark writes its files (default: the temporary folder)
# Further arguments go to the benchmark program.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
SCRIPT=readygo_check.sh
# shellcheck source=common.sh
source bench/common.sh
json=$(mktemp)
trap 'rm -f "$json"' EXIT
run_benchmark readygo_bench "$json" "$@"

status=0
worst() { [ "$1" -gt "$status" ] && status=$1; return 0; }
python3 bench/ratio_check.py readygo_check.sh "$json" BM_ReadyGo BM_ReadSideFiles \
  "ReadyGo / plain read of .ws and .ai" 2.0 \
  "side files in {data_dir}: {side_file_bytes} bytes each; simulated devices" || worst $?
python3 bench/ratio_check.py readygo_check.sh "$json" BM_ReadyGoMappedSound BM_ReadSideFiles \
  "ReadyGo, WAV mapped / plain read" 2.0 \
  "the same with the editor's sound buffer mapping the 476 MB WAV" || worst $?
exit "$status"
