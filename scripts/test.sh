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
ctest --preset release -j"$jobs"

# The sanitizers' options are the sanitize test preset's (CMakePresets.json).
scripts/build.sh sanitize
ctest --preset sanitize -j"$jobs"

scripts/windows/test.sh
