#!/usr/bin/env bash
# `cassora play --remove-voice` heard through the private server's null sink:
# a tone in the middle of the voice band, equal on both sides, goes; a tone
# above the band on one side only stays at its level.
set -u
program=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
folder=$(mktemp -d)
recorder=""
trap '[[ -n $recorder ]] && kill "$recorder" 2>/dev/null; rm -rf "$folder"' EXIT
export XDG_CONFIG_HOME=$folder/config HOME=$folder/home
mkdir -p "$HOME"

tape=$folder/song.m4a
ffmpeg -v error -f lavfi \
  -i "aevalsrc=0.3*sin(2*PI*997*t)+0.3*sin(2*PI*7013*t)|0.3*sin(2*PI*997*t):s=48000:d=3" \
  -c:a alac "$tape" || fail "ffmpeg could not make the tape"

# Plays the tape (with any extra options) and keeps what the sink heard.
listen() {
  local capture=$1
  shift
  parecord --device=cassora_null.monitor --raw --format=float32le --channels=2 --rate=48000 \
    --latency-msec=20 "$capture" &
  recorder=$!
  sleep 0.5
  timeout 20 "$program" play "$tape" --device cassora_null "$@" || fail "play $* exited with $?"
  sleep 0.3
  kill "$recorder"
  wait "$recorder" 2>/dev/null
  recorder=""
}
listen "$folder/plain.raw"
listen "$folder/removed.raw" --remove-voice

python3 - "$folder/plain.raw" "$folder/removed.raw" <<'PY' || fail "levels"
import array, math, sys

def channels(path):
    samples = array.array("f")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    return samples[0::2], samples[1::2]

def stretch(samples, rate=48000):
    # Where the tape was heard, less half a second at each end.
    loud = [i for i in range(0, len(samples), 100) if abs(samples[i]) > 0.01]
    return loud[0] + rate // 2, loud[-1] - rate // 2

def level(samples, frequency, where, rate=48000):
    # The tone's amplitude over the stretch, Hann-windowed.
    start, end = where
    n = end - start
    re = im = weight = 0.0
    step = 2 * math.pi * frequency / rate
    for i in range(n):
        w = 0.5 - 0.5 * math.cos(2 * math.pi * i / n)
        x = samples[start + i] * w
        re += x * math.cos(step * i)
        im += x * math.sin(step * i)
        weight += w
    return 2 * math.hypot(re, im) / weight

def db(ratio):
    return 20 * math.log10(max(ratio, 1e-12))

plain_left, plain_right = channels(sys.argv[1])
left, right = channels(sys.argv[2])
plain, removed = stretch(plain_left), stretch(left)  # the left side always sounds
centre = db(level(left, 997, removed) / level(plain_left, 997, plain))
centre_right = db(level(right, 997, removed) / level(plain_right, 997, plain))
side = db(level(left, 7013, removed) / level(plain_left, 7013, plain))
print(f"centre tone: {centre:.1f} dB left, {centre_right:.1f} dB right; side tone: {side:+.2f} dB")
assert centre <= -20 and centre_right <= -20, "the centre tone stayed"
assert abs(side) < 0.5, "the side tone changed level"
PY
status=$?
[[ $status -eq 0 ]] || exit 1

# A mono tape plays as it is, and says why.
ffmpeg -v error -f lavfi -i "sine=frequency=997:sample_rate=48000:duration=0.5" -c:a alac \
  "$folder/mono.m4a" || fail "ffmpeg could not make the mono tape"
message=$(timeout 20 "$program" play "$folder/mono.m4a" --device cassora_null --remove-voice 2>&1) \
  || fail "a mono tape did not play: $message"
[[ $message == *"mono"* ]] || fail "no word about the mono tape: $message"
exit 0
