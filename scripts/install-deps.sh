#!/usr/bin/env bash
# Installs what building and testing keymux needs on Debian 12. Idempotent
# and non-interactive; installs nothing that is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev libxi-dev libxtst-dev xvfb xauth x11-utils xdotool
  libx11-xcb-dev libxcb-xinput-dev libxcb-xtest0-dev libxcb-xkb-dev libxcb-record0-dev sxhkd
  openbox i3-wm
  libxrandr-dev x11-xkb-utils weston xwayland
  nlohmann-json3-dev libcli11-dev
  libhunspell-dev hunspell-en-us hunspell libnuspell-dev
  libtesseract-dev libleptonica-dev tesseract-ocr-eng imagemagick fonts-dejavu-core
  libicu-dev hunspell-de-de hunspell-hi hunspell-th myspell-fa hunspell-ca tesseract-ocr-osd
  # twenty recognition languages for the no-language benchmark; rus and deu are tested too
  tesseract-ocr-deu tesseract-ocr-fra tesseract-ocr-spa tesseract-ocr-ita tesseract-ocr-por tesseract-ocr-nld
  tesseract-ocr-pol tesseract-ocr-rus tesseract-ocr-ukr tesseract-ocr-ces tesseract-ocr-swe tesseract-ocr-dan
  tesseract-ocr-nor tesseract-ocr-fin tesseract-ocr-tur tesseract-ocr-hin tesseract-ocr-ara tesseract-ocr-tha
  tesseract-ocr-jpn
  g++-mingw-w64-x86-64 wine wine64
  python3-pytest python3-venv python3-setuptools
  libsystemd-dev libxkbcommon-dev xkb-data dbus-daemon python3-gi gir1.2-glib-2.0 xdg-desktop-portal
  # a real desktop portal, headless: KDE Plasma 5.27 (kwin with kglobalaccel inside it)
  kwin-wayland xdg-desktop-portal-kde qtwayland5
  libconcurrentqueue-dev libboost-dev
)
# The Node package needs Node.js 18 or later with npm; Debian's serves
# where none is installed.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

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
