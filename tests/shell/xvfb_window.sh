# Shared by the real-window tests: sourced after `set -euo pipefail`, with NAME (the test's name
# for its messages), BIN (the folder of the program) and ART (the screenshots' folder) set.
# Gives a scratch folder W, an X server of its own (Xvfb) as DISPLAY, and helpers to start the
# program, wait, find its window and controls, and take screenshots; everything is stopped and
# removed on exit.
mkdir -p "$ART"
W=$(mktemp -d)
xvfb=""
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$W"
}
trap cleanup EXIT
# fail MESSAGE: the test fails; what the test's fail_details prints (when it has one) and the
# program's output follow the message.
fail() {
  echo "$NAME: $*" >&2
  if declare -F fail_details >/dev/null; then fail_details >&2; fi
  [ -f "$W/app.log" ] && sed 's/^/  tamsel: /' "$W/app.log" >&2
  exit 1
}

# start_xvfb: an X server on a free display.
start_xvfb() {
  exec 3>"$W/display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$W/display" ] && break; sleep 0.1; done
  [ -s "$W/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$W/display")"
}

# start_tamsel ARGS...: the program on the X server, telling W/layout where its controls are
# (and W/state what it plays), its output in W/app.log.
start_tamsel() {
  TAMSEL_LAYOUT_FILE="$W/layout" TAMSEL_STATE_FILE="$W/state" SDL_AUDIODRIVER=dummy \
    QT_QPA_PLATFORM=xcb "$BIN/tamsel" "$@" >"$W/app.log" 2>&1 &
  app=$!
}

# waitfor SECONDS COMMAND...: until the command succeeds.
waitfor() {
  local limit
  limit=$(python3 -c "print(int($1 * 10))")
  shift
  for _ in $(seq "$limit"); do
    "$@" >/dev/null 2>&1 && return 0
    kill -0 "$app" 2>/dev/null || fail "the program ended"
    sleep 0.1
  done
  return 1
}
# The program's own window: Qt keeps a few unmapped windows of the same name beside it.
window() { xdotool search --onlyvisible --name "Tamsel时间轴" | head -1; }
shown() { grep -q "^$1 " "$W/layout"; }
hidden() { ! grep -q "^$1 " "$W/layout"; }
# shot NAME: a screenshot of the screen, which must show more than a few colours.
shot() {
  ffmpeg -loglevel error -y -f x11grab -video_size 1280x800 -i "$DISPLAY" -frames:v 1 "$ART/$1.png"
  local colours
  colours=$(ffmpeg -loglevel error -i "$ART/$1.png" -f rawvideo -pix_fmt rgb24 - |
    python3 -c 'import sys; d=sys.stdin.buffer.read(); print(len({d[i:i+3] for i in range(0, len(d), 3*7)}))')
  [ "$colours" -gt 12 ] || fail "$1.png shows only $colours colours"
}
