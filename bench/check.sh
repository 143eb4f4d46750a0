#!/usr/bin/env bash
# Runs the subtitle load/save benchmark and checks its ratios against their targets:
#   our ASS load            / libass parsing the same bytes   <= 2.0
#   save of one change (ASS) / plain fwrite of as many bytes   <= 3.0
#   save of one change (SRT) / plain fwrite of as many bytes   <= 3.0
# The saves against the durable write floor (fflush + fsync + rename) are shown as well.
# Exits 1 when a target is missed, 2 when the benchmark cannot be run.
#
#   BUILD_DIR          the build folder (default: build)
#   TAMSEL_BENCH_DIR   where the benchmark writes its files (default: the temporary folder)
# Further arguments go to the benchmark program.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
BIN="$BUILD_DIR/bin/subtitle_bench"
if [ ! -x "$BIN" ]; then
  echo "check.sh: $BIN not found; build first (scripts/build.sh)" >&2
  exit 2
fi

json=$(mktemp)
trap 'rm -f "$json"' EXIT
if ! "$BIN" --benchmark_format=json --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true "$@" >"$json"; then
  echo "check.sh: $BIN failed" >&2
  exit 2
fi

python3 - "$json" <<'PY'
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

with open(sys.argv[1], encoding="utf-8") as f:
    report = json.load(f)

medians = {}
for b in report.get("benchmarks", []):
    name = b.get("run_name", b.get("name", "")).removesuffix("/real_time")
    if b.get("error_occurred"):
        print(f"check.sh: {name}: {b.get('error_message', 'failed')}", file=sys.stderr)
        sys.exit(2)
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
        medians[name] = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")]

ctx = report.get("context", {})
print(f"files in {ctx.get('data_dir', '?')}: ASS {ctx.get('ass_bytes', '?')} bytes, "
      f"SRT {ctx.get('srt_bytes', '?')} bytes; libass {ctx.get('libass_version', '?')}")
print("median wall-clock times:")
for name in sorted(medians):
    print(f"  {name:<28} {medians[name] / 1e6:9.3f} ms")

# (what, numerator, denominator, target or None)
CHECKS = [
    ("ASS load / libass parse", "BM_LoadAss", "BM_LibassParse", 2.0),
    ("ASS save of one change / plain fwrite", "BM_SaveAssOneChange", "BM_PlainWrite/ass", 3.0),
    ("SRT save of one change / plain fwrite", "BM_SaveSrtOneChange", "BM_PlainWrite/srt", 3.0),
    ("ASS save of one change / durable write", "BM_SaveAssOneChange", "BM_PlainWriteSync/ass",
     None),
    ("SRT save of one change / durable write", "BM_SaveSrtOneChange", "BM_PlainWriteSync/srt",
     None),
]

missed = 0
print("ratios:")
for what, num, den, target in CHECKS:
    if num not in medians or den not in medians:
        print(f"check.sh: no median for {num if num not in medians else den}", file=sys.stderr)
        sys.exit(2)
    ratio = medians[num] / medians[den]
    detail = f"({medians[num] / 1e6:.2f} ms / {medians[den] / 1e6:.2f} ms)"
    if target is None:
        verdict = "(no target)"
    elif ratio <= target:
        verdict = f"target <= {target:.1f}  ok"
    else:
        verdict = f"target <= {target:.1f}  MISSED"
        missed += 1
    print(f"  {what:<40} {ratio:6.2f}  {detail:<24} {verdict}")

sys.exit(1 if missed else 0)
PY
