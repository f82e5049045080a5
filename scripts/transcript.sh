#!/usr/bin/env bash
# The demo's transcript: standard output, standard error and exit status of
# every step in scripts/demo/, run on freshly generated samples, with the
# sample directory written as $DEMO. The expected transcript is committed in
# tests/transcript/, so that any change to the tools' console text shows up
# as a diff.
#
#   scripts/transcript.sh [--update] [FPSKIT MAKE_SAMPLES]
#
# compares against tests/transcript/ (exit 1 on any difference), or with
# --update writes it there. The programs default to the release build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
update=0
if [ "${1:-}" = --update ]; then update=1; shift; fi
fpskit="$(realpath "${1:-$root/build/fpskit}")"
make_samples="$(realpath "${2:-$root/build/make_samples}")"
expected="$root/tests/transcript"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
demo="$work/demo"
actual="$work/transcript"
mkdir -p "$demo" "$actual"
"$make_samples" "$demo" >/dev/null

# The steps share the sample directory, in name order, as in scripts/demo.sh.
: >"$actual/status.exact"
for step in "$root"/scripts/demo/*.sh; do
  name="$(basename "$step" .sh)"
  status=0
  (cd "$demo" && FPSKIT="$fpskit" DEMO="$demo" DEMO_TRANSCRIPT=1 LC_ALL=C.UTF-8 bash "$step") \
    >"$actual/$name.stdout.exact" 2>"$actual/$name.stderr.exact" || status=$?
  echo "$name $status" >>"$actual/status.exact"
  sed -i -e "s|$demo|\$DEMO|g" -e "s|$fpskit|fpskit|g" "$actual/$name.stdout.exact" "$actual/$name.stderr.exact"
done

if [ "$update" = 1 ]; then
  rm -rf "$expected"
  cp -r "$actual" "$expected"
  echo "transcript written to tests/transcript/"
  exit 0
fi
if ! diff -ru "$expected" "$actual"; then
  echo "The demo's console text differs from tests/transcript/ (scripts/transcript.sh --update accepts it)." >&2
  exit 1
fi
