#!/usr/bin/env bash
# Runs build-windows/fpskit.exe under Wine in place of the Linux binary, for
# the demo's steps (FPSKIT points here; scripts/windows/test.sh sets up Wine).
# The Windows C runtime ends console lines in CR LF: every line must, and the
# CR is taken off so that the output compares with the Linux build's. Both
# output streams are merged, as they reach the demo's transcript on Linux.
set -uo pipefail
exe="$(cd "$(dirname "$0")/../.." && pwd)/build-windows/fpskit.exe"
raw="$(mktemp)"
trap 'rm -f "$raw"' EXIT
wine "$exe" "$@" >"$raw" 2>&1 </dev/null
status=$?
if LC_ALL=C grep -qav $'\r$' "$raw"; then
  echo "fpskit.exe wrote a line that does not end in CR LF"
fi
sed 's/\r$//' "$raw"
exit "$status"
