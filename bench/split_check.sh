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

python3 - "$json" <<'PY'
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
TARGET = 3.0

with open(sys.argv[1], encoding="utf-8") as f:
    report = json.load(f)

medians = {}
for b in report.get("benchmarks", []):
    name = b.get("run_name", b.get("name", "")).removesuffix("/real_time")
    if b.get("error_occurred"):
        print(f"split_check.sh: {name}: {b.get('error_message', 'failed')}", file=sys.stderr)
        sys.exit(2)
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
        medians[name] = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")]

for name in ("BM_SplitAss", "BM_SaveAssOneChange"):
    if name not in medians:
        print(f"split_check.sh: no median for {name}", file=sys.stderr)
        sys.exit(2)

ctx = report.get("context", {})
print(f"file in {ctx.get('data_dir', '?')}: ASS {ctx.get('ass_bytes', '?')} bytes")
print("median wall-clock times:")
for name in sorted(medians):
    print(f"  {name:<28} {medians[name] / 1e6:9.3f} ms")
split, save = medians["BM_SplitAss"], medians["BM_SaveAssOneChange"]
ratio = split / save
ok = ratio <= TARGET
print("ratio:")
print(f"  {'ASS split / save of one change':<40} {ratio:6.2f}  "
      f"({split / 1e6:.2f} ms / {save / 1e6:.2f} ms)  target <= {TARGET:.1f}  "
      f"{'ok' if ok else 'MISSED'}")
sys.exit(0 if ok else 1)
PY
