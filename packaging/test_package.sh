#!/usr/bin/env bash
# Builds the Debian package from a build folder, checks it with
# lintian --pedantic (any error or warning fails), unpacks it into a scratch
# root (dpkg -x, nothing is installed on this machine) and checks it: its
# control data, the files it brings, its post-install hint, and that the
# unpacked program starts offscreen with --demo, shows its window and ends
# when the window is closed.
#   packaging/test_package.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: test_package.sh BUILD_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

( cd "$build" && cpack -G DEB -B "$work/out" ) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/ulmaro_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { cat "$work/cpack.log"; fail "no package written"; }
echo "package: $(basename "$deb")"

[ "$(dpkg-deb -f "$deb" Package)" = ulmaro ] || fail "package name"
# Lintian's verdict as Debian would see it; info and pedantic notes are
# shown but do not fail the test.
command -v lintian >/dev/null || fail "lintian is not installed (./build.sh installs it)"
lrc=0
lintian --pedantic --info --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || lrc=$?
[ $lrc -le 1 ] || { cat "$work/lintian.log"; fail "lintian could not check the package ($lrc)"; }
grep -v 'running with root privileges' "$work/lintian.log" || true
if grep -qE '^[EW]: ' "$work/lintian.log"; then
  fail "lintian reports errors or warnings"
fi
summary=$(dpkg-deb -f "$deb" Description | sed -n 1p)
[ ${#summary} -lt 80 ] || fail "short description too long: $summary"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 qt6-qpa-plugins fonts-liberation libusb-0.1-4 libserialport0; do
  grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
for f in usr/bin/ulmaro usr/share/applications/ulmaro.desktop usr/share/icons/hicolor/scalable/apps/ulmaro.svg \
         usr/lib/udev/rules.d/60-ulmaro-usb-adc.rules usr/share/ulmaro/SETUP_ULMARO.INI \
         usr/share/doc/ulmaro/copyright usr/share/doc/ulmaro/changelog.gz usr/share/doc/ulmaro/changelog.Debian.gz \
         usr/share/man/man1/ulmaro.1.gz; do
  [ -f "$root/$f" ] || fail "missing /$f"
done
[ -x "$root/usr/bin/ulmaro" ] || fail "program not executable"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$root/usr/share/doc/ulmaro/copyright" || fail "copyright file not machine-readable"
zcat "$root/usr/share/man/man1/ulmaro.1.gz" >"$work/ulmaro.1"
grep -qF '\-\-demo' "$work/ulmaro.1" || fail "manual page lacks --demo"
# The release build is hardened: bound at start, read-only relocations,
# fortified calls.
if command -v readelf >/dev/null; then
  readelf -W -d -l --dyn-syms "$root/usr/bin/ulmaro" >"$work/elf.txt"
  grep -qE 'FLAGS.*(BIND_NOW|NOW)' "$work/elf.txt" || fail "program not linked with -z now"
  grep -q GNU_RELRO "$work/elf.txt" || fail "program not linked with -z relro"
  grep -qE '__[a-z_]+_chk@' "$work/elf.txt" || fail "no fortified calls in the program"
fi
grep -q '^Exec=ulmaro$' "$root/usr/share/applications/ulmaro.desktop" || fail "desktop entry"
grep -q 'idVendor}=="16c0"' "$root/usr/lib/udev/rules.d/60-ulmaro-usb-adc.rules" || fail "udev rule"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/ulmaro.desktop" || fail "desktop entry invalid"
fi

dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] || fail "no post-install script"
grep -q dialout "$work/control/postinst" && grep -q plugdev "$work/control/postinst" || fail "post-install hint"
# The hint as the installing administrator sees it (udevadm stands in as a
# no-op: this machine's rules are none of the test's business).
mkdir -p "$work/fakebin"
printf '#!/bin/sh\nexit 0\n' >"$work/fakebin/udevadm"
chmod 755 "$work/fakebin/udevadm"
hint=$(PATH="$work/fakebin:$PATH" /bin/sh "$work/control/postinst" configure) || fail "post-install script failed"
grep -q "adduser" <<<"$hint" || fail "hint does not say how to join the groups"

# The unpacked program, with a home and configuration folder of its own.
mkdir -p "$work/home" "$work/config"
set +e
HOME=$work/home XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen \
  timeout 120 "$root/usr/bin/ulmaro" --demo task --quit-after 500 >"$work/run.out" 2>"$work/run.err"
rc=$?
set -e
[ $rc -eq 0 ] || { cat "$work/run.err"; fail "the program ended with $rc"; }
grep -q "main window shown" "$work/run.out" || { cat "$work/run.err"; fail "no window was shown"; }
# Settings go to the user's folder, never among the system's programs (this
# runs as root on a build machine, where /usr/bin would be writable).
for f in SETUP.INI SETUP_ULMARO.INI; do
  [ ! -e "$root/usr/bin/$f" ] || fail "$f was written beside the installed program"
done
echo "the unpacked program showed its window and ended when it was closed"
