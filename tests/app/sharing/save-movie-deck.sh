#!/usr/bin/env bash
# Save Movie from the deck as a new user does it: a fresh home with no
# account of the video service, the Tape menu's "Save Movie…", a name typed
# into the dialog. The movie appears whole, nothing half-made is left beside
# it, and the deck quits cleanly. Runs the real window on a private X server.
set -u
program=$1
fail() {
  echo "FAIL: $*" >&2
  [[ -n ${log:-} && -f $log ]] && { echo "--- cassora's output:" >&2; cat "$log" >&2; }
  exit 1
}
work=$(mktemp -d)
xvfb="" deck=""
cleanup() {
  [[ -n $deck ]] && kill -9 "$deck" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME" "$work/movies"
unset QT_QPA_PLATFORM
log=$work/cassora.log
movie=$work/movies/welcome.mov

source "$(dirname "$0")/../../support/private-display.sh"
start_private_display "$work" || fail "no private X server"

wait_for_window() { # name
  local found=""
  for _ in $(seq 100); do
    found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [[ -n $found ]] && break
    kill -0 "$deck" 2>/dev/null || fail "cassora exited"
    sleep 0.1
  done
  [[ -n $found ]] || fail "no window named $1"
  echo "$found"
}

"$program" >>"$log" 2>&1 &
deck=$!
window=$(wait_for_window '^Cassora$')
sleep 1
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"

# Tape ▸ Save Movie… for the welcome tape, selected on a first launch.
xdotool key alt+t
sleep 0.5
xdotool key m
dialog=$(wait_for_window '^Save Movie$')
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 5 "${movie%.mov}"
xdotool key Return

for _ in $(seq 600); do [[ -s $movie ]] && break; sleep 0.1; done
[[ -s $movie ]] || fail "no movie at $movie: $(ls -a "$work/movies")"
ffprobe -v error -show_streams -show_format -of json "$movie" >"$work/probe.json" || fail "ffprobe"
python3 - "$work/probe.json" <<'PY' || fail "the movie: $(cat "$work/probe.json")"
import json, sys
probe = json.load(open(sys.argv[1]))
video = [s for s in probe["streams"] if s["codec_type"] == "video"][0]
audio = [s for s in probe["streams"] if s["codec_type"] == "audio"][0]
assert video["codec_name"] == "h264" and video["width"] == 1280 and video["height"] == 720
assert video["color_space"] == "bt709"
assert audio["codec_name"] == "aac" and audio["channels"] == 2
assert abs(float(probe["format"]["duration"]) - 21.37) < 0.2
PY
[[ -z $(find "$work/movies" -name '.*') ]] || fail "a partial movie was left: $(ls -a "$work/movies")"
grep -q YouTubeClientID "$XDG_CONFIG_HOME/Cassora/Cassora.conf" 2>/dev/null \
  && fail "an account was set up on the way"

xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key ctrl+q
for _ in $(seq 100); do kill -0 "$deck" 2>/dev/null || break; sleep 0.1; done
kill -0 "$deck" 2>/dev/null && fail "Ctrl+Q did not quit"
wait "$deck"
status=$?
deck=""
((status == 0)) || fail "cassora quit with status $status"
echo "ok"
