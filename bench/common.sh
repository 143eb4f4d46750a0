# Shared by the benchmark checks: runs a Google Benchmark program nine times over, interleaved,
# into a JSON report. Sourced; the caller has set SCRIPT (its own name) and BUILD_DIR.

# run_benchmark PROGRAM REPORT [ARGS...]: exits 2 when the program is missing or fails.
run_benchmark() {
  local bin="$BUILD_DIR/bin/$1" report="$2"
  shift 2
  if [ ! -x "$bin" ]; then
    echo "$SCRIPT: $bin not found; build first (scripts/build.sh)" >&2
    exit 2
  fi
  if ! "$bin" --benchmark_format=json --benchmark_repetitions=9 \
      --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
      "$@" >"$report"; then
    echo "$SCRIPT: $bin failed" >&2
    exit 2
  fi
}
