#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (debug, AddressSanitizer, UBSan)
# and runs every test inside a private D-Bus session and an X server.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-dependencies.sh --test
./scripts/configure.sh build/test -DCMAKE_BUILD_TYPE=Debug -DTAVRINE_SANITIZE=ON -DTAVRINE_BUILD_TESTS=ON
cmake --build build/test

jobs=$(nproc)
exec dbus-run-session -- scripts/run-in-test-session.sh \
    ctest --test-dir build/test --output-on-failure -j "$jobs" "$@"
