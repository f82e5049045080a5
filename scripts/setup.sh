#!/usr/bin/env bash
# Installs the Debian packages that fpskit needs to build, test and benchmark,
# when any is missing. Uses sudo only when not already root.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config zlib1g-dev liblzma-dev libgtest-dev libbenchmark-dev xz-utils imagemagick time gettext)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
