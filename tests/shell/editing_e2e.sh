#!/usr/bin/env bash
# A whole editing session in the real window on an X server of its own (Xvfb), driven from
# outside with xdotool as a user would, on a video with speech (espeak-ng) and an SRT file made
# here: enter editing; the pointer over the video plays, on the strip it stops; the keys E, S,
# F and X; the wheel over the strip and in its cut band; left and right clicks on the video; a
# drag on the strip; the position bar; back, and in again; the close button. After each edit
# the SRT file on disk must hold the expected times within a second. Screenshots of each state
# are kept in ARTEFACTS; each must show more than a few colours.
#
#   editing_e2e.sh BIN_DIR ARTEFACTS
set -euo pipefail
NAME=editing_e2e.sh
BIN=$1
ART=$2
source "$(dirname "$0")/xvfb_window.sh"
fail_details() {
  [ -f "$W/state" ] && sed 's/^/  state: /' "$W/state"
  [ -f "$srt" ] && sed 's/^/  srt: /' "$srt"
  return 0
}

# A 24-second video: three sentences spoken at 2, 8 and 14 s, and their subtitles.
base="$W/对白 测试"
video="$base.mp4"
srt="$base.srt"
i=0
for text in "今天天气很好，我们去公园散步吧。" "这个字幕需要重新调整时间。" "谢谢大家，明天见。"; do
  espeak-ng -v cmn -w "$W/say$i.wav" "$text"
  i=$((i + 1))
done
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25:duration=24 \
  -f lavfi -i anullsrc=r=22050:cl=mono:d=24 -i "$W/say0.wav" -i "$W/say1.wav" -i "$W/say2.wav" \
  -filter_complex "[2]adelay=2000[a];[3]adelay=8000[b];[4]adelay=14000[c];[1][a][b][c]amix=inputs=4:duration=first:normalize=0[s]" \
  -map 0:v -map "[s]" -c:v mpeg4 -c:a aac -shortest "$video"
printf '1\r\n00:00:02,000 --> 00:00:04,000\r\n今天天气很好，我们去公园散步吧。\r\n\r\n2\r\n00:00:08,000 --> 00:00:10,000\r\n这个字幕需要重新调整时间。\r\n\r\n3\r\n00:00:14,000 --> 00:00:16,000\r\n谢谢大家，明天见。\r\n\r\n' >"$srt"
# The magnet off, so that each edit does exactly what it asks.
printf '[setup]\r\nAIenable=0\r\n' >"$W/settings.ini"

start_xvfb
start_tamsel --settings "$W/settings.ini" "$video"

# state NAME: a value of the editor's state as the window last wrote it.
state() { awk -v k="$1" '$1 == k { print $2 }' "$W/state" 2>/dev/null; }
# at NAME DX DY: the screen point DX, DY from the top left of a control (negative: from its
# right or bottom edge; "mid": its middle).
at() {
  local line x y w h dx=$2 dy=$3
  line=$(grep "^$1 " "$W/layout") || fail "$1 is not shown"
  read -r _ x y w h <<<"$line"
  eval "$(xdotool getwindowgeometry --shell "$(window)")"
  [ "$dx" = mid ] && dx=$((w / 2))
  [ "$dy" = mid ] && dy=$((h / 2))
  [ "$dx" -lt 0 ] && dx=$((w + dx))
  [ "$dy" -lt 0 ] && dy=$((h + dy))
  echo $((X + x + dx)) $((Y + y + dy))
}
# strip_colours: how many colours the waveform strip shows on the screen.
strip_colours() {
  local x y w h
  read -r _ x y w h <<<"$(grep "^Panel1 " "$W/layout")"
  eval "$(xdotool getwindowgeometry --shell "$(window)")"
  ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size ${w}x${h} \
    -i "$DISPLAY+$((X + x)),$((Y + y))" -frames:v 1 -f rawvideo -pix_fmt rgb24 - |
    python3 -c 'import sys; d=sys.stdin.buffer.read(); print(len({d[i:i+3] for i in range(0, len(d), 3)}))'
}
# times: the SRT file's entries as "IN OUT" lines in milliseconds.
times() {
  python3 - "$srt" <<'PY'
import re, sys
t = open(sys.argv[1], encoding="utf-8-sig").read()
ms = lambda h, m, s, f: ((int(h) * 60 + int(m)) * 60 + int(s)) * 1000 + int(f)
for m in re.finditer(r"(\d+):(\d+):(\d+),(\d+) --> (\d+):(\d+):(\d+),(\d+)", t):
    g = m.groups()
    print(ms(*g[:4]), ms(*g[4:]))
PY
}
# state_is NAME VALUE, state_over NAME VALUE: tests of a state value.
state_is() { [ "$(state "$1")" = "$2" ]; }
state_over() { [ -n "$(state "$1")" ] && [ "$(state "$1" | cut -d. -f1)" -gt "$2" ]; }
strip_drawn() { [ "$(strip_colours)" -gt 3 ]; }  # a blank strip is black alone
holds() { [ "$(times)" = "$1" ]; }
# entry N: "IN OUT" of entry N (from 0).
entry() { times | sed -n "$(($1 + 1))p"; }
# expect WHAT LINES...: the file holds exactly these entries within a second.
expect() {
  local what=$1
  shift
  local want
  want=$(printf '%s\n' "$@")
  waitfor 1 holds "$want" ||
    fail "$what: the file holds $(times | tr '\n' ';') instead of $(echo "$want" | tr '\n' ';')"
}
# with ENTRY DIN DOUT: the file's entries with entry ENTRY moved by DIN and DOUT ms.
with() {
  times | awk -v n="$1" -v a="$2" -v b="$3" 'NR == n + 1 { $1 += a; $2 += b } { print $1, $2 }'
}
# steady: waits until the play position stops moving and prints it.
steady() {
  local last now
  last=$(state PlayPos)
  for _ in $(seq 30); do
    sleep 0.3
    now=$(state PlayPos)
    [ "$now" = "$last" ] && { echo "$now"; return 0; }
    last=$now
  done
  fail "the play position does not come to rest"
}

waitfor 60 window || fail "no window"
waitfor 120 sh -c "xdotool getwindowname \$(xdotool search --name 'Tamsel时间轴' | head -1) | grep -q '对白 测试.srt'" ||
  fail "the video did not become ready"
waitfor 10 shown ImageReadyGo || fail "no ready picture"
original=$(times)

# --- Enter editing. The playback loop runs only while the window is the active one; without a
# window manager it becomes so by taking the focus.
read -r x y <<<"$(at ImageReadyGo mid mid)"
xdotool mousemove "$x" "$y" sleep 0.2 click 1
waitfor 30 state_is ReadyState 2 ||
  fail "editing did not begin"
xdotool windowfocus --sync "$(window)"
waitfor 10 state_over MediaLength 2000 ||
  fail "the loop did not learn the media's length"
waitfor 10 shown Panel1 || fail "no waveform strip"
waitfor 10 strip_drawn ||
  { shot strip-not-drawn || true; fail "the waveform strip is not drawn: $(strip_colours) colours"; }
start=$(state PlayPos)
shot editing

# --- The pointer over the video, right of the middle, plays at normal speed.
eval "$(xdotool getwindowgeometry --shell "$(window)")"
xdotool mousemove $((X + WIDTH / 2 + WIDTH * 35 / 100)) $((Y + 60))
waitfor 10 state_over PlayPos $((start + 1000)) ||
  fail "the pointer over the video did not play"
shot playing

# --- Onto the strip, below its cut band: playback stops.
read -r x y <<<"$(at Panel1 mid 110)"
xdotool mousemove "$x" "$y"
waitfor 5 state_is OverWave 1 ||
  fail "the strip did not notice the pointer"
steady >/dev/null
[ "$(state PlayRate | cut -d. -f1)" = 0 ] || fail "playback goes on over the strip"
shot on-strip
[ "$(times)" = "$original" ] || fail "playing changed the file"

# --- Keys. R jumps to the next subtitle's start, so that the play position lies inside it.
xdotool key r
sleep 0.5
steady >/dev/null
a=$(state ActiveSub)
[ "$a" -ge 0 ] || fail "no active subtitle after R"
read -r in out <<<"$(entry "$a")"
[ "$(state PlayPos)" = "$in" ] || fail "R did not jump to the active subtitle's start"
want=$(with "$a" 0 200)
xdotool key e  # the out point 0.2 s later
expect "E" "$want"
want=$(with "$a" -200 -200)
xdotool key s  # the whole subtitle 0.2 s earlier
expect "S" "$want"
want=$(with "$a" 200 200)
xdotool key f  # and back
expect "F" "$want"
shot keys
# X splits the subtitle at the middle of its span, with 40 ms between the parts.
read -r in out <<<"$(entry "$a")"
mid=$(((in / 10 + out / 10) / 2 * 10))
split=$(times | awk -v n="$a" -v m="$mid" 'NR == n + 1 { print $1, m; print m + 40, $2; next } { print }')
xdotool key x
expect "X" "$split"
shot split

# --- The wheel over the strip below the cut band: a notch towards the user moves the active
# subtitle 20 ms later.
sleep 0.3
a=$(state ActiveSub)
want=$(with "$a" 20 20)
xdotool click 5
expect "the wheel over the strip" "$want"
# In the cut band the wheel moves the out point: a notch away from the user, 20 ms earlier
# (later would run into the split's second part, which the collision rule stops).
read -r x y <<<"$(at Panel1 mid 56)"
xdotool mousemove "$x" "$y"
sleep 0.5
a=$(state ActiveSub)
want=$(with "$a" 0 -20)
xdotool click 4
expect "the wheel in the cut band" "$want"
shot wheel

# --- Clicks on the video, in its middle (the pause band): the left button sets the active
# subtitle's in point at the play position, the right button its out point. R jumps on to the
# last subtitle's start, the wheel then moves into it (the video stays paused meanwhile).
eval "$(xdotool getwindowgeometry --shell "$(window)")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + 60))
sleep 0.5
for _ in 1 2 3 4; do
  xdotool key r
  sleep 0.3
  state_is PlayPos 14000 && break
done
state_is PlayPos 14000 || fail "R did not reach the last subtitle"
xdotool click 5
p=$(steady)
a=$(state ActiveSub)
read -r in out <<<"$(entry "$a")"
[ "$p" -gt "$in" ] && [ "$p" -lt $((out - 1000)) ] || fail "the play position $p is not inside $in-$out"
cut=$(python3 -c "print(round($p / 10) * 10)")
want=$(with "$a" $((cut - in)) 0)
xdotool click 1
expect "the left click on the video" "$want"
for _ in 1 2 3 4 5; do xdotool click 5 sleep 0.1; done
p=$(steady)
a=$(state ActiveSub)
read -r in out <<<"$(entry "$a")"
[ "$p" -gt $((in + 600)) ] || fail "the play position $p is too close to $in"
cut=$(python3 -c "print(round($p / 10) * 10)")
want=$(with "$a" 0 $((cut - out)))
xdotool click 3
expect "the right click on the video" "$want"
shot clicks

# --- A drag on the strip: pressed in the middle (on the subtitle under the play position),
# 40 px to the right moves it 0.4 s later.
read -r x y <<<"$(at Panel1 mid 110)"
xdotool mousemove "$x" "$y"
sleep 0.5
a=$(state ActiveSub)
want=$(with "$a" 400 400)
xdotool mousedown 1 sleep 0.2
for d in 10 20 30 40; do xdotool mousemove $((x + d)) "$y" sleep 0.1; done
sleep 0.2
xdotool mouseup 1
expect "the drag on the strip" "$want"
shot drag

# --- The position bar: a click right of its thumb moves the play position on.
p=$(steady)
read -r x y <<<"$(at ScrollBarPlayPost -40 mid)"
xdotool mousemove "$x" "$y" sleep 0.2 click 1
waitfor 5 state_over PlayPos $((p + 2000)) ||
  fail "the position bar did not move the play position on from $p"
shot position-bar
[ "$(times)" = "$want" ] || fail "the position bar changed the file"

# --- Back, and in again.
read -r x y <<<"$(at PaintBoxBack mid mid)"
xdotool mousemove "$x" "$y" sleep 0.2 click 1
waitfor 10 state_is ReadyState 1 ||
  fail "back did not return to the start screen"
waitfor 10 shown ImageReadyGo || fail "no ready picture after back"
grep -q "^SubCurr=" "$W/settings.ini" || fail "back did not keep SubCurr"
shot back
read -r x y <<<"$(at ImageReadyGo mid mid)"
xdotool mousemove "$x" "$y" sleep 0.2 click 1
waitfor 30 state_is ReadyState 2 ||
  fail "editing did not begin again"
xdotool windowfocus --sync "$(window)"
read -r x y <<<"$(at Panel1 mid 110)"
xdotool mousemove "$x" "$y"
waitfor 10 strip_drawn ||
  fail "the waveform strip is not drawn the second time"
steady >/dev/null
sleep 0.3
a=$(state ActiveSub)
want=$(with "$a" 0 -200)
xdotool key d  # the out point 0.2 s earlier
expect "D after entering again" "$want"
shot editing-again

# --- Back and in a few times more: the player, the sound and their threads and files are
# released each time.
# The fewest of five looks a tenth of a second apart: the state file's writes, the player's
# and the sound's threads open and close files and threads of their own for a moment.
least() {
  local n best=""
  for _ in 1 2 3 4 5; do
    n=$(ls "$1" | wc -l)
    { [ -z "$best" ] || [ "$n" -lt "$best" ]; } && best=$n
    sleep 0.1
  done
  echo "$best"
}
fds() { least "/proc/$app/fd"; }
threads() { least "/proc/$app/task"; }
cycle() {
  read -r x y <<<"$(at PaintBoxBack mid mid)"
  xdotool mousemove "$x" "$y" sleep 0.2 click 1
  waitfor 10 state_is ReadyState 1 || fail "back did not return to the start screen"
  waitfor 10 shown ImageReadyGo || fail "no ready picture after back"
  read -r x y <<<"$(at ImageReadyGo mid mid)"
  xdotool mousemove "$x" "$y" sleep 0.2 click 1
  waitfor 30 state_is ReadyState 2 || fail "editing did not begin again"
  waitfor 10 state_over FrameRate 0 || fail "the player did not start again"
  sleep 1
}
cycle
files=$(fds)
tasks=$(threads)
for _ in 1 2 3; do cycle; done
files_after=$(fds)
tasks_after=$(threads)
echo "editing_e2e.sh: open files $files -> $files_after, threads $tasks -> $tasks_after"
[ "$files_after" -le "$files" ] || fail "entering again leaks open files: $files -> $files_after"
[ "$tasks_after" -le "$tasks" ] || fail "entering again leaks threads: $tasks -> $tasks_after"
[ "$(times)" = "$want" ] || fail "entering again changed the file"

# --- The close button (the window manager's close request, WM_DELETE_WINDOW).
python3 - "$(window)" <<'PY'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5), ("pad", ctypes.c_long * 24)]
d = x.XOpenDisplay(None)
e = ClientMessage()
e.type = 33  # ClientMessage
e.window = int(sys.argv[1])
e.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.format = 32
e.l[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XSendEvent(d, e.window, 0, 0, ctypes.byref(e))
x.XFlush.argtypes = [ctypes.c_void_p]
x.XFlush(d)
PY
status=0
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the close request did not close the window"
wait "$app" || status=$?
app=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ "$(times)" = "$want" ] || fail "closing changed the file"
curr=$(state SubCurr)
grep -q "^SubCurr=$curr" "$W/settings.ini" || fail "closing did not keep SubCurr $curr"
echo "editing_e2e.sh: ok; screenshots in $ART"
