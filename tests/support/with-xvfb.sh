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
source "$(dirname "$0")/private-display.sh"
start_private_display "$work" || exit 1
export QT_QPA_PLATFORM=xcb
"$@"
