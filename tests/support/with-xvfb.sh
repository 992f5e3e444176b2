#!/usr/bin/env bash
# Runs a command against a private X server on a free display, with Qt on
# its X11 platform: `with-xvfb.sh COMMAND [ARGS...]`.
set -u
work=$(mktemp -d)
xvfb=""
cleanup() {
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display")" QT_QPA_PLATFORM=xcb
"$@"
