#!/usr/bin/env bash
# The sound file cut by another program while editing, in the real window on an X server of its
# own (Xvfb), driven with xdotool; SDL's dummy audio driver, so that SDL's own thread reads the
# mapped WAV. While the video plays past the cut, a key moves a subtitle and `truncate -s 1M`
# cuts VIDEO.wav: the program lives on, leaves editing with the edit written to the subtitle
# file, tells the user (naming the WAV) and no longer shows the video as ready. Started again on
# the cut WAV, it makes the side files anew from what is left and says that the WAV was cut.
# Screenshots are kept in ARTEFACTS.
#
#   wav_cut_e2e.sh BIN_DIR ARTEFACTS
set -euo pipefail
NAME=wav_cut_e2e.sh
BIN=$1
ART=$2
source "$(dirname "$0")/xvfb_window.sh"
fail_details() {
  [ -f "$W/state" ] && sed 's/^/  state: /' "$W/state"
  [ -f "$srt" ] && sed 's/^/  srt: /' "$srt"
  return 0
}

# A 20-second video with a tone, and three subtitles at 2, 8 and 14 s.
base="$W/clip"
video="$base.mp4"
wav="$base.wav"
srt="$base.srt"
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25:duration=20 \
  -f lavfi -i sine=frequency=440:beep_factor=4:duration=20 -c:v mpeg4 -c:a aac -shortest "$video"
printf '1\r\n00:00:02,000 --> 00:00:04,000\r\nOne\r\n\r\n2\r\n00:00:08,000 --> 00:00:10,000\r\nTwo\r\n\r\n3\r\n00:00:14,000 --> 00:00:16,000\r\nThree\r\n\r\n' >"$srt"
printf '[setup]\r\nAIenable=0\r\n' >"$W/settings.ini"

state() { awk -v k="$1" '$1 == k { $1 = ""; sub(/^ /, ""); print }' "$W/state" 2>/dev/null; }
state_is() { [ "$(state "$1")" = "$2" ]; }
state_over() { [ -n "$(state "$1")" ] && [ "$(state "$1" | cut -d. -f1)" -gt "$2" ]; }
told() { state Told | grep -qF "$1"; }
at() {
  local line x y w h dx=$2 dy=$3
  line=$(grep "^$1 " "$W/layout") || fail "$1 is not shown"
  read -r _ x y w h <<<"$line"
  eval "$(xdotool getwindowgeometry --shell "$(window)")"
  [ "$dx" = mid ] && dx=$((w / 2))
  [ "$dy" = mid ] && dy=$((h / 2))
  echo $((X + x + dx)) $((Y + y + dy))
}
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
with() {
  times | awk -v n="$1" -v a="$2" -v b="$3" 'NR == n + 1 { $1 += a; $2 += b } { print $1, $2 }'
}
# message_box: the window of the message the program shows ("Tamsel"), if any.
message_box() { xdotool search --onlyvisible --name '^Tamsel$' | head -1; }
# dismiss: answers the message shown with Return (a modal message has the focus).
dismiss() {
  [ -n "$(message_box)" ] || fail "no message is shown"
  xdotool key Return
  waitfor 5 sh -c "[ -z \"\$(xdotool search --onlyvisible --name '^Tamsel\$')\" ]" ||
    fail "the message stays"
}
# ready_to_edit: the video prepared, the ready picture shown.
ready_to_edit() {
  waitfor 60 window || fail "no window"
  waitfor 120 sh -c "xdotool getwindowname \$(xdotool search --name 'Tamsel时间轴' | head -1) | grep -q 'clip.srt'" ||
    fail "the video did not become ready"
  waitfor 10 shown ImageReadyGo || fail "no ready picture"
}
# enter: a click on the ready picture, and the window takes the focus.
enter() {
  local x y
  read -r x y <<<"$(at ImageReadyGo mid mid)"
  xdotool mousemove "$x" "$y" sleep 0.2 click 1
  waitfor 30 state_is ReadyState 2 || fail "editing did not begin"
  xdotool windowfocus --sync "$(window)"
  waitfor 10 state_over MediaLength 1000 || fail "the loop did not learn the media's length"
}
# stop_program: SIGTERM, which closes the window as its close button does.
stop_program() {
  local status=0
  kill -TERM "$app"
  wait "$app" || status=$?
  app=""
  [ "$status" -eq 0 ] || fail "the program ended with status $status"
}

start_xvfb
start_tamsel --settings "$W/settings.ini" "$video"
ready_to_edit
whole=$(stat -c %s "$wav")
enter

# --- To the second subtitle, paused on the strip (R jumps to the next subtitle's start).
read -r x y <<<"$(at Panel1 mid 110)"
xdotool mousemove "$x" "$y"
waitfor 5 state_is OverWave 1 || fail "the strip did not notice the pointer"
for _ in 1 2 3 4; do
  xdotool key r
  sleep 0.3
  state_is PlayPos 8000 && break
done
state_is PlayPos 8000 || fail "R did not reach the second subtitle"
a=$(state ActiveSub)
want=$(with "$a" 0 200)

# --- Playing on from 8 s (1.5 MB into the WAV), E moves the out point and the WAV is cut.
eval "$(xdotool getwindowgeometry --shell "$(window)")"
xdotool mousemove $((X + WIDTH / 2 + WIDTH * 35 / 100)) $((Y + 60))
waitfor 5 state_over PlayPos 8100 || fail "the pointer over the video did not play"
xdotool key e
truncate -s 1M "$wav"
sleep 1
kill -0 "$app" 2>/dev/null || fail "the program died when the WAV was cut"
waitfor 10 state_is ReadyState 1 || fail "editing went on over the cut WAV"
waitfor 5 told "$wav" || fail "the user was not told about $wav: $(state Told)"
told "声音文件在播放时被截短了（原有${whole}字节，现在只有1048576字节）" ||
  fail "the message does not say what happened: $(state Told)"
told "字幕的修改都已保存" || fail "the message does not say that the edits were saved: $(state Told)"
[ "$(times)" = "$want" ] ||
  fail "the edit was not saved: the file holds $(times | tr '\n' ';') instead of $(echo "$want" | tr '\n' ';')"
[ -n "$(message_box)" ] || fail "no message box is shown"
shot wav-cut-told
dismiss
waitfor 5 shown ImageNotReady || fail "the video still counts as ready"
hidden ImageReadyGo || fail "the ready picture is still shown"
kill -0 "$app" 2>/dev/null || fail "the program died"
shot wav-cut-not-ready
stop_program
[ "$(times)" = "$want" ] || fail "closing changed the file"

# --- Started again on the cut WAV: its side files are made anew from what is left, and the
# user is told that the WAV holds less than its header says.
start_tamsel --settings "$W/settings.ini" "$video"
ready_to_edit
waitfor 10 told "声音文件比它的文件头所说的短" ||
  fail "the cut WAV was taken without a word: $(state Told)"
told "$wav" || fail "the message does not name $wav: $(state Told)"
slots=$(((1048576 - 44) / 1920)) # what the cut left of 48 kHz stereo, 1920 bytes a slot
[ "$(stat -c %s "$base.ws")" -eq $((2 * slots)) ] ||
  fail "the waveform does not fit the sound left: $(stat -c %s "$base.ws") bytes for $slots slots"
dismiss
enter
kill -0 "$app" 2>/dev/null || fail "the program died"
shot wav-cut-editing-again
stop_program
[ "$(times)" = "$want" ] || fail "editing again changed the file"
echo "$NAME: ok; screenshots in $ART"
