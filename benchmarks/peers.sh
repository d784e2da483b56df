#!/bin/bash
# Builds and lists the benchmark key sets with the peer tools (dawgdic, marisa)
# and, when they are built, with dict_build and dict_export, side by side in
# one run, and prints the figures as Markdown tables on standard output.
#
# Usage: benchmarks/peers.sh DATA_DIR > results.md
#   DATA_DIR   made by benchmarks/make_datasets.sh
#   TARVO_BIN  build directory holding builder/dict_build and export/dict_export
#              (optional: their rows are left out when the binaries are missing)
#   RUNS       runs per command, the best time counts (default 3)
#   WORK_DIR   where dictionaries and listings go (default DATA_DIR/peers-out)
#   SETS       the key sets to measure (default: words polish_forms random10m
#              polish_lemmas)
#
# A command that fails gets a "failed" row and the run goes on.
# Times are wall seconds of the whole process; peak memory is the "Maximum
# resident set size" that /usr/bin/time -v reports for the fastest run.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: benchmarks/peers.sh DATA_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
data=$(cd "$1" && pwd)
runs=${RUNS:-3}
work=${WORK_DIR:-$data/peers-out}
tarvo_bin=${TARVO_BIN:-}
export LC_ALL=C
mkdir -p "$work/bin"

dict_build=$tarvo_bin/builder/dict_build
dict_export=$tarvo_bin/export/dict_export
have_build=no
have_export=no
[ -n "$tarvo_bin" ] && [ -x "$dict_build" ] && have_build=yes
[ -n "$tarvo_bin" ] && [ -x "$dict_export" ] && have_export=yes

note() { echo "peers: $*" >&2; }

compile_helpers() {
    c++ -O2 -std=c++17 -o "$work/bin/dawgdic_list" "$here/dawgdic_list.cpp"
    cc -O2 -std=c99 -o "$work/bin/write_bytes" "$here/write_bytes.c"
}

# ---- the measured commands: each sets the array `cmd` ----------------------
# Builders take KEYS OUT; listers take DICT and write to standard output.
cmd_dawgdic_build()       { cmd=(dawgdic-build "$1" "$2"); }
cmd_dawgdic_build_guide() { cmd=(dawgdic-build -g "$1" "$2"); }
cmd_marisa_build()        { cmd=(marisa-build -o "$2" "$1"); }
cmd_tarvo_build()         { cmd=("$dict_build" -i "$1" -o "$2"); }
cmd_tarvo_build_sparse()  { cmd=("$dict_build" -L sparse -i "$1" -o "$2"); }
cmd_tarvo_build_lemmas()  { cmd=("$dict_build" -a -i "$1" -o "$2"); }
cmd_tarvo_build_lemmas_sparse() { cmd=("$dict_build" -a -L sparse -i "$1" -o "$2"); }

cmd_dawgdic_list() { cmd=("$work/bin/dawgdic_list" "$1"); }
cmd_marisa_dump()  { cmd=(marisa-dump "$1"); }
# Extra arguments are dict_export options, e.g. -a or -t annots.
cmd_tarvo_export() { local dict=$1; shift; cmd=("$dict_export" "$@" -d "$dict"); }

# ---- timing ------------------------------------------------------------------
# timed OUT: runs "${cmd[@]}" RUNS times with standard output to OUT; sets
# best_s (seconds) and best_mib (peak resident MiB of the fastest run). When
# the command fails it sets failure (its last line of errors) and returns 1.
timed() {
    local out=$1 run start end ns kib best_ns=
    for ((run = 0; run < runs; run++)); do
        # Each run writes a new file: truncating the last run's listing would
        # charge the freeing of its pages, and ext4's flush on close of a
        # truncated file, to the next run.
        [ "$out" = /dev/null ] || rm -f "$out"
        start=$(date +%s%N)
        if ! /usr/bin/time -v -o "$work/time.txt" "${cmd[@]}" > "$out" 2> "$work/stderr.txt"; then
            failure=$(tail -1 "$work/stderr.txt")
            failure=$(shown "$failure")
            note "failed: $failure"
            return 1
        fi
        end=$(date +%s%N)
        ns=$((end - start))
        kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
        if [ -z "$best_ns" ] || [ "$ns" -lt "$best_ns" ]; then
            best_ns=$ns
            best_mib=$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')
        fi
    done
    best_s=$(awk -v n="$best_ns" 'BEGIN { printf "%.3f", n / 1e9 }')
}

megabytes() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.2f", b / 1e6 }'; }

# Shown in the tables instead of the full paths.
shown() {
    local text="$*"
    text=${text//"$work/bin/"/}
    text=${text//"$work/"/}
    text=${text//"$data/"/}
    text=${text//"$tarvo_bin/builder/"/}
    text=${text//"$tarvo_bin/export/"/}
    echo "$text"
}

build_rows=()
list_rows=()

# build_row SET KEYS OUT CMD_FUNCTION: one line of the build table.
build_row() {
    local set=$1 keys=$2 out=$3 fn=$4
    "$fn" "$keys" "$out"
    note "$set: $(shown "${cmd[@]}")"
    if ! timed /dev/null; then
        build_rows+=("| $set | \`$(shown "${cmd[@]}")\` | failed: ${failure//|/\\|} | | |")
        return
    fi
    build_rows+=("| $set | \`$(shown "${cmd[@]}")\` | $best_s | $best_mib | $(megabytes "$out") |")
}

# list_row SET DICT CMD_FUNCTION [OPTIONS]: one line of the listing table,
# timed to a file and to /dev/null.
list_row() {
    local set=$1 dict=$2 fn=$3 file_s file_mib lines words_per_s
    shift 3
    "$fn" "$dict" "$@"
    note "$set: $(shown "${cmd[@]}")"
    if [ ! -f "$dict" ]; then
        note "skipped, no $dict"
        return
    fi
    if ! timed "$work/listing.txt"; then
        list_rows+=("| $set | \`$(shown "${cmd[@]}")\` | failed: ${failure//|/\\|} | | | | | |")
        return
    fi
    file_s=$best_s
    file_mib=$best_mib
    lines=$(wc -l < "$work/listing.txt")
    timed /dev/null || return
    words_per_s=$(awk -v n="$lines" -v s="$best_s" 'BEGIN { printf "%.1f", (s > 0) ? n / s / 1e6 : 0 }')
    list_rows+=("| $set | \`$(shown "${cmd[@]}")\` | $file_s | $best_s | $words_per_s | $file_mib | $lines | $(megabytes "$work/listing.txt") |")
}

# best_write LISTING TARGET: fastest of RUNS single writes of LISTING's bytes.
best_write() {
    local run times=()
    for ((run = 0; run < runs; run++)); do
        [ "$2" = /dev/null ] || rm -f "$2"
        times+=("$("$work/bin/write_bytes" "$1" 2>&1 > "$2")")
    done
    printf '%s\n' "${times[@]}" | sort -g | head -1
}

# The floor for a listing: the same bytes written from memory in one go.
write_row() {
    local set=$1 listing=$2 to_file to_null
    to_file=$(best_write "$listing" "$work/copy.txt")
    to_null=$(best_write "$listing" /dev/null)
    rm -f "$work/copy.txt"
    list_rows+=("| $set | write the same bytes from memory | $to_file | $to_null | | | $(wc -l < "$listing") | $(megabytes "$listing") |")
}

# ---- the data sets --------------------------------------------------------------
key_set() {
    local set=$1 keys=$data/$1.txt out=$work/$1
    build_row "$set" "$keys" "$out.dawgdic" cmd_dawgdic_build
    build_row "$set" "$keys" "$out.guide.dawgdic" cmd_dawgdic_build_guide
    build_row "$set" "$keys" "$out.marisa" cmd_marisa_build
    if [ $have_build = yes ]; then
        build_row "$set" "$keys" "$out.dict" cmd_tarvo_build
        build_row "$set" "$keys" "$out.sparse.dict" cmd_tarvo_build_sparse
    fi
    list_row "$set" "$out.guide.dawgdic" cmd_dawgdic_list
    cp "$work/listing.txt" "$work/$set.listing"
    list_row "$set" "$out.marisa" cmd_marisa_dump
    if [ $have_build = yes ] && [ $have_export = yes ]; then
        list_row "$set" "$out.dict" cmd_tarvo_export
        list_row "$set" "$out.sparse.dict" cmd_tarvo_export
    fi
    write_row "$set" "$work/$set.listing"
    rm -f "$work/$set.listing" "$out".*
}

# The peers get "form TAB lemma" keys. marisa-build reads a number after a
# line's last tab as a weight, and lemmas such as "Nan" parse as one, so each
# line gets an explicit weight 1 (marisa's default; the trie is the same).
# dict_build gets each form once with its lemmas joined (join_lemmas.sh).
lemma_set() {
    local set=polish_lemmas lemmas=$data/polish_lemmas.txt out=$work/polish_lemmas
    local joined=$work/polish_lemmas_joined.txt
    "$here/join_lemmas.sh" "$lemmas" > "$joined"
    tr '!' '\t' < "$lemmas" | sort > "$work/form_tab_lemma.txt"
    sed 's/$/\t1/' "$work/form_tab_lemma.txt" > "$work/form_tab_lemma_weight.txt"
    build_row "$set (form TAB lemma)" "$work/form_tab_lemma.txt" "$out.dawgdic" cmd_dawgdic_build
    build_row "$set (form TAB lemma)" "$work/form_tab_lemma.txt" "$out.guide.dawgdic" cmd_dawgdic_build_guide
    build_row "$set (form TAB lemma)" "$work/form_tab_lemma_weight.txt" "$out.marisa" cmd_marisa_build
    if [ $have_build = yes ]; then
        build_row "$set (form!lemma|lemma)" "$joined" "$out.dict" cmd_tarvo_build_lemmas
        build_row "$set (form!lemma|lemma)" "$joined" "$out.sparse.dict" cmd_tarvo_build_lemmas_sparse
    fi
    list_row "$set (form TAB lemma)" "$out.guide.dawgdic" cmd_dawgdic_list
    list_row "$set (form TAB lemma)" "$out.marisa" cmd_marisa_dump
    if [ $have_build = yes ] && [ $have_export = yes ]; then
        local options
        for options in "" "-a" "-A" "-N" "-t annots"; do
            # shellcheck disable=SC2086 # the options are words on purpose
            list_row "$set (form!lemma|lemma)" "$out.dict" cmd_tarvo_export $options
        done
    fi
    write_row "$set (form TAB lemma)" "$work/form_tab_lemma.txt"
    rm -f "$work"/form_tab_lemma*.txt "$joined" "$out".*
}

print_tables() {
    local cpu
    cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
    echo "# Peer measurements, $(date -u +%Y-%m-%d)"
    echo
    echo "Machine: $(nproc) cores ($cpu), $(free -g | awk '/Mem:/ { print $2 }') GiB memory; $(uname -sr)."
    echo "Peers: $(dpkg-query -W -f '${Package} ${Version}, ' marisa dawgdic-tools | sed 's/, $//')."
    [ $have_build = yes ] && echo "Ours: \`dict_build\`/\`dict_export\` from \`$tarvo_bin\`."
    echo "Each time is the best of $runs runs (wall seconds of the whole process, including"
    echo "reading the input); peak memory is that run's maximum resident set size."
    echo "Command: \`benchmarks/peers.sh DATA_DIR\` over \`benchmarks/make_datasets.sh\`'s data."
    echo
    echo "| Key set | Keys |"
    echo "| --- | ---: |"
    local set
    for set in words polish_forms polish_lemmas random10m; do
        echo "| $set | $(wc -l < "$data/$set.txt") |"
    done
    echo
    echo "## Build from sorted keys"
    echo
    echo "\`dawgdic-build -g\` adds the guide that listing (completion) needs."
    echo
    echo "| Key set | Command | Wall s | Peak MiB | File MB |"
    echo "| --- | --- | ---: | ---: | ---: |"
    printf '%s\n' "${build_rows[@]}"
    echo
    echo "## Listing every key"
    echo
    echo "dawgdic lists depth first with its completer (\`dawgdic_list.cpp\`) from the \`-g\` file;"
    echo "\`marisa-dump\` lists in its trie's order. Mwords/s is for the /dev/null run."
    echo
    echo "| Key set | Command | To file s | To /dev/null s | Mwords/s | Peak MiB | Lines | Output MB |"
    echo "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: |"
    printf '%s\n' "${list_rows[@]}"
}

compile_helpers
for set in ${SETS:-words polish_forms random10m polish_lemmas}; do
    if [ "$set" = polish_lemmas ]; then
        lemma_set
    else
        key_set "$set"
    fi
done
rm -f "$work/time.txt" "$work/stderr.txt" "$work/listing.txt"
print_tables
