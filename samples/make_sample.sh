#!/bin/bash
# Regenerates samples/words.txt from Debian's hunspell-pl: every 500th entry
# of pl_PL.dic expanded with unmunch, one "form!lemma" line per word form, the
# lemma being the entry that produced the form. UTF-8, byte-sorted, unique.
# Usage: samples/make_sample.sh [OUTPUT]   (default: samples/words.txt)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
output=${1:-$here/words.txt}
step=500
dic=/usr/share/hunspell/pl_PL.dic
aff=/usr/share/hunspell/pl_PL.aff
export LC_ALL=C

if ! dpkg -s hunspell-pl hunspell-tools >/dev/null 2>&1; then
    sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq hunspell-pl hunspell-tools >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# unmunch does not say which entry a form comes from, so a flagless marker
# word "@@LEMMA" goes before each chosen entry; no entry contains "@".
tail -n +2 "$dic" |
    awk -v step=$step 'NR % step == 1 { print "@@" substr($0, 1, index($0 "/", "/") - 1); print }' > "$work/body"
{ wc -l < "$work/body"; cat "$work/body"; } > "$work/sample.dic"
unmunch "$work/sample.dic" "$aff" 2>/dev/null |
    iconv -f ISO-8859-2 -t UTF-8 |
    awk 'substr($0, 1, 2) == "@@" { lemma = substr($0, 3); next }
         $0 != "" { print $0 "!" lemma }' |
    sort -u > "$output"
wc -lc "$output"
