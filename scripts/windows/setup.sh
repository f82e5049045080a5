#!/usr/bin/env bash
# Installs what the Windows build needs on Debian, when any of it is missing:
# the MinGW-w64 cross compiler and Windows zlib, dpkg-dev for unpacking
# Debian's own sources of liblzma and GoogleTest (with a deb-src entry for
# them), and with "test" also Wine to run the executables.
#   scripts/windows/setup.sh [test]
set -euo pipefail

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix libz-mingw-w64-dev mingw-w64-tools dpkg-dev xz-utils)
if [ "${1:-}" = test ]; then
  packages+=(wine wine64)
fi

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
# Other apt runs on the machine finish first instead of failing this one.
apt=("${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600)

# The deb-src entry mirrors the binary one (deb822 form, beside
# debian.sources), so that "apt-get source" fetches the same release.
updated=no
sources=/etc/apt/sources.list.d/debian.sources
deb_src=/etc/apt/sources.list.d/debian-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src ' /etc/apt/sources.list; then
  if [ -f "$sources" ]; then
    echo "Adding $deb_src"
    sed 's/^Types:.*/Types: deb-src/' "$sources" | "${sudo[@]}" tee "$deb_src" >/dev/null
  else
    echo "Adding ${deb_src%.sources}.list"
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | "${sudo[@]}" tee "${deb_src%.sources}.list" >/dev/null
  fi
  "${apt[@]}" update -qq
  updated=yes
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  [ "$updated" = yes ] || "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
