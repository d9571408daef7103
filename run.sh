#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts TavrineMac.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-dependencies.sh
./scripts/configure.sh build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release --target TavrineMac
exec build/release/bin/TavrineMac "$@"
