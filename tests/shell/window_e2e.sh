#!/usr/bin/env bash
# The real window on an X server of its own (Xvfb), driven from outside with xdotool as a user
# would: `tamsel VIDEO` on a video made here, the ready picture, the settings pages (a setting
# changed reaches the settings file), the text export from the tools pages, editing (the wheel
# and a key through the real window) and back, and a SIGTERM that closes the window as its close
# button does. Screenshots of each face are kept in ARTEFACTS for a person to look at; each must
# show more than a few colours.
#
#   window_e2e.sh BIN_DIR ARTEFACTS
set -euo pipefail
NAME=window_e2e.sh
BIN=$1
ART=$2
source "$(dirname "$0")/xvfb_window.sh"

video="$W/我的 电影.mp4"
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25:duration=10 \
  -f lavfi -i "sine=frequency=440:beep_factor=4:duration=10" -c:v mpeg4 -shortest "$video"
printf '[setup]\r\n' > "$W/settings.ini"

start_xvfb
start_tamsel --settings "$W/settings.ini" "$video"

# click NAME [DX DY]: the middle of a control (or DX, DY from its top left; a negative DY counts
# from its bottom), on the screen.
click() {
  local line x y w h wx wy
  line=$(grep "^$1 " "$W/layout") || fail "$1 is not shown"
  read -r _ x y w h <<<"$line"
  eval "$(xdotool getwindowgeometry --shell "$(window)")"
  wx=$X
  wy=$Y
  if [ $# -ge 3 ] && [ "$3" -lt 0 ]; then x=$((x + $2)); y=$((y + h + $3))
  elif [ $# -ge 3 ]; then x=$((x + $2)); y=$((y + $3)); else x=$((x + w / 2)); y=$((y + h / 2)); fi
  xdotool mousemove $((wx + x)) $((wy + y)) sleep 0.2 click 1
  sleep 0.5
}

waitfor 60 window || fail "no window"
# Ready: the caption names the subtitle file made beside the video.
waitfor 120 sh -c "xdotool getwindowname \$(xdotool search --name 'Tamsel时间轴' | head -1) | grep -q '我的 电影.ass'" ||
  fail "the video did not become ready"
waitfor 10 shown ImageReadyGo || fail "no ready picture"
[ -f "$W/我的 电影.wav" ] && [ -f "$W/我的 电影.ws" ] && [ -f "$W/我的 电影.ai" ] ||
  fail "the side files are missing"
shot start

# Settings: a check box off, the pages closed by a click on the background.
click ImageSetup
waitfor 5 shown PageControlSetup || fail "the settings pages did not open"
shot setup
click CheckBoxInductorStretch 8 8
click SetupTab1
shot setup-keys
click Image0 5 -5
waitfor 5 hidden PageControlSetup || fail "the settings pages did not close"
grep -q "InductorStretch=0" "$W/settings.ini" || fail "the setting did not reach the settings file"

# Tools: the text export.
click ImageTools
waitfor 5 shown PageControlTools || fail "the tools pages did not open"
click ToolsTab2
shot tools
click ButtonSaveAsTxt
waitfor 5 test -f "$W/我的 电影.txt" || fail "the text export wrote nothing"
click Image0 5 -5

# Editing and back.
click ImageReadyGo
waitfor 30 shown PaintBoxBack || fail "editing did not begin"
# The playback loop, and with it the strip, runs only while the window is the active one;
# without a window manager it becomes so by taking the focus.
xdotool windowfocus --sync "$(window)"
sleep 2
shot editing
# The status panel: a click on the magnet's panel ("磁石", 26/34 to 30/34 of the width) switches
# the magnet off and saves the settings at once.
grep -q "AIenable=0" "$W/settings.ini" && fail "the magnet was off before its panel was clicked"
read -r _ _ _ bw bh <<<"$(grep "^StatusBar1 " "$W/layout")" || fail "no status panel"
click StatusBar1 $((bw * 28 / 34)) $((bh / 2))
waitfor 5 grep -q "AIenable=0" "$W/settings.ini" || fail "the magnet's panel did not save the settings"
# The back button: dark blue-grey, white under the pointer (310 pixels of its two triangles).
backpixels() {
  local x y w h wx wy
  read -r _ x y w h <<<"$(grep "^PaintBoxBack " "$W/layout")"
  eval "$(xdotool getwindowgeometry --shell "$(window)")"
  wx=$X
  wy=$Y
  ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size 1280x800 -i "$DISPLAY" \
    -frames:v 1 -f rawvideo -pix_fmt rgb24 "$W/screen.rgb"
  python3 - "$W/screen.rgb" $((wx + x)) $((wy + y)) "$w" "$h" "$1" <<'PY'
import sys
d = open(sys.argv[1], "rb").read()
x0, y0, w, h = map(int, sys.argv[2:6])
want = bytes(map(int, sys.argv[6].split(",")))
print(sum(d[((y0 + y) * 1280 + x0 + x) * 3:][:3] == want for y in range(h) for x in range(w)))
PY
}
[ "$(backpixels 20,20,40)" -ge 300 ] || fail "the back button is not drawn"
read -r _ x y w h <<<"$(grep "^PaintBoxBack " "$W/layout")"
eval "$(xdotool getwindowgeometry --shell "$(window)")"
xdotool mousemove $((X + x + 4)) $((Y + y + h - 4))
lit=0
for _ in $(seq 20); do
  [ "$(backpixels 255,255,255)" -ge 300 ] && { lit=1; break; }
  sleep 0.25
done
[ "$lit" = 1 ] || fail "the back button does not light under the pointer"
shot editing-back-lit
# Keys and the wheel reach the editor through the real window. The new script holds only the
# placeholder subtitle (1-5 s); with the pointer over the video, notches towards the user move
# the play position on (the video plays meanwhile as well) into the gap after it, where V
# places a new subtitle, which the autosave writes.
ass="$W/我的 电影.ass"
[ "$(grep -c '^Dialogue:' "$ass")" -eq 1 ] || fail "the new script is not the placeholder alone"
eval "$(xdotool getwindowgeometry --shell "$(window)")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + 40)) sleep 0.3
for _ in $(seq 20); do xdotool click 5 sleep 0.05; done
sleep 0.5
xdotool key v
waitfor 10 sh -c "[ \$(grep -c '^Dialogue:' \"$ass\") -ge 2 ]" ||
  fail "the V key placed no subtitle: $(grep '^Dialogue:' "$ass")"
click PaintBoxBack
waitfor 10 shown ImageReadyGo || fail "back did not return to the start screen"
shot back

# SIGTERM closes the window as its close button does.
kill -TERM "$app"
status=0
wait "$app" || status=$?
app=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
grep -q "SubCurr=" "$W/settings.ini" || fail "closing did not keep SubCurr"
echo "window_e2e.sh: ok; screenshots in $ART"
