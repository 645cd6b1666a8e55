# Functions for a minimal Debian 12 tree, shared by .ci/run and scripts/package-check.sh.
# Source it; needs root (debootstrap, chroot, mount).
#
#   debian_sources             prints the Debian "deb URI SUITE COMPONENT" lines this machine's apt uses
#   debian_tree_pristine DIR   makes DIR a minbase bookworm tree once; later calls keep it as it is
#   debian_tree_fresh SRC DST  replaces DST with an untouched copy of SRC, with this machine's sources
#   debian_tree_mount DIR      mounts /proc, /sys, /dev (with /dev/pts, /dev/shm) and a fresh /tmp
#   debian_tree_umount DIR     undoes debian_tree_mount; safe to call more than once

# The mirrors come from this machine's own apt configuration: every Debian archive apt knows of,
# read from apt-cache policy (so sources.list and deb822 files, proxies and snapshots all count).
_debian_sources_from_policy() {
  apt-cache policy 2>/dev/null | awk '
    /^ *[0-9]+ [a-z]+:\/\/[^ ]+ [^ ]+\/[^ ]+ [^ ]+ Packages$/ {
      uri = $2; split($3, sc, "/"); pending = uri " " sc[1] " " sc[2]; next }
    pending != "" && /release / {
      if ($0 ~ /o=Debian,/) print "deb " pending
      pending = ""; next }
    { pending = "" }' | sort -u
}

debian_sources() {
  local out
  out=$(_debian_sources_from_policy)
  if [ -z "$out" ]; then
    # No package lists yet on this machine: read them once, then ask again.
    apt-get update -qq >/dev/null 2>&1 || true
    out=$(_debian_sources_from_policy)
  fi
  printf '%s\n' "$out"
}

debian_mirror() {
  debian_sources | awk '$3 == "bookworm" { print $2; exit }'
}

debian_tree_pristine() {
  local dir=$1 mirror
  if [ -f "$dir/.corvane-pristine" ]; then return 0; fi
  mirror=$(debian_mirror)
  if [ -z "$mirror" ]; then
    echo "debian-tree: this machine's apt knows no Debian bookworm archive (apt-cache policy)" >&2
    return 1
  fi
  command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
  mkdir -p "$(dirname "$dir")"
  rm -rf "$dir" "$dir.part"
  echo "debian-tree: debootstrap minbase bookworm from $mirror"
  debootstrap --variant=minbase bookworm "$dir.part" "$mirror" >"$dir.log" 2>&1 || {
    tail -n 20 "$dir.log" >&2
    return 1
  }
  touch "$dir.part/.corvane-pristine"
  mv "$dir.part" "$dir"
}

debian_tree_fresh() {
  local src=$1 dst=$2
  debian_tree_umount "$dst"
  # Never remove through a mount that is still there (the bound /dev above all).
  if [ -d "$dst" ] && awk -v d="$(realpath "$dst")" 'index($2, d "/") == 1 { f = 1 } END { exit !f }' /proc/mounts; then
    echo "debian-tree: $dst still has mounts; not removing it" >&2
    return 1
  fi
  rm -rf --one-file-system "$dst"
  cp -a "$src" "$dst"
  rm -f "$dst/.corvane-pristine"
  debian_sources >"$dst/etc/apt/sources.list"
  cp -L /etc/resolv.conf "$dst/etc/resolv.conf" 2>/dev/null || true
  # debootstrap writes no hosts file; every installed Debian has one naming localhost.
  [ -e "$dst/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$dst/etc/hosts"
  # An HTTP proxy apt is configured with here is part of the same configuration.
  apt-config dump 2>/dev/null | grep -i '^Acquire::.*Proxy' >"$dst/etc/apt/apt.conf.d/01proxy" || true
  # A minbase tree's apt has no recommends setting of its own; keep it as a fresh install.
  [ -s "$dst/etc/apt/apt.conf.d/01proxy" ] || rm -f "$dst/etc/apt/apt.conf.d/01proxy"
}

debian_tree_mount() {
  local dir=$1
  mount -t proc proc "$dir/proc"
  mount -t sysfs sysfs "$dir/sys"
  mount --rbind /dev "$dir/dev"
  mount --make-rslave "$dir/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$dir/tmp"
}

debian_tree_umount() {
  local dir=$1 m
  [ -d "$dir" ] || return 0
  # Deepest first, so that /dev/pts goes before /dev.
  for m in $(awk -v d="$(realpath "$dir")" '$2 == d || index($2, d "/") == 1 { print $2 }' /proc/mounts | sort -r); do
    umount -l "$m" 2>/dev/null || true
  done
}
