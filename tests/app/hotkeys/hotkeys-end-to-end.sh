#!/usr/bin/env bash
# The global hot keys as a person uses them: the deck is started on a
# private X server, another program's window takes the focus, and
# Ctrl+Shift+7 records, Ctrl+Shift+9 stops. A new tape appears.
set -u
program=$1
fail() {
  echo "FAIL: $*" >&2
  [[ -n ${log:-} && -f $log ]] && { echo "--- cassora's output:" >&2; cat "$log" >&2; }
  exit 1
}
work=$(mktemp -d)
xvfb="" deck="" other="" listener=""
cleanup() {
  [[ -n $deck ]] && kill -9 "$deck" 2>/dev/null
  [[ -n $other ]] && kill "$other" 2>/dev/null
  [[ -n $listener ]] && kill "$listener" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME"
unset QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
library=$HOME/Music/Cassora
log=$work/cassora.log

source "$(dirname "$0")/../../support/private-display.sh"
start_private_display "$work" || fail "no private X server"

# A recording hears the test server's tone at once when something listens closely.
parec --device=cassora_tone.monitor --latency-msec=100 --format=s16le --channels=1 \
  >/dev/null 2>&1 &
listener=$!

tapes() { find "$library" -maxdepth 1 -name '*.m4a' ! -name 'cr-welcome.m4a' | sort; }

"$program" >>"$log" 2>&1 &
deck=$!
window=""
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Cassora$' 2>/dev/null | head -1)
  [[ -n $window ]] && break
  kill -0 "$deck" 2>/dev/null || fail "cassora exited at start"
  sleep 0.1
done
[[ -n $window ]] || fail "the deck window did not appear"
sleep 1

# Another program's window in front, with the keyboard focus.
xmessage -name elsewhere -geometry 300x100+600+500 "another program" &
other=$!
elsewhere=""
for _ in $(seq 50); do
  elsewhere=$(xdotool search --onlyvisible --name '^elsewhere$' 2>/dev/null | head -1)
  [[ -n $elsewhere ]] && break
  sleep 0.1
done
[[ -n $elsewhere ]] || fail "the other window did not appear"
xdotool windowfocus --sync "$elsewhere" 2>/dev/null || xdotool windowfocus "$elsewhere"
[[ $(xdotool getwindowfocus) == "$elsewhere" ]] || fail "the focus is not on the other window"

before=$(tapes | wc -l)
xdotool key ctrl+shift+7
sleep 2
((  $(tapes | wc -l) == before + 1 )) || fail "Ctrl+Shift+7 did not start a recording"
xdotool key ctrl+shift+9
sleep 1.5
[[ $(xdotool getwindowfocus) == "$elsewhere" ]] || fail "the hot keys took the focus away"
mapfile -t recorded < <(tapes)
((${#recorded[@]} == before + 1)) || fail "expected one new tape, found ${#recorded[@]}"
tape=${recorded[0]}
[[ -e "$(dirname "$tape")/.$(basename "$tape").journal" ]] && fail "Ctrl+Shift+9 did not stop the recording"
json=$("$program" info "$tape" --json) || fail "the new tape cannot be read"
python3 -c "import json,sys; d=json.loads(sys.argv[1]); sys.exit(0 if d['title']=='Untitled' and 1.0 <= float(d['duration']) <= 3.5 else 1)" \
  "$json" || fail "the new tape is not a finished recording of about two seconds: $json"
grep -q "already in use" "$log" && fail "a hot key was reported taken: $(cat "$log")"
echo "ok"
