#!/usr/bin/env bash
# Times orbset's record scan against ripgrep, grep and plain reading, on
# the same files in the same run:
#
#   bench/run.sh [ROUNDS]      (default 5 rounds per command, median shown)
#
# Builds a release orbset in build/bench-release (or takes $ORBSET), and
# writes its inputs to build/bench-data, once: 512 MiB of the fan-made
# mission files repeated ($ORBSET_REAL_MISSIONS, default ../shared/
# real-missions), 512 MiB of adversarial bytes, and the first 64 MiB of
# each. Needs rg, grep, hyperfine, /usr/bin/time and python3. Not a test:
# the numbers depend on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
rounds=${1:-5}
real_missions=${ORBSET_REAL_MISSIONS:-$src/../shared/real-missions}
data=$src/build/bench-data
mib=$((1024 * 1024))

if [ -z "${ORBSET:-}" ]; then
  cmake -S . -B build/bench-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DORBSET_TESTS=OFF >/dev/null
  cmake --build build/bench-release --target orbset >/dev/null
  ORBSET=$src/build/bench-release/orbset
fi

# orbset works only inside a game folder.
mkdir -p "$data"
: > "$data/thief2.exe"
make_file() {  # name size kind
  local out=$data/$1
  if [ ! -f "$out" ] || [ "$(stat -c %s "$out")" != "$2" ]; then
    echo "== writing $out"
    if [ "$3" = real ]; then
      python3 bench/gendata.py real "$2" "$out" "$real_missions"/*.mis
    else
      python3 bench/gendata.py adversarial "$2" "$out"
    fi
  fi
}
make_file real512.mis $((512 * mib)) real
make_file adv512.mis $((512 * mib)) adversarial
make_file real64.mis $((64 * mib)) real
make_file adv64.mis $((64 * mib)) adversarial

cd "$data"
# The scan must find what grep finds (the tag cannot overlap itself, so
# grep -o counts every occurrence).
for f in real64.mis adv64.mis; do
  ours=$("$ORBSET" misinfo -v 2 -f $f | grep -c 'Found CELOBJVAR' || true)
  theirs=$(grep -o -a -F CELOBJVAR $f | wc -l)
  echo "== $f: orbset finds $ours tags, grep $theirs"
  [ "$ours" = "$theirs" ] || { echo "tag counts differ" >&2; exit 1; }
done

# Every command writes to a pipe: grep stops at the first match when its
# output is /dev/null.
echo "== machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
for f in real512.mis adv512.mis; do
  hyperfine --style basic --runs "$rounds" --warmup 1 --output pipe \
    --export-json "$data/$f.json" \
    -n orbset "$ORBSET misinfo -f $f" \
    -n rg "rg -c -F -a CELOBJVAR $f" \
    -n grep "grep -c -F -a CELOBJVAR $f" \
    -n cat "cat $f > /dev/null" >/dev/null || true
  python3 - "$data/$f.json" "$f" "$(stat -c %s $f)" <<'PY'
import json, sys
res = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
size = int(sys.argv[3]) / 2**20
print("\n%s (%d MiB), median of %d rounds" % (sys.argv[2], size, len(res["orbset"]["times"])))
print("| command | median s | MiB/s |")
print("|---|---:|---:|")
for name in ("orbset", "rg", "grep", "cat"):
    m = res[name]["median"]
    print("| %s | %.3f | %.0f |" % (name, m, size / m))
o = res["orbset"]["median"]
print("orbset/rg = %.2f, orbset/cat = %.2f" % (o / res["rg"]["median"], o / res["cat"]["median"]))
PY
done

echo
echo "| file | orbset peak RSS |"
echo "|---|---:|"
for f in real64.mis real512.mis adv64.mis adv512.mis; do
  kb=$(/usr/bin/time -v "$ORBSET" misinfo -f $f 2>&1 >/dev/null |
       sed -n 's/.*Maximum resident set size (kbytes): //p')
  echo "| $f | $kb KiB |"
done
