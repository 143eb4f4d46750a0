#!/usr/bin/env bash
# End-to-end checks of the scripted edit sessions and the batch tools of tamsel-cli:
# edit VIDEO SCRIPT, align VIDEO, fps VIDEO FACTOR.
# usage: edit_test.sh PATH/TO/tamsel-cli
set -uo pipefail
CLI="$1"
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

# side_files BASE SLOTS [SLOT SCORE]...: a silent 44.1 kHz mono WAV of SLOTS centiseconds (its
# samples a hole in the file: nothing is written) with its .ws and .ai files, speech-start
# scores at the given slots.
side_files() {
  python3 - "$@" <<'EOF'
import struct, sys
base, slots = sys.argv[1], int(sys.argv[2])
data = slots * 441 * 2
with open(base + ".wav", "wb") as wav:
    wav.write(b"RIFF" + struct.pack("<I", 36 + data) + b"WAVEfmt " +
              struct.pack("<IHHIIHH", 16, 1, 1, 44100, 88200, 2, 16) + b"data" +
              struct.pack("<I", data))
    wav.truncate(44 + data)
open(base + ".ws", "wb").write(bytes(2 * slots))
ai = bytearray(2 * slots)
args = sys.argv[3:]
for slot, score in zip(args[0::2], args[1::2]):
    ai[2 * int(slot)] = int(score)
open(base + ".ai", "wb").write(bytes(ai))
EOF
}

# --- an SRT session: keys, the wheel in the cut band, a cut, the play loop -------------------
S="$WORK/srt session"
mkdir -p "$S"
: > "$S/v.mp4"
side_files "$S/v" 6000
printf '1\r\n00:00:10,000 --> 00:00:12,000\r\nOne\r\n\r\n2\r\n00:00:20,000 --> 00:00:23,000\r\nTwo\r\n\r\n' > "$S/v.srt"
cat > "$S/session.txt" <<'EOF'
# the editor as the video is opened
media 0:01:00.00   # the player's length, so the empty video is not probed
framerate 25

seek 0:00:10.50
active strip       # the entry under the play cursor
key F F E          # whole entry 0.40 s later, then its out point 0.20 s later
wheel band +1 3    # three notches of 0.02 s on the out point
cut out 0:00:12.30 # a click on the video at 12.30 s: the out point there
seek 0:00:19.00
rate 1
modes dialogue
tick               # playing forward in the gap: jumps to the next entry
active strip
key 6 D            # coarse: the out point 0.60 s earlier
EOF
err=$(cli edit "$S/v.mp4" "$S/session.txt" 2>&1)
check "srt session exit" 0 $?
contains "srt session report" "ran 13 commands" "$err"
out=$(cli show "$S/v.mp4")
check "srt session result" $'0\t0:00:10.40\t0:00:12.30\tOne\n1\t0:00:20.00\t0:00:22.40\tTwo' "$out"
check "srt written as srt" "$(printf '1\r\n00:00:10,400 --> 00:00:12,300\r\nOne\r\n')" \
  "$(head -n 3 "$S/v.srt")"

# A script that changes nothing leaves the file as it was.
cp "$S/v.srt" "$WORK/srt-before"
printf 'media 60000\nseek 0:00:30.00\ntick 50\nactive strip\n' > "$S/look.txt"
cli edit "$S/v.mp4" "$S/look.txt" 2>/dev/null
check "look-only exit" 0 $?
check "look-only leaves the file" "$(md5sum < "$WORK/srt-before")" "$(md5sum < "$S/v.srt")"

# --- refused scripts: nothing is loaded or changed ------------------------------------------------
printf 'media 60000\nkey F\n\n# wrong key below\nkey F Q\n' > "$S/bad-key.txt"
err=$(cli edit "$S/v.mp4" "$S/bad-key.txt" 2>&1)
check "bad key exit" 1 $?
check "bad key message" "tamsel-cli: $S/bad-key.txt:5: \"Q\" is not a key of the key map" "$err"
printf 'set KeyStep 12\n' > "$S/bad-set.txt"
err=$(cli edit "$S/v.mp4" "$S/bad-set.txt" 2>&1)
check "bad setting exit" 1 $?
contains "bad setting message" "bad-set.txt:1: KeyStep must be a whole number from 0 to 9" "$err"
printf 'media 60000\nundo\n' > "$S/unknown.txt"
err=$(cli edit "$S/v.mp4" "$S/unknown.txt" 2>&1)
check "unknown command exit" 1 $?
contains "unknown command message" "unknown.txt:2: unknown command \"undo\"" "$err"
printf 'media 60000\nkey F\nactive 5\n' > "$S/no-such.txt"
err=$(cli edit "$S/v.mp4" "$S/no-such.txt" 2>&1)
check "missing subtitle exit" 1 $?
contains "missing subtitle message" "no-such.txt:3: there is no subtitle 5 (the timeline has 2)" "$err"
printf 'key F\n' > "$S/no-length.txt"
err=$(cli edit "$S/v.mp4" "$S/no-length.txt" 2>&1)
check "unknown length exit" 1 $?
contains "unknown length message" "give it with \"media\"" "$err"
err=$(cli edit "$S/v.mp4" "$S/nowhere.txt" 2>&1)
check "missing script exit" 1 $?
contains "missing script message" "$S/nowhere.txt" "$err"
err=$(cli edit "$S/v.mp4" 2>&1)
check "edit without script exit" 1 $?
contains "edit without script message" "takes a video and a script file" "$err"
check "refused scripts leave the file" "$(md5sum < "$WORK/srt-before")" "$(md5sum < "$S/v.srt")"

# --- settings: the settings file, overridden by the script's leading lines ------------------------
K="$WORK/settings"
mkdir -p "$K"
: > "$K/v.mp4"
side_files "$K/v" 6000
printf '1\r\n00:00:10,000 --> 00:00:12,000\r\nOne\r\n\r\n' > "$K/v.srt"
printf '[setup]\r\nKeyStep=9\r\n' > "$K/keys.ini"
printf 'media 60000\nseek 11000\nactive strip\nkey F\n' > "$K/one.txt"
"$CLI" --settings "$K/keys.ini" edit "$K/v.mp4" "$K/one.txt" 2>/dev/null
check "key step from the settings file" $'0\t0:00:10.50\t0:00:12.50\tOne' \
  "$("$CLI" --settings "$K/keys.ini" show "$K/v.mp4")"
printf 'set KeyStep 0\nmedia 60000\nseek 11000\nactive strip\nkey F\n' > "$K/two.txt"
"$CLI" --settings "$K/keys.ini" edit "$K/v.mp4" "$K/two.txt" 2>/dev/null
check "key step from the script" $'0\t0:00:10.55\t0:00:12.55\tOne' \
  "$("$CLI" --settings "$K/keys.ini" show "$K/v.mp4")"
check "the script does not change the settings file" "$(printf '[setup]\r\nKeyStep=9\r\n')" \
  "$(cat "$K/keys.ini")"

# --- an ASS session: split and drag, the other layer untouched ------------------------------------
A="$WORK/ass"
mkdir -p "$A"
: > "$A/v.mkv"
side_files "$A/v" 6000
printf '[Script Info]\r\nScriptType: v4.00+\r\n\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\nDialogue: 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,Hello\\Nworld\r\nDialogue: 1,0:00:01.00,0:00:03.50,Default,,0,0,0,,{\\pos(960,100)}Title\r\nDialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,Second\r\n' > "$A/v.ass"
cat > "$A/split.txt" <<'EOF'
media 0:01:00.00
seek 0:00:02.00
active strip
key X              # split at the middle of its time, at the line break
seek 0:00:05.50
active strip
drag plain 512 542 # the last entry 0.30 s later with the pointer
EOF
cli edit "$A/v.mkv" "$A/split.txt" 2>/dev/null
check "ass session exit" 0 $?
out=$(cli show "$A/v.mkv")
check "ass session result" $'0\t0:00:01.00\t0:00:02.25\tHello\n1\t0:00:02.29\t0:00:03.50\tworld\n2\t0:00:05.30\t0:00:06.30\tSecond' "$out"
out=$(cli --layer 1 show "$A/v.mkv")
check "other layer untouched" $'0\t0:00:01.00\t0:00:03.50\tTitle' "$out"
contains "other layer keeps its overrides" 'Dialogue: 1,0:00:01.00,0:00:03.50,Default,,0,0,0,,{\pos(960,100)}Title' "$(cat "$A/v.ass")"

# --- an ASS join: one entry after the save, and after loading the file again ---------------------
J="$WORK/join"
mkdir -p "$J"
: > "$J/v.mkv"
side_files "$J/v" 6000
printf '[Script Info]\r\nScriptType: v4.00+\r\n\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\i1}你好\r\nDialogue: 1,0:00:01.00,0:00:03.00,Default,,0,0,0,,{\\pos(960,100)}Title\r\nDialogue: 0,0:00:02.50,0:00:03.50,Default,,0,0,0,,世界\r\n' > "$J/v.ass"
printf 'media 0:01:00.00\nseek 0:00:03.00\nactive strip\nkey C\n' > "$J/join.txt"
cli edit "$J/v.mkv" "$J/join.txt" 2>/dev/null
check "ass join exit" 0 $?
check "ass join is one entry" $'0\t0:00:01.00\t0:00:03.50\t你好世界' "$(cli show "$J/v.mkv")"
check "ass join file" 'Dialogue: 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,{\i1}你好{\r}世界
Dialogue: 1,0:00:01.00,0:00:03.00,Default,,0,0,0,,{\pos(960,100)}Title' "$(grep '^Dialogue' "$J/v.ass" | tr -d '\r')"

# --- rule 3 ("相互适应、协同避让"): a move that reaches no neighbour leaves the lengths alone ---
R="$WORK/rule3"
mkdir -p "$R"
: > "$R/v.mp4"
side_files "$R/v" 6000
rule3() {  # rule3 NAME A_END B_END SEEK KEY EXPECTED: a from 1.00 s, b from 3.00 s
  printf '1\r\n00:00:01,000 --> %s\r\na\r\n\r\n2\r\n00:00:03,000 --> %s\r\nb\r\n\r\n' "$2" "$3" > "$R/v.srt"
  # MinTime only after the load, which would lengthen the short entry itself.
  printf 'media 60000\nseek %s\nactive strip\nset AIenable off\nset CrashStyle 3\nset KeyStep 3\nset MinTime 5\nkey %s\n' \
    "$4" "$5" > "$R/s.txt"
  cli edit "$R/v.mp4" "$R/s.txt" 2>/dev/null
  check "rule 3, $1: exit" 0 $?
  check "rule 3, $1" "$6" "$(cli show "$R/v.mp4")"
}
rule3 "F on a before a short b" 00:00:02,000 00:00:03,600 1500 F \
  $'0\t0:00:01.20\t0:00:02.20\ta\n1\t0:00:03.00\t0:00:03.60\tb'
rule3 "S on b after a short a" 00:00:01,600 00:00:04,000 3500 S \
  $'0\t0:00:01.00\t0:00:01.60\ta\n1\t0:00:02.80\t0:00:03.80\tb'

# --- a queue drag of the last subtitle rebuilds the coverage map -------------------------------
# Two cuts of a's out point (into b, then back) leave b's first slots marked free; the queue
# drag of c, the last subtitle, rebuilds the map, so the play position at 3.2 s lies in b again
# and C joins b onto a.
Q="$WORK/queue last"
mkdir -p "$Q"
: > "$Q/v.mp4"
side_files "$Q/v" 6000
printf '1\r\n00:00:01,000 --> 00:00:02,000\r\na\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\nb\r\n\r\n3\r\n00:00:06,000 --> 00:00:07,000\r\nc\r\n\r\n' > "$Q/v.srt"
cat > "$Q/session.txt" <<'EOF'
media 0:01:00.00
framerate 25
active 0
cut out 0:00:03.50
cut out 0:00:02.50
active 2
drag queue 512 502
seek 0:00:03.20
active 1
key C
EOF
cli edit "$Q/v.mp4" "$Q/session.txt" 2>/dev/null
check "queue drag of the last subtitle exit" 0 $?
check "queue drag of the last subtitle, then a join" \
  $'0\t0:00:01.00\t0:00:04.00\tab\n1\t0:00:05.90\t0:00:06.90\tc' "$(cli show "$Q/v.mp4")"

# --- the batch tools --------------------------------------------------------------------------------
B="$WORK/batch"
mkdir -p "$B"
: > "$B/v.mp4"
# A speech start at slot 1012 (a run of one): the entry at 10 s aligns to 10.16 s; the entry at
# 20 s has none within 0.2 s and moves 0.05 s later.
side_files "$B/v" 6000 1012 7
printf '1\r\n00:00:10,000 --> 00:00:12,000\r\nOne\r\n\r\n2\r\n00:00:20,000 --> 00:00:23,000\r\nTwo\r\n\r\n' > "$B/v.srt"
err=$(cli align "$B/v.mp4" 2>&1)
check "align exit" 0 $?
contains "align report" "aligned 2 subtitles" "$err"
check "aligned" $'0\t0:00:10.16\t0:00:12.16\tOne\n1\t0:00:20.05\t0:00:23.05\tTwo' "$(cli show "$B/v.mp4")"

err=$(cli fps "$B/v.mp4" 1.25 2>&1)
check "fps exit" 0 $?
contains "fps report" "rescaled 2 subtitles" "$err"
check "rescaled" $'0\t0:00:12.70\t0:00:15.20\tOne\n1\t0:00:25.06\t0:00:28.81\tTwo' "$(cli show "$B/v.mp4")"
cp "$B/v.srt" "$WORK/batch-before"
for factor in 1 1.000000 0.717 1.4141 1.5 0.5; do
  err=$(cli fps "$B/v.mp4" "$factor" 2>&1)
  check "fps $factor refused" 1 $?
  contains "fps $factor message" "between 0.717 and 1.414" "$err"
done
err=$(cli fps "$B/v.mp4" fast 2>&1)
check "fps not a number exit" 1 $?
contains "fps not a number message" '"fast" is not a number' "$err"
check "refused factors leave the file" "$(md5sum < "$WORK/batch-before")" "$(md5sum < "$B/v.srt")"

rm "$B/v.ai"
err=$(cli align "$B/v.mp4" 2>&1)
check "align unprepared exit" 1 $?
contains "align unprepared message" "$B/v.ai: missing; prepare the video first" "$err"
err=$(cli edit "$B/v.mp4" "$S/look.txt" 2>&1)
check "edit unprepared exit" 1 $?
contains "edit unprepared message" "$B/v.ai: missing; prepare the video first" "$err"
check "unprepared runs leave the file" "$(md5sum < "$WORK/batch-before")" "$(md5sum < "$B/v.srt")"

# --- a real video: the length and the frame rate come from the video itself ----------------------
if command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null; then
  P="$WORK/real"
  mkdir -p "$P"
  ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=12 \
    -f lavfi -i sine=frequency=440:duration=12 -c:v mpeg4 -c:a aac -shortest "$P/v.mp4"
  printf '1\r\n00:00:02,000 --> 00:00:04,000\r\nOne\r\n\r\n2\r\n00:00:11,800 --> 00:00:13,000\r\nPast the end\r\n\r\n' > "$P/v.srt"
  cli prepare "$P/v.mp4" 2>/dev/null
  check "real prepare exit" 0 $?
  # Over the video a wheel notch moves a frame step times (10 - NoiseStyle): 53 ms * 7.
  printf 'seek 3000\nwheel video +1\nactive strip\nkey E\n' > "$P/s.txt"
  err=$(cli edit "$P/v.mp4" "$P/s.txt" 2>&1)
  check "real edit exit" 0 $?
  check "real edit result" $'0\t0:00:02.00\t0:00:04.20\tOne\n1\t0:00:11.80\t0:00:13.00\tPast the end' \
    "$(cli show "$P/v.mp4")"
else
  echo "skipped: real video (ffmpeg or ffprobe missing)"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
