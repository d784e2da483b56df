#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and uses it as a user would:
# the layout, the headers alone, a consumer built with find_package(tarvo)
# and one built with pkg-config, and the tools run from a moved prefix.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR WORK_DIR CMAKE CXX "CONSUMER_FLAGS"
set -euo pipefail
build=$1 here=$2 work=$3 cmake=$4 cxx=$5
read -r -a flags <<< "${6:-}"

fail() { echo "FAIL: $*" >&2; exit 1; }
# Runs a program with no library path of ours, as it would run after install.
bare() { env -u LD_LIBRARY_PATH "$@"; }
expect() {  # expect WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"

# Exactly these files: no static cores, no test helpers.
libdir=$(cd "$prefix" && dirname "$(find . -name libtarvo.so)")
libdir=${libdir#./}
expected="bin/dict_bench
bin/dict_build
bin/dict_dump
bin/dict_export
bin/dict_header
include/tarvo.h
include/tarvo_builder.h
$libdir/cmake/tarvo/tarvoConfig.cmake
$libdir/cmake/tarvo/tarvoConfigVersion.cmake
$libdir/cmake/tarvo/tarvoTargets-BUILDTYPE.cmake
$libdir/cmake/tarvo/tarvoTargets.cmake
$libdir/libtarvo.so
$libdir/libtarvo.so.0
$libdir/libtarvo.so.0.3.1
$libdir/pkgconfig/tarvo.pc
share/doc/tarvo/FORMAT.md
share/doc/tarvo/README.md
share/man/man1/dict_bench.1
share/man/man1/dict_build.1
share/man/man1/dict_dump.1
share/man/man1/dict_export.1
share/man/man1/dict_header.1
share/man/man5/tarvo.5"
actual=$(cd "$prefix" && find . ! -type d | sed 's|^\./||; s|tarvoTargets-[a-z]*\.cmake|tarvoTargets-BUILDTYPE.cmake|' | LC_ALL=C sort)
expect "installed files" "$expected" "$actual"

expect "libtarvo.so link" libtarvo.so.0 "$(readlink "$prefix/$libdir/libtarvo.so")"
expect "libtarvo.so.0 link" libtarvo.so.0.3.1 "$(readlink "$prefix/$libdir/libtarvo.so.0")"
expect "SONAME" "libtarvo.so.0" \
  "$(readelf -d "$prefix/$libdir/libtarvo.so.0.3.1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
for tool in dict_export dict_build dict_bench dict_header dict_dump; do
  expect "$tool RUNPATH" "\$ORIGIN/../$libdir" \
    "$(readelf -d "$prefix/bin/$tool" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')"
done

# Each header compiles on its own from the prefix; tarvo.h also as C.
echo '#include <tarvo_builder.h>' | "$cxx" -std=c++20 -fsyntax-only -I"$prefix/include" -x c++ - \
  || fail "tarvo_builder.h does not compile alone"
echo '#include <tarvo.h>' | "$cxx" -std=c++20 -fsyntax-only -I"$prefix/include" -x c++ - \
  || fail "tarvo.h does not compile alone as C++"
echo '#include <tarvo.h>' | "$cxx" -fsyntax-only -I"$prefix/include" -x c - \
  || fail "tarvo.h does not compile alone as C"

dict=$work/tiny.dict
printf 'cat!N\ncats!NNS\ndog!N\n' | bare "$prefix/bin/dict_build" -a -o "$dict" 2> "$work/build.log" \
  || fail "installed dict_build: $(cat "$work/build.log")"

# find_package(tarvo) and tarvo::tarvo.
"$cmake" -S "$here/consumer" -B "$work/cmake-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="${flags[*]}" -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}" \
  > "$work/cmake-consumer.log" 2>&1 || { cat "$work/cmake-consumer.log"; fail "find_package(tarvo)"; }
"$cmake" --build "$work/cmake-consumer" >> "$work/cmake-consumer.log" 2>&1 \
  || { cat "$work/cmake-consumer.log"; fail "building against tarvo::tarvo"; }
expect "CMake consumer" "libtarvo 0.3.1: cats 1" "$(bare "$work/cmake-consumer/consumer" "$dict" cats)"

# pkg-config --cflags --libs tarvo.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
expect "pkg-config version" 0.3.1 "$(pkg-config --modversion tarvo)"
read -r -a pc_flags <<< "$(pkg-config --cflags --libs tarvo)"
"$cxx" -std=c++20 "${flags[@]}" "$here/consumer/consumer.cpp" "${pc_flags[@]}" -o "$work/pc-consumer" \
  || fail "building with pkg-config"
expect "pkg-config consumer, present word" "libtarvo 0.3.1: dog 0" \
  "$(LD_LIBRARY_PATH=$prefix/$libdir "$work/pc-consumer" "$dict" dog)"
expect "pkg-config consumer, absent word" "libtarvo 0.3.1: cow -1" \
  "$(LD_LIBRARY_PATH=$prefix/$libdir "$work/pc-consumer" "$dict" cow)"

# The tools find the library through their RUNPATH after the prefix moves.
mv "$prefix" "$work/moved"
expect "moved dict_export" "$(printf 'cat!N\ncats!NNS\ndog!N')" \
  "$(bare "$work/moved/bin/dict_export" -d "$dict" -a)"
expect "moved dict_header" "$(printf 'libtarvo v0.3.1, self v0.3.1\nVer: 1\nFlags: ')" \
  "$(bare "$work/moved/bin/dict_header" "$dict" Y)"

rm -rf "$work"
echo "install: layout, headers, both consumers and the moved prefix are sound"
