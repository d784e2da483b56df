#!/bin/bash
# Turns sorted "form!lemma" pairs into one line per form with its lemmas
# joined by "|" ("Abelardowi!Abelard|Abelardowy"): a word of ours carries one
# annotation. Usage: benchmarks/join_lemmas.sh polish_lemmas.txt > joined.txt
set -euo pipefail
awk -F'!' '$1 == form { lemmas = lemmas "|" $2; next }
           NR > 1 { print form "!" lemmas }
           { form = $1; lemmas = $2 }
           END { if (NR) print form "!" lemmas }' "$1"
