#!/usr/bin/env bash
# record, info, label, library and play against the private test server.
set -u
program=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
export XDG_CONFIG_HOME=$folder/config HOME=$folder/home
mkdir -p "$HOME"

# A new tape in the library folder: labelled and named after its date and title.
path=$("$program" record --quality LQ --mono --seconds 1) || fail "record exited with $?"
[[ $path == "$HOME/Music/Cassora/["*"] Untitled.m4a" ]] || fail "record made $path"
json=$("$program" info "$path" --json) || fail "info exited with $?"
python3 - "$json" <<'PY' || fail "info: $json"
import json, sys
tape = json.loads(sys.argv[1])
assert tape["title"] == "Untitled" and tape["letter"] == "A" and tape["color"] == "red"
assert tape["quality"] == "LQ" and tape["samplerate"] == 22050 and not tape["stereo"]
assert 0.9 < tape["duration"] < 1.2
PY

# Labelling renames; the library lists and searches.
renamed=$("$program" label "$path" --title "Talk: A/B" --notes "garden" --date "2012-03-04" --color blue) \
  || fail "label exited with $?"
[[ $(basename "$renamed") == "[2012-03-04] Talk_ A_B.m4a" ]] || fail "label made $renamed"
[[ ! -e $path ]] || fail "the old name is still there"
listing=$("$program" library --search "color:blue garden") || fail "library exited with $?"
grep -q "Talk: A/B" <<<"$listing" || fail "library: $listing"
[[ -z $("$program" library --search "color:red") ]] || fail "a red search found the blue tape"

# Playing at twice speed ends by itself; bad input is one line and status 1.
timeout 20 "$program" play "$renamed" --speed 2 || fail "play exited with $?"
for bad in "play $folder/none.m4a" "play $renamed --speed 0" "info /etc/hostname" \
           "label $renamed --color mauve" "record --quality XQ" "library $folder/none" \
           "play $renamed --speed nan" "play $renamed --speed inf" "play $renamed --volume nan" \
           "play $renamed --from nan" "play $renamed --from -1" "record --seconds inf"; do
  # shellcheck disable=SC2086
  message=$("$program" $bad 2>&1 >/dev/null)
  status=$?
  [[ $status -eq 1 && $(wc -l <<<"$message") -eq 1 ]] || fail "\"$bad\": status $status, $message"
done
# A tape letter is one character.
message=$("$program" label "$renamed" --letter "" 2>&1 >/dev/null) && fail "an empty letter was taken"
[[ $message == *"exactly one character"* ]] || fail "empty letter: $message"
"$program" label "$renamed" --letter ZZZ 2>/dev/null && fail "a three-letter letter was taken"

# Long notes come from a file or standard input.
checksum() { ffmpeg -v error -i "$1" -map 0:a -c copy -f md5 - 2>/dev/null; }
audio=$(checksum "$renamed")
head -c 300000 /dev/zero | tr '\0' 'n' | "$program" label "$renamed" --notes-file - >/dev/null \
  || fail "notes from standard input"
[[ $("$program" info "$renamed" --json | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["notes"]))') == 300000 ]] \
  || fail "the long notes did not arrive whole"
"$program" label "$renamed" --notes-file "$folder/none.txt" 2>/dev/null && fail "a missing notes file was taken"

# Control characters never reach a file name or the terminal.
escaped=$("$program" label "$renamed" --title $'Bad\e[31m\ttitle\nhere ') || fail "label with control characters"
[[ $(basename "$escaped") == "[2012-03-04] Bad [31m title here.m4a" ]] || fail "named $escaped"
renamed=$(ls "$HOME/Music/Cassora/"*Bad*.m4a)
"$program" info "$renamed" | grep -q 'Bad\\x1b\[31m\\ttitle\\nhere' || fail "info printed the title raw"
"$program" library | grep -q $'\e' && fail "library printed an escape character"
"$program" info "$renamed" --json | grep -q $'\e' && fail "JSON printed an escape character"

# Two label commands at once take turns; the audio and one whole label remain.
for round in 1 2 3 4 5; do
  "$program" label "$renamed" --notes "first $round" >/dev/null & one=$!
  "$program" label "$renamed" --notes "second $round" >/dev/null & two=$!
  wait $one || fail "the first writer failed in round $round"
  wait $two || fail "the second writer failed in round $round"
  notes=$("$program" info "$renamed" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["notes"])')
  [[ $notes == "first $round" || $notes == "second $round" ]] || fail "round $round left notes $notes"
done
[[ $(checksum "$renamed") == "$audio" ]] || fail "the audio changed"
exit 0
