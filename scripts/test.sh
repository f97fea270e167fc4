#!/usr/bin/env bash
# Installs what is needed, builds the project three times (plain, with AddressSanitizer and
# UndefinedBehaviorSanitizer, with ThreadSanitizer), starts two private MariaDB sandboxes (a plain
# one with a private sshd beside it, and one that requires TLS), runs the whole test suite with
# CTest in each build, and stops them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="$(nproc 2>/dev/null || echo 2)"

scripts/install-deps.sh
build() { # DIR, extra cmake options
    local dir="$1"
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}
build build
build build-asan -DQUORVANE_ASAN=ON
build build-tsan -DQUORVANE_TSAN=ON

scripts/sandbox.sh run build/sandbox --ssh -- scripts/sandbox.sh run build/sandbox-tls --tls -- bash -c '
    set -e
    echo "== tests"
    ctest --test-dir build --output-on-failure
    echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    ctest --test-dir build-asan --output-on-failure
    echo "== tests under ThreadSanitizer"
    ctest --test-dir build-tsan --output-on-failure
'
