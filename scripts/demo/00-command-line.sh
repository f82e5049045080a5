# The command line: usage text, version, an unknown mode word.
set -u
show() { echo; echo "\$ fpskit $*"; "$FPSKIT" "$@"; echo "[exit status $?]"; }
show
show --version
show FPS archive.bin
echo
echo "Code tables in $DEMO:"
echo "  JPCODES.TXT: $(grep -c $'\r' JPCODES.TXT) rows, for example:"
grep -a -m 3 -E '^(82 A0|88 9F|41);' JPCODES.TXT | sed 's/^/    /'
echo "  CODES.TXT:"
sed 's/^/    /' CODES.TXT
