#!/usr/bin/env bash
# The demo: installs what is missing, builds the release binary at
# build/fpskit, generates the sample inputs in out/demo/ and runs the tools on
# them the way a translator would, showing what they print.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release

export FPSKIT="$PWD/build/fpskit"
export DEMO="$PWD/out/demo"
rm -rf "$DEMO" && mkdir -p "$DEMO"
build/make_samples "$DEMO"

# Each step of the demo is one script in scripts/demo/, run in name order
# inside the sample directory (the text tools read JPCODES.TXT and CODES.TXT
# from the current directory).
for step in scripts/demo/*.sh; do
  (cd "$DEMO" && bash "$OLDPWD/$step")
done
