#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite three times
# (the demo's transcript, tests/transcript/, included):
# on the release build, on a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, and on the Windows build under Wine, which also
# runs the demo's steps and compares their outputs with the Linux build's.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs="$(nproc)"
scripts/build.sh release
ctest --test-dir build --output-on-failure -j"$jobs"

scripts/build.sh sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

scripts/windows/test.sh
