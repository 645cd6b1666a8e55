#!/usr/bin/env bash
# Lists port paths (such as the simulator's links) in the device list: the device list
# keeps user-added ports in Corvane.ini of the data folder; each path is added once. A file
# that lists virtual ports already is left alone (add more from the device list's menu).
#   scripts/list-virtual-port.sh PATH...
set -euo pipefail
ini="${XDG_DATA_HOME:-$HOME/.local/share}/My Corvane/Setting/Corvane.ini"
mkdir -p "$(dirname "$ini")"
missing=()
for link in "$@"; do
  grep -qF "$link" "$ini" 2>/dev/null || missing+=("$link")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if grep -q '^\[VirtualPorts\]' "$ini" 2>/dev/null; then
  for link in "${missing[@]}"; do
    echo "run.sh: $ini already lists virtual ports; add $link from the device list's menu" >&2
  done
else
  {
    printf '[VirtualPorts]\r\nCount=%d\r\n' ${#missing[@]}
    n=0
    for link in "${missing[@]}"; do
      n=$((n + 1))
      printf 'Port%d=%s\r\n' $n "$link"
    done
  } >> "$ini"
fi
