#!/usr/bin/env bash
# Installs what building and testing keymux needs on Debian 12. Idempotent
# and non-interactive; installs nothing that is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev libxi-dev libxtst-dev xvfb xauth x11-utils xdotool
  nlohmann-json3-dev libcli11-dev
  libhunspell-dev hunspell-en-us
  libtesseract-dev libleptonica-dev tesseract-ocr-eng imagemagick fonts-dejavu-core
  g++-mingw-w64-x86-64 wine wine64
  libconcurrentqueue-dev libboost-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
