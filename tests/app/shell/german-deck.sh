#!/usr/bin/env bash
# The deck in the user's language: with LANGUAGE=de the menus (read over
# AT-SPI) and an alert speak German, Qt's own buttons included; the words
# printed on the deck stay as printed.
set -u
program=$1
. "$(dirname "$0")/../../support/deck-session.sh" "$0" "$@"
export LANGUAGE=de LANG=C.UTF-8 LC_ALL=C.UTF-8

# A folder given as a tape: the deck says the import failed, in an alert.
mkdir "$work/folder.m4a"
start_deck "$work/folder.m4a"
# Menu items read with their shortcut after a tab: the words alone.
names=$(probe names | cut -f1) || fail "the deck cannot be read"
for word in Datei Steuerung Kassette Hilfe "Einstellungen …" "Kassetten importieren …" \
  Aufnehmen Abspielen Zurückspulen Vorspulen "Über Cassora" REC PLAY Laufwerkstasten; do
  grep -qxF "$word" <<<"$names" || fail "no '$word' among: $(tr '\n' '|' <<<"$names")"
done
for word in File Controls Preferences… Record; do
  grep -qxF "$word" <<<"$names" && fail "'$word' is still in English"
done
alert=""
for _ in $(seq 50); do
  alert=$(xdotool search --onlyvisible --name '^Einige Kassetten konnten nicht importiert werden$' \
    2>/dev/null | head -1)
  [[ -n $alert ]] && break
  sleep 0.1
done
[[ -n $alert ]] || fail "no German alert for the failed import"
echo ok
