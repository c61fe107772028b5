#!/usr/bin/env bash
# Sets up, builds and runs Ulmaro read out on Debian 12.
#   ./build.sh demo   install what is missing, build, start the program with --demo
#   ./build.sh test   install what is missing, build, run every test
#   ./build.sh build  install what is missing and build only
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake pkg-config ccache
  qt6-base-dev libqt6printsupport6 qt6-qpa-plugins
  libqcustomplot-dev libqcustomplot2.1-qt6
  libsimpleini-dev libserialport-dev libusb-dev libjpeg-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-dejavu-core fonts-liberation poppler-utils
)

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
    echo "Need root (or sudo) to run: $*" >&2; exit 1; fi
}

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  fi
  # Lets plugdev members open the USB converter without root.
  local rule=acquisition/udev/60-ulmaro-usb-adc.rules
  if [ "$(id -u)" = 0 ] && [ -d /etc/udev/rules.d ] && ! cmp -s "$rule" /etc/udev/rules.d/60-ulmaro-usb-adc.rules; then
    cp "$rule" /etc/udev/rules.d/ && { udevadm control --reload-rules 2>/dev/null || true; }
  fi
}

# Builds everything, or only the targets given ("--target ulmaro").
build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" "$@"
}

case "${1:-}" in
  demo)  install_packages; build --target ulmaro; exec ./build/ulmaro --demo ;;
  test)  install_packages; build
         cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" ;;
  build) install_packages; build ;;
  *) echo "usage: $0 demo|test|build" >&2; exit 2 ;;
esac
