#!/usr/bin/env bash
# The deck as a person uses it: a first launch in a fresh home, a recording
# made with the keys, played back and heard on the test server's output,
# and quitting with Ctrl+Q and with SIGTERM in the middle of a recording.
# Runs the real window on a private X server against the private audio server.
set -u
program=$1
fail() {
  echo "FAIL: $*" >&2
  [[ -n ${log:-} && -f $log ]] && { echo "--- cassora's output:" >&2; cat "$log" >&2; }
  exit 1
}
work=$(mktemp -d)
xvfb="" deck="" listener=""
cleanup() {
  [[ -n $deck ]] && kill -9 "$deck" 2>/dev/null
  [[ -n $listener ]] && kill "$listener" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME"
unset QT_QPA_PLATFORM
library=$HOME/Music/Cassora
settings=$XDG_CONFIG_HOME/Cassora/Cassora.conf
log=$work/cassora.log

# A private X server on a free display.
source "$(dirname "$0")/../../support/private-display.sh"
start_private_display "$work" || fail "no private X server"

# The test server's tone renders in long blocks unless something listens
# closely; a listener makes a recording hear it at once.
parec --device=cassora_tone.monitor --latency-msec=100 --format=s16le --channels=1 \
  >/dev/null 2>&1 &
listener=$!
sleep 2

setting() { sed -n "s/^$1=//p" "$settings" | head -1; }
tapes() { find "$library" -maxdepth 1 -name '*.m4a' ! -name 'cr-welcome.m4a' | sort; }
info() { "$program" info "$1" --json; }
field() { python3 -c "import json,sys; print(json.load(sys.stdin)$1)"; }

# Starts the deck and focuses the window of the deck it started.
start_deck() {
  "$program" >>"$log" 2>&1 &
  deck=$!
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$deck" --name '^Cassora$' 2>/dev/null | head -1)
    [[ -n $window ]] && break
    kill -0 "$deck" 2>/dev/null || fail "cassora exited at start"
    sleep 0.1
  done
  [[ -n $window ]] || fail "the deck window did not appear"
  sleep 1
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
}

# xdotool types into a focused window through the X server's test keyboard,
# and falls back to sending events to the window itself; the deck is gone
# before Q is released, so that fallback fails and leaves Ctrl and Q held
# down, repeating into whatever window is focused next. They are released.
quit_deck() {
  xdotool key --window "$window" ctrl+q 2>/dev/null
  xdotool keyup q ctrl
  for _ in $(seq 100); do kill -0 "$deck" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$deck" 2>/dev/null && fail "Ctrl+Q did not quit"
  wait "$deck"
  local status=$?
  deck=""
  ((status == 0)) || fail "cassora quit with status $status"
}

# First launch: the launch is counted, the library folder is made with the
# welcome tape in it, and the drawer is open.
start_deck
[[ $(setting LaunchCount) == 1 ]] || fail "LaunchCount is '$(setting LaunchCount)', not 1"
[[ -f $library/cr-welcome.m4a ]] || fail "no welcome tape in $library"
eval "$(xdotool getwindowgeometry --shell "$window")"
((WIDTH == 626)) || fail "the window is $WIDTH px wide, not 626 with the drawer open"
import -window "$window" "$work/first-launch.png" 2>/dev/null

# Recording: Z, two seconds, B. A new tape, titled "Untitled", letter A, in
# the default quality, about two seconds long.
xdotool key z
sleep 2
xdotool key b
sleep 1.5
mapfile -t recorded < <(tapes)
((${#recorded[@]} == 1)) || fail "expected one new tape, found ${#recorded[@]}"
tape=${recorded[0]}
json=$(info "$tape") || fail "the new tape cannot be read"
[[ $(field "['title']" <<<"$json") == Untitled ]] || fail "title: $(field "['title']" <<<"$json")"
[[ $(field "['letter']" <<<"$json") == A ]] || fail "letter: $json"
[[ $(field "['quality']" <<<"$json") == LQ ]] || fail "quality: $json"
python3 -c "import sys; d=float(sys.argv[1]); sys.exit(0 if 1.5 <= d <= 3.0 else 1)" \
  "$(field "['duration']" <<<"$json")" || fail "duration $(field "['duration']" <<<"$json") s"

# Playback: X plays the new tape (inserted after the recording); its tone is
# heard on the output.
parec --device=cassora_null.monitor --latency-msec=20 --format=s16le --rate=48000 --channels=1 \
  --raw >"$work/heard.raw" 2>/dev/null &
capture=$!
sleep 0.5
xdotool key x
sleep 2
xdotool key b
sleep 0.3
kill "$capture" 2>/dev/null; wait "$capture" 2>/dev/null
python3 - "$work/heard.raw" <<'PY' || fail "the tape's tone was not heard while playing"
import math, struct, sys
data = open(sys.argv[1], 'rb').read()
samples = struct.unpack('<%dh' % (len(data) // 2), data[: len(data) // 2 * 2])
rate, block = 48000, 4800
def goertzel(chunk, frequency):
    k = 2 * math.cos(2 * math.pi * frequency / rate)
    s1 = s2 = 0.0
    for x in chunk:
        s1, s2 = x + k * s1 - s2, s1
    return math.sqrt(max(s1 * s1 + s2 * s2 - k * s1 * s2, 0)) / len(chunk)
levels = [goertzel(samples[i:i + block], 440) for i in range(0, len(samples) - block, block)]
sys.exit(0 if levels and max(levels) > 200 else 1)
PY

# A held FFWD winds and stops again: the deck still answers afterwards.
xdotool keydown v; sleep 0.8; xdotool keyup v
sleep 0.5
kill -0 "$deck" 2>/dev/null || fail "cassora died while winding"
import -window "$window" "$work/after-wind.png" 2>/dev/null

# Ctrl+Q quits with status 0, and every tape is labelled.
quit_deck
json=$(info "$(tapes | head -1)") || fail "the tape cannot be read after quitting"
[[ $(field "['title']" <<<"$json") == Untitled ]] || fail "the tape lost its label"

# A second launch counts again and keeps the tapes.
start_deck
[[ $(setting LaunchCount) == 2 ]] || fail "LaunchCount is '$(setting LaunchCount)' on the second launch"

# SIGTERM in the middle of a recording: the deck stops, the recording is
# finished and labelled, and the program exits cleanly.
xdotool key z
sleep 2
kill -TERM "$deck"
for _ in $(seq 100); do kill -0 "$deck" 2>/dev/null || break; sleep 0.1; done
kill -0 "$deck" 2>/dev/null && fail "SIGTERM did not end the deck"
wait "$deck"; status=$?; deck=""
((status == 0)) || fail "SIGTERM ended the deck with status $status"
mapfile -t recorded < <(tapes)
((${#recorded[@]} == 2)) || fail "expected two tapes after the second recording, found ${#recorded[@]}"
for tape in "${recorded[@]}"; do
  [[ -e "$(dirname "$tape")/.$(basename "$tape").journal" ]] && fail "$tape was left unfinished"
  json=$(info "$tape") || fail "$tape cannot be read"
  [[ $(field "['title']" <<<"$json") == Untitled ]] || fail "$tape is not labelled"
done

# Killed outright in the middle of a recording: the next launch finishes the
# recording, labels it and lists it in the tape box.
start_deck
xdotool key z
sleep 2.5
kill -9 "$deck"; wait "$deck" 2>/dev/null; deck=""
start_deck
mapfile -t recorded < <(tapes)
((${#recorded[@]} == 3)) || fail "expected three tapes after the killed recording, found ${#recorded[@]}"
for tape in "${recorded[@]}"; do
  [[ -e "$(dirname "$tape")/.$(basename "$tape").journal" ]] && fail "$tape was not recovered"
  json=$(info "$tape") || fail "$tape cannot be read after the kill"
done
grep -q "Recovered an interrupted recording" "$log" || fail "the killed recording was not recovered at start"
quit_deck
echo "ok"
