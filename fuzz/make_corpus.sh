#!/usr/bin/env bash
# Regenerates the seeds of the fuzz corpus: the dictionaries of
# fuzz/corpus/dict_open/ with dict_build (both layouts and byte orders, with
# annotation tables and numbers only, from the sample words and a few tiny
# lists), and the seed_* inputs of the option scanner and the round trip.
#   fuzz/make_corpus.sh BUILD_DIR     (BUILD_DIR holds builder/dict_build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: fuzz/make_corpus.sh BUILD_DIR}"
dict_build="$build/builder/dict_build"
out="$root/fuzz/corpus/dict_open"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
[ -x "$dict_build" ] || { echo "no $dict_build: build dict_build first" >&2; exit 1; }

# Lists of WORD!ANNOTATION (raw) or WORD!NUMBER.
head -n 300 "$root/samples/words.txt" > "$work/sample"
printf 'cat!N\ncats!NNS\ndog!N\ndogs!NNS\n' > "$work/tiny"
printf '!empty\na!x\nab!x\nabc!y\nb!\n' > "$work/empty_word"
printf 'one!1\ntwo!2\nthree!3\nmillion!1000000\nmax!4294967295\n' > "$work/numbers"
printf 'a\nb\nc\n' > "$work/plain"
: > "$work/none"
# Every byte as a label: the sparse layout then needs two-byte checks.
for i in $(seq 0 255); do printf '%02X!%02X\n' "$i" "$((i % 7))"; done > "$work/all_bytes"

rm -f "$out"/*.dict
mkdir -p "$out"
build_one() {  # NAME LIST OPTIONS...
  local name="$1" list="$2"
  shift 2
  "$dict_build" -i "$work/$list" -o "$out/$name.dict" "$@" 2>"$work/log" ||
    { cat "$work/log" >&2; exit 1; }
}
"$dict_build" -a -i "$root/samples/words.txt" -o "$out/sample_full.dict" 2>"$work/log" ||
  { cat "$work/log" >&2; exit 1; }
for layout in compact sparse; do
  for order in little big; do
    tag="${layout}_$order"
    build_one "sample_$tag" sample -a -L "$layout" -E "$order"
    build_one "tiny_$tag" tiny -a -L "$layout" -E "$order"
    build_one "empty_word_$tag" empty_word -a -L "$layout" -E "$order"
    build_one "numbers_$tag" numbers -N -L "$layout" -E "$order"
    build_one "plain_$tag" plain -L "$layout" -E "$order"
    build_one "none_$tag" none -L "$layout" -E "$order"
    build_one "all_bytes_$tag" all_bytes -W -A -L "$layout" -E "$order"
  done
done

# Argument vectors for the option scanner: a control byte (bit 0 sets
# POSIXLY_CORRECT, bit 1 flips it between calls), the option string, then
# the arguments, NUL-separated.
scanner="$root/fuzz/corpus/option_scanner"
mkdir -p "$scanner"
rm -f "$scanner"/seed_*
scanner_seed() {  # NAME CONTROL OPTSTRING ARGUMENT...
  local name="$1" control="$2"
  shift 2
  {
    printf "\\x$control"
    printf '%s' "$1"
    shift
    for argument in "$@"; do printf '\0%s' "$argument"; done
  } >"$scanner/seed_$name"
}
scanner_seed dict_export 00 "d:o:s:t:e:wWaAnNhbv" dict_export -d sample.dict -a -s '|' -t annots -eb64 out
scanner_seed dict_export_permuted 00 "d:o:s:t:e:wWaAnNhbv" dict_export extra -Wa -o out.txt more -- -N
scanner_seed dict_build 00 "o:i:s:e:T:L:E:wWaANhv" dict_build -o new.dict -i words.txt -s '' -L sparse -E big -N
scanner_seed dict_build_missing 00 "o:i:s:e:T:L:E:wWaANhv" dict_build -a -x -o
scanner_seed colon_stop 00 ":+ab:c" prog -a -b x -c y -z -b
scanner_seed inorder_optional 00 "-a::b:W;" prog one -aval -a two -Wlong -b
scanner_seed posixly 01 "ab:" prog -a file -b x
scanner_seed switching 02 "ab:c::" prog x -ab y -c -cz -- -a
scanner_seed high_bytes 00 "$(printf 'a\xe9:\x01')" prog "$(printf -- '-\xe9x')" -a "$(printf -- '-\x01')"

# Word lists for the round trip: a control byte (bit 0 sparse, bit 1
# big-endian, bit 2 numbers only), then per word a length byte, the word, a
# length byte and the annotation.
trip="$root/fuzz/corpus/round_trip"
mkdir -p "$trip"
rm -f "$trip"/seed_*
field() { printf "\\x$(printf %02x "${#1}")%s" "$1"; }
export LC_ALL=C  # ${#...} counts bytes
{
  head -n 120 "$root/samples/words.txt" | while IFS='!' read -r word annot; do
    field "$word"
    field "$annot"
  done
} >"$work/trip_sample"
{
  field ""; field "empty"; field "a"; field "x"; field "ab"; field "x"; field "abc"; field "y"
  printf '\x01\x00\x00'; printf '\x02\xff\xff\x02\x00\x01'
  field "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"; field "long"
} >"$work/trip_tricky"
for control in 0 1 2 3 4 5 6 7; do
  tag="$([ $((control & 1)) -eq 1 ] && echo sparse || echo compact)_$([ $((control & 2)) -eq 2 ] && echo big || echo little)"
  [ $((control & 4)) -eq 4 ] && tag="${tag}_numbers"
  for list in sample tricky; do
    { printf "\\x0$control"; cat "$work/trip_$list"; } >"$trip/seed_${list}_$tag"
  done
done
{
  printf '\x01'
  for i in $(seq 0 255); do printf "\\x01\\x$(printf %02x "$i")\\x01\\x$(printf %02x $((i % 5)))"; done
} >"$trip/seed_all_bytes_sparse"
printf '\x07\x03one\x01\x01\x03max\x04\xff\xff\xff\xff\x03mid\x03\x00\x00\x01\x04zero\x00' >"$trip/seed_numbers_sparse_big"
du -sh "$out" "$scanner" "$trip"
