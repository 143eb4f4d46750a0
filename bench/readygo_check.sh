#!/usr/bin/env bash
# Runs the entering-editing benchmark and checks its ratio against its target:
#   ReadyGo on a prepared 90-minute video / a plain read of its .ws and .ai files   <= 2.0
# ReadyGo loads both side files into the editor's arrays and checks the WAV; its devices are the
# simulated ones, which map and read nothing of the sound (the real sound output maps the WAV,
# so entering editing costs the side files and the devices' own start). Exits 1 when the target
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

python3 - "$json" <<'PY'
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
TARGET = 2.0

with open(sys.argv[1], encoding="utf-8") as f:
    report = json.load(f)

medians = {}
for b in report.get("benchmarks", []):
    name = b.get("run_name", b.get("name", "")).removesuffix("/real_time")
    if b.get("error_occurred"):
        print(f"readygo_check.sh: {name}: {b.get('error_message', 'failed')}", file=sys.stderr)
        sys.exit(2)
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
        medians[name] = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")]

for name in ("BM_ReadyGo", "BM_ReadSideFiles"):
    if name not in medians:
        print(f"readygo_check.sh: no median for {name}", file=sys.stderr)
        sys.exit(2)

ctx = report.get("context", {})
print(f"side files in {ctx.get('data_dir', '?')}: {ctx.get('side_file_bytes', '?')} bytes each")
print("median wall-clock times:")
for name in sorted(medians):
    print(f"  {name:<28} {medians[name] / 1e6:9.3f} ms")
go, read = medians["BM_ReadyGo"], medians["BM_ReadSideFiles"]
ratio = go / read
ok = ratio <= TARGET
print("ratio:")
print(f"  {'ReadyGo / plain read of .ws and .ai':<40} {ratio:6.2f}  "
      f"({go / 1e6:.2f} ms / {read / 1e6:.2f} ms)  target <= {TARGET:.1f}  "
      f"{'ok' if ok else 'MISSED'}")
sys.exit(0 if ok else 1)
PY
