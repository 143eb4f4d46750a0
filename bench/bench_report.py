"""Reading Google Benchmark JSON reports: shared by the benchmark checks."""
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def medians(script, report, field="real_time"):
    """The median `field` ("real_time" or "cpu_time") of each benchmark of a loaded report, in ns,
    by name ("/real_time" left off). A benchmark that failed ends the check with exit code 2."""
    out = {}
    for b in report.get("benchmarks", []):
        name = b.get("run_name", b.get("name", "")).removesuffix("/real_time")
        if b.get("error_occurred"):
            print(f"{script}: {name}: {b.get('error_message', 'failed')}", file=sys.stderr)
            sys.exit(2)
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
            out[name] = b[field] * UNIT_NS[b.get("time_unit", "ns")]
    return out
