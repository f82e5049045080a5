# Chat text: dump a chat file, translate one line, write it back.
set -u
show() { echo; echo "\$ fpskit $*"; "$FPSKIT" "$@"; echo "[exit status $?]"; }
# Prints a dump with its line structure visible (the lines end in CR LF).
print_dump() { sed -e $'s/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/^/    | /' "$1"; }

echo
echo "chat.ZK6CHTX: $(stat -c %s chat.ZK6CHTX) bytes, its text in the game's encoding (Shift-JIS):"
hexdump -C chat.ZK6CHTX | sed 's/^/    /'

show uncht chat.ZK6CHTX utf8
echo "chat.txt (UTF-8 through JPCODES.TXT; a line break in the game's text shows as \\n):"
print_dump chat.txt

echo
echo "Translating the second entry's [EN] line with sed (the typographic quotes are"
echo "what the translator typed; CODES.TXT turns them into the game's plain ones):"
sed -i "s/^\[EN\]: Yes, let's go out\./[EN]: Sure, “let's go” out!/" chat.txt
grep -a '^\[EN\]: Sure' chat.txt | sed -e 's/\r$//' -e 's/^/    | /'

# "1": the speaker name and the untranslated line stay shared, stored once.
show cht chat.ZK6CHTX 1
echo "chat.ZK6CHTX is now $(stat -c %s chat.ZK6CHTX) bytes; the new line in the file:"
offset=$(grep -boa 'Sure' chat.ZK6CHTX | head -n 1 | cut -d: -f1)
hexdump -C -s "$offset" -n 32 chat.ZK6CHTX | sed 's/^/    /'

show uncht chat.ZK6CHTX utf8
echo "chat.txt dumped again:"
print_dump chat.txt
