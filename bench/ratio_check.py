#!/usr/bin/env python3
"""Checks one ratio of two benchmarks' medians in a Google Benchmark JSON report against its
target, printing the medians and the verdict. Exits 1 when the target is missed, 2 when the
report has an error or lacks a median.

usage: ratio_check.py SCRIPT REPORT NUMERATOR DENOMINATOR LABEL TARGET CONTEXT
  SCRIPT      the calling script's name, for messages
  CONTEXT     the first line printed; {key} stands for the report's context value of that key
"""
import sys

import bench_report


class Missing(dict):
    def __missing__(self, key):
        return "?"


def main(script, report_path, numerator, denominator, label, target, context):
    target = float(target)
    report = bench_report.load(report_path)
    medians = bench_report.medians(script, report)

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
