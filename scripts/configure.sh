#!/usr/bin/env bash
# Configures a build folder with clang. A folder configured earlier with another compiler is started
# afresh, since CMake cannot switch compilers in place.
set -euo pipefail
build_dir=$1
shift
cache="$build_dir/CMakeCache.txt"
if [[ -f "$cache" ]] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang' "$cache"; then
    rm -rf "$build_dir"
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "$@" >/dev/null
