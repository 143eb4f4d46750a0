#!/usr/bin/env bash
# The window's start-up: from process start to the start screen painted, as whole processes on
# an X server of its own (Xvfb), against a bare Qt window that shows one label, same run:
#   tamsel --quit-when-shown / bare_window                                         <= 2.0
# Each program runs ROUNDS times, interleaved; the best time of each counts. Exits 1 when the
# target is missed, 2 when the check cannot be run.
#
#   BUILD_DIR   the build folder (default: build)
#   ROUNDS      runs of each program (default: 9)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
for bin in tamsel bare_window; do
  if [ ! -x "$BUILD_DIR/bin/$bin" ]; then
    echo "startup_check.sh: $BUILD_DIR/bin/$bin not found; build first (scripts/build.sh)" >&2
    exit 2
  fi
done
if ! command -v xvfb-run >/dev/null; then
  echo "startup_check.sh: xvfb-run is not installed (scripts/install-deps.sh)" >&2
  exit 2
fi
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
printf '[setup]\r\n' > "$W/settings.ini"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" python3 - "$BUILD_DIR/bin" "$W" \
  "${ROUNDS:-9}" <<'PY'
import subprocess, sys, time

bin_dir, folder, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
programs = {
    "tamsel": [f"{bin_dir}/tamsel", "--settings", f"{folder}/settings.ini", "--quit-when-shown"],
    "bare_window": [f"{bin_dir}/bare_window"],
}
best = {name: float("inf") for name in programs}
for _ in range(rounds):
    for name, argv in programs.items():
        t0 = time.perf_counter()
        r = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
        t = time.perf_counter() - t0
        if r.returncode != 0:
            print(f"startup_check.sh: {name} failed: {r.stderr.decode(errors='replace')}",
                  file=sys.stderr)
            sys.exit(2)
        best[name] = min(best[name], t)
ratio = best["tamsel"] / best["bare_window"]
ok = ratio <= 2.0
print(f"start-up to the first paint, best of {rounds} interleaved runs:")
print(f"  tamsel / bare Qt window with a label   {ratio:6.2f}  "
      f"({best['tamsel'] * 1e3:.0f} ms / {best['bare_window'] * 1e3:.0f} ms)  "
      f"target <= 2.0  {'ok' if ok else 'MISSED'}")
sys.exit(0 if ok else 1)
PY
