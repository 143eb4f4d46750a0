#!/usr/bin/env bash
# The real window on an X server of its own (Xvfb), driven from outside with xdotool, against
# files that are not what they should be:
#   - a named pipe in place of the subtitle file: refused with a message naming it, the window
#     still closes;
#   - kills: one while a preparation writes a side file, one during an autosave; the next run
#     leaves no temporary file and no lock file beside the video;
#   - a subtitle file that is a link to a file in another folder: the edits reach that file
#     and the link stays;
#   - the video deleted or renamed away: the ready picture and the way back from editing tell
#     that it is gone, naming it, and the start screen shows that it is not ready.
# The window tells the test where its controls are (TAMSEL_LAYOUT_FILE) and what it plays and
# told last (TAMSEL_STATE_FILE). Screenshots are kept in ARTEFACTS.
#
#   files_e2e.sh BIN_DIR ARTEFACTS
set -euo pipefail
NAME=files_e2e.sh
BIN=$1
ART=$2
source "$(dirname "$0")/xvfb_window.sh"
fail_details() {
  [ -f "$W/state" ] && sed 's/^/  state: /' "$W/state"
  ls -lA "$W" "$W"/*/ 2>/dev/null | sed 's/^/  ls: /'
  return 0
}

# An 8-second video with a tone, copied under each case's name, and a subtitle file for it.
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=8 \
  -f lavfi -i "sine=frequency=440:beep_factor=4:duration=8" -c:v mpeg4 -shortest "$W/video.mp4"
printf '1\r\n00:00:01,000 --> 00:00:02,000\r\n第一句\r\n\r\n2\r\n00:00:04,000 --> 00:00:05,000\r\n第二句\r\n\r\n' \
  >"$W/original.srt"
start_xvfb
# start VIDEO: the program on VIDEO with fresh settings: the magnet off, so that a key does
# exactly what it says, and editing starting at the first subtitle.
start() {
  printf '[setup]\r\nAIenable=0\r\n' >"$W/settings.ini"
  start_tamsel --settings "$W/settings.ini" "$1"
}

# state NAME: a value the window last wrote (the rest of its line; Told: the last message, its
# line breaks as spaces).
state() { sed -n "s/^$1 //p" "$W/state" 2>/dev/null; }
state_is() { [ "$(state "$1")" = "$2" ]; }
# told TEXT: the last message begins with TEXT.
told() { [[ "$(state Told)" == "$1"* ]]; }
# at NAME: the screen point in the middle of a control (DX DY from its top left when given).
at() {
  local line x y w h
  line=$(grep "^$1 " "$W/layout") || fail "$1 is not shown"
  read -r _ x y w h <<<"$line"
  eval "$(xdotool getwindowgeometry --shell "$(window)")"
  echo $((X + x + ${2:-$((w / 2))})) $((Y + y + ${3:-$((h / 2))}))
}
click() {
  local x y
  read -r x y <<<"$(at "$@")"
  xdotool mousemove "$x" "$y" sleep 0.2 click 1
}
# dismiss: answers the message box the window shows (Return presses its OK button).
dismiss() {
  local box=""
  for _ in $(seq 50); do
    box=$(xdotool search --onlyvisible --name '^Tamsel$' 2>/dev/null | head -1) && [ -n "$box" ] && break
    sleep 0.1
  done
  [ -n "$box" ] || fail "no message box"
  for _ in $(seq 50); do
    xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
    sleep 0.2
    xdotool search --onlyvisible --name '^Tamsel$' >/dev/null 2>&1 || return 0
  done
  fail "the message box stays"
}
# close_window: the close button (the window manager's request, WM_DELETE_WINDOW); the program
# must end well within five seconds, with status 0.
close_window() {
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
  local status=0
  for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "the close request did not close the window"
  wait "$app" || status=$?
  app=""
  [ "$status" -eq 0 ] || fail "the program ended with status $status"
}
# ended_by_kill: waits for the program to be killed by its kill point.
ended_by_kill() {
  local status=0
  for _ in $(seq 1200); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "the program was not killed at $1"
  wait "$app" 2>/dev/null || status=$?
  app=""
  [ "$status" -eq 137 ] || fail "the program ended with status $status, not by the kill at $1"
}
ready() {
  waitfor 120 shown ImageReadyGo || fail "$1 did not become ready"
}
# enter_editing: enters editing and stops the playback with the pointer on the strip below its
# cut band.
enter_editing() {
  click ImageReadyGo
  waitfor 30 state_is ReadyState 2 || fail "editing did not begin"
  xdotool windowfocus --sync "$(window)"
  waitfor 10 shown Panel1 || fail "no waveform strip"
  local x y
  read -r x y <<<"$(at Panel1 "" 110)"
  xdotool mousemove "$x" "$y"
  waitfor 5 state_is OverWave 1 || fail "the strip did not notice the pointer"
  sleep 0.5
}
# edit: from the first subtitle, R jumps to the second, whose out point E moves 0.2 s later (to
# 00:00:05,200).
edit() {
  xdotool key r
  sleep 0.5
  xdotool key e
}
names() { (cd "$1" && ls -A | sort | tr '\n' ' '); }

# --- 7: a named pipe in place of the subtitle file ------------------------------------------------
cp "$W/video.mp4" "$W/管道.mp4"
mkfifo "$W/管道.srt"
start "$W/管道.mp4"
waitfor 60 window || fail "no window"
waitfor 120 told "$W/管道.srt 不是普通文件，而是命名管道" ||
  fail "the pipe in place of the subtitle file was not told: $(state Told)"
shown ImageNotReady && hidden ImageReadyGo || fail "the start screen does not show that it is not ready"
shot pipe-told
dismiss
[ -p "$W/管道.srt" ] || fail "the pipe was replaced"
close_window
[ "$(names "$W" | grep -o '管道[^ ]*' | tr '\n' ' ')" = "管道.ai 管道.mp4 管道.srt 管道.wav 管道.ws " ] ||
  fail "the pipe's preparation left: $(names "$W")"

# --- 9: kills while a side file and an autosave are written; the next run cleans up -----------------
mkdir "$W/kill"
K="$W/kill/杀"
cp "$W/video.mp4" "$K.mp4"
cp "$W/original.srt" "$K.srt"
TAMSEL_KILL_AT="temporary-written:杀.ws.tmp" start "$K.mp4"
ended_by_kill "the side file's temporary file"
[ -f "$K.lock" ] || fail "the killed preparation left no lock file"
ls "$W/kill" | grep -q '^杀\.ws\.tmp\.tamsel-' || fail "the killed preparation left no temporary file: $(names "$W/kill")"
TAMSEL_KILL_AT="temporary-written:杀.tmp" start "$K.mp4"
waitfor 60 window || fail "no window"
ready "the video after a killed preparation"
[ "$(names "$W/kill")" = "杀.ai 杀.mp4 杀.srt 杀.wav 杀.ws " ] ||
  fail "the preparation after a kill left: $(names "$W/kill")"
enter_editing
edit
ended_by_kill "the autosave's temporary file"
left=$(ls "$W/kill" | grep '^杀\.tmp\.tamsel-') || fail "the killed autosave left no temporary file"
grep -q '00:00:05,200' "$W/kill/$left" || fail "the killed autosave's temporary file does not hold the edit"
cmp -s "$K.srt" "$W/original.srt" || fail "the killed autosave changed the subtitle file"
start "$K.mp4"
waitfor 60 window || fail "no window"
ready "the video after a killed autosave"
[ "$(names "$W/kill")" = "杀.ai 杀.mp4 杀.srt 杀.wav 杀.ws " ] ||
  fail "the run after a killed autosave left: $(names "$W/kill")"
close_window

# --- 10: the subtitle file is a link to a file in another folder -----------------------------------
mkdir "$W/视频" "$W/字幕库"
cp "$W/video.mp4" "$W/视频/链接.mp4"
cp "$W/original.srt" "$W/字幕库/真的.srt"
chmod 0640 "$W/字幕库/真的.srt"
ln -s ../字幕库/真的.srt "$W/视频/链接.srt"
start "$W/视频/链接.mp4"
waitfor 60 window || fail "no window"
ready "the video with a linked subtitle file"
enter_editing
edit
linked_saved() { ! cmp -s "$W/字幕库/真的.srt" "$W/original.srt"; }
waitfor 5 linked_saved || fail "the edit did not reach the linked file"
grep -q '00:00:05,200' "$W/字幕库/真的.srt" || fail "the linked file does not hold the edit"
[ "$(readlink "$W/视频/链接.srt")" = ../字幕库/真的.srt ] || fail "the link was replaced"
[ "$(stat -c %a "$W/字幕库/真的.srt")" = 640 ] || fail "the linked file lost its mode"
shot linked-saved
click PaintBoxBack
waitfor 10 state_is ReadyState 1 || fail "back did not return to the start screen"
close_window
[ "$(names "$W/视频")" = "链接.ai 链接.mp4 链接.srt 链接.wav 链接.ws " ] || fail "left beside the video: $(names "$W/视频")"
[ "$(names "$W/字幕库")" = "真的.srt " ] || fail "left beside the linked file: $(names "$W/字幕库")"

# --- 11: the video renamed away before editing, deleted while editing ------------------------------
V="$W/消失.mp4"
cp "$W/video.mp4" "$V"
cp "$W/original.srt" "$W/消失.srt"
start "$V"
waitfor 60 window || fail "no window"
ready "the video"
mv "$V" "$W/别处.mp4"
click ImageReadyGo
waitfor 10 told "$V 视频文件不见了" ||
  fail "the ready picture did not tell the video that went: $(state Told)"
state_is ReadyState 1 || fail "editing began without the video"
shown ImageNotReady && hidden ImageReadyGo || fail "the start screen still shows the video ready"
shot video-gone-ready
dismiss
close_window
mv "$W/别处.mp4" "$V"

start "$V"
waitfor 60 window || fail "no window"
ready "the video"
enter_editing
rm "$V"
edit
video_gone_saved() { grep -q '00:00:05,200' "$W/消失.srt"; }
waitfor 5 video_gone_saved || fail "editing did not go on without the video's file"
click PaintBoxBack
waitfor 10 told "$V 视频文件不见了" || fail "going back did not tell the video that went: $(state Told)"
state_is ReadyState 1 || fail "back did not return to the start screen"
shown ImageNotReady && hidden ImageReadyGo || fail "the start screen still shows the video ready"
shot video-gone-back
dismiss
close_window
grep -q '00:00:05,200' "$W/消失.srt" || fail "the edit was lost"
echo "files_e2e.sh: ok; screenshots in $ART"
