# Archives: unpack the sample archive and dump the chat member's text from
# inside the unpacked tree.
set -u
show() { echo; echo "\$ fpskit $*"; "$FPSKIT" "$@"; echo "[exit status $?]"; }
print_dump() { sed -e $'s/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/^/    | /' "$1"; }

echo
echo "field.dat: an FPS4 archive of $(stat -c %s field.dat) bytes with 7 members: plain data, a chat"
echo "file, a TLZC-compressed member, a nested archive, a texture pair (TXM and pixel data)."
show unfps field.dat

echo "The unpacked tree (the nested archive became the directory field_003/, the texture"
echo "pair two DDS images, the compressed member a plain file):"
find field -print | sort | while read -r path; do
  if [ -d "$path" ]; then echo "    $path/"; else printf '    %-36s %7d bytes\n' "$path" "$(stat -c %s "$path")"; fi
done
# Left out of the committed transcript: not every machine has the tool.
if [ -z "${DEMO_TRANSCRIPT:-}" ] && command -v identify >/dev/null; then
  echo "The images open in ordinary image tools (ImageMagick's identify):"
  identify field/*.dds | sed 's/^/    /'
fi

show uncht field/field_001.ZK6CHTX utf8
echo "field/field_001.txt:"
print_dump field/field_001.txt
