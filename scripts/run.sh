#!/usr/bin/env bash
# Installs what is missing, builds, and starts Corvane. Without a serial device on this
# machine it also starts the device simulator (a line of text every half second) and lists
# it as a virtual port, so there is something to open at once.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build

shopt -s nullglob
hardware=(/dev/ttyUSB* /dev/ttyACM*)
if [ ${#hardware[@]} -gt 0 ]; then
  exec build/src/corvane "$@"
fi

link="${XDG_RUNTIME_DIR:-/tmp}/corvane-sim-tty"
build/tools/corvane-sim --link "$link" --lines 500 > /dev/null &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

# The device list keeps user-added ports in Corvane.ini; add the simulator's link once.
scripts/list-virtual-port.sh "$link"
echo "Simulated device: Virtual Port ($link)"
build/src/corvane "$@"
