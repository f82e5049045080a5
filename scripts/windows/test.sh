#!/usr/bin/env bash
# Builds the Windows executables (build-windows/) and runs them under Wine,
# headless and in a Wine prefix of their own: the whole unit test suite (with
# paths in Japanese and paths beyond 260 characters), then the demo's steps
# in a folder named in Japanese, whose transcript and files must equal those
# of the Linux build (build/) byte for byte, console lines aside, which end in
# CR LF on Windows. scripts/test.sh runs it last, when build/ is up to date already.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
scripts/setup.sh
scripts/windows/setup.sh test
scripts/build.sh release
scripts/build.sh windows

export WINEPREFIX="$root/build-windows/wine-prefix"
export WINEDEBUG=-all                                           # no diagnostics
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"  # no .NET, browser, menus
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# One persistent wineserver for the whole run, so that no test pays for a cold
# start. wineboot then fills a new prefix and starts Wine's background
# services. All of them get closed streams: a service that inherited a pipe of
# CTest's would keep it waiting for the end of the output.
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
wineboot </dev/null >/dev/null 2>&1

ctest --test-dir build-windows --output-on-failure -j"$(nproc)"

# The demo's steps on the same samples at the same place, once per build: a
# folder named in Japanese, which the system's ANSI code page under Wine
# cannot spell, as translators of a Japanese game name theirs.
demo="$root/build-windows/demo-翻訳作業"
run_demo() {  # fpskit command, transcript, directory that keeps the files
  rm -rf "$demo" "$3" && mkdir -p "$demo"
  build/make_samples "$demo" >/dev/null
  for step in scripts/demo/*.sh; do
    (cd "$demo" && FPSKIT="$1" DEMO="$demo" bash "$root/$step")
  done >"$2" 2>&1
  mv "$demo" "$3"
}
run_demo "$root/build/fpskit" build-windows/demo-linux.txt build-windows/demo-linux
run_demo "$root/scripts/windows/fpskit.sh" build-windows/demo-windows.txt build-windows/demo-windows
if ! diff -u build-windows/demo-linux.txt build-windows/demo-windows.txt ||
   ! diff -r build-windows/demo-linux build-windows/demo-windows; then
  echo "The demo's outputs differ between the Linux and the Windows build" >&2
  exit 1
fi
echo "Demo: the Linux and the Windows build agree on every output byte" \
  "($(wc -l <build-windows/demo-linux.txt) transcript lines, $(find build-windows/demo-linux -type f | wc -l) files)"
