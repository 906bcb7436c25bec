#!/usr/bin/env bash
# Installs every Debian package Telvane needs to build, test and run.
# Idempotent: packages already present are left alone, and nothing is
# fetched when everything is installed. Runs as root or through sudo.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config git
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  # user interface
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
  fonts-liberation2 xvfb xauth
  # fax line, images, printing
  libspandsp-dev libtiff-dev libtiff-tools ghostscript libcups2-dev
  # independent fax programs that the virtual fax line is checked against
  efax mgetty-fax
  xfonts-base  # glyph source of the fax font (resources/font)
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
