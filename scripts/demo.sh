#!/usr/bin/env bash
# Installs what is needed, builds, starts a private MariaDB sandbox with the demo data and runs
# the client in demo/ (its settings.ini points at the sandbox). The sandbox stops when the client
# is closed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat <<'MSG'
No display is available, so the client's window cannot be shown.
Run the demo inside a virtual display instead:

    xvfb-run -a -s "-screen 0 1280x800x24" scripts/demo.sh

(xvfb-run comes with the xvfb package, which scripts/install-deps.sh installs.)
MSG
    exit 1
fi

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target quorvane
mkdir -p demo
scripts/sandbox.sh run build/sandbox -- bash -c '
    printf "[server]\r\n%s\r\n%s\r\n%s\r\n%s\r\n" "$QUORVANE_TEST_HOST" "$QUORVANE_TEST_USER" \
        "$QUORVANE_TEST_PASSWORD" "$QUORVANE_TEST_PORT" > demo/settings.ini
    cd demo && ../build/app/quorvane -autol
'
