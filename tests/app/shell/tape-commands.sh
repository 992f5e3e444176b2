#!/usr/bin/env bash
# record, info, label, library and play against the private test server.
set -u
export LC_ALL=C.UTF-8
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

# Played with its output not on a terminal, the program shows no position:
# its main thread sleeps while the tape plays, and an interrupt still ends it.
main_thread_wakes() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$1/task/$1/status"; }
timeout 20 "$program" play "$renamed" --speed 0.25 >"$folder/play.out" &
player=$!
sleep 1
before=$(main_thread_wakes $player)
sleep 1.5
after=$(main_thread_wakes $player)
(( after - before < 8 )) || fail "the main thread woke $((after - before)) times in 1.5 s while playing"
kill -INT $player
wait $player || fail "an interrupted play exited with $?"
[[ ! -s $folder/play.out ]] || fail "play wrote a position to a file: $(head -c 80 "$folder/play.out")"
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

# Marks that turn text around never reach a file name or the terminal.
turned=$("$program" label "$renamed" --title $'evil\u202egpj.m4a') || fail "label with a bidi mark"
[[ $turned != *$'\u202e'* ]] || fail "a bidi mark reached the file name: $turned"
"$program" info "$turned" | grep -q 'evil\\u202egpj' || fail "info printed a bidi mark raw"
renamed=$turned

# Every command explains itself.
help=$("$program" label --help) || fail "label --help exited with $?"
grep -q -- "--notes-file" <<<"$help" || fail "label --help: $help"
grep -q "^Usage: cassora label FILE" <<<"$help" || fail "label --help: $help"
for command in devices record play info library recover meter movie import export; do
  "$program" "$command" --help | grep -q "^Usage: cassora $command" || fail "$command --help"
done

# A name whose bytes are not UTF-8 is read, labelled and listed.
odd=$HOME/Music/Cassora/$'bad\377\376name.m4a'
cp "$renamed" "$odd"
"$program" info "$odd" | grep -q 'bad\\xff\\xfename.m4a' || fail "info on a name that is not UTF-8"
relabelled=$("$program" label "$odd" --title "Odd one") || fail "label on a name that is not UTF-8"
[[ $relabelled == *"Odd one.m4a" ]] || fail "labelled as $relabelled"
"$program" library | grep -q "Odd one" || fail "library left the tape out"

# A file that holds no audio is listed by its name, with no quality or length
# of its own; the tapes beside it keep theirs.
: >"$HOME/Music/Cassora/empty.m4a"
echo "a shopping list" >"$HOME/Music/Cassora/list.m4a"
listing=$("$program" library)
for name in empty.m4a list.m4a; do
  grep -Eq -- "  -   +-  $name\$" <<<"$listing" || fail "$name listed as: $(grep "$name" <<<"$listing")"
done
grep -q "LQ .*Odd one" <<<"$listing" || fail "a tape beside them lost its headers: $listing"
rm "$HOME/Music/Cassora/empty.m4a" "$HOME/Music/Cassora/list.m4a"

# Such a name is exported and imported too, its bytes kept.
odd=$folder/$'take\377.m4a'
cp "$renamed" "$odd"
mkdir -p "$folder/exports"
"$program" export "$odd" --format wav --to "$folder/exports" >/dev/null || fail "export of an odd name"
[[ -f $folder/exports/$'take\377.wav' ]] || fail "the export lost the name's bytes: $(ls "$folder/exports")"
"$program" import "$odd" >/dev/null || fail "import of an odd name"
[[ -f $HOME/Music/Cassora/$'take\377.m4a' ]] || fail "the import lost the name's bytes"

# Two programs each editing another field: both edits stay, whatever the order.
fresh=$folder/fresh.m4a
for round in 1 2 3; do
  ffmpeg -v error -y -f lavfi -i sine=duration=1 -c:a aac -f ipod "$fresh" || fail "ffmpeg"
  "$program" label "$fresh" --letter Q --color blue >/dev/null & one=$!
  "$program" label "$fresh" --notes "round $round" >/dev/null & two=$!
  wait $one || fail "the letter edit failed in round $round"
  wait $two || fail "the notes edit failed in round $round"
  "$program" info "$fresh" --json | python3 -c '
import json, sys
tape = json.load(sys.stdin)
assert tape["letter"] == "Q" and tape["color"] == "blue", tape
assert tape["notes"] == "round '"$round"'", tape' || fail "round $round lost an edit"
done

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
