#!/usr/bin/env bash
# Builds and runs the benchmarks: the grid fill against QTableWidget, the client's per-task
# overhead against a plain library loop, and a million-row table shown whole against the library
# alone, QSqlQueryModel and the mariadb client, the last two on the sandbox; and what TLS costs a
# connect and a stream, on a second sandbox that requires it; the SQL lexer's speed; and the SQL
# editor against the library alone, QSqlQueryModel and the mariadb client; and changes applied
# from the grid against the same statements sent by the library in a loop; and the server
# activity window's refresh of 500 connections against a plain item model rebuilt.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target bench_grid bench_tasks \
    bench_bigtable bench_ui bench_tls bench_lexer bench_editor bench_gridedit bench_tables bench_activity bench_ssh
# The program under test writes "log.ini" in its working directory: not in the source tree.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bench="$root/build/bench"
(cd "$work" && "$bench/bench_grid")
"$bench/bench_lexer"
scripts/sandbox.sh run build/sandbox --ssh -- bash -c "cd '$work' && '$bench/bench_tasks' &&
    '$bench/bench_bigtable' && '$bench/bench_ui' && '$bench/bench_editor' && '$bench/bench_gridedit' && '$bench/bench_tables' &&
    '$bench/bench_activity' && '$bench/bench_ssh'"
scripts/sandbox.sh run build/sandbox -- scripts/sandbox.sh run build/sandbox-tls --tls -- \
    bash -c "cd '$work' && '$bench/bench_tls'"
