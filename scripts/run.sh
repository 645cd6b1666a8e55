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
ini="${XDG_DATA_HOME:-$HOME/.local/share}/My Corvane/Setting/Corvane.ini"
mkdir -p "$(dirname "$ini")"
if ! grep -qF "$link" "$ini" 2>/dev/null; then
  if grep -q '^\[VirtualPorts\]' "$ini" 2>/dev/null; then
    echo "run.sh: $ini already lists virtual ports; add $link from the device list's menu" >&2
  else
    printf '[VirtualPorts]\r\nCount=1\r\nPort1=%s\r\n' "$link" >> "$ini"
  fi
fi
echo "Simulated device: Virtual Port ($link)"
build/src/corvane "$@"
