#!/usr/bin/env python3
"""Checks one ratio of two benchmarks' medians in a Google Benchmark JSON report against its
target, printing the medians and the verdict. Exits 1 when the target is missed, 2 when the
report has an error or lacks a median.

usage: ratio_check.py SCRIPT REPORT NUMERATOR DENOMINATOR LABEL TARGET CONTEXT
  SCRIPT      the calling script's name, for messages
  CONTEXT     the first line printed; {key} stands for the report's context value of that key
"""
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


class Missing(dict):
    def __missing__(self, key):
        return "?"


def main(script, report_path, numerator, denominator, label, target, context):
    target = float(target)
    with open(report_path, encoding="utf-8") as f:
        report = json.load(f)

    medians = {}
    for b in report.get("benchmarks", []):
        name = b.get("run_name", b.get("name", "")).removesuffix("/real_time")
        if b.get("error_occurred"):
            print(f"{script}: {name}: {b.get('error_message', 'failed')}", file=sys.stderr)
            return 2
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
            medians[name] = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")]

    for name in (numerator, denominator):
        if name not in medians:
            print(f"{script}: no median for {name}", file=sys.stderr)
            return 2

    print(context.format_map(Missing(report.get("context", {}))))
    print("median wall-clock times:")
    for name in sorted(medians):
        print(f"  {name:<28} {medians[name] / 1e6:9.3f} ms")
    num, den = medians[numerator], medians[denominator]
    ratio = num / den
    ok = ratio <= target
    print("ratio:")
    print(f"  {label:<40} {ratio:6.2f}  ({num / 1e6:.2f} ms / {den / 1e6:.2f} ms)  "
          f"target <= {target:.1f}  {'ok' if ok else 'MISSED'}")
    return 0 if ok else 1


if __name__ == "__main__":
    if len(sys.argv) != 8:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
