# A whole project in three commands: "dump", "check" and "insert" find every
# game text file under a directory by its first bytes (the unpacked archive's
# chat member included) and do each one as its single-file word would.
set -u
show() { echo; echo "\$ fpskit $*"; "$FPSKIT" "$@"; echo "[exit status $?]"; }

show dump . utf8

echo
echo "Translating one line in dialog.txt and one in field/field_001.txt:"
sed -i 's/^\(\[00001AA4_EN\]: \)See you again\./\1Until next time./' dialog.txt
sed -i 's/^\[EN\]: Sure, let'"'"'s head out!/[EN]: Off we go!/' field/field_001.txt
grep -a -e 'Until next' dialog.txt | sed -e 's/\r$//' -e 's/^/    | /'
grep -a -e 'Off we go' field/field_001.txt | sed -e 's/\r$//' -e 's/^/    | /'

show check .
show insert .
echo "A second insert finds every text already in place and writes nothing:"
show insert .

echo
echo "A tag mistyped in one dump: check lists it with its line and the other files"
echo "are still checked; insert would leave that file untouched."
sed -i 's/^\[00001AA4_EN\]: Until/[00001AA5_EN]: Until/' dialog.txt
show check .
