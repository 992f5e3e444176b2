#!/usr/bin/env bash
# Recordings survive kills, full files and lost devices; the output path is
# the user's and nothing that exists is overwritten. Runs against the private
# test server; the devices it unloads are its own.
set -u
program=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
folder=$(mktemp -d)
# The modules this script loaded, in order. They go in reverse order: a tone
# before the sink it plays into, since the server moves the streams of a sink
# that goes away to the default sink (the shared null sink), where a tone
# would play on after this script and be heard by every later test.
modules=()
load_module() {
  local id
  id=$(pactl load-module "$@") || fail "pactl load-module $*"
  modules+=("$id")
}
unload_modules() {
  local i
  for ((i = ${#modules[@]} - 1; i >= 0; i--)); do
    pactl unload-module "${modules[i]}" 2>/dev/null
  done
  modules=()
}
listener=""
cleanup() {
  [[ -n $listener ]] && kill "$listener" 2>/dev/null
  unload_modules
  rm -rf "$folder"
}
trap cleanup EXIT
# The test server's tone renders in blocks of seconds until some stream asks
# for less; a quiet listener keeps them short, so that a recording hears the
# tone at once, as it would a real microphone.
parec --device=cassora_tone.monitor --latency-msec=100 --format=s16le --channels=1 \
  >/dev/null 2>&1 &
listener=$!
# The listener takes effect once the sink's current block ends (up to two
# seconds): wait until a new recording hears the tone promptly.
for _ in 1 2 3 4 5; do
  started=$(date +%s%N)
  timeout 5 parec --device=cassora_sine --latency-msec=20 --format=s16le --channels=1 \
    2>/dev/null | head -c 4096 >/dev/null
  (( $(date +%s%N) - started < 300000000 )) && break
done
export XDG_CONFIG_HOME=$folder/config HOME=$folder/home
mkdir -p "$HOME"
library=$HOME/Music/Cassora
duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
decodes() { ffmpeg -v error -xerror -i "$1" -f null - 2>&1 | grep -q . && return 1; return 0; }
at_least() { python3 -c "import sys; sys.exit(0 if float('$1') >= float('$2') else 1)"; }

# Killed at random moments: each recording comes back when the library is
# next listed, playable, holding the audio up to about a second before the kill.
mkdir -p "$library"
for round in 1 2 3; do
  quality=$(printf 'HQ\nMQ\nLQ\n' | sed -n "${round}p")
  "$program" record --quality "$quality" --mono >/dev/null 2>&1 &
  pid=$!
  lifetime=$(python3 -c "import random; print(round(random.uniform(1.5, 3.5), 2))")
  sleep "$lifetime"
  kill -9 "$pid"
  wait "$pid" 2>/dev/null
  # Capture begins well within half a second of the start.
  expected=$(python3 -c "print($lifetime - 1.6)")
  listing=$("$program" library 2>"$folder/recovery.txt") || fail "library exited with $?"
  grep -q "recovered" "$folder/recovery.txt" || fail "round $round: nothing recovered: $(cat "$folder/recovery.txt")"
  tape=$(sed -n 's/^cassora: recovered \(.*\) ([^)]*)$/\1/p' "$folder/recovery.txt")
  [[ -f $tape ]] || fail "round $round: no tape at $tape"
  [[ $(basename "$tape") == "["*"] Untitled"*.m4a ]] || fail "round $round: named $tape"
  decodes "$tape" || fail "round $round: $tape does not decode"
  at_least "$(duration "$tape")" "$expected" || fail "round $round ($quality): $(duration "$tape") s of $lifetime s"
  "$program" info "$tape" | grep -q "Recovered after an interruption" || fail "round $round: no note"
  ls -a "$library" | grep -q journal && fail "round $round: a journal was left"
done
[[ $(ls "$library" | wc -l) -eq 3 ]] || fail "the library holds $(ls "$library")"
"$program" recover | grep -q "nothing to recover" || fail "recover found more to do"

# The output path is the final path; nothing that exists is overwritten.
out=$folder/mytake.m4a
made=$("$program" record --mono --quality LQ --seconds 2 --output "$out") || fail "record --output exited with $?"
[[ $made == "$out" ]] || fail "record --output made $made"
seconds=$(duration "$out")
python3 -c "import sys; sys.exit(0 if abs($seconds - 2) <= 0.1 else 1)" || fail "--seconds 2 gave $seconds s"
"$program" info "$out" | grep -q "Untitled" || fail "the tape is not labelled"
echo "a letter" >"$folder/letter.m4a"
for bad in "--output $folder/letter.m4a" "--output $out" "--output $folder/out.wav" \
           "--output /no/such/folder/x.m4a" "--output $folder"; do
  # shellcheck disable=SC2086
  message=$("$program" record --mono --seconds 1 $bad 2>&1 >/dev/null)
  status=$?
  [[ $status -eq 1 && $(wc -l <<<"$message") -eq 1 ]] || fail "\"record $bad\": status $status, $message"
done
[[ $(cat "$folder/letter.m4a") == "a letter" ]] || fail "an existing file was overwritten"
[[ $(duration "$out") == "$seconds" ]] || fail "an existing tape was overwritten"
[[ ! -e $folder/out.wav ]] || fail "a .wav name was used"

# The folder is renamed while a recording is made into it: the tape is
# finished and labelled where the folder went.
mkdir -p "$folder/before"
"$program" record --mono --quality LQ --seconds 3 --output "$folder/before/moved.m4a" \
  >"$folder/moved.txt" 2>&1 &
pid=$!
sleep 1.5
mv "$folder/before" "$folder/after"
wait "$pid" || fail "a renamed folder: status $?, $(cat "$folder/moved.txt")"
grep -q "^$folder/after/moved.m4a$" "$folder/moved.txt" || fail "a renamed folder: $(cat "$folder/moved.txt")"
decodes "$folder/after/moved.m4a" || fail "the tape in the renamed folder does not decode"
"$program" info "$folder/after/moved.m4a" | grep -q "Untitled" || fail "the moved tape is not labelled"
ls -a "$folder/after" | grep -q journal && fail "a journal was left in the renamed folder"

# The tape itself is renamed while it is recorded, and another file takes
# its first name: the tape is finished and labelled under its new name, and
# the other file keeps its label.
"$program" record --mono --quality LQ --seconds 3 --output "$folder/first name.m4a" \
  >"$folder/renamed.txt" 2>&1 &
pid=$!
sleep 1.5
mv "$folder/first name.m4a" "$folder/second name.m4a"
ffmpeg -v error -f lavfi -i sine=duration=1 -c:a aac -metadata title=Precious -f ipod \
  "$folder/first name.m4a" || fail "ffmpeg"
precious=$(md5sum <"$folder/first name.m4a")
wait "$pid" || fail "a renamed tape: status $?, $(cat "$folder/renamed.txt")"
grep -q "^$folder/second name.m4a$" "$folder/renamed.txt" || fail "a renamed tape: $(cat "$folder/renamed.txt")"
"$program" info "$folder/second name.m4a" | grep -q "Untitled" || fail "the renamed tape is not labelled"
[[ $(md5sum <"$folder/first name.m4a") == "$precious" ]] || fail "the file under the tape's first name was changed"

# A source that stops delivering (suspended, as a frozen server or a closed
# laptop lid would): the recording says so, and when it comes back.
load_module module-null-sink sink_name=cassora_sleepy
load_module module-sine sink=cassora_sleepy frequency=550
"$program" record --device cassora_sleepy.monitor --quality LQ --mono --seconds 3 \
  --output "$folder/sleepy.m4a" >"$folder/sleepy.txt" 2>&1 &
pid=$!
sleep 1
pactl suspend-sink cassora_sleepy 1
sleep 3.5
pactl suspend-sink cassora_sleepy 0
wait "$pid" || fail "a suspended source: status $?"
grep -q "no audio has arrived" "$folder/sleepy.txt" || fail "a suspended source: $(cat "$folder/sleepy.txt")"
grep -q "audio arrives again" "$folder/sleepy.txt" || fail "no word of the audio coming back"
unload_modules

# A file that reaches the size limit: the recording stops, says why and
# keeps what fitted.
limited=$folder/limited.m4a
message=$(ulimit -f 200; "$program" record --mono --quality MQ --seconds 60 --output "$limited" 2>&1)
status=$?
[[ $status -eq 1 ]] || fail "a full file: status $status"
grep -q "recording stopped" <<<"$message" || fail "a full file: $message"
decodes "$limited" || fail "the partial tape does not decode"
at_least "$(duration "$limited")" 1 || fail "the partial tape holds $(duration "$limited") s"

# The input device goes away: the recording ends within two seconds, and
# what was captured stays.
load_module module-null-sink sink_name=cassora_vanishing
load_module module-sine sink=cassora_vanishing frequency=660
lost=$folder/lost.m4a
"$program" record --device cassora_vanishing.monitor --quality LQ --output "$lost" \
  >"$folder/lost.txt" 2>&1 &
pid=$!
sleep 2.5
unload_modules
gone=$(date +%s.%N)
wait "$pid"
status=$?
took=$(python3 -c "print($(date +%s.%N) - $gone)")
[[ $status -eq 1 ]] || fail "a lost device: status $status"
grep -q "input device went away" "$folder/lost.txt" || fail "a lost device: $(cat "$folder/lost.txt")"
python3 -c "import sys; sys.exit(0 if $took < 2 else 1)" || fail "a lost device took $took s to notice"
decodes "$lost" || fail "the tape of the lost device does not decode"
at_least "$(duration "$lost")" 0.5 || fail "the tape of the lost device holds $(duration "$lost") s"

# Playing to an output device that goes away ends as a failure, not as the
# end of the tape.
load_module module-null-sink sink_name=cassora_vanishing_output
"$program" play "$out" --device cassora_vanishing_output >"$folder/play.txt" 2>&1 &
pid=$!
sleep 1
unload_modules
wait "$pid"
status=$?
[[ $status -eq 1 ]] || fail "playing to a lost device: status $status"
grep -q "output device went away" "$folder/play.txt" || fail "playing to a lost device: $(cat "$folder/play.txt")"

# The meter shows silence while its device is gone and picks it up again
# when it comes back.
load_module module-null-sink sink_name=cassora_returning
timeout 12 "$program" meter --device cassora_returning.monitor >"$folder/meter.txt" 2>&1 &
pid=$!
sleep 1
unload_modules
sleep 2
lines_before=$(wc -l <"$folder/meter.txt")
load_module module-null-sink sink_name=cassora_returning
load_module module-sine sink=cassora_returning frequency=440
for _ in $(seq 80); do
  tail -n +"$lines_before" "$folder/meter.txt" | grep -qv "inf dB" && break
  sleep 0.1
done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
tail -n +"$lines_before" "$folder/meter.txt" | grep -qv "inf dB" || fail "the meter did not hear the returning device"
exit 0
