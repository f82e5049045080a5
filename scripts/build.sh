#!/usr/bin/env bash
# Configures and builds one preset: release (default, build/), sanitize
# (build-sanitize/), fuzz (build-fuzz/) or windows (build-windows/fpskit.exe,
# cross-compiled with MinGW-w64; installs the compiler and builds its
# libraries first when they are missing).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
if [ "$preset" = windows ]; then
  scripts/windows/deps.sh
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -- -j"$(nproc)"
