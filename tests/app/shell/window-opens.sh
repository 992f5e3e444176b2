#!/usr/bin/env bash
# Starts the program without arguments and checks that it stays up with its
# window open until it is told to quit.
set -u
program=$1
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
# Start-up prepares the library folder: keep it out of the real home.
mkdir -p "$config/home"
HOME=$config/home XDG_DATA_HOME=$config/data XDG_CONFIG_HOME=$config "$program" &
pid=$!
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"
  echo "cassora exited early with status $?" >&2
  exit 1
fi
kill -TERM "$pid"
wait "$pid" 2>/dev/null
exit 0
