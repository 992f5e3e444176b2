#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop
# needs: the program (which finds its engine library), the .desktop file,
# the AppStream metainfo and the icon, each valid by the desktop's own tools.
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
app=$prefix/share/applications/org.cassora.Cassora.desktop
metainfo=$prefix/share/metainfo/org.cassora.Cassora.metainfo.xml
icon=$prefix/share/icons/hicolor/scalable/apps/org.cassora.Cassora.svg
for file in "$prefix/bin/cassora" "$app" "$metainfo" "$icon"; do
  [[ -e $file ]] || fail "not installed: ${file#$prefix/}"
done
compgen -G "$prefix/lib*/libVELKAudio.so*" >/dev/null || fail "libVELKAudio.so is not installed"

desktop-file-validate "$app" || fail "the .desktop file does not validate"
appstreamcli validate --no-net "$metainfo" || fail "the metainfo does not validate"
grep -q '^MimeType=.*audio/mp4' "$app" || fail "the .desktop file does not open tapes"
grep -q '<launchable type="desktop-id">org.cassora.Cassora.desktop</launchable>' "$metainfo" \
  || fail "the metainfo does not name the .desktop file"
python3 -c "import sys, xml.dom.minidom as m; m.parse(sys.argv[1])" "$icon" || fail "the icon is not XML"

# The installed program runs from its prefix, with the library beside it.
env -u LD_LIBRARY_PATH "$prefix/bin/cassora" --version | grep -q '^Cassora ' \
  || fail "the installed program does not run"
echo "ok"
