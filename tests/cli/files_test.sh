#!/usr/bin/env bash
# End-to-end checks that tamsel-cli never loses what a user's file holds and never reports a
# failure as success: files it cannot read, files it may not replace, names that are not ours,
# text it must carry through a save, and input that is not what it claims to be.
# usage: files_test.sh PATH/TO/tamsel-cli
set -uo pipefail
CLI="$(realpath "$1")"
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

D="$WORK/d"
mkdir -p "$D"
: > "$D/v.mp4"
fresh() { rm -f "$D"/v.* "$D"/other*; : > "$D/v.mp4"; }
same() { [ "$(md5sum < "$1")" == "$2" ] && echo same || echo changed; }

# --- an SRT in which no entry can be read is refused, never emptied ------------------------------
for kind in arrow utf16; do
  fresh
  if [ $kind == arrow ]; then
    printf '1\r\n00:00:01,000-->00:00:02,000\r\nhi\r\n' > "$D/v.srt"
  else
    printf '\x31\x00\x0d\x00\x0a\x00\x61\x00' > "$D/v.srt"  # UTF-16 without its mark
  fi
  sum=$(md5sum < "$D/v.srt")
  for command in "show" "convert" "fps 1.1"; do
    read -r name factor <<<"$command"
    # shellcheck disable=SC2086
    err=$(cli "$name" "$D/v.mp4" $factor 2>&1)
    check "$kind: $command fails" 1 $?
    contains "$kind: $command names the file" "$D/v.srt" "$err"
    check "$kind: $command keeps the file" same "$(same "$D/v.srt" "$sum")"
  done
  contains "$kind: says why" "$([ $kind == arrow ] && echo '00:00:01,000 --> 00:00:02,000' || echo UTF-16)" "$err"
  check "$kind: nothing converted" no "$([ -e "$D/v.ass" ] && echo yes || echo no)"
done

# UTF-32 with its mark is read (and written back as UTF-8).
fresh
python3 -c 'import sys; sys.stdout.buffer.write("1\r\n00:00:01,000 --> 00:00:02,000\r\n你好\r\n".encode("utf-32"))' > "$D/v.srt"
out=$(cli show "$D/v.mp4")
check "utf-32 read" $'0\t0:00:01.00\t0:00:02.00\t你好' "$out"

# --- text a save must carry: after a blank line, after the end time, in an SSA's first field ----
fresh
printf '1\r\n00:00:01,000 --> 00:00:02,000 X1:100 X2:500 Y1:10 Y2:50\r\nfirst\r\n\r\nafter the blank\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\nnext\r\n' > "$D/v.srt"
cli fps "$D/v.mp4" 1.25 2>/dev/null
check "srt fps exit" 0 $?
check "srt text and tags kept" "$(printf '1\r\n00:00:01,250 --> 00:00:02,500 X1:100 X2:500 Y1:10 Y2:50\r\nfirst\r\nafter the blank\r\n\r\n2\r\n00:00:03,750 --> 00:00:05,000\r\nnext\r\n\r\n')" "$(cat "$D/v.srt")"

fresh
printf '[Script Info]\r\nScriptType: v4.00\r\n\r\n[Events]\r\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\nDialogue: Marked=1,0:00:01.00,0:00:02.00,Default,,0000,0000,0000,,marked\r\n' > "$D/v.ssa"
cli fps "$D/v.mp4" 1.25 2>/dev/null
check "ssa fps exit" 0 $?
check "ssa first field kept" "Dialogue: Marked=1,0:00:01.25,0:00:02.50,Default,,0000,0000,0000,,marked" "$(tail -n 1 "$D/v.ssa" | tr -d '\r')"

# --- a read-only file is not replaced, and a failed save is a failure ----------------------------
SRT=$'1\r\n00:00:01,000 --> 00:00:02,000\r\na\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\nb\r\n\r\n'
for command in "fps 1.1" "import-txt"; do
  fresh
  printf '%s' "$SRT" > "$D/v.srt"
  printf 'uno\r\ndos\r\n' > "$D/other.txt"
  chmod 0444 "$D/v.srt"
  sum=$(md5sum < "$D/v.srt")
  args=("$D/v.mp4")
  if [ "$command" == import-txt ]; then args+=("$D/other.txt"); else args+=(1.1); fi
  err=$(cli "${command%% *}" "${args[@]}" 2>&1)
  check "read-only: $command fails" 1 $?
  check "read-only: $command keeps the file" same "$(same "$D/v.srt" "$sum")"
  check "read-only: $command keeps the mode" 444 "$(stat -c %a "$D/v.srt")"
  contains "read-only: $command says so" "只读" "$err"
  contains "read-only: $command says not saved" "修改没有保存" "$err"
  check "read-only: $command claims nothing" "" "$(grep -E 'rescaled|now holds' <<<"$err")"
  check "read-only: $command leaves no temporary file" "" "$(ls "$D" | grep -v -E '^v\.(mp4|srt)$|^other\.txt$')"
  chmod 0644 "$D/v.srt"
done

# --- the temporary name is never followed or reused ----------------------------------------------
fresh
printf '%s' "$SRT" > "$D/v.srt"
printf 'not ours\n' > "$D/other"
ln -s "$D/other" "$D/v.tmp"
cli fps "$D/v.mp4" 1.1 2>/dev/null
check "symlinked tmp: fps exit" 0 $?
check "symlinked tmp: other file untouched" "not ours" "$(cat "$D/other")"
check "symlinked tmp: subtitle is a plain file" plain "$([ -L "$D/v.srt" ] && echo link || echo plain)"
contains "symlinked tmp: subtitle rescaled" "00:00:03,300 --> 00:00:04,400" "$(cat "$D/v.srt")"
check "symlinked tmp: link left alone" "$D/other" "$(readlink "$D/v.tmp")"

# --- a pipe where a subtitle or script file is read: refused at once, naming it; the pipe stays -----
for name in v.srt v.ass v.txt; do
  for command in "show" "convert" "fps 1.1"; do
    fresh
    mkfifo "$D/$name"
    read -r verb factor <<<"$command"
    # shellcheck disable=SC2086
    err=$(timeout 20 "$CLI" --settings "$WORK/settings.ini" "$verb" "$D/v.mp4" $factor 2>&1)
    check "pipe as $name: $command fails at once" 1 $?
    contains "pipe as $name: $command names it" "$D/$name" "$err"
    contains "pipe as $name: $command says what it is" "命名管道" "$err"
    check "pipe as $name: $command leaves it" yes "$([ -p "$D/$name" ] && echo yes || echo no)"
    check "pipe as $name: $command makes nothing" "$(printf '%s\n' v.mp4 "$name" | sort | tr '\n' ' ')" \
      "$(cd "$D" && ls -A | sort | tr '\n' ' ')"
  done
done

# --- a subtitle file that is a link: saved through it, the link kept -------------------------------
fresh
mkdir -p "$WORK/subs"
printf '%s' "$SRT" > "$WORK/subs/real.srt"
chmod 0640 "$WORK/subs/real.srt"
ln -s ../subs/real.srt "$D/v.srt"
cli fps "$D/v.mp4" 1.1 2>/dev/null
check "linked subtitle: fps exit" 0 $?
check "linked subtitle: still a link" ../subs/real.srt "$(readlink "$D/v.srt")"
contains "linked subtitle: the linked file rescaled" "00:00:03,300 --> 00:00:04,400" "$(cat "$WORK/subs/real.srt")"
check "linked subtitle: its mode kept" 640 "$(stat -c %a "$WORK/subs/real.srt")"
check "linked subtitle: nothing left beside either" "v.mp4 v.srt | real.srt " \
  "$(cd "$D" && ls -A | sort | tr '\n' ' ')| $(cd "$WORK/subs" && ls -A | sort | tr '\n' ' ')"
rm -rf "$WORK/subs"

# --- a save killed midway leaves its temporary file; the next save removes it ---------------------
fresh
printf '%s' "$SRT" > "$D/v.srt"
(TAMSEL_KILL_AT=temporary-written:v.tmp exec "$CLI" --settings "$WORK/settings.ini" fps "$D/v.mp4" 1.1 2>/dev/null)
check "killed save: killed" 137 $?
left=$(cd "$D" && ls -A | grep '^v\.tmp\.tamsel-' | tr '\n' ' ')
check "killed save: left a temporary file of its process" one "$([ "$(wc -w <<<"$left")" = 1 ] && echo one || echo "$left")"
contains "killed save: the file itself untouched" "00:00:03,000 --> 00:00:04,000" "$(cat "$D/v.srt")"
cli fps "$D/v.mp4" 1.1 2>/dev/null
check "killed save: the next save" 0 $?
check "killed save: nothing left after the next save" "v.mp4 v.srt " "$(cd "$D" && ls -A | sort | tr '\n' ' ')"

# --- input that is not what it claims ---------------------------------------------------------
fresh
printf '%s' "$SRT" > "$D/v.srt"
: > "$D/v.ws"; : > "$D/v.ai"
start=$(date +%s)
err=$(timeout 60 "$CLI" --settings "$WORK/settings.ini" edit "$D/v.mp4" /dev/zero 2>&1)
check "script from /dev/zero refused" 1 $?
check "script refusal is short" short "$([ ${#err} -lt 400 ] && echo short || echo "${#err} bytes")"
contains "script refusal says why" "longer than 4096 bytes" "$err"
check "script refusal is quick" quick "$([ $(($(date +%s) - start)) -lt 20 ] && echo quick || echo slow)"

fresh
printf '[Script Info]\r\n\r\n[Events]\r\nDialogue: 0,0:00:01.00,0:0\0:02.00,Default,,0,0,0,,a\r\n' > "$D/v.ass"
err=$(cli show "$D/v.mp4" 2>&1)
check "nul in a quoted time: exit" 1 $?
contains "nul in a quoted time: whole message" '0:0\x00:02.00”看不懂，应为“0:00:01.00”的样式' "$err"

fresh
: > "$D/-h.mp4"
printf '%s' "$SRT" > "$D/-h.srt"
out=$(cd "$D" && "$CLI" --settings "$WORK/settings.ini" show -- -h.mp4)
check "-- ends the options" $'0\t0:00:01.00\t0:00:02.00\ta\n1\t0:00:03.00\t0:00:04.00\tb' "$out"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
