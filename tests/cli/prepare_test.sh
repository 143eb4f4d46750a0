#!/usr/bin/env bash
# End-to-end checks of tamsel-cli prepare when things go wrong on disk: links where it puts its
# temporary files, a kill at any moment, two preparations of one video at once, side files that
# disagree with each other. Every case is compared with a preparation of the same video in a
# clean folder, byte for byte.
# usage: prepare_test.sh PATH/TO/tamsel-cli
set -uo pipefail
CLI="$1"
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
if ! command -v ffmpeg >/dev/null || ! command -v ffprobe >/dev/null; then
  echo "skipped: ffmpeg or ffprobe missing"
  exit 0
fi
FFMPEG=$(command -v ffmpeg)

# A beeping tone: quiet enough for the level control (on by default) to rewrite the WAV, with
# edges for the speech scores.
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=5:duration=6 \
  -f lavfi -i "sine=frequency=300:beep_factor=6:duration=6" -c:v mpeg4 -c:a aac -shortest \
  "$WORK/video.mp4"
printf '[setup]\r\nNoiseStyle=0\r\n' > "$WORK/quiet.ini"
cli0() { "$CLI" --settings "$WORK/quiet.ini" "$@"; }

# A converter that works at the pace of playback, so that a preparation lasts as long as its
# video and can be caught while the converter runs.
mkdir -p "$WORK/slow"
printf '#!/bin/sh\nexec "%s" -re "$@"\n' "$FFMPEG" > "$WORK/slow/ffmpeg"
chmod +x "$WORK/slow/ffmpeg"
# Started straight from this shell, so that $! is the tool itself.
slow_prepare() { PATH="$WORK/slow:$PATH" exec "$CLI" --settings "$WORK/settings.ini" prepare "$@"; }

fresh() {  # fresh DIR: a folder holding only the video, as v.mp4
  rm -rf "$1"
  mkdir -p "$1"
  cp "$WORK/video.mp4" "$1/v.mp4"
}
products() {  # products DIR: a checksum of every file the preparation makes
  local f
  for f in v.wav v.ws v.ai v.ass; do
    if [ -f "$1/$f" ] && [ ! -L "$1/$f" ]; then
      echo "$f $(md5sum < "$1/$f" | cut -c1-32)"
    else
      echo "$f missing"
    fi
  done
}
names() { (cd "$1" && ls -A | sort | tr '\n' ' '); }
# Whether a process is gone (a zombie waiting for its parent counts as gone).
gone() { [ ! -e "/proc/$1" ] || [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = Z ]; }

# --- the references: clean preparations ---------------------------------------------------------
fresh "$WORK/clean"
cli prepare "$WORK/clean/v.mp4" 2>/dev/null
check "clean prepare" 0 $?
CLEAN=$(products "$WORK/clean")
check "clean prepare leaves only its files" "v.ai v.ass v.mp4 v.wav v.ws " "$(names "$WORK/clean")"
fresh "$WORK/clean0"
cli0 prepare "$WORK/clean0/v.mp4" 2>/dev/null
CLEAN0=$(products "$WORK/clean0")
# The level control rewrote the WAV: a second adjustment would show.
check "the level control changes the WAV" no \
  "$(cmp -s "$WORK/clean/v.wav" "$WORK/clean0/v.wav" && echo yes || echo no)"

# --- a kill at any moment, then a new preparation: the same files as a clean one ------------------
# On Linux the temporary files have no name until they are complete, so a kill leaves nothing
# of them; TAMSEL_NAMED_TEMPORARIES=1 gives the named ones of the other systems, which a kill
# may leave, and which a later preparation removes (their names say that their process is
# gone) but never takes for its own. The lock file a kill leaves goes as well.
for run in "3 unnamed" "0 unnamed" "3 named"; do
  read -r setting mode <<<"$run"
  # temporary-written:NAME: a side file's or the new subtitle file's temporary file is complete
  # and about to be renamed.
  for point in extracting extracted wav-placed adjusted wav-swapped temporary-written:v.ws.tmp \
    ws-written temporary-written:v.ai.tmp ai-written temporary-written:v.tmp; do
    [ "$setting" = 0 ] && [[ "$point" == adjusted || "$point" == wav-swapped ]] && continue
    ini=$WORK/settings.ini want=$CLEAN
    [ "$setting" = 0 ] && ini=$WORK/quiet.ini want=$CLEAN0
    named=
    [ "$mode" = named ] && named=1
    D="$WORK/kill-$setting-$mode-${point//:/-}"
    fresh "$D"
    if [ "$point" = extracting ]; then
      # Caught while the converter writes: at the pace of playback.
      (PATH="$WORK/slow:$PATH" TAMSEL_NAMED_TEMPORARIES=$named TAMSEL_KILL_AT=$point \
        exec "$CLI" --settings "$ini" prepare "$D/v.mp4" 2>/dev/null)
    else
      (TAMSEL_NAMED_TEMPORARIES=$named TAMSEL_KILL_AT=$point \
        exec "$CLI" --settings "$ini" prepare "$D/v.mp4" 2>/dev/null)
    fi
    check "killed at $point ($run)" 137 $?
    left=$(names "$D")
    if [ "$mode" = unnamed ] && [ "$(uname)" = Linux ]; then
      extra=$(comm -13 <(printf '%s\n' v.ai v.lock v.mp4 v.wav v.ws) <(printf '%s\n' $left) | tr '\n' ' ')
      if [[ "$point" == temporary-written:* ]]; then
        check "a kill at $point leaves that file ($run)" "${point#*:}.tamsel-" "$(echo "$extra" | grep -o "${point#*:}\.tamsel-")"
      else
        check "a kill at $point leaves no temporary file ($run)" "" "$extra"
      fi
    fi
    check "a kill at $point leaves the lock file ($run)" yes "$([ -f "$D/v.lock" ] && echo yes || echo no)"
    TAMSEL_NAMED_TEMPORARIES=$named "$CLI" --settings "$ini" prepare "$D/v.mp4" 2>/dev/null
    check "prepare after a kill at $point ($run)" 0 $?
    check "files after a kill at $point ($run)" "$want" "$(products "$D")"
    # What the killed run left (its lock file, its named temporary files) goes with the new run.
    check "nothing left after a kill at $point ($run)" "v.ai v.ass v.mp4 v.wav v.ws " "$(names "$D")"
    "$CLI" --settings "$ini" prepare "$D/v.mp4" 2>/dev/null
    check "files stay after another prepare ($point, $run)" "$want" "$(products "$D")"
  done
done

# --- links and files where the temporary files go: nothing is written through them or replaced --
for mode in unnamed named; do
for name in v.wav.part v.wav.tmp v.ws.tmp v.ai.tmp v.tmp; do
  for kind in link dangling; do
    D="$WORK/link-$mode-$name-$kind"
    fresh "$D"
    victim="$WORK/victim-$mode-$name-$kind"
    [ "$kind" = link ] && printf 'precious' > "$victim"
    ln -s "$victim" "$D/$name"
    named=
    [ "$mode" = named ] && named=1
    TAMSEL_NAMED_TEMPORARIES=$named cli prepare "$D/v.mp4" 2>/dev/null
    check "prepare beside a $kind at $name" 0 $?
    check "files beside a $kind at $name" "$CLEAN" "$(products "$D")"
    check "the $kind at $name stays" "$victim" "$(readlink "$D/$name")"
    if [ "$kind" = link ]; then
      check "nothing written through the link at $name" precious "$(cat "$victim")"
    else
      check "nothing made through the dangling link at $name" no \
        "$([ -e "$victim" ] && echo yes || echo no)"
    fi
  done
done
done

# Links or other things in place of the side files themselves: refused with a message naming
# the file; the link and what it points to stay as they were.
for name in v.wav v.ws v.ai v.lock; do
  for kind in link dangling fifo; do
    [ "$kind" = fifo ] && [ "$name" != v.wav ] && [ "$name" != v.lock ] && continue
    D="$WORK/own-$name-$kind"
    fresh "$D"
    victim="$WORK/own-victim-$name-$kind"
    case $kind in
      link) cp "$WORK/clean0/$( [ "$name" = v.lock ] && echo v.ws || echo "$name")" "$victim"
            ln -s "$victim" "$D/$name" ;;
      dangling) ln -s "$victim" "$D/$name" ;;
      fifo) mkfifo "$D/$name" ;;
    esac
    [ -e "$victim" ] && before=$(md5sum < "$victim") || before=none
    err=$(timeout 20 "$CLI" --settings "$WORK/settings.ini" prepare "$D/v.mp4" 2>&1)
    check "$kind as $name refused" 1 $?
    contains "$kind as $name: the message names it" "$D/$name" "$err"
    [ -e "$victim" ] && after=$(md5sum < "$victim") || after=none
    check "$kind as $name: what it points to is untouched" "$before" "$after"
    if [ "$kind" = fifo ]; then
      check "$kind as $name stays" yes "$([ -p "$D/$name" ] && echo yes || echo no)"
    else
      check "$kind as $name stays" "$victim" "$(readlink "$D/$name")"
    fi
  done
done

# --- the converter ends with a killed preparation; the next one starts at once --------------------
D="$WORK/killed"
fresh "$D"
(slow_prepare "$D/v.mp4" 2>/dev/null) &
pid=$!
ff=
for _ in $(seq 100); do ff=$(pgrep -P "$pid" -x ffmpeg) && break; sleep 0.1; done
check "the converter runs" yes "$([ -n "$ff" ] && echo yes || echo no)"
sleep 1  # well into its work
kill -KILL "$pid"
wait "$pid" 2>/dev/null
# Left alone, it would go on for five seconds more.
for _ in $(seq 20); do gone "$ff" && break; sleep 0.1; done
check "the converter ends with its parent" yes "$(gone "$ff" && echo yes || echo no)"
cli prepare "$D/v.mp4" 2>/dev/null
check "prepare right after a kill" 0 $?
check "files right after a kill" "$CLEAN" "$(products "$D")"
sleep 2
check "files stay right after a kill" "$CLEAN" "$(products "$D")"

# --- Ctrl-C or SIGTERM cancels the preparation: the converter ends, nothing is left behind ---------
for sig in INT TERM; do
  for mode in unnamed named; do
    D="$WORK/signal-$sig-$mode"
    fresh "$D"
    named=
    [ "$mode" = named ] && named=1
    # With job control, a job started in the background takes SIGINT as it would take Ctrl-C
    # in a terminal (without, it would ignore it, and so would the tool).
    set -m
    (TAMSEL_NAMED_TEMPORARIES=$named slow_prepare "$D/v.mp4" 2>/dev/null) &
    pid=$!
    set +m
    ff=
    for _ in $(seq 100); do ff=$(pgrep -P "$pid" -x ffmpeg) && break; sleep 0.1; done
    check "the converter runs ($sig, $mode)" yes "$([ -n "$ff" ] && echo yes || echo no)"
    sleep 1  # well into its work
    kill -"$sig" "$pid"
    wait "$pid"
    status=$?
    check "the tool ends by SIG$sig ($mode)" "$((128 + $(kill -l "$sig")))" "$status"
    check "the converter ends with it ($sig, $mode)" yes "$(gone "$ff" && echo yes || echo no)"
    check "nothing left after SIG$sig ($mode)" "v.mp4 " "$(names "$D")"
    cli prepare "$D/v.mp4" 2>/dev/null
    check "prepare after SIG$sig ($mode)" 0 $?
    check "files after SIG$sig ($mode)" "$CLEAN" "$(products "$D")"
  done
done

# --- two preparations of one video at once: the second says so and touches nothing ---------------
D="$WORK/twice"
fresh "$D"
(slow_prepare "$D/v.mp4" 2>/dev/null) &
pid=$!
for _ in $(seq 100); do pgrep -P "$pid" -x ffmpeg >/dev/null && break; sleep 0.1; done
err=$(cli prepare "$D/v.mp4" 2>&1)
check "a second preparation at once is refused" 1 $?
contains "the refusal names the video" "$D/v.mp4" "$err"
contains "the refusal says why" "另一个程序正在准备" "$err"
wait "$pid"
check "the first preparation goes on" 0 $?
check "files of the first preparation" "$CLEAN" "$(products "$D")"

# --- side files whose sizes disagree: not ready; prepare builds them anew, align refuses them -----
size=$(stat -c %s "$WORK/clean/v.ws")
for setting in 3 0; do
  src="$WORK/clean"
  [ "$setting" = 0 ] && src="$WORK/clean0"
  while IFS='|' read -r what file bytes; do
    D="$WORK/sizes-$setting-$what"
    fresh "$D"
    cp "$src"/v.wav "$src"/v.ws "$src"/v.ai "$D/"
    printf '\xef\xbb\xbf[Script Info]\r\nScriptType: v4.00+\r\n\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,one\r\nDialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,two\r\n' > "$D/v.ass"
    cp "$D/v.ass" "$WORK/sizes.ass"
    head -c "$bytes" "$src/$file" > "$D/$file.cut" && mv "$D/$file.cut" "$D/$file"
    [ "$what" = both-odd ] && head -c "$bytes" "$src/v.ai" > "$D/v.ai"
    named="$D/v.ai"
    [ "$what" = both-odd ] && named="$D/v.ws"
    err=$(cli align "$D/v.mp4" 2>&1)
    check "align refuses $what ($setting)" 1 $?
    contains "align names the file: $what ($setting)" "$named" "$err"
    check "align leaves the subtitles: $what ($setting)" "$(md5sum < "$WORK/sizes.ass")" \
      "$(md5sum < "$D/v.ass")"
    run=cli
    [ "$setting" = 0 ] && run=cli0
    $run prepare "$D/v.mp4" 2>/dev/null
    check "prepare rebuilds $what ($setting)" 0 $?
    want=$(products "$src" | grep -v '^v.ass')
    check "rebuilt side files: $what ($setting)" "$want" "$(products "$D" | grep -v '^v.ass')"
  done <<EOF
ai-empty|v.ai|0
ai-odd|v.ai|$((size - 1))
ai-cut|v.ai|$((size / 2))
ws-cut|v.ws|$((size - 20))
both-odd|v.ws|$((size - 1))
EOF
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
