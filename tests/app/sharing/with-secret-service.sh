#!/usr/bin/env bash
# Runs a command with a private session bus and an unlocked keyring of its
# own (gnome-keyring's Secret Service), never the user's.
#
#   tests/app/sharing/with-secret-service.sh CMD [ARGS...]
set -u
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
exec dbus-run-session -- bash -c '
  # --unlock makes the "login" keyring with this password and unlocks it.
  eval "$(printf secret | gnome-keyring-daemon --unlock --components=secrets)"
  export GNOME_KEYRING_CONTROL
  # The daemon leaves with the session bus, when the command ends.
  CASSORA_SECRET_SERVICE=1 exec "$@"' _ "$@"
