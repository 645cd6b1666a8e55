#!/usr/bin/env bash
# Builds the Debian package and checks that it installs and starts on a clean Debian 12:
# a fresh copy of a pristine minimal bookworm tree (debootstrap, from this machine's apt sources,
# kept for later runs), the package installed with apt (which pulls its declared dependencies),
# then Corvane started headless.
#   scripts/package-check.sh            (needs root: debootstrap and chroot)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/debian-tree.sh
BASE=${CORVANE_CI_TREE:-/var/tmp/corvane-ci}
CHROOT=$BASE/package

scripts/setup.sh

CMAKE_BUILD_TYPE=Release scripts/build.sh build-pkg -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF
(cd build-pkg && cpack -G DEB >/dev/null)
DEB=$(ls -t build-pkg/corvane_*.deb | head -n1)
echo "package: $DEB"
dpkg-deb --field "$DEB" Depends
# ZMODEM needs lrzsz: recommended, so that apt installs it by default.
if ! dpkg-deb --field "$DEB" Recommends | grep -qw lrzsz; then
  echo "package-check: the package does not recommend lrzsz"
  exit 1
fi

# The hidraw udev rule is shipped and applied on install.
RULE=./usr/lib/udev/rules.d/60-corvane-hidraw.rules
if ! dpkg-deb --fsys-tarfile "$DEB" | tar -xO "$RULE" 2>/dev/null | grep -q 'SUBSYSTEM=="hidraw".*TAG+="uaccess"'; then
  echo "package-check: $RULE with a uaccess rule for hidraw is missing from the package"
  exit 1
fi
if ! dpkg-deb --info "$DEB" postinst 2>/dev/null | grep -q 'udevadm trigger --subsystem-match=hidraw'; then
  echo "package-check: the postinst script does not apply the udev rule"
  exit 1
fi

debian_tree_pristine "$BASE/pristine"
trap 'debian_tree_umount "$CHROOT"' EXIT
debian_tree_fresh "$BASE/pristine" "$CHROOT"
debian_tree_mount "$CHROOT"
cp "$DEB" "$CHROOT/tmp/corvane.deb"
chroot "$CHROOT" /bin/sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/corvane.deb >/dev/null'
if [ ! -f "$CHROOT/usr/lib/udev/rules.d/60-corvane-hidraw.rules" ]; then
  echo "package-check: the udev rule was not installed"
  exit 1
fi
# Started headless, it must still be running when the time runs out (exit 124), not crash.
set +e
chroot "$CHROOT" /usr/bin/env QT_QPA_PLATFORM=offscreen HOME=/tmp XDG_DATA_HOME=/tmp/data timeout 5 corvane
rc=$?
set -e
if [ "$rc" -ne 124 ]; then
  echo "package-check: corvane exited with $rc instead of running"
  exit 1
fi
# A script runs with no display at all: the package brings what QJSEngine needs.
printf 'pass("no display");\n' > "$CHROOT/tmp/check.js"
if ! chroot "$CHROOT" /usr/bin/env -u DISPLAY -u QT_QPA_PLATFORM HOME=/tmp XDG_DATA_HOME=/tmp/data \
    corvane --script /tmp/check.js | grep -q '\[script\] passed: no display'; then
  echo "package-check: corvane --script did not run the script without a display"
  exit 1
fi
echo "package-check: the package installs and Corvane starts on a clean Debian 12"
