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

debian_tree_pristine "$BASE/pristine"
trap 'debian_tree_umount "$CHROOT"' EXIT
debian_tree_fresh "$BASE/pristine" "$CHROOT"
debian_tree_mount "$CHROOT"
cp "$DEB" "$CHROOT/tmp/corvane.deb"
chroot "$CHROOT" /bin/sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/corvane.deb >/dev/null'
# Started headless, it must still be running when the time runs out (exit 124), not crash.
set +e
chroot "$CHROOT" /usr/bin/env QT_QPA_PLATFORM=offscreen HOME=/tmp XDG_DATA_HOME=/tmp/data timeout 5 corvane
rc=$?
set -e
if [ "$rc" -ne 124 ]; then
  echo "package-check: corvane exited with $rc instead of running"
  exit 1
fi
echo "package-check: the package installs and Corvane starts on a clean Debian 12"
