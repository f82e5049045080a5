# Archives, the end of a translator's work: translate a line of the chat
# member and recolour one image inside the unpacked tree, list with "lsfps"
# what the rebuild will take, rebuild the archive with "fps", and unpack it
# again to see both changes in it.
set -u
show() { echo; echo "\$ fpskit $*"; "$FPSKIT" "$@"; echo "[exit status $?]"; }
print_dump() { sed -e $'s/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/^/    | /' "$1"; }

echo
echo "Translating the chat member's second [EN] line in field/field_001.txt:"
sed -i "s/^\[EN\]: Yes, let's go out\./[EN]: Sure, let's head out!/" field/field_001.txt
grep -a '^\[EN\]: Sure' field/field_001.txt | sed -e 's/\r$//' -e 's/^/    | /'
show cht field/field_001.ZK6CHTX 1

echo "Recolouring field/glow_4_1.dds (4 x 4 A8R8G8B8: four bytes per pixel, blue green"
echo "red alpha): every pixel becomes opaque red. Before, its pixels:"
hexdump -C -s 128 field/glow_4_1.dds | sed 's/^/    /'
for _ in $(seq 16); do printf '\000\000\377\377'; done | dd of=field/glow_4_1.dds bs=1 seek=128 conv=notrunc status=none
echo "After:"
hexdump -C -s 128 field/glow_4_1.dds | sed 's/^/    /'

echo "Before rebuilding, what fps will do: \"M\" marks an edited file it takes, \"=\" a file equal"
echo "to the member, \"-\" no file (the archive's copy), \"?\" a file it would not take:"
show lsfps field.dat

cp field.dat field.before
show fps field.dat
echo "field.dat is $(stat -c %s field.dat) bytes, as before; $(cmp -l field.before field.dat | wc -l) bytes differ (the"
echo "new line and the new pixels): unchanged members, the TLZC one among them, are stored as they were."
rm -f field.before

echo
echo "Unpacking the rebuilt archive again, from scratch:"
rm -rf field
show unfps field.dat
show uncht field/field_001.ZK6CHTX utf8
echo "field/field_001.txt:"
print_dump field/field_001.txt
echo "field/glow_4_1.dds, its pixels as the archive holds them now:"
hexdump -C -s 128 field/glow_4_1.dds | sed 's/^/    /'
