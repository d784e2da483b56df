#!/usr/bin/env bash
# Builds everything and runs every test. With --sanitize, the same under
# AddressSanitizer and UBSan, in a build folder of its own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup-debian.sh"
build="$root/build"
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  build="$root/build-sanitize"
  flags=(-DTARVO_SANITIZE=ON)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
