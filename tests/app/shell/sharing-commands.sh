#!/usr/bin/env bash
# movie, import and export from the command line.
set -u
program=$(realpath "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
export XDG_CONFIG_HOME=$folder/config HOME=$folder/home
mkdir -p "$HOME" "$folder/out"
library=$HOME/Music/Cassora

tape() { # name seconds
  ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$2" -ac 2 -c:a aac \
    -metadata "title=$1" "$folder/$1.m4a" || fail "ffmpeg"
  echo "$folder/$1.m4a"
}
short=$(tape Short 3)
long=$(tape Long 60)

# A movie: H.264 1280x720 at 24 fps with stereo AAC, as long as the tape.
movie=$("$program" movie "$short" --output "$folder/out/short.mov" 2>/dev/null) \
  || fail "movie exited with $?"
[[ $movie == "$folder/out/short.mov" ]] || fail "movie printed $movie"
ffprobe -v error -show_streams -show_format -of json "$movie" >"$folder/probe.json" || fail "ffprobe"
python3 - "$folder/probe.json" <<'PY' || fail "the movie: $(cat "$folder/probe.json")"
import json, sys
probe = json.load(open(sys.argv[1]))
video = [s for s in probe["streams"] if s["codec_type"] == "video"][0]
audio = [s for s in probe["streams"] if s["codec_type"] == "audio"][0]
assert video["codec_name"] == "h264" and video["width"] == 1280 and video["height"] == 720
assert video["r_frame_rate"] == "24/1" and int(video["nb_frames"]) == 72
assert audio["codec_name"] == "aac" and audio["sample_rate"] == "44100" and audio["channels"] == 2
assert abs(float(probe["format"]["duration"]) - 3.0) < 0.07
PY
# Without --output the movie is named after the tape, in the current folder;
# an existing movie is never overwritten.
(cd "$folder/out" && "$program" movie "$short" >/dev/null 2>&1) || fail "movie without --output"
[[ -s $folder/out/Short.mov ]] || fail "no Short.mov"
"$program" movie "$short" --output "$folder/out/short.mov" 2>/dev/null && fail "a movie was overwritten"
"$program" movie "/etc/hostname" --output "$folder/out/x.mov" 2>/dev/null && fail "not a tape, yet a movie"
[[ ! -e $folder/out/x.mov ]] || fail "a movie of nothing was left"

# Ctrl-C stops it and removes the partial movie.
"$program" movie "$long" --output "$folder/out/long.mov" 2>/dev/null &
pid=$!
for _ in $(seq 100); do [[ -s $folder/out/long.mov ]] && break; sleep 0.05; done
[[ -e $folder/out/long.mov ]] || fail "the movie never started"
kill -INT "$pid"
wait "$pid"
status=$?
[[ $status -eq 130 ]] || fail "an interrupted movie exited with $status"
[[ ! -e $folder/out/long.mov ]] || fail "an interrupted movie was left behind"

# A full disk (here: the file size limit) fails the movie and leaves no file.
message=$( (ulimit -f 300; "$program" movie "$long" --output "$folder/out/full.mov") 2>&1 >/dev/null)
status=$?
[[ $status -eq 1 ]] || fail "a movie that hit the size limit exited with $status: $message"
[[ $message == *"Error writing movie asset."* ]] || fail "full disk: $message"
[[ ! -e $folder/out/full.mov ]] || fail "a movie cut short was left behind"

# Import copies into the library and skips names already there.
mkdir -p "$library"
cp "$long" "$library/Long.m4a"
echo "not a tape" >"$library/marker"
before=$(md5sum <"$library/Long.m4a")
other=$(tape Other 1)
output=$("$program" import "$short" "$long" "$other" 2>&1) || fail "import exited with $?: $output"
[[ -s $library/Short.m4a && -s $library/Other.m4a ]] || fail "import did not copy: $output"
[[ $(md5sum <"$library/Long.m4a") == "$before" ]] || fail "import replaced an existing tape"
grep -q "skipped" <<<"$output" || fail "import: $output"
"$program" import /etc/hostname 2>/dev/null && fail "import took a file that is not a tape"

# Export copies out, to a folder or a file, never over an existing file.
exported=$("$program" export "$library/Short.m4a" "$folder/out") || fail "export exited with $?"
[[ $exported == "$folder/out/Short.m4a" ]] && cmp -s "$exported" "$short" || fail "export made $exported"
"$program" export "$library/Short.m4a" "$folder/out/copy.m4a" >/dev/null || fail "export to a file"
cmp -s "$folder/out/copy.m4a" "$short" || fail "the exported file differs"
"$program" export "$library/Other.m4a" "$folder/out/copy.m4a" 2>/dev/null && fail "export overwrote"
cmp -s "$folder/out/copy.m4a" "$short" || fail "a refused export changed the file"

# Export converts to the formats people share, several tapes at once, named
# after them, with the label in the new files' tags.
mkdir -p "$folder/shared"
exported=$("$program" export "$library/Short.m4a" "$library/Other.m4a" --format mp3 --to "$folder/shared") \
  || fail "export to mp3 exited with $?"
[[ $exported == "$folder/shared/Short.mp3"$'\n'"$folder/shared/Other.mp3" ]] || fail "export made $exported"
[[ $(ffprobe -v error -show_entries stream=codec_name:format_tags=title -of csv=p=0 "$folder/shared/Short.mp3" \
   | tr '\n' ' ') == *"mp3"*"Short"* ]] || fail "the mp3 is not the tape's"
# --output: the chosen type sets the extension.
"$program" export "$library/Short.m4a" --format opus --output "$folder/shared/voice.m4a" >/dev/null \
  || fail "export to opus exited with $?"
[[ $(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$folder/shared/voice.opus") == opus ]] \
  || fail "no voice.opus"
[[ ! -e $folder/shared/voice.m4a ]] || fail "the wrong extension was kept"
# Never over an existing file; nothing half-made is left.
before=$(md5sum <"$folder/shared/Short.mp3")
message=$("$program" export "$library/Short.m4a" --format mp3 --to "$folder/shared" 2>&1 >/dev/null) \
  && fail "export overwrote an mp3"
[[ $message == *"not overwritten"* ]] || fail "refused export: $message"
[[ $(md5sum <"$folder/shared/Short.mp3") == "$before" ]] || fail "a refused export changed the mp3"
"$program" export "$short" --format aiff 2>/dev/null && fail "an unknown format was taken"
"$program" export "$short" "$long" --format wav --output "$folder/shared/x.wav" 2>/dev/null \
  && fail "--output took two tapes"
[[ -z $(find "$folder/shared" -name '.*') ]] || fail "a partial file was left: $(ls -a "$folder/shared")"
# The movie command says nothing but the movie's name.
(cd "$folder/shared" && "$program" movie "$short" >/dev/null 2>"$folder/movie.err") || fail "movie failed"
[[ ! -s $folder/movie.err ]] || fail "movie printed: $(cat "$folder/movie.err")"
echo "ok"
