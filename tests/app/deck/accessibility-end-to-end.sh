#!/usr/bin/env bash
# The deck through a screen reader's eyes: the real window read over AT-SPI.
# Every element a person can reach in the deck, Preferences and About has a
# name and a role; PLAY pressed through its accessible action plays the tape
# (heard on the test server's output); the HUD's time reads as text while it
# plays; a recording started and stopped through the buttons is announced.
set -u
program=$1
. "$(dirname "$0")/../../support/deck-session.sh" "$0" "$@"
# English, whatever the machine's language.
export LANGUAGE=en LANG=C.UTF-8 LC_ALL=C.UTF-8

start_deck

# Every reachable element of the deck is named and has a role.
probe tree Cassora || fail "the deck's tree"
for button in REC PLAY REW FFWD STOP PAUSE; do
  probe state "$button" >/dev/null || fail "no $button button"
done
probe text Volume | grep -qE '^[0-9] of 6$' || fail "the volume does not read in steps"
probe text "Recording quality" | grep -qE '^(HQ|MQ|LQ)$' || fail "the quality does not read"
probe text "Recording channels" | grep -qE '^(Stereo|Mono)$' || fail "the channels do not read"
rows=$(probe row-texts)
grep -qE ', letter [A-Z0-9], .*(second|minute)' <<<"$rows" || fail "the tape box rows read: $rows"

# PLAY through its accessible action: the welcome tape is heard, the button
# is pressed in, and the time reads as text and runs.
parec --device=cassora_null.monitor --latency-msec=20 --format=s16le --rate=48000 --channels=1 \
  --raw >"$work/heard.raw" 2>/dev/null &
capture=$!
sleep 0.5
probe press PLAY "push button" || fail "PLAY cannot be pressed"
sleep 1
first=$(probe text Time) || fail "the time cannot be read"
probe state PLAY | grep -qw pressed || fail "PLAY is not shown pressed while playing"
sleep 1
second=$(probe text Time)
kill "$capture" 2>/dev/null; wait "$capture" 2>/dev/null; capture=""
[[ $first =~ ^[0-9]+:[0-9]{2}\.[0-9]{2}\ of\ [0-9]+:[0-9]{2}$ ]] || fail "the time reads '$first'"
[[ $first != "$second" ]] || fail "the time did not run while playing ('$first')"
/usr/bin/python3 - "$work/heard.raw" <<'PY' || fail "nothing was heard while playing"
import math, struct, sys
data = open(sys.argv[1], 'rb').read()
samples = struct.unpack('<%dh' % (len(data) // 2), data[: len(data) // 2 * 2])
block = 4800
loudest = max((math.sqrt(sum(x * x for x in samples[i:i + block]) / block)
               for i in range(0, len(samples) - block, block)), default=0)
sys.exit(0 if loudest > 100 else 1)
PY
probe press STOP "push button" || fail "STOP cannot be pressed"
sleep 0.5

# A recording through the buttons is announced as it starts and stops.
probe press REC "push button" || fail "REC cannot be pressed"
sleep 1.5
probe description Transport | grep -qx 'Recording started' || fail "the recording was not announced"
probe state REC | grep -qw pressed || fail "REC is not shown pressed while recording"
probe press STOP "push button"
sleep 1.5
probe description Transport | grep -qx 'Recording stopped' || fail "the stop was not announced"

# Preferences and About.
probe press "Preferences…" "menu item" || fail "the Preferences item cannot be pressed"
probe tree Preferences || fail "the Preferences tree"
probe press "About Cassora" "menu item" || fail "the About item cannot be pressed"
probe tree "About Cassora" || fail "the About tree"
kill -0 "$deck" 2>/dev/null || fail "cassora died"
echo ok
