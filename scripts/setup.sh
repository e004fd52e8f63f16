#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when they are missing.
# As root it runs apt-get; otherwise it prints the command to run and fails.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libicu-dev libsqlite3-dev liblua5.4-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev fonts-dejavu-core
  clang libclang-rt-14-dev
  libtomlplusplus-dev libcli11-dev
  libpq-dev postgresql-15
  xvfb xdotool openbox
  qt6-translations-l10n poppler-utils
  libssl-dev libmagic-dev qt6-pdf-dev qt6-image-formats-plugins
  libtesseract-dev tesseract-ocr tesseract-ocr-ita libzxing-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root: apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
