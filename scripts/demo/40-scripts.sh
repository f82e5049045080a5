#!/usr/bin/env bash
# Script text: dump the text of every member of a ZK6SCEL container, edit one
# line, write the dumps back with "tss" and dump again; then split the
# container into its member files and join them back with "tss2".
set -u
show() { echo; echo "\$ fpskit $*"; "$FPSKIT" "$@"; echo "[exit status $?]"; }
# A dump without its byte order mark and CRs, indented.
listing() { echo "  $1:"; sed -e '1s/^\xEF\xBB\xBF//' -e 's/\r$//' "$1" | sed 's/^/    /'; }

show untss scene.scel utf8
echo "  scene/: $(ls scene | tr '\n' ' ')(member 1 has no text, so no dump)"
listing scene/scene_0000.txt

echo
echo "\$ sed -i 's/This way!/“This way, quickly!”/' scene/scene_0000.txt"
sed -i 's/This way!/“This way, quickly!”/' scene/scene_0000.txt
echo "\$ rm scene/scene_0002.txt        # a dump you did not change may go"
rm scene/scene_0002.txt
before=$(stat -c %s scene.scel)
show tss scene.scel
echo "  scene.scel: $before -> $(stat -c %s scene.scel) bytes (member 0 grew by its appended strings)"

show untss scene.scel utf8
listing scene/scene_0000.txt
echo "  (quads written back point at strings after themselves, so a dump made after \"tss\""
echo "   leaves them out: keep editing your first dump and write it back whole instead)"

show untss2 scene.scel
echo "  scene/: $(ls scene | tr '\n' ' ')"
before=$(md5sum <scene.scel)
show tss2 scene.scel
[ "$before" = "$(md5sum <scene.scel)" ] && echo "  scene.scel is byte for byte the same: no member file was changed"
