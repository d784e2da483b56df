#!/bin/bash
# Runs lookup_bench on each key set: the peers, and our library on a compact
# and a sparse dictionary that dict_build makes from the same keys.
# Usage: TARVO_BIN=<build dir> benchmarks/lookups.sh DATA_DIR [SET...] > results.md
#   the build dir must be configured with -DTARVO_BUILD_BENCHMARKS=ON and have
#   the targets dict_build and lookup_bench built; SETs default to all three.
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ] || [ -z "${TARVO_BIN:-}" ]; then
    echo "usage: TARVO_BIN=<build dir> benchmarks/lookups.sh DATA_DIR [SET...]" >&2
    exit 2
fi
data=$(cd "$1" && pwd)
shift
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(words polish_forms random10m)
work=${WORK_DIR:-$data/lookups-out}
mkdir -p "$work"

echo "# Lookups, $(date -u +%Y-%m-%d)"
echo
echo "Command: \`TARVO_BIN=<build dir> benchmarks/lookups.sh DATA_DIR\`."
for set in "${sets[@]}"; do
    keys=$data/$set.txt
    "$TARVO_BIN/builder/dict_build" -i "$keys" -o "$work/$set.compact.dict" 2>/dev/null
    "$TARVO_BIN/builder/dict_build" -L sparse -i "$keys" -o "$work/$set.sparse.dict" 2>/dev/null
    echo
    echo "## $set"
    echo
    "$TARVO_BIN/benchmarks/lookup_bench" "$keys" "$work/$set.compact.dict" "$work/$set.sparse.dict" |
        sed "s|$data/||g"
    rm -f "$work/$set.compact.dict" "$work/$set.sparse.dict"
done
