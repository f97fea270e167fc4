#!/usr/bin/env bash
# Installs what is needed, builds, starts a private MariaDB sandbox, runs the whole test suite
# with CTest, then the client tests again under ThreadSanitizer, and stops the sandbox.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="$(nproc 2>/dev/null || echo 2)"

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVANE_TSAN=ON \
    -DQUORVANE_CLIENT_TESTS_ONLY=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target test_client test_client_data

scripts/sandbox.sh run build/sandbox -- bash -c '
    set -e
    echo "== tests"
    ctest --test-dir build --output-on-failure
    echo "== client tests under ThreadSanitizer"
    ctest --test-dir build-tsan --output-on-failure
'
