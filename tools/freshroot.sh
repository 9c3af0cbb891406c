#!/usr/bin/env bash
# The README's quick start on a machine nobody prepared: a minimal Debian
# 12 (bookworm, the default) or 13 (trixie) made by debootstrap, the
# packages of the README's one apt-get line and nothing else, a clone of
# this commit, and the README's two commands, run as a newcomer runs them
# (no CI=true). Fails when either command fails, or when a test is
# skipped for anything but what Linux cannot have (Wine, Windows) or the
# fan-made missions, which lie outside the clone. With --wine it then
# adds what the README's Windows build names (i386, mingw-w64,
# googletest, wine, wine32) and runs the Windows workflow there too.
#
#   tools/freshroot.sh [--wine] [RELEASE [MIRROR]]
#                                  as root; a few minutes and ~1 GB in /var/tmp
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "freshroot: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "needs root, for debootstrap and chroot"
command -v debootstrap >/dev/null || fail "needs debootstrap"

wine=false
if [ "${1:-}" = --wine ]; then
  wine=true
  shift
fi
release=${1:-bookworm}
case $release in
  bookworm) debian="Debian 12" ;;
  trixie) debian="Debian 13" ;;
  *) fail "knows bookworm and trixie, not $release" ;;
esac
# The mirror apt already uses, so that a machine with a local one needs
# no other.
mirror=${2:-}
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

start=$SECONDS
echo "== debootstrap --variant=minbase $release ($debian) from $mirror"
debootstrap --variant=minbase "$release" "$root" "$mirror" >"$root.log" 2>&1 ||
  { tail -n 20 "$root.log"; fail "debootstrap failed"; }
rm -f "$root.log"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/tmp"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q --no-hardlinks . "$root/root/orbset"
git -C "$root/root/orbset" checkout -q --detach "$(git rev-parse HEAD)"

inroot() {  # runs a shell script in the root, with a newcomer's environment
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin sh -ec "$1"
}

echo "== apt-get install $packages"
echo "== cmake --workflow --preset demo; cmake --workflow --preset test"
inroot "apt-get update -q >/dev/null
        apt-get install -y -q $packages >/tmp/install.log || { tail -n 20 /tmp/install.log; exit 1; }
        cd /root/orbset
        cmake --workflow --preset demo
        cmake --workflow --preset test"

# Every test's whole output is in ctest's log; Python's unittest names
# each skip's reason, GoogleTest marks its skips.
log=$root/root/orbset/build/default/Testing/Temporary/LastTest.log
[ -f "$log" ] || fail "no test log at $log"
skips() {  # the skips in ctest's log $1
  grep -E "skipped '|skipped \"|\[  SKIPPED \]" "$1" || true
}
counts() {  # how many tests ctest's log $1 ran, of unittest's and GoogleTest's
  echo "== unittest ran $(grep -oE '^Ran [0-9]+' "$1" | awk '{n += $2} END {print n + 0}')" \
       "tests, $(grep -oE '\(skipped=[0-9]+' "$1" | awk -F= '{n += $2} END {print n + 0}')" \
       "of them skipped;" \
       "GoogleTest passed $(grep -oE '\[  PASSED  \] [0-9]+' "$1" | awk '{n += $NF} END {print n + 0}')"
}
skipped=$(skips "$log")
unwanted=$(grep -vE "Wine|Windows|fan-made" <<<"$skipped" || true)
counts "$log"
echo "== skipped, and why:"
grep -o "skipped .*\|SKIPPED.*" <<<"$skipped" | sort | uniq -c || true
[ -z "$unwanted" ] || fail "tests skipped on a fresh $debian:"$'\n'"$unwanted"
# Whether the linked program carries control-flow protection: the linker
# keeps it only when every object, the C library's start files among them,
# has it.
echo "== readelf -n build/default/orbset, its properties:"
inroot "readelf -n /root/orbset/build/default/orbset" | grep -A3 "GNU_PROPERTY_TYPE_0" || true
echo "freshroot: the quick start works on a fresh $debian ($((SECONDS - start)) s)"

if $wine; then
  start=$SECONDS
  echo "== the Windows workflow under $debian's Wine"
  inroot "dpkg --add-architecture i386
          apt-get update -q >/dev/null
          apt-get install -y -q g++-mingw-w64-i686 googletest wine wine32 >/tmp/wine.log ||
            { tail -n 20 /tmp/wine.log; exit 1; }
          wine --version"
  echo "== installed in $((SECONDS - start)) s"
  inroot "cd /root/orbset && cmake --workflow --preset windows"
  log=$root/root/orbset/build/windows/Testing/Temporary/LastTest.log
  counts "$log"
  echo "== skipped under Wine, and why:"
  skips "$log" | grep -o "skipped .*\|SKIPPED.*" | sort | uniq -c || true
  echo "freshroot: the Windows workflow passes under $debian's Wine ($((SECONDS - start)) s)"
fi
