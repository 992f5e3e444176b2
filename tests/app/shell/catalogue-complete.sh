#!/usr/bin/env bash
# Every catalogue holds every text of the program's sources, translated:
# lupdate, run on a copy, finds nothing new and nothing unfinished.
set -u
lupdate=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for catalogue in "$source"/app/translations/*.ts; do
  copy=$work/$(basename "$catalogue")
  cp "$catalogue" "$copy"
  (cd "$source" && timeout 120 "$lupdate" -recursive app -extensions cpp,h -ts "$copy" \
    -no-obsolete -locations none) >"$work/lupdate.log" 2>&1 ||
    { cat "$work/lupdate.log" >&2; exit 1; }
  unfinished=$(grep -c 'type="unfinished"' "$copy")
  if ((unfinished > 0)); then
    echo "FAIL: $(basename "$catalogue") has $unfinished unfinished texts:" >&2
    grep -B2 'type="unfinished"' "$copy" | grep '<source>' | head -20 >&2
    status=1
  fi
done
((status == 0)) && echo ok
exit $status
