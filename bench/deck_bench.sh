#!/usr/bin/env bash
# The deck window's two goals, measured on a private X server:
#   1. shown within 1 s of launch with 1,000 tapes in the library folder;
#   2. at most 0.5 % of a core idle (window shown, nothing playing, the level
#      meter following the input) and 3 % while the spools turn (a tape playing).
# Each figure is printed with its reference from the same run: the launch
# against starting the same program to print its version (the cost of
# loading the program and Qt), the playing deck against the same deck idle
# for the same time (its level meter and timers running) and the idle deck
# against the playing one.
#
#   scripts/with-audio-server bench/deck_bench.sh build/app/cassora [--check] [--cpu-only]
#
# --cpu-only skips the launch figure and its 1,000-tape library.
set -u
program=$(realpath "$1")
shift
check="" cpu_only=""
for option in "$@"; do
  case $option in
    --check) check=--check ;;
    --cpu-only) cpu_only=1 ;;
  esac
done
work=$(mktemp -d)
xvfb="" deck=""
cleanup() {
  [[ -n $deck ]] && kill -9 "$deck" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
missed=0
report() { # name figure goal unit reference
  local verdict=ok
  python3 -c "import sys; sys.exit(0 if float('$2') <= float('$3') else 1)" || { verdict=MISSED; missed=1; }
  printf '%-44s %8.3f %s (goal <= %s %s; reference %s) %s\n' "$1" "$2" "$4" "$3" "$4" "$5" "$verdict"
}

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
library=$HOME/Music/Cassora
mkdir -p "$library"
unset QT_QPA_PLATFORM
source "$(dirname "$0")/../tests/support/private-display.sh"
start_private_display "$work" || exit 1

# A realistic library: 1,000 labelled tapes of music-like sound (a chord
# with noise), 20 s each in the default quality, each with its own title and date.
ffmpeg -v error -f lavfi -i "sine=f=220:d=20,volume=0.3" -f lavfi -i "anoisesrc=d=20:a=0.05" \
  -filter_complex amix=inputs=2 -ac 1 -ar 22050 -c:a aac -b:a 48k "$work/source.m4a" || exit 1
count=1000
[[ -n $cpu_only ]] && count=1
for i in $(seq 1 $count); do
  cp "$work/source.m4a" "$library/tape $i.m4a"
done
# Labelled eight at a time (`wait` names the labellers: the X server runs on).
labellers=()
for i in $(seq 1 $count); do
  QT_QPA_PLATFORM=offscreen "$program" label "$library/tape $i.m4a" --title "Session $i" \
    --date "$(printf '2025-%02d-%02d' $(( (i % 12) + 1 )) $(( (i % 27) + 1 )))" >/dev/null 2>&1 &
  labellers+=($!)
  if (( ${#labellers[@]} == 8 )); then wait "${labellers[@]}"; labellers=(); fi
done
(( ${#labellers[@]} )) && wait "${labellers[@]}"

seconds_since() { python3 -c "import time,sys; print(time.time() - float(sys.argv[1]))" "$1"; }

# Reference: the program starting and ending without a window.
start=$(date +%s.%N)
QT_QPA_PLATFORM=offscreen "$program" --version >/dev/null
reference=$(seconds_since "$start")

start=$(date +%s.%N)
"$program" >"$work/log" 2>&1 &
deck=$!
xdotool search --sync --onlyvisible --name '^Cassora$' >/dev/null
shown=$(seconds_since "$start")
[[ -z $cpu_only ]] &&
  report "window shown with 1,000 tapes (s)" "$shown" 1.0 s "$(printf %.3f "$reference") s to print the version"

# The deck's CPU (all its threads, those gone included) counts in clock
# ticks: over 30 s a tick is 0.03 % of a core at 100 ticks a second, fine
# enough beside a goal of 0.5 %.
ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$deck/stat"; }
share_of_a_core() { # ticks seconds
  python3 -c "print(round(100 * $1 / ($ticks_per_second * $2), 3))"
}
measured=30
sleep 2
window=$(xdotool search --onlyvisible --name '^Cassora$' | head -1)
xdotool windowfocus "$window"
before=$(cpu_ticks); sleep $measured; after=$(cpu_ticks)
idle=$(share_of_a_core $((after - before)) $measured)
xdotool key x
sleep 1
before=$(cpu_ticks); sleep $measured; after=$(cpu_ticks)
playing=$(share_of_a_core $((after - before)) $measured)
xdotool key b
report "CPU idle, window shown (% of a core)" "$idle" 0.5 % "$(printf %.2f "$playing") % playing"
report "CPU while the spools turn (% of a core)" "$playing" 3 % "$(printf %.2f "$idle") % idle"
kill "$deck"; wait "$deck" 2>/dev/null; deck=""
[[ -n $check ]] && exit $missed
exit 0
