#!/usr/bin/env bash
# End-to-end checks of tamsel-cli on files written the way other programs write them.
# usage: cli_test.sh PATH/TO/tamsel-cli
set -uo pipefail
CLI="$1"
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

# --- an ASS file as typical editors write it: BOM, CRLF, two layers, overrides ---------------
D="$WORK/影片 one"
mkdir -p "$D"
: > "$D/第1集.mkv"
printf '\xef\xbb\xbf[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 1920\r\n\r\n[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\nStyle: Default,Arial,48,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,2,2,10,10,10,1\r\n\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\nDialogue: 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,{\\i1}你好{\\i0}，世界\r\nDialogue: 1,0:00:01.00,0:00:03.50,Default,,0,0,0,,{\\pos(960,100)}片头\r\nComment: 0,0:00:02.00,0:00:04.00,Default,,0,0,0,,注释\r\nDialogue: 0,0:00:04.00,0:00:06.00,Default,,0,0,0,,Second line\\Nwith a break\r\n' > "$D/第1集.ass"
cp "$D/第1集.ass" "$WORK/original.ass"

out=$(cli show "$D/第1集.mkv")
check "show ass" $'0\t0:00:01.00\t0:00:03.50\t你好，世界\n1\t0:00:04.00\t0:00:06.00\tSecond line\\Nwith a break' "$out"
out=$(cli --layer 1 show "$D/第1集.mkv")
check "show ass layer 1" $'0\t0:00:01.00\t0:00:03.50\t片头' "$out"
out=$(cli --json show "$D/第1集.mkv" | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["format"], d["encoding"], d["layer"], len(d["entries"]), d["entries"][0]["in"], d["entries"][0]["text"])')
check "show json" "ass utf-8-bom 0 2 100 你好，世界" "$out"
check "show leaves the file alone" "$(md5sum < "$WORK/original.ass")" "$(md5sum < "$D/第1集.ass")"

# --- SRT with LF endings, no BOM, overlapping entries -------------------------------------------
S="$WORK/srt"
mkdir -p "$S"
: > "$S/-leading dash.mp4"
printf '1\n00:00:05,000 --> 00:00:06,000\nOne\n\n2\n00:00:05,500 --> 00:00:09,000\nTwo\nlines\n\n' > "$S/-leading dash.srt"
out=$(cli show -- "$S/-leading dash.mp4")
check "show srt" $'0\t0:00:05.00\t0:00:06.00\tOne\n1\t0:00:06.02\t0:00:09.00\tTwo||lines' "$out"

# convert to ASS, then the ASS file is the document
cli convert -- "$S/-leading dash.mp4" 2>/dev/null
check "convert exit" 0 $?
out=$(cli --json show -- "$S/-leading dash.mp4" | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["format"], [e["text"] for e in d["entries"]])')
check "converted is ass" "ass ['One', 'Two\\\\Nlines']" "$out"
err=$(cli convert -- "$S/-leading dash.mp4" 2>&1)
check "convert refuses to overwrite" 1 $?
contains "convert message" "已经存在" "$err"

# --- export and re-import a script ---------------------------------------------------------------
T="$WORK/txt"
mkdir -p "$T"
: > "$T/v.avi"
printf '1\r\n00:00:01,000 --> 00:00:02,000\r\nhello\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\nworld\r\n\r\n' > "$T/v.srt"
cli export-txt "$T/v.avi" 2>/dev/null
check "export exit" 0 $?
check "export text" "$(printf 'hello\r\n\r\nworld\r\n\r\n')" "$(cat "$T/v.txt")"
err=$(cli export-txt "$T/v.avi" 2>&1)
check "export refuses an existing txt" 1 $?
printf '你好\r\n\r\n世界\r\n\r\n第三句\r\n\r\n' > "$T/revised.txt"
cli import-txt "$T/v.avi" "$T/revised.txt" 2>/dev/null
check "import exit" 0 $?
out=$(cli show "$T/v.avi")
check "imported" $'0\t0:00:01.00\t0:00:02.00\t你好\n1\t0:00:03.00\t0:00:04.00\t世界\n2\t8:00:01.00\t8:00:01.50\t第三句' "$out"
printf '\r\n\r\n' > "$T/empty.txt"
err=$(cli import-txt "$T/v.avi" "$T/empty.txt" 2>&1)
check "empty import refused" 1 $?
contains "empty import message" "$T/empty.txt" "$err"

# --- a new ASS file from a script beside the video -----------------------------------------------
N="$WORK/new"
mkdir -p "$N"
: > "$N/v.mp4"
printf 'first\nsecond\n' > "$N/v.txt"
out=$(cli show "$N/v.mp4")
check "new from script" $'0\t8:00:00.00\t8:00:02.50\tfirst\n1\t8:00:03.00\t8:00:05.50\tsecond' "$out"
check "new file made" "[Script Info]" "$(head -n 1 "$N/v.ass" | tr -d '\r')"

# --- bad input: a message naming the file and the line, nothing changed ---------------------------
B="$WORK/bad"
mkdir -p "$B"
: > "$B/v.mp4"
printf '1\r\n00:00:01,000 --> 00:00:02,000\r\na\r\n\r\n2\r\n0:00:03,000 --> 0:00:04,000\r\nb\r\n' > "$B/v.srt"
cp "$B/v.srt" "$WORK/bad-original"
err=$(cli show "$B/v.mp4" 2>&1)
check "bad time exit" 1 $?
contains "bad time names the file" "$B/v.srt" "$err"
contains "bad time names the line" "第6行" "$err"
check "bad file untouched" "$(md5sum < "$WORK/bad-original")" "$(md5sum < "$B/v.srt")"

err=$(cli show "$B/missing.mp4" 2>&1)
check "missing video exit" 1 $?
contains "missing video message" "no such video" "$err"
err=$(cli frobnicate "$B/v.mp4" 2>&1)
check "unknown command exit" 1 $?
err=$(cli --layer x show "$B/v.mp4" 2>&1)
check "bad layer exit" 1 $?
out=$(cli --help)
contains "help" "import-txt VIDEO TXT" "$out"

# --- prepare real videos made by ffmpeg, with speech from espeak-ng ------------------------------
if command -v ffmpeg >/dev/null && command -v espeak-ng >/dev/null; then
  P="$WORK/prep dir"
  mkdir -p "$P"
  espeak-ng -w "$P/speech.wav" "Hello there. This is a short test of the timing tool." 2>/dev/null
  ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10:duration=6 \
    -i "$P/speech.wav" -c:v mpeg4 -c:a aac -shortest "$P/talk.mp4"
  rm -f "$P/speech.wav"
  ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10:duration=4 \
    -c:v mpeg4 "$P/mute.mp4"
  err=$(cli prepare "$P/talk.mp4" "$P/mute.mp4" 2>&1)
  check "prepare exit with one failing" 1 $?
  contains "prepare ready" "ready: $P/talk.mp4" "$err"
  contains "prepare names the failure" "$P/mute.wav无法生成" "$err"
  for ext in wav ws ai ass; do
    check "prepare made .$ext" yes "$([ -s "$P/talk.$ext" ] && echo yes || echo no)"
  done
  check "no wav for the mute video" no "$([ -e "$P/mute.wav" ] && echo yes || echo no)"
  check "ws and ai sizes agree" "$(stat -c %s "$P/talk.ws")" "$(stat -c %s "$P/talk.ai")"
  out=$(cli show "$P/talk.mp4")
  check "prepared timeline" $'0\t0:00:01.00\t0:00:05.00\t■■■■' "$out"
  cli prepare "$P/talk.mp4" 2>/dev/null
  check "prepare again" 0 $?
else
  echo "skipped: prepare (ffmpeg or espeak-ng missing)"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
