#!/bin/bash
# Opening and enumeration speed of the library (library_bench) on each key
# set, in both layouts, and on a dictionary of about 100 MB (the first 6.5
# million random keys).
# Usage: TARVO_BIN=<build dir> benchmarks/library.sh DATA_DIR > results.md
#   the build dir must be configured with -DTARVO_BUILD_BENCHMARKS=ON.
set -euo pipefail
if [ $# -ne 1 ] || [ ! -d "$1" ] || [ -z "${TARVO_BIN:-}" ]; then
    echo "usage: TARVO_BIN=<build dir> benchmarks/library.sh DATA_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
data=$(cd "$1" && pwd)
work=${WORK_DIR:-$data/library-out}
mkdir -p "$work"
build=$TARVO_BIN/builder/dict_build
bench=$TARVO_BIN/benchmarks/library_bench
export LC_ALL=C

"$here/join_lemmas.sh" "$data/polish_lemmas.txt" > "$work/polish_lemmas_joined.txt"
head -n 6500000 "$data/random10m.txt" > "$work/random6500k.txt"

echo "# Library: opening and enumeration, $(date -u +%Y-%m-%d)"
echo
echo "Command: \`TARVO_BIN=<build dir> benchmarks/library.sh DATA_DIR\`. Best of 5 rounds;"
echo "opening maps the file and runs every check of FORMAT.md (checksum included);"
echo "enumeration is forEachWord from the root with a callback that only counts."
echo
echo "| Key set | Layout | File bytes | Words | Open s | Enumerate s | Million words/s |"
echo "| --- | --- | ---: | ---: | ---: | ---: | ---: |"
row() {  # SET LAYOUT KEYS [dict_build options]
    local set=$1 layout=$2 keys=$3
    shift 3
    local dict=$work/${set%% *}.$layout.dict
    "$build" "$@" -L "$layout" -i "$keys" -o "$dict" 2>/dev/null
    "$bench" "$dict" 5 | awk -v set="$set" -v layout="$layout" '
        { for (i = 1; i <= NF; i++) { if ($i == "open") o = $(i+1); if ($i == "enumerate") e = $(i+1);
          if ($i == "bytes,") b = $(i-1); if ($i == "words;") w = $(i-1); if ($i == "million") m = $(i-1) } }
        END { printf "| %s | %s | %s | %s | %s | %s | %s |\n", set, layout, b, w, o, e, m }'
    rm -f "$dict"
}
for layout in compact sparse; do
    row words $layout "$data/words.txt"
    row polish_forms $layout "$data/polish_forms.txt"
    row "polish_lemmas (-a, lemmas joined)" $layout "$work/polish_lemmas_joined.txt" -a
    row random10m $layout "$data/random10m.txt"
done
row random6500k compact "$work/random6500k.txt"
rm -f "$work/polish_lemmas_joined.txt" "$work/random6500k.txt"
