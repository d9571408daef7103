#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, a project of its own) in build/fuzz with clang and runs each one
# for the given number of seconds (default 30) on a copy of its seed corpus, so the corpus kept in the
# repository does not grow. Fails when any target finds a crash; what it found stays in
# build/fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi

./scripts/install-dependencies.sh

# libFuzzer comes with clang 14's runtime package; prefer the compiler of the same version.
cxx=$(command -v clang++-14 || command -v clang++)
cc=$(command -v clang-14 || command -v clang)

build_dir=build/fuzz
cache="$build_dir/CMakeCache.txt"
# CMake cannot move a build folder to another source tree or compiler: one left by either starts afresh.
if [[ -f "$cache" ]] && { ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$PWD/fuzz" "$cache" ||
    ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$cxx" "$cache"; }; then
    rm -rf "$build_dir"
fi
cmake -S fuzz -B "$build_dir" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build_dir"

failed=0
for corpus in fuzz/corpus/*/; do
    target=$(basename "$corpus")
    work="$build_dir/run/$target"
    findings="$build_dir/findings/$target"
    rm -rf "$work" "$findings"
    mkdir -p "$work/corpus" "$findings"
    cp -R "$corpus." "$work/corpus/"
    status=0
    "$build_dir/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work/corpus" >"$work/log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
    if ((status == 0)); then
        echo "$target: clean, ${runs:-0} runs in ${seconds} s (${rate:-0} exec/s)"
    else
        failed=1
        echo "$target: FAILED (exit $status) after ${runs:-?} runs; input in $findings/"
        first=$(grep -n -m1 -E '^(broken promise|saved as|terminate called)|runtime error|^==[0-9]+==' "$work/log" |
            cut -d: -f1 || true)
        sed -n "${first:-1},+40p" "$work/log"
    fi
done
exit "$failed"
