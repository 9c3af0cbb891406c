#!/usr/bin/env bash
# Line and branch coverage of src/ by the unit and end-to-end tests
# together: builds the coverage preset (g++ --coverage, build/coverage),
# runs every test, and prints gcovr's summary and the lines never run.
#
#   tools/coverage.sh [MIN_LINE_PERCENT]    (default 95; below it, status 1)
set -euo pipefail
cd "$(dirname "$0")/.."
min=${1:-95}
build=build/coverage

cmake --preset coverage >/dev/null
cmake --build --preset coverage
# Counts from earlier runs would be added to this one's.
find "$build" -name '*.gcda' -delete
ctest --preset coverage

# The data is looked for in the build folder alone: from the source root
# the search would follow links out of the tree (Wine's prefix links z: to
# /) and take in other builds' counts.
# Branches that only exceptions or the compiler's own checks take are not
# the program's; they are left out of the branch count.
gcovr --root . --object-directory "$build" --filter 'src/' \
      --exclude-directories "$build/CMakeFiles/[0-9.]+" \
      --exclude-throw-branches --exclude-unreachable-branches \
      --txt "$build/coverage.txt" --print-summary --fail-under-line "$min" \
      "$build" \
      || { echo "line coverage of src/ is below $min%" >&2; cat "$build/coverage.txt"; exit 1; }
echo "== lines of src/ that no test runs"
cat "$build/coverage.txt"
