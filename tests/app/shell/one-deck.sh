#!/usr/bin/env bash
# One deck per session, as a person meets it: with a deck running, opening a
# tape from the file manager (`cassora FILE.m4a`, what the desktop entry
# runs) or starting Cassora again hands over to that deck and ends at once.
# Runs on a private X server and session bus, against the private audio server.
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
mkdir -p "$HOME"
unset QT_QPA_PLATFORM
[[ -n ${DBUS_SESSION_BUS_ADDRESS:-} ]] || fail "run me inside dbus-run-session"
library=$HOME/Music/Cassora
log=$work/cassora.log

source "$(dirname "$0")/../../support/private-display.sh"
start_private_display "$work" || fail "no private X server"

windows() { xdotool search --onlyvisible --name '^Cassora$' 2>/dev/null | wc -l; }

# A tape to open, made elsewhere.
"$program" record --mono --seconds 1 --output "$work/Field recording.m4a" >/dev/null 2>&1 ||
  fail "no tape could be recorded for the test"

"$program" >>"$log" 2>&1 &
deck=$!
for _ in $(seq 100); do
  (($(windows) == 1)) && break
  kill -0 "$deck" 2>/dev/null || fail "cassora exited at start"
  sleep 0.1
done
(($(windows) == 1)) || fail "the deck window did not appear"
sleep 1

# Opening the tape: the running deck imports it; the second launch ends with 0.
timeout 30 "$program" "$work/Field recording.m4a" >>"$log" 2>&1
status=$?
((status == 0)) || fail "the second launch ended with status $status"
for _ in $(seq 50); do [[ -f "$library/Field recording.m4a" ]] && break; sleep 0.1; done
[[ -f "$library/Field recording.m4a" ]] || fail "the running deck did not import the tape"
(($(windows) == 1)) || fail "$(windows) deck windows after opening a tape"
kill -0 "$deck" 2>/dev/null || fail "the first deck has gone"

# Starting Cassora again without files: the same deck, and only it.
timeout 30 "$program" >>"$log" 2>&1
status=$?
((status == 0)) || fail "starting again ended with status $status"
sleep 0.5
(($(windows) == 1)) || fail "$(windows) deck windows after starting again"
grep -q "already in use" "$log" && fail "a second deck reported hot keys taken"

# The deck still quits as ever.
window=$(xdotool search --onlyvisible --name '^Cassora$' | head -1)
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key --window "$window" ctrl+q 2>/dev/null
xdotool keyup q ctrl # the deck went before Q's release could reach it
for _ in $(seq 100); do kill -0 "$deck" 2>/dev/null || break; sleep 0.1; done
kill -0 "$deck" 2>/dev/null && fail "Ctrl+Q did not quit"
wait "$deck"; status=$?; deck=""
((status == 0)) || fail "cassora quit with status $status"
echo "ok"
