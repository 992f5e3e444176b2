# Sourced by the tests that read the deck over AT-SPI, as a screen reader
# does: a private session bus (which starts the accessibility bus on
# demand), a private X server, a fresh home, and the deck started in it.
#
#   . deck-session.sh "$0" "$@"     re-runs the test on its own bus first
#   start_deck [ARGS...]            starts cassora ($program), sets $window
#   probe COMMAND [ARGS...]         accessibility_probe.py, bounded in time
#   fail MESSAGE                    says why, shows cassora's output, exits 1

if [[ -z ${CASSORA_ON_PRIVATE_BUS:-} ]]; then
  # The bus's services (the accessibility bus launcher) keep their sockets in
  # the runtime folder: a private one, or two tests at once would share them.
  export CASSORA_ON_PRIVATE_BUS=1 CASSORA_SESSION_WORK=$(mktemp -d)
  export XDG_RUNTIME_DIR=$CASSORA_SESSION_WORK/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  timeout -k 5 "${CASSORA_SESSION_TIMEOUT:-200}" dbus-run-session -- "$@"
  status=$?
  rm -rf "$CASSORA_SESSION_WORK"
  exit $status
fi

support=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fail() {
  echo "FAIL: $*" >&2
  [[ -n ${log:-} && -f $log ]] && { echo "--- cassora's output:" >&2; tail -40 "$log" >&2; }
  exit 1
}
work=$CASSORA_SESSION_WORK
xvfb="" deck="" capture=""
cleanup() {
  [[ -n $deck ]] && kill -9 "$deck" 2>/dev/null
  [[ -n $capture ]] && kill "$capture" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME"
unset QT_QPA_PLATFORM
export QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
log=$work/cassora.log
# A probe that the accessibility bus failed to answer at all (it dies of a
# signal, or times out) is asked again; a probe's verdict (status 1) stands.
probe() {
  local status
  for _ in 1 2 3; do
    timeout -k 2 60 /usr/bin/python3 "$support/accessibility_probe.py" "$@"
    status=$?
    ((status == 124 || status >= 128)) || return $status
    sleep 1
  done
  return $status
}

source "$(dirname "${BASH_SOURCE[0]}")/private-display.sh"
start_private_display "$work" || fail "no private X server"


start_deck() {
  "$program" "$@" >>"$log" 2>&1 &
  deck=$!
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --class cassora 2>/dev/null | head -1)
    [[ -n $window ]] && break
    kill -0 "$deck" 2>/dev/null || fail "cassora exited at start"
    sleep 0.1
  done
  [[ -n $window ]] || fail "the deck window did not appear"
  sleep 1
}
