#!/usr/bin/env bash
# Sets up, builds and runs Ulmaro read out on Debian 12.
#   ./build.sh demo   install what is missing, build, start the program with --demo
#   ./build.sh test   install what is missing, build, run every test
#   ./build.sh build  install what is missing and build only
#   ./build.sh fuzz   install clang, build the fuzz targets, run each a few seconds
# The test command runs the suite twice: a plain build (build/) and one with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), where any
# sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake pkg-config ccache
  qt6-base-dev libqt6printsupport6 qt6-qpa-plugins
  libqcustomplot-dev libqcustomplot2.1-qt6
  libsimpleini-dev libserialport-dev libusb-dev libjpeg-dev libfontconfig-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-dejavu-core fonts-liberation poppler-utils
  file dpkg-dev lintian
)

# Only the fuzz build needs these (clang with libFuzzer).
FUZZ_PACKAGES=(clang libclang-rt-dev)

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
    echo "Need root (or sudo) to run: $*" >&2; exit 1; fi
}

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}" "$@"; do
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

# Sanitizer reports end the test that made them; leaks inside third-party
# libraries are suppressed by name in cmake/lsan.supp, nothing of ours.
sanitizer_env() {
  export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/cmake/lsan.supp:print_suppressions=0
}

test_sanitized() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DULMARO_SANITIZE=ON >/dev/null
  cmake --build build-asan -j"$(nproc)"
  ( sanitizer_env
    cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" )
}

fuzz() {
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DULMARO_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j"$(nproc)" --target fuzz_all
  fuzz/smoke.sh build-fuzz "${FUZZ_SECONDS:-5}"
}

case "${1:-}" in
  demo)  install_packages; build --target ulmaro; exec ./build/ulmaro --demo ;;
  test)  install_packages; build
         ( cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" )
         test_sanitized ;;
  build) install_packages; build ;;
  fuzz)  install_packages "${FUZZ_PACKAGES[@]}"; fuzz ;;
  *) echo "usage: $0 demo|test|build|fuzz" >&2; exit 2 ;;
esac
