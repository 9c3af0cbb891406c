#!/usr/bin/env bash
# The release as a player can check it. The packages built in this tree
# (build/default/packages, and build/windows/packages when it is there)
# are built again from a second clone of this commit in another folder,
# and must be the same bytes. Then each folder's SHA256SUMS must hold; the
# programs in the packages must be stripped, the exe's header without a
# time stamp; the exe must run on Windows XP SP3 (win/imports.txt); the
# tarball's program must be a static PIE that runs in a root without a C
# library; lintian must find no error in the .deb; and the .deb, unpacked,
# must hold a hardened orbset (hardening-check, from devscripts) whose -h
# shows the help text, and a man page that renders.
#
#   cmake --workflow --preset package     # and --preset windows, for the zip
#   tools/checkrelease.sh
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD

fail() { echo "checkrelease: $*" >&2; exit 1; }

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  fail "uncommitted changes: a clone of the commit cannot match this tree's packages"
fi
folders=(default)
[ -f build/windows/packages/SHA256SUMS ] && folders+=(windows)
for f in "${folders[@]}"; do
  [ -f "build/$f/packages/SHA256SUMS" ] || fail "no build/$f/packages: make the packages first"
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/orbset-release.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

echo "== the packages again, from a clone in $tmp/orbset"
git clone -q --no-hardlinks "$here" "$tmp/orbset"
git -C "$tmp/orbset" checkout -q --detach "$(git rev-parse HEAD)"
for f in "${folders[@]}"; do
  build=packages
  [ "$f" = windows ] && build=windows-packages
  (cd "$tmp/orbset" && cmake --preset "$f" -DORBSET_TESTS=OFF >/dev/null &&
     cmake --build --preset "$build" >/dev/null)
done

echo "== the same bytes, and the checksums"
for f in "${folders[@]}"; do
  mine=build/$f/packages
  theirs=$tmp/orbset/build/$f/packages
  while read -r sum name; do
    cmp "$mine/$name" "$theirs/$name" || fail "$name differs between the two builds (made before the last commit? build the packages again)"
    echo "$sum  $name  ($(stat -c %s "$mine/$name") bytes, the same in both)"
  done <"$mine/SHA256SUMS"
  cmp "$mine/SHA256SUMS" "$theirs/SHA256SUMS" || fail "$f: SHA256SUMS differ"
  (cd "$mine" && sha256sum --quiet -c SHA256SUMS) || fail "$f: SHA256SUMS do not hold"
  for package in "$mine"/*.zip "$mine"/*.tar.gz "$mine"/*.deb; do
    [ -e "$package" ] || continue
    grep -q "  ${package##*/}\$" "$mine/SHA256SUMS" || fail "SHA256SUMS leaves out ${package##*/}"
  done
done

# A stripped ELF program has no symbol table and no debug sections.
elfstripped() {
  local sections
  sections=$(readelf -S -W "$1")
  if grep -Eq '\] \.(symtab|debug)' <<<"$sections"; then
    fail "$1 is not stripped"
  fi
}

# The oldest Windows the program is for is XP SP3: a PE subsystem version
# of at most 5.1, and no import that win/imports.txt does not list (one
# by ordinal has no name there, and so is never listed). ASLR and DEP
# stay on.
windowsfloor() {
  local headers major minor flags imports extra
  headers=$($objdump -p "$1")
  major=$(awk '$1 == "MajorSubsystemVersion" {print $2}' <<<"$headers")
  minor=$(awk '$1 == "MinorSubsystemVersion" {print $2}' <<<"$headers")
  [ $((major * 100 + minor)) -le 501 ] || fail "$1 asks for Windows $major.$minor; XP is 5.1"
  flags=$(awk '$1 == "DllCharacteristics" {print $2}' <<<"$headers")
  [ $((0x$flags & 0x140)) = $((0x140)) ] || fail "$1 lacks ASLR or DEP (DllCharacteristics $flags)"
  imports=$(awk '/DLL Name:/ {dll = $3; next} /^$/ {dll = ""}
                 dll && /^\t[0-9a-f]+\t/ {print dll "!" $3}' <<<"$headers" | sort)
  extra=$(comm -23 <(echo "$imports") <(grep -v '^#' win/imports.txt | sort))
  [ -z "$extra" ] || fail "$1 imports what win/imports.txt does not list:"$'\n'"$extra"
  echo "zip: orbset.exe asks for Windows $major.$minor, has ASLR and DEP," \
       "and $(grep -c '' <<<"$imports") imports, all in win/imports.txt"
}

# The tarball's program runs on any x86-64 Linux: a static PIE (its
# addresses are still randomised) that needs no loader and no library.
staticpie() {
  readelf -h "$1" | grep -q 'Type: *DYN' || fail "$1 is not position independent"
  ! readelf -l "$1" | grep -q 'INTERP' || fail "$1 needs a program loader"
  ! readelf -d "$1" | grep -q '(NEEDED)' || fail "$1 needs a shared library"
}

# ... and so in a root that holds nothing but the program and a sample
# game: the report and a patch of all 13 missions.
emptyroot() {
  local top=$tmp/empty asroot=() records patched
  python3 tools/misgen.py install "$top/game" >/dev/null
  cp "$1" "$top/game/tools/orbset"
  [ "$(id -u)" = 0 ] || asroot=(unshare -r)
  inroot() {
    "${asroot[@]}" python3 -c 'import os, sys
os.chroot(sys.argv[1]); os.chdir("/game/tools"); os.execv("./orbset", ["orbset"] + sys.argv[2:])' \
      "$top" "$@"
  }
  records=$(inroot misinfo | grep -c '^CELOBJVAR') || fail "no report in an empty root"
  patched=$(printf 'y\n%.0s' {1..13} | inroot | grep -c ' patched\.$') || fail "no patch in an empty root"
  [ "$records" = 13 ] && [ "$patched" = 13 ] || fail "an empty root: $records records, $patched patched"
  echo "tarball: bin/orbset in a root without a C library: 13 records shown, 13 missions patched"
}

echo "== the programs in the packages"
unpacked=$tmp/unpacked
mkdir "$unpacked"
tar -xzf build/default/packages/orbset-*-Linux.tar.gz -C "$unpacked"
static=$(echo "$unpacked"/orbset-*-Linux/bin/orbset)
elfstripped "$static"
staticpie "$static"
echo "tarball: bin/orbset is stripped, a static PIE, and needs no shared library"
emptyroot "$static"
if [[ " ${folders[*]} " == *" windows "* ]]; then
  (cd "$unpacked" && cmake -E tar xf "$here"/build/windows/packages/orbset-*-win32.zip)
  exe=$(echo "$unpacked"/orbset-*-win32/orbset.exe)
  objdump=i686-w64-mingw32-objdump
  if $objdump -h "$exe" | grep -q ' \.debug'; then fail "$exe has debug sections"; fi
  $objdump -t "$exe" | grep -q '^no symbols$' || fail "$exe has a symbol table"
  # The PE header's time stamp: 4 bytes, 8 past the header's offset at 0x3c.
  pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
  stamp=$(od -An -tu4 -j$((pe + 8)) -N4 "$exe" | tr -d ' ')
  [ "$stamp" = 0 ] || fail "$exe carries the time stamp $stamp"
  echo "zip: orbset.exe has no debug sections, no symbols and no time stamp"
  windowsfloor "$exe"
fi

deb=$(echo build/default/packages/*.deb)
[ -f "$deb" ] || fail "no .deb in build/default/packages"
echo "== lintian ${deb##*/}"
lintian --fail-on error "$deb" || fail "lintian reports an error"
echo "(lintian: no error)"

echo "== the .deb, unpacked"
root=$tmp/root
dpkg -x "$deb" "$root"
elfstripped "$root/usr/bin/orbset"
readelf -d "$root/usr/bin/orbset" | grep -q '(NEEDED).*libc\.so' ||
  fail "the .deb's orbset is not linked to the system's C library"
# Debian 12's C start files carry no control-flow marks, so no program
# linked with them has that protection: every other check must hold.
hardening-check --nocfprotection "$root/usr/bin/orbset" || fail "the .deb's orbset is not hardened"
status=0
"$root/usr/bin/orbset" -h >"$tmp/help" || status=$?
# The help text ends the program with status 1.
[ "$status" = 1 ] || fail "orbset -h ended with status $status"
grep -q '^Usage: .*orbset \[command\] \[options\]$' "$tmp/help" || fail "orbset -h shows no usage line"
echo "usr/bin/orbset -h: $(grep -c '' "$tmp/help") lines of help, status 1"
page=$root/usr/share/man/man1/orbset.1.gz
[ -f "$page" ] || fail "no man page at /usr/share/man/man1/orbset.1.gz"
warnings=$(gzip -dc "$page" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || fail "the man page renders with warnings: $warnings"
echo "usr/share/man/man1/orbset.1.gz: renders without a warning"
[ -f "$root/usr/share/doc/orbset/player-guide.txt" ] || fail "no guide in the .deb"
echo "checkrelease: all good"
