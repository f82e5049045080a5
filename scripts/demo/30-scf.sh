#!/usr/bin/env bash
# SCF text: dump the text table of a SCFOMBIN file, edit one line of the dump,
# write it back with "scf" and dump the file again.
set -u
show() { echo; echo "\$ fpskit $*"; "$FPSKIT" "$@"; echo "[exit status $?]"; }
# A dump without its byte order mark and CRs, indented.
listing() { echo "  $1:"; sed -e '1s/^\xEF\xBB\xBF//' -e 's/\r$//' "$1" | sed 's/^/    /'; }

show unscf dialog.scf utf8
listing dialog.txt

echo
echo "\$ sed -i 's/Hello!/“Hi there!”/' dialog.txt"
sed -i 's/Hello!/“Hi there!”/' dialog.txt
before=$(stat -c %s dialog.scf)
show scf dialog.scf
echo "  dialog.scf: $before -> $(stat -c %s dialog.scf) bytes (new strings are appended, the entries repointed)"

show unscf dialog.scf utf8
listing dialog.txt
