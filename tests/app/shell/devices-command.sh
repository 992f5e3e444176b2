#!/usr/bin/env bash
# `cassora devices` against the private test server, and without a server.
set -u
program=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

table=$("$program" devices) || fail "devices exited with $?"
grep -q 'cassora_sine.*\[default input\]' <<<"$table" || fail "no default input mark: $table"
grep -q 'cassora_null .*\[default output, system output\]' <<<"$table" || fail "no output marks: $table"

json=$("$program" devices --json) || fail "devices --json exited with $?"
python3 - "$json" <<'PY' || fail "bad JSON: $json"
import json, sys
devices = {d["uid"]: d for d in json.loads(sys.argv[1])}
keys = {"id", "uid", "name", "inputChannels", "outputChannels", "sampleRate",
        "defaultInput", "defaultOutput", "systemOutput"}
assert all(set(d) == keys for d in devices.values())
sine, sink = devices["cassora_sine"], devices["cassora_null"]
assert sine["inputChannels"] == 1 and sine["outputChannels"] == 0 and sine["defaultInput"]
assert sink["outputChannels"] == 2 and sink["defaultOutput"] and sink["systemOutput"]
assert sink["sampleRate"] == 48000
PY

# --watch prints notices until interrupted.
out=$(mktemp)
"$program" devices --watch >"$out" &
watcher=$!
sleep 0.5
module=$(pactl load-module module-null-sink sink_name=cassora_watch_probe)
sleep 0.5
pactl unload-module "$module"
sleep 0.5
kill -INT "$watcher"
wait "$watcher" || fail "--watch exited with $? after Ctrl-C"
grep -q '^deviceListDidChange$' "$out" || fail "--watch printed: $(cat "$out")"
rm -f "$out"

# No server: one line naming the server, status 1.
message=$(PULSE_SERVER=unix:/nonexistent/socket "$program" devices 2>&1 >/dev/null)
status=$?
[[ $status -eq 1 ]] || fail "no server: status $status"
[[ $(wc -l <<<"$message") -eq 1 ]] || fail "no server: $message"
grep -q 'unix:/nonexistent/socket' <<<"$message" || fail "no server: $message"
exit 0
