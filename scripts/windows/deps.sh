#!/usr/bin/env bash
# Builds the libraries that Debian has no MinGW build of, liblzma (xz-utils)
# and GoogleTest, from Debian's own source packages with the MinGW-w64
# compiler, as static libraries, into .deps/x86_64-w64-mingw32/. Runs once:
# later builds find the prefix complete (its stamp names the source versions)
# and reuse it.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
prefix="$root/.deps/x86_64-w64-mingw32"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
sources=(xz-utils googletest)

scripts/windows/setup.sh

# The versions apt would fetch now; a prefix built from other ones is rebuilt.
wanted=$(for source in "${sources[@]}"; do
  echo "$source $(apt-cache showsrc --only-source "$source" | sed -n 's/^Version: //p' | sort -V | tail -n 1)"
done)
if [ -f "$prefix/stamp" ] && [ "$(cat "$prefix/stamp")" = "$wanted" ]; then
  exit 0
fi

quiet() {  # runs a command with its output in log, shown only when it fails
  "$@" >>log 2>&1 || { cat log >&2; exit 1; }
}

echo "Building liblzma and GoogleTest for Windows into $prefix"
rm -rf "$prefix" "$root/.deps/src"
mkdir -p "$root/.deps/src"
cd "$root/.deps/src"
# apt-get checks the files against the signed archive index; dpkg-source then
# unpacks them and applies Debian's patches. (Without debian-keyring it warns
# that it cannot check the signature of the .dsc itself.)
quiet apt-get source -qq "${sources[@]}"

jobs="$(nproc)"
configure() {  # source dir, build dir, cmake options...
  local src="$1" build="$2"
  shift 2
  quiet cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
}

# liblzma only: the xz and xzdec programs are not needed.
configure xz-utils-*/ build-xz
quiet cmake --build build-xz --target liblzma -- -j"$jobs"
quiet cmake --install build-xz --component liblzma_Development

configure googletest-*/ build-gtest -DBUILD_GMOCK=OFF
quiet cmake --build build-gtest -- -j"$jobs"
quiet cmake --install build-gtest

cd "$root"
rm -rf .deps/src
echo "$wanted" >"$prefix/stamp"
