#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts TavrineMac.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-dependencies.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target TavrineMac
exec build/release/bin/TavrineMac "$@"
