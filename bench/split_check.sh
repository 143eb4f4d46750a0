#!/usr/bin/env bash
# Runs the split benchmark and checks its ratio against its target:
#   split of an ASS entry / save of one change of the same file   <= 3.0
# Both write the whole 20 000-event file through the temporary file to the disk; the split also
# takes the document from what it wrote. Exits 1 when the target is missed, 2 when the
# benchmark cannot be run.
#
#   BUILD_DIR          the build folder (default: build)
#   TAMSEL_BENCH_DIR   where the benchmark writes its files (default: the temporary folder; a
#                      save on a RAM disk costs no disk time, which is not what an editor sees)
# Further arguments go to the benchmark program.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
SCRIPT=split_check.sh
# shellcheck source=common.sh
source bench/common.sh
json=$(mktemp)
trap 'rm -f "$json"' EXIT
run_benchmark split_bench "$json" "$@"

python3 bench/ratio_check.py split_check.sh "$json" BM_SplitAss BM_SaveAssOneChange \
  "ASS split / save of one change" 3.0 "file in {data_dir}: ASS {ass_bytes} bytes"
