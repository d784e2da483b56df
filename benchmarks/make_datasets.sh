#!/bin/bash
# Makes the benchmark key sets from Debian's packages:
#   words.txt          wamerican-insane, byte-sorted and unique
#   polish_forms.txt   every word form of hunspell-pl (expanded with unmunch)
#   polish_lemmas.txt  "form!lemma" pairs, the lemma being the .dic entry
#                      that produced the form
#   random10m.txt      10 million distinct random keys of 5-20 lowercase
#                      letters from a fixed seed
# All files are UTF-8, sorted in byte order, one key a line.
# Usage: benchmarks/make_datasets.sh [DATA_DIR]   (default: benchmarks/data)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
data=${1:-$here/data}
mkdir -p "$data"
data=$(cd "$data" && pwd)
export LC_ALL=C
sort_opts=(-u -S 4G --parallel=2 -T "$data")

packages=(wamerican-insane hunspell-pl hunspell-tools marisa dawgdic-tools
          libmarisa-dev libdawgdic-dev darts)

install_packages() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    echo "installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

make_words() {
    sort "${sort_opts[@]}" /usr/share/dict/american-english-insane > "$data/words.txt"
}

# unmunch prints each entry's forms one after another but does not say where
# an entry ends, and a form of one entry may equal the next entry. So a marker
# word "@@LEMMA" (no flags: unmunch prints it as it is) goes before every entry,
# and the forms up to the next marker belong to LEMMA. No entry contains "@".
make_polish() {
    local dic=/usr/share/hunspell/pl_PL.dic aff=/usr/share/hunspell/pl_PL.aff
    local marked=$data/pl_marked.dic
    if grep -q '@' "$dic"; then
        echo "make_datasets: $dic contains '@', the entry marker" >&2
        exit 1
    fi
    tail -n +2 "$dic" | awk '{ print "@@" substr($0, 1, index($0 "/", "/") - 1); print }' > "$marked.body"
    { wc -l < "$marked.body"; cat "$marked.body"; } > "$marked"
    rm "$marked.body"
    unmunch "$marked" "$aff" 2>/dev/null |
        iconv -f ISO-8859-2 -t UTF-8 |
        awk 'substr($0, 1, 2) == "@@" { lemma = substr($0, 3); next }
             $0 != "" { print $0 "!" lemma }' |
        sort "${sort_opts[@]}" > "$data/polish_lemmas.txt"
    rm "$marked"
    cut -d'!' -f1 "$data/polish_lemmas.txt" | sort "${sort_opts[@]}" > "$data/polish_forms.txt"
}

make_random() {
    cc -O2 -std=c99 -o "$data/gen_random_keys" "$here/gen_random_keys.c"
    "$data/gen_random_keys" 10000000 | sort "${sort_opts[@]}" > "$data/random10m.txt"
    rm "$data/gen_random_keys"
}

install_packages
make_words &
make_polish
wait
make_random
wc -l "$data"/words.txt "$data"/polish_forms.txt "$data"/polish_lemmas.txt "$data"/random10m.txt
