#!/usr/bin/env bash
# The README's quick start on a machine nobody prepared: a minimal Debian
# 12 made by debootstrap, the packages of the README's one apt-get line
# and nothing else, a clone of this commit, and the README's two
# commands, run as a newcomer runs them (no CI=true). Fails when either
# command fails, or when a test is skipped for anything but what Linux
# cannot have (Wine, Windows) or the fan-made missions, which lie outside
# the clone.
#
#   tools/freshroot.sh [MIRROR]    as root; a few minutes and ~1 GB in /var/tmp
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "freshroot: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "needs root, for debootstrap and chroot"
command -v debootstrap >/dev/null || fail "needs debootstrap"

# The mirror apt already uses, so that a machine with a local one needs
# no other.
mirror=${1:-}
if [ -z "$mirror" ]; then
  mirror=$(sed -n 's%^\(URIs:\|deb\)\( *\[[^]]*\]\)\? *\(https\?://[^ ]*/debian/\?\)\( .*\)\?$%\3%p' \
             /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
             /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}
packages=$(sed -n "s/^sudo apt-get install //p" README.md | head -n 1)
[ -n "$packages" ] || fail "the README names no 'sudo apt-get install' line"

root=$(mktemp -d /var/tmp/orbset-fresh.XXXXXX)
chmod 755 "$root"  # it is /, which every user of the root must be able to enter
cleanup() {
  for m in tmp dev proc; do
    umount -R "$root/$m" 2>/dev/null || true
  done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "== debootstrap --variant=minbase bookworm from $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 ||
  { tail -n 20 "$root.log"; fail "debootstrap failed"; }
rm -f "$root.log"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/tmp"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q --no-hardlinks . "$root/root/orbset"
git -C "$root/root/orbset" checkout -q --detach "$(git rev-parse HEAD)"

echo "== apt-get install $packages"
echo "== cmake --workflow --preset demo; cmake --workflow --preset test"
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  sh -ec "apt-get update -q >/dev/null
          apt-get install -y -q $packages >/tmp/install.log || { tail -n 20 /tmp/install.log; exit 1; }
          cd /root/orbset
          cmake --workflow --preset demo
          cmake --workflow --preset test"

# Every test's whole output is in ctest's log; Python's unittest names
# each skip's reason, GoogleTest marks its skips.
log=$root/root/orbset/build/default/Testing/Temporary/LastTest.log
[ -f "$log" ] || fail "no test log at $log"
skipped=$(grep -E "skipped '|skipped \"|\[  SKIPPED \]" "$log" || true)
unwanted=$(grep -vE "Wine|Windows|fan-made" <<<"$skipped" || true)
echo "== skipped, and why:"
grep -o "skipped .*\|SKIPPED.*" <<<"$skipped" | sort | uniq -c || true
[ -z "$unwanted" ] || fail "tests skipped on a fresh Debian 12:"$'\n'"$unwanted"
echo "freshroot: the quick start works on a fresh Debian 12"
