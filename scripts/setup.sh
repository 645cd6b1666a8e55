#!/usr/bin/env bash
# Installs every Debian package Corvane needs to build, run and test.
# Idempotent: packages already present are left alone.
set -euo pipefail

# Each line names what needs it; packages come with --no-install-recommends, so whatever a
# find_package() or a script needs is listed here even when another package only recommends it.
PACKAGES=(
  build-essential cmake ninja-build pkg-config          # the build (scripts/build.sh)
  qt6-base-dev qt6-base-dev-tools                       # Qt6 Core Gui Widgets Network Test, moc
  qt6-charts-dev libqt6opengl6-dev libgl-dev            # Qt6 Charts and what its CMake file requires
  qt6-declarative-dev                                   # Qt6 Qml: QJSEngine of the scripts (src/script)
  libudev-dev libhidapi-dev libxlsxwriter-dev           # pkg_check_modules: libudev, hidapi-hidraw, xlsxwriter
  libvterm-dev                                          # pkg_check_modules: vterm (the console, src/console)
  zlib1g-dev                                            # xlsxwriter.pc links -lz; its -dev package does not pull it
  libbenchmark-dev                                      # bench/ (Google Benchmark)
  clang libclang-rt-14-dev                              # scripts/fuzz.sh (libFuzzer runtime)
  clang-format                                          # scripts/format.sh (CI checks the formatting)
  socat                                                 # virtual port pairs (README)
  ser2net                                               # RFC 2217 server of the network tests (tests/network)
  lrzsz                                                 # ZMODEM (sz, rz) at run time; the peer of the transfer tests
  unzip                                                 # the chart tests read exported .xlsx files back
  less                                                  # the console tests page a file with less in a real shell
  xvfb xauth                                            # the screenshot program under xvfb-run
  fonts-wqy-microhei                                    # Chinese captions in the window and screenshots
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
# dpkg's unpacking chatter goes to a log; it is shown only when the install fails.
log=$(mktemp)
if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
  tail -n 40 "$log"
  rm -f "$log"
  echo "setup: apt-get install failed"
  exit 1
fi
rm -f "$log"
echo "setup: installed"
