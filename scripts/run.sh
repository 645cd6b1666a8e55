#!/usr/bin/env bash
# Installs what is missing, builds, and starts Corvane. Without a serial device on this
# machine it also starts the device simulator four times (a line of text every half second,
# lines of numbers for the plot, a coloured ESP32 boot log, a small shell for the console) and
# lists them as virtual ports, so there is something to open at once.
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
# A second one prints four labelled channels of numbers, 20 lines a second: opened (in
# ASCII, as ports start), it gets a Plot tab on the waveform page.
plot="${XDG_RUNTIME_DIR:-/tmp}/corvane-sim-plot"
build/tools/corvane-sim --link "$plot" --plot 20 --channels 4 --labels > /dev/null &
plotsim=$!
# A third prints an ESP32's coloured boot log, then a coloured log line every half second.
esp="${XDG_RUNTIME_DIR:-/tmp}/corvane-sim-esp32"
build/tools/corvane-sim --link "$esp" --esp-log 500 > /dev/null &
espsim=$!
# A fourth is a small shell that answers keys as typed: tick "Console" on its port.
shell="${XDG_RUNTIME_DIR:-/tmp}/corvane-sim-shell"
build/tools/corvane-sim --link "$shell" --shell > /dev/null &
shellsim=$!
trap 'kill "$sim" "$plotsim" "$espsim" "$shellsim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "$link" ] && [ -e "$plot" ] && [ -e "$esp" ] && [ -e "$shell" ] && break
  sleep 0.1
done

# The device list keeps user-added ports in Corvane.ini; add the simulators' links once.
scripts/list-virtual-port.sh "$link" "$plot" "$esp" "$shell"
echo "Simulated device: Virtual Port ($link)"
echo "Simulated device for the plot: Virtual Port ($plot)"
echo "Simulated ESP32 with a coloured log: Virtual Port ($esp)"
echo "Simulated shell for the console: Virtual Port ($shell)"
build/src/corvane "$@"
