#!/bin/bash
# Draws docs/performance.png: word listing throughput and random-order lookup
# time against dictionary size, ours beside marisa-trie, dawgdic and darts,
# on evenly spaced subsets of the Polish word forms.
#
# Usage: TARVO_BIN=<build dir> benchmarks/plot.sh [DATA_DIR]
#   the build dir is configured with -DTARVO_BUILD_BENCHMARKS=ON and has
#   dict_build, dict_export and lookup_bench built; DATA_DIR (default
#   benchmarks/data) is made by benchmarks/make_datasets.sh when it lacks
#   polish_forms.txt.
#   SIZES  word counts of the subsets (default: 10000 50000 250000 1000000 all)
#   RUNS   listing runs per command, the best time counts (default 5)
# Writes benchmarks/results/plot-DATE.tsv (the figures) and the PNG; installs
# gnuplot-nox when gnuplot is missing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
if [ -z "${TARVO_BIN:-}" ] || [ ! -x "$TARVO_BIN/benchmarks/lookup_bench" ]; then
    echo "usage: TARVO_BIN=<build dir with lookup_bench> benchmarks/plot.sh [DATA_DIR]" >&2
    exit 2
fi
bin=$(cd "$TARVO_BIN" && pwd)
data=${1:-$here/data}
runs=${RUNS:-5}
export LC_ALL=C

[ -f "$data/polish_forms.txt" ] || "$here/make_datasets.sh" "$data"
if ! command -v gnuplot > /dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get install -y -qq gnuplot-nox > /dev/null
fi

work=$data/plot-out
mkdir -p "$work"
c++ -O2 -std=c++17 -o "$work/dawgdic_list" "$here/dawgdic_list.cpp"

keys=$data/polish_forms.txt
total=$(wc -l < "$keys")
read -r -a sizes <<< "${SIZES:-10000 50000 250000 1000000 $total}"

note() { echo "plot: $*" >&2; }

# Exactly N lines of the key file, evenly spaced, so the subset stays sorted.
subset() {
    awk -v n="$1" -v total="$total" 'int((NR - 1) * n / total) != int(NR * n / total)' "$keys"
}

# Best wall time in seconds of RUNS runs of a command, its output discarded.
best_seconds() {
    local best="" start end elapsed
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s%N)
        elapsed=$((end - start))
        if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
    done
    awk -v ns="$best" 'BEGIN { printf "%.6f", ns / 1e9 }'
}

# Million words a second for N words listed in S seconds.
mwords() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.2f", n / s / 1e6 }'; }

# The random-order ns/lookup column of lookup_bench's row that starts with NAME.
lookup_ns() {
    awk -F'|' -v name="$2" 'index($2, " " name) == 1 { gsub(/ /, "", $6); print $6; exit }' "$1"
}

day=$(date -u +%Y-%m-%d)
table=$here/results/plot-$day.tsv
{
    echo "# $day, on a machine of 2 cores shared with other work (load average at the start:"
    echo "#   $(cut -d' ' -f1-3 /proc/loadavg)): compare within this table only."
    echo "# Polish word forms (benchmarks/data/polish_forms.txt), evenly spaced subsets."
    echo "# Listing: M words/s, best of $runs wall times of the whole process, output to /dev/null"
    echo "#   (dict_export -d D; marisa-dump D; dawgdic_list D of benchmarks/dawgdic_list.cpp)."
    echo "# Lookup: ns a lookup of up to 100,000 present words in random order (lookup_bench);"
    echo "#   ours through tarvo_walk on tarvo_open(path, 0)."
    printf '#words\texport_tarvo\texport_marisa\texport_dawgdic\tlookup_tarvo_compact\tlookup_tarvo_sparse\tlookup_marisa\tlookup_dawgdic\tlookup_darts\n'
} > "$table"

for n in "${sizes[@]}"; do
    note "$n words"
    part=$work/keys-$n.txt
    subset "$n" > "$part"
    "$bin/builder/dict_build" -i "$part" -o "$work/compact.dict" 2> /dev/null
    "$bin/builder/dict_build" -L sparse -i "$part" -o "$work/sparse.dict" 2> /dev/null
    marisa-build -o "$work/marisa.dict" "$part" 2> /dev/null
    dawgdic-build -g "$part" "$work/dawgdic.dict" > /dev/null 2>&1

    tarvo_s=$(best_seconds "$bin/export/dict_export" -d "$work/compact.dict")
    marisa_s=$(best_seconds marisa-dump "$work/marisa.dict")
    dawgdic_s=$(best_seconds "$work/dawgdic_list" "$work/dawgdic.dict")

    "$bin/benchmarks/lookup_bench" "$part" "$work/compact.dict" "$work/sparse.dict" > "$work/lookups-$n.md"
    look=$work/lookups-$n.md
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$n" \
        "$(mwords "$n" "$tarvo_s")" "$(mwords "$n" "$marisa_s")" "$(mwords "$n" "$dawgdic_s")" \
        "$(lookup_ns "$look" "tarvo compact")" "$(lookup_ns "$look" "tarvo sparse")" \
        "$(lookup_ns "$look" "marisa-trie")" "$(lookup_ns "$look" "dawgdic")" \
        "$(lookup_ns "$look" "darts")" >> "$table"
    rm -f "$part" "$work"/*.dict
done

gnuplot <<GNUPLOT
set terminal pngcairo size 1200,520 font "DejaVu Sans,11" noenhanced
set output "$root/docs/performance.png"
set multiplot layout 1,2 title "Polish word forms, $day (2 shared cores)"
set logscale x
set xrange [8000:5000000]
set format x "%.0s%c"
set xlabel "words in the dictionary"
set grid
set key top left
set title "Listing every word (higher is better)"
set ylabel "million words per second"
set yrange [0:*]
plot "$table" using 1:2 with linespoints lw 2 title "dict_export", \
     "" using 1:3 with linespoints lw 2 title "marisa-dump", \
     "" using 1:4 with linespoints lw 2 title "dawgdic listing"
set title "Lookup, present words in random order (lower is better)"
set ylabel "ns per lookup"
set logscale y
set yrange [*:*]
plot "$table" using 1:5 with linespoints lw 2 title "tarvo compact", \
     "" using 1:6 with linespoints lw 2 title "tarvo sparse", \
     "" using 1:7 with linespoints lw 2 title "marisa-trie", \
     "" using 1:8 with linespoints lw 2 title "dawgdic", \
     "" using 1:9 with linespoints lw 2 title "darts 0.32"
unset multiplot
GNUPLOT
note "wrote $table and docs/performance.png"
