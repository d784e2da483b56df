#!/usr/bin/env bash
# Builds the tools and lists the bundled sample dictionary with its annotations.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup-debian.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target dict_export sample_dict >/dev/null
"$root/build/export/dict_export" -d "$root/build/samples/sample.dict" -a "$@"
