#!/usr/bin/env bash
# Times orbset's record scan against ripgrep, grep and plain reading, on
# the same files in the same run:
#
#   bench/run.sh [PASSES]      (default 5)
#
# Three workloads: a game folder of 16 mission files of about 4 MiB made
# from the fan-made missions (`misinfo` over the folder), and 512 MiB of
# real and of adversarial data (`misinfo -f`). A pass is one hyperfine run
# per workload with all of its commands, a few runs each; passes go round
# the workloads, so a change in the machine's load falls on every command
# alike. Medians are over the runs of all passes.
#
# Builds a release orbset and its static twin (the tarball's program) in
# build/bench-release (or takes $ORBSET and $ORBSET_STATIC). A second
# build is timed in the same runs as "before": $ORBSET_BEFORE, or the
# revision $ORBSET_BEFORE_REV (say main) built in build/bench-before.
# Writes its inputs to build/bench-data, once: the folder, 512 MiB of the
# fan-made mission files repeated ($ORBSET_REAL_MISSIONS, default
# ../shared/real-missions), 512 MiB of adversarial bytes, and the first 64
# MiB of each. Needs rg, grep, dd, hyperfine, /usr/bin/time and python3.
# Not a test: the numbers depend on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
passes=${1:-5}
real_missions=${ORBSET_REAL_MISSIONS:-$src/../shared/real-missions}
data=$src/build/bench-data
folder=$data/folder
mib=$((1024 * 1024))

release() {  # source folder, build folder, targets
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORBSET_TESTS=OFF >/dev/null
  cmake --build "$2" --target "${@:3}" >/dev/null
}
static=${ORBSET_STATIC:-}
if [ -z "${ORBSET:-}" ]; then
  release . build/bench-release orbset orbset-static
  ORBSET=$src/build/bench-release/orbset
  static=$src/build/bench-release/orbset-static
fi
before=${ORBSET_BEFORE:-}
if [ -z "$before" ] && [ -n "${ORBSET_BEFORE_REV:-}" ]; then
  rm -rf build/bench-before-src build/bench-before
  mkdir -p build/bench-before-src
  git archive "$ORBSET_BEFORE_REV" | tar -x -C build/bench-before-src
  release build/bench-before-src build/bench-before orbset
  before=$src/build/bench-before/orbset
fi

# orbset works only inside a game folder.
mkdir -p "$data" "$folder"
: > "$data/thief2.exe"
: > "$folder/thief2.exe"
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
if [ ! -f "$folder/miss16.mis" ]; then
  echo "== writing $folder"
  python3 bench/gendata.py folder 16 $((4 * mib)) "$folder" "$real_missions"/*.mis
fi

# The scan must find what grep finds (the tag cannot overlap itself, so
# grep -o counts every occurrence).
count_check() {  # what, orbset's arguments..., then -- and grep's files
  local what=$1 args=() ours theirs
  shift
  while [ "$1" != -- ]; do args+=("$1"); shift; done
  shift
  ours=$("$ORBSET" misinfo -v 2 "${args[@]}" | grep -c 'Found CELOBJVAR' || true)
  theirs=$(cat "$@" | grep -o -a -F CELOBJVAR | wc -l)
  echo "== $what: orbset finds $ours tags, grep $theirs"
  [ "$ours" = "$theirs" ] || { echo "tag counts differ" >&2; exit 1; }
}
cd "$data"
count_check real64.mis -f real64.mis -- real64.mis
count_check adv64.mis -f adv64.mis -- adv64.mis
(cd "$folder" && count_check folder -- miss*.mis)

# One hyperfine run of a workload: name, runs, then name/command pairs.
# Every command writes to a pipe: rg and grep stop at the first match when
# their output is /dev/null.
results=$data/results
rm -rf "$results"
mkdir -p "$results"
hyper() {
  local workload=$1 runs=$2 pass=$3 args=()
  shift 3
  while [ $# -gt 0 ]; do
    # Leave out a program that is not there ("before", "static": an
    # empty name in front of its arguments).
    [[ $2 == " "* ]] || args+=(-n "$1" "$2")
    shift 2
  done
  hyperfine --style none --runs "$runs" --warmup 1 --output pipe \
    --export-json "$results/$workload.$pass.json" "${args[@]}" \
    >/dev/null 2>>"$results/hyperfine.log"
}
echo "== machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1)," \
     "$(uname -sr); load: $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "== $passes passes"
for pass in $(seq "$passes"); do
  (cd "$folder" && hyper folder 10 "$pass" \
    orbset "$ORBSET misinfo" \
    static "$static misinfo" \
    before "$before misinfo" \
    rg "rg -c -F -a CELOBJVAR miss*.mis" \
    cat "cat miss*.mis > /dev/null")
  for f in real512.mis adv512.mis; do
    hyper "$f" 3 "$pass" \
      orbset "$ORBSET misinfo -f $f" \
      static "$static misinfo -f $f" \
      before "$before misinfo -f $f" \
      rg "rg -c -F -a CELOBJVAR $f" \
      grep "grep -c -F -a CELOBJVAR $f" \
      cat "cat $f > /dev/null" \
      dd "dd if=$f of=/dev/null bs=1M status=none"
  done
  echo "   pass $pass done, load $(cut -d ' ' -f 1-3 /proc/loadavg)"
done
echo "== load after: $(cut -d ' ' -f 1-3 /proc/loadavg)"

python3 - "$results" "$(cat "$folder"/miss*.mis | wc -c)" "$(stat -c %s real512.mis)" \
  "$(stat -c %s adv512.mis)" <<'PY'
import glob, json, statistics, sys
out, sizes = sys.argv[1], sys.argv[2:]
names = ("before", "orbset", "static", "rg", "grep", "cat", "dd")
workloads = (("folder", "16 files of about 4 MiB, misinfo"),
             ("real512.mis", "512 MiB real missions, misinfo -f"),
             ("adv512.mis", "512 MiB adversarial, misinfo -f"))
medians = {}
for (key, label), size in zip(workloads, sizes):
    times = {}
    for path in sorted(glob.glob("%s/%s.*.json" % (out, key))):
        for r in json.load(open(path))["results"]:
            times.setdefault(r["command"], []).extend(r["times"])
    medians[key] = {n: statistics.median(t) for n, t in times.items()}
    mibs = int(size) / 2**20
    print("\n%s (%.0f MiB): median of %d runs" % (label, mibs, len(times["orbset"])))
    print("| command | median ms | MiB/s |")
    print("|---|---:|---:|")
    for n in names:
        if n in medians[key]:
            m = medians[key][n]
            print("| %s | %.1f | %.0f |" % (n, m * 1e3, mibs / m))

def ratio(m, a, b):
    return "%.2f" % (m[a] / m[b]) if a in m and b in m else "-"

ratios = (("orbset", "before"), ("static", "before"), ("orbset", "rg"), ("orbset", "cat"),
          ("before", "cat"))
print("\n| workload | " + " | ".join(n + " ms" for n in names) + " | " +
      " | ".join("%s/%s" % r for r in ratios) + " |")
print("|---|" + "---:|" * (len(names) + len(ratios)))
for key, label in workloads:
    m = medians[key]
    cells = ["%.1f" % (m[n] * 1e3) if n in m else "-" for n in names]
    cells += [ratio(m, a, b) for a, b in ratios]
    print("| %s | %s |" % (label, " | ".join(cells)))
PY

echo
echo "| file | orbset peak RSS |${static:+ static peak RSS |}${before:+ before peak RSS |}"
echo "|---|---:|${static:+---:|}${before:+---:|}"
peak() {  # program, arguments...
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'
}
peaks() {  # arguments: the cells of each program run with them
  echo -n " $(peak "$ORBSET" "$@") KiB |"
  [ -z "$static" ] || echo -n " $(peak "$static" "$@") KiB |"
  [ -z "$before" ] || echo -n " $(peak "$before" "$@") KiB |"
  echo
}
for f in real64.mis real512.mis adv64.mis adv512.mis; do
  echo "| $f |$(peaks misinfo -f $f)"
done
cd "$folder"
echo "| folder |$(peaks misinfo)"
