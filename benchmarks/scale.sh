#!/bin/bash
# Builds and lists one very large dictionary: COUNT distinct random keys
# (gen_random_keys.c, fixed seed, MIN to MAX lowercase letters), compiled by
# dict_build once from sorted input and once from the same keys unsorted (the
# generator's own random order), then listed by dict_export to /dev/null and
# to a file. Prints wall time and peak memory of each step as a Markdown table.
#
# Usage: benchmarks/scale.sh [DATA_DIR] > results.md     (default benchmarks/data)
#   TARVO_BIN  build directory holding builder/dict_build and export/dict_export
#              (default: build)
#   COUNT      number of keys (default 100000000)
#   MIN, MAX   key lengths (default 6 and 14)
#   MEMORY     dict_build -M for the unsorted build, in MiB (default: its own)
#   KEEP       1 keeps the generated keys, dictionaries and listing afterwards
#
# Work files go to DATA_DIR/scale-out, the unsorted build's temporary runs too
# (TMPDIR). About 12 GB of disk are needed at the peak.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
data=${1:-$here/data}
mkdir -p "$data"
data=$(cd "$data" && pwd)
bin=${TARVO_BIN:-build}
count=${COUNT:-100000000}
min=${MIN:-6}
max=${MAX:-14}
work=$data/scale-out
export LC_ALL=C
build=$bin/builder/dict_build
export_tool=$bin/export/dict_export
for t in "$build" "$export_tool"; do
    [ -x "$t" ] || { echo "scale: $t is not built (set TARVO_BIN)" >&2; exit 1; }
done

if [ ! -x /usr/bin/time ]; then
    sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq time >/dev/null
fi

mkdir -p "$work"
need_kb=$((count / 1000000 * 120 * 1024))  # about 120 MB a million keys at the peak
free_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
echo "disk before the run:" >&2
df -h "$work" >&2
if [ "$free_kb" -lt "$need_kb" ]; then
    echo "scale: $((free_kb / 1024)) MiB free in $work, about $((need_kb / 1024)) MiB needed" >&2
    exit 1
fi

shuffled=$work/keys_shuffled.txt
sorted=$work/keys_sorted.txt
rows=()

# Runs a command under /usr/bin/time -v and adds a row: name, wall seconds,
# peak resident memory. The command's standard output goes to $out.
measure() {
    local name=$1 out=$2
    shift 2
    local log=$work/time.log
    if ! /usr/bin/time -v -o "$log" "$@" > "$out" 2> "$work/stderr.log"; then
        echo "scale: '$name' failed:" >&2
        cat "$work/stderr.log" "$log" >&2
        rows+=("| $name | failed | | |")
        return 1
    fi
    local wall rss
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0;
                        for (i = 1; i <= n; ++i) s = s * 60 + p[i]; printf "%.2f", s }' "$log")
    rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$log")
    rows+=("| $name | $wall s | $rss MiB | $(tail -n 1 "$work/stderr.log" | sed 's/|/\\|/g') |")
    echo "$name: $wall s, $rss MiB" >&2
}

cc -O2 -std=c99 -o "$work/gen_random_keys" "$here/gen_random_keys.c"
measure "generate $count keys" "$shuffled" "$work/gen_random_keys" "$count" 20240229 "$min" "$max"
measure "sort them (sort -S 3G --parallel=2)" "$sorted" sort -S 3G --parallel=2 -T "$work" "$shuffled"

measure "dict_build, sorted input" /dev/null "$build" -i "$sorted" -o "$work/sorted.dict"
memory=()
[ -n "${MEMORY:-}" ] && memory=(-M "$MEMORY")
measure "dict_build, unsorted input" /dev/null env TMPDIR="$work" "$build" "${memory[@]}" -i "$shuffled" -o "$work/shuffled.dict"
if cmp -s "$work/sorted.dict" "$work/shuffled.dict"; then same="the same bytes"; else same="DIFFERENT bytes"; fi
echo "sorted and unsorted builds: $same" >&2
rm -f "$shuffled"

measure "dict_export -d D > /dev/null" /dev/null "$export_tool" -d "$work/sorted.dict"
measure "dict_export -d D > file" "$work/listing.txt" "$export_tool" -d "$work/sorted.dict"
if cmp -s "$work/listing.txt" "$sorted"; then listed="the sorted keys exactly"; else listed="NOT the sorted keys"; fi
echo "listing: $listed" >&2

dict_bytes=$(stat -c %s "$work/sorted.dict")
echo "## Scale: $count random keys of $min to $max letters"
echo
echo "$(date -u +%F), $(nproc) cores, $(free -g | awk '/Mem:/ { print $2 }') GiB; dictionary $dict_bytes bytes;"
echo "unsorted build gives $same as the sorted one; the listing is $listed."
echo
echo "| Step | Wall | Peak memory | Last line on standard error |"
echo "| --- | ---: | ---: | --- |"
printf '%s\n' "${rows[@]}"

if [ "${KEEP:-0}" != 1 ]; then
    rm -f "$sorted" "$work/listing.txt" "$work/sorted.dict" "$work/shuffled.dict" "$work/gen_random_keys"
fi
rm -f "$work/time.log" "$work/stderr.log"
