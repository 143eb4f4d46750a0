#!/usr/bin/env bash
# The pointer as the speed control, in the real window on an X server of its own (Xvfb), on an
# ordinary video: 1280 x 720 H.264 at 29.97 fps with a key frame every 250 frames (x264's
# default), so that every exact seek decodes up to eight seconds of pictures.
#
# Entering editing keeps the window (the same X window before and after). Then, in both sound
# styles, the pointer rests over the video at -1, -3 and +3 for ten seconds each (five in the
# jumping style): the play position must move at least 0.9 times the loop's own pace, and no
# tick of the loop may come more than 50 ms after its due time (the window's thread is never
# held up by the player).
# Finally a Space replay: the picture must be back with the sound within 0.5 s.
#
#   shuttle_e2e.sh BIN_DIR ARTEFACTS
set -euo pipefail
NAME=shuttle_e2e.sh
BIN=$1
ART=$2
SECONDS_EACH=${SHUTTLE_SECONDS:-10}
source "$(dirname "$0")/xvfb_window.sh"
fail_details() {
  [ -f "$W/state" ] && sed 's/^/  state: /' "$W/state"
  [ -f "$W/ticks" ] && tail -5 "$W/ticks" | sed 's/^/  tick: /'
  return 0
}

video="$W/clip.mp4"
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=30000/1001:duration=60 \
  -f lavfi -i sine=frequency=440:beep_factor=4:duration=60 \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest "$video"
# Two subtitles: R and W jump between their starts, so that each run begins where it has room.
printf '1\r\n00:00:02,000 --> 00:00:04,000\r\n一\r\n\r\n2\r\n00:00:50,000 --> 00:00:52,000\r\n二\r\n\r\n' \
  >"$W/clip.srt"
# Plain pixels from the centre (no spreading), so that a wide window reaches -3 and +3.
printf '[setup]\r\nInductorStretch=0\r\nAIenable=0\r\n' >"$W/settings.ini"

start_xvfb
TAMSEL_TICK_LOG="$W/ticks" start_tamsel --settings "$W/settings.ini" "$video"
state() { awk -v k="$1" '$1 == k { print $2 }' "$W/state" 2>/dev/null; }
state_is() { [ "$(state "$1")" = "$2" ]; }
state_over() { [ -n "$(state "$1")" ] && [ "$(state "$1" | cut -d. -f1)" -gt "$2" ]; }
ready() { xdotool getwindowname "$(window)" | grep -q 'clip.srt'; }

waitfor 60 window || fail "no window"
waitfor 180 ready || fail "the video did not become ready"
waitfor 10 shown ImageReadyGo || fail "no ready picture"
id_before=$(window)
xdotool windowmove --sync "$id_before" 0 0 windowsize --sync "$id_before" 1200 760
sleep 0.5

# --- Enter editing: the same window, still the one with the focus.
read -r _ x y w h <<<"$(grep "^ImageReadyGo " "$W/layout")"
eval "$(xdotool getwindowgeometry --shell "$id_before")"
xdotool mousemove $((X + x + w / 2)) $((Y + y + h / 2)) sleep 0.2 click 1
waitfor 30 state_is ReadyState 2 || fail "editing did not begin"
waitfor 30 state_over FrameRate 0 || fail "the loop did not learn the frame rate"
id_after=$(window)
[ "$id_after" = "$id_before" ] ||
  fail "entering editing made a new window ($id_before before, $id_after after)"
[ "$(xdotool getwindowfocus)" = "$id_before" ] || fail "entering editing lost the focus"
shot shuttle-editing

eval "$(xdotool getwindowgeometry --shell "$(window)")"
centre=$((X + WIDTH / 2))
over_video=$((Y + 100))
# pause: the pointer in the dead band over the video.
pause() {
  xdotool mousemove "$centre" "$over_video"
  sleep 0.6
}
# jump KEY: R or W while paused, until the play position has moved.
jump() {
  local before
  before=$(state PlayPos)
  xdotool key "$1"
  waitfor 3 sh -c "[ \"\$(awk '\$1 == \"PlayPos\" { print \$2 }' '$W/state')\" != '$before' ]" ||
    fail "$1 did not move the play position from $before"
}

# run NAME OFFSET RATE STYLE SECONDS: the pointer OFFSET px right of the centre for SECONDS s;
# checks the pace of the play position and the lateness of the ticks, from the tick log.
run() {
  local name=$1 offset=$2 rate=$3 style=$4 seconds=$5 from
  xdotool mousemove $((centre + offset)) "$over_video"
  sleep 1.5 # the rate is reached and the first seek is made
  from=$(wc -l <"$W/ticks")
  sleep "$seconds"
  python3 - "$W/ticks" "$from" "$name" "$rate" "$style" <<'PY' || fail "$name: missed"
import sys
path, start, name, rate, style = sys.argv[1], int(sys.argv[2]), sys.argv[3], float(sys.argv[4]), sys.argv[5]
rows = [l.split() for l in open(path).read().splitlines()[start:]]
rows = [[float(v) for v in r] for r in rows if len(r) == 8]
if len(rows) < 20:
    sys.exit(f"{name}: only {len(rows)} ticks logged")
t = [r[0] for r in rows]
pos = [r[2] for r in rows]
rates = {round(r[3], 3) for r in rows}
step, interval = rows[-1][4], rows[-1][5]
if rates != {rate}:
    sys.exit(f"{name}: the rate was {sorted(rates)}, not {rate}")
seconds = (t[-1] - t[0]) / 1000
moved = (pos[-1] - pos[0]) / 1000
# The loop's own pace, s of media per s: backward and (jumping) forward it moves the position by
# one frame step (times the rate, and 1.4 forward) each tick; pitched forward the sound leads.
if rate < 0:
    pace = int(step * rate) / interval
elif style == "jumping":
    pace = int(step * rate * 1.4) / interval
else:
    pace = rate
late = max(r[1] for r in rows[1:])
print(f"{name}: moved {moved:.2f} s in {seconds:.2f} s ({moved / seconds:.3f} s/s, the loop's pace "
      f"{pace:.3f}); {len(rows)} ticks, the latest {late:.1f} ms late")
if moved / seconds / pace < 0.9:
    sys.exit(f"{name}: the play position moved {moved / seconds:.3f} s/s, less than 0.9 x {pace:.3f}")
if late > 50:
    sys.exit(f"{name}: a tick came {late:.1f} ms late")
PY
}

# The backward runs start at the second subtitle (50 s), the forward one at the first (2 s).
# The jumping style, which moves the position itself in the same ticks, for half as long.
for style in pitched jumping; do
  seconds=$SECONDS_EACH
  [ "$style" = jumping ] && seconds=$((SECONDS_EACH / 2))
  pause
  jump r
  run "$style -1" -250 -1 "$style" "$seconds"
  pause
  jump r
  run "$style -3" -500 -3 "$style" "$seconds"
  pause
  jump w
  run "$style +3" 500 3 "$style" "$seconds"
  shot "shuttle-$style"
  pause
  xdotool key 1 # the other sound style
  sleep 0.3
done

# --- A Space replay at the second subtitle, 248 frames past a key frame: the picture is back
# with the sound within half a second and stays with it.
pause
jump w
sleep 1
before=$(wc -l <"$W/ticks")
xdotool key space
sleep 3
python3 - "$W/ticks" "$before" <<'PY' || fail "the Space replay: missed"
import sys
rows = [[float(v) for v in l.split()] for l in open(sys.argv[1]).read().splitlines()[int(sys.argv[2]):]]
t0 = rows[0][0]
step = rows[-1][4]
# The first tick from which the video stays within two frame steps of the sound.
settled = None
for i, r in enumerate(rows):
    if all(abs(q[6] - q[7]) <= 2 * step for q in rows[i:]):
        settled = (r[0] - t0) / 1000
        break
print(f"Space replay: the picture settled after {settled} s" if settled is not None else
      "Space replay: the picture never settled")
if settled is None or settled > 0.5:
    sys.exit(1)
PY
pause
echo "$NAME: passed"
