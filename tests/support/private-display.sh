# Sourced by the scripts that drive real windows: starts a private X server
# on a free display and exports DISPLAY once a client can connect to it.
#
#   start_private_display DIR   keeps its files in DIR; sets $xvfb to the
#                               server's pid; returns 1 (with the server's
#                               own words on stderr) when none came up
#
# The server does not reset when its last client leaves, as a desktop's does
# not: a client that connected during such a reset, while other X servers on
# the machine started and stopped, could be refused ("could not connect to
# display"). What a client leaves on it stays, such as keys its test keyboard
# held down: scripts release what they press.
start_private_display() {
  local dir=$1 attempt
  for attempt in 1 2 3; do
    exec 5>"$dir/display"
    Xvfb -displayfd 5 -noreset -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    xvfb=$!
    exec 5>&-
    local waited
    for waited in $(seq 100); do
      [[ -s $dir/display ]] && break
      kill -0 "$xvfb" 2>/dev/null || break
      sleep 0.1
    done
    if [[ -s $dir/display ]]; then
      export DISPLAY=":$(head -1 "$dir/display")"
      for waited in $(seq 50); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
      done
    fi
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    xvfb=""
  done
  echo "no private X server came up; the last one said:" >&2
  cat "$dir/xvfb.log" >&2
  return 1
}
