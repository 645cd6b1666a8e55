#!/usr/bin/env bash
# Lists a port path (such as the simulator's link) in the device list: the device list
# keeps user-added ports in Corvane.ini of the data folder; the path is added once. A file
# that lists virtual ports already is left alone (add more from the device list's menu).
#   scripts/list-virtual-port.sh PATH
set -euo pipefail
link="$1"
ini="${XDG_DATA_HOME:-$HOME/.local/share}/My Corvane/Setting/Corvane.ini"
mkdir -p "$(dirname "$ini")"
if ! grep -qF "$link" "$ini" 2>/dev/null; then
  if grep -q '^\[VirtualPorts\]' "$ini" 2>/dev/null; then
    echo "run.sh: $ini already lists virtual ports; add $link from the device list's menu" >&2
  else
    printf '[VirtualPorts]\r\nCount=1\r\nPort1=%s\r\n' "$link" >> "$ini"
  fi
fi
