#!/usr/bin/env bash
# Installs what is missing, builds a release build and starts TavrineMac.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-dependencies.sh
./scripts/configure.sh build/release -DCMAKE_BUILD_TYPE=Release
# tavrine-phone, the phone side, is built beside it to pair with.
cmake --build build/release --target TavrineMac tavrine-phone
exec build/release/bin/TavrineMac "$@"
