#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (ASan and UBSan on) in a
# build folder of their own and runs each for SECONDS (default 60), starting
# from its committed corpus. Without a usable clang it says so and exits 0.
#   scripts/fuzz.sh [SECONDS] [TARGET...]       e.g. scripts/fuzz.sh 600 dict_open
# TARVO_FUZZ_BUILD names the build folder (default build-fuzz). Inputs found
# along the way are kept in BUILD/fuzz-corpus/NAME; a crashing input is
# written to BUILD/fuzz-findings/NAME/ and the script fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${TARVO_FUZZ_BUILD:-$root/build-fuzz}"

skip() {
  echo "fuzz: skipped: $*"
  exit 0
}

clang_cxx="$(command -v clang++ || command -v clang++-14 || true)"
[ -n "$clang_cxx" ] || skip "clang++ is not installed"
clang_c="$(command -v clang || command -v clang-14 || true)"
[ -n "$clang_c" ] || skip "clang is not installed"
major="$("$clang_cxx" -dumpversion | cut -d. -f1)"

# libFuzzer ships in the compiler-rt package of clang's own version.
"$root/scripts/setup-debian.sh"
runtime="libclang-rt-$major-dev"
if ! dpkg-query -W -f='${Status}' "$runtime" 2>/dev/null | grep -q "install ok installed"; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: $runtime"
  { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$runtime"; } ||
    skip "$runtime could not be installed"
fi
probe="$(mktemp -d)"
trap 'rm -rf "$probe"' EXIT
printf '#include <stddef.h>\n#include <stdint.h>\nint LLVMFuzzerTestOneInput(const uint8_t* d, size_t n) { (void)d; (void)n; return 0; }\n' >"$probe/probe.c"
"$clang_c" -fsanitize=fuzzer,address,undefined "$probe/probe.c" -o "$probe/probe" 2>"$probe/log" ||
  skip "clang cannot link libFuzzer: $(head -n 1 "$probe/log")"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do
    name="$(basename "$source" .cpp)"
    targets+=("${name%_fuzz}")
  done
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$clang_c" -DCMAKE_CXX_COMPILER="$clang_cxx" -DTARVO_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for name in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$name"
  findings="$build/fuzz-findings/$name"
  mkdir -p "$corpus" "$findings"
  seeds=()
  past="$root/fuzz/crashes/$name"
  [ "$name" = dict_open ] && past="$root/tests/damaged/files"
  for folder in "$root/fuzz/corpus/$name" "$past"; do
    [ -d "$folder" ] && seeds+=("$folder")
  done
  log="$build/fuzz-$name.log"
  echo "fuzz: $name for ${seconds}s"
  if ! "$build/fuzz/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $name found a fault; the input is in $findings/ (log: $log)"
    exit 1
  fi
  grep -E '^Done [0-9]+ runs' "$log" | sed "s/^/fuzz: $name: /" || true
done
