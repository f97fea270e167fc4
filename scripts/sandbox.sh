#!/usr/bin/env bash
# A private MariaDB server for tests, benchmarks and the demo: its own data directory, socket,
# pid file and a free loopback port. It never touches a system-wide server.
#
#   scripts/sandbox.sh start DIR [--tls|--ssh]  initialise DIR if needed, start, load the demo data
#   scripts/sandbox.sh stop DIR                 stop the server (and sshd) started in DIR
#   scripts/sandbox.sh run DIR [--tls|--ssh] -- CMD
#                                               start, run CMD with the connection values in the
#                                               environment, stop when CMD ends (whatever its
#                                               outcome)
#
# Connection values are printed and written to DIR/env as QUORVANE_TEST_HOST, _PORT, _USER,
# _PASSWORD and _SOCKET.
#
# --tls: a throw-away CA and a server certificate for "localhost" (no address in it) are made
# with openssl in DIR/tls, and the server requires secure transport on TCP. Its values are
# QUORVANE_TLS_HOST, _PORT, _USER, _PASSWORD, _SOCKET, plus _CA (the CA that signed the
# server's certificate) and _OTHER_CA (a CA that signed nothing), so that both servers can run
# side by side.
#
# --ssh: beside the server, a private sshd on another loopback port (a throw-away host key in
# DIR/ssh, forwarding allowed, only the throw-away client key in DIR/ssh/id_ed25519 let in; a
# passphrase-protected copy of it in DIR/ssh/id_protected), and an ssh client config
# (DIR/ssh/config) whose Host "quorvane-sandbox" reaches it with its own known_hosts file. Its
# values: QUORVANE_SSH_HOST (the alias), _PORT, _CONFIG, _KEY, _PROTECTED_KEY, _PASSPHRASE,
# _KNOWN_HOSTS, _HOST_KEY (its public key line, for a known_hosts entry) and _PIDFILE.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cmd="${1:-}"
dir="${2:-}"
[ -n "$cmd" ] && [ -n "$dir" ] || { sed -n '2,27p' "$0"; exit 2; }
tls=""
ssh=""
if [ "${3:-}" = "--tls" ]; then tls=1; fi
if [ "${3:-}" = "--ssh" ]; then ssh=1; fi
prefix="QUORVANE_TEST"
[ -n "$tls" ] && prefix="QUORVANE_TLS"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
data="$dir/data"
sock="$dir/mysqld.sock"
pidfile="$dir/mysqld.pid"
user="quorvane"
password="quorvane-pass"

mariadbd_bin="$(command -v mariadbd || echo /usr/sbin/mariadbd)"

# Below the kernel's range of ports for outgoing connections (32768 and up), so that no client
# socket of the tests holds the port the server is about to bind.
free_port() {
    local p
    for p in $(seq 23306 23406); do
        if ! (echo >"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
            echo "$p"
            return 0
        fi
    done
    return 1
}

# A CA, a server certificate it signed for "localhost" only, and a second CA that signed nothing.
make_certificates() {
    local t="$dir/tls"
    [ -f "$t/server-cert.pem" ] && return 0
    mkdir -p "$t"
    (
        cd "$t"
        openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Quorvane test CA" \
            -keyout ca-key.pem -out ca.pem
        openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Quorvane other CA" \
            -keyout other-ca-key.pem -out other-ca.pem
        openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
            -keyout server-key.pem -out server.csr
        printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n' >server.ext
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 30 \
            -extfile server.ext -out server-cert.pem
    ) >"$dir/openssl.log" 2>&1 || { cat "$dir/openssl.log"; exit 1; }
}

# A server killed outright may linger as a zombie until its new parent reaps it: not running.
running() {
    [ -f "$pidfile" ] || return 1
    local pid
    pid="$(cat "$pidfile")"
    kill -0 "$pid" 2>/dev/null || return 1
    ! grep -q '^State:[[:space:]]*Z' "/proc/$pid/status" 2>/dev/null
}

start() {
    if running; then
        echo "sandbox already running in $dir"
        return 0
    fi
    if [ ! -d "$data/mysql" ]; then
        rm -rf "$data"
        mariadb-install-db --no-defaults --datadir="$data" --user="$(id -un)" \
            --auth-root-authentication-method=socket --skip-test-db >"$dir/install.log" 2>&1 ||
            { cat "$dir/install.log"; exit 1; }
    fi
    # A port found free can be taken before the server binds it (by another server starting, or
    # as the local end of some outgoing connection): then the server exits, and we try another.
    local port attempt pid i
    local as_user=()
    [ "$(id -u)" -eq 0 ] && as_user=(--user=root)
    local secure=()
    if [ -n "$tls" ]; then
        make_certificates
        secure=(--ssl-ca="$dir/tls/ca.pem" --ssl-cert="$dir/tls/server-cert.pem"
            --ssl-key="$dir/tls/server-key.pem" --require-secure-transport=ON)
    fi
    for attempt in 1 2 3 4 5; do
        port="$(free_port)"
        : >"$dir/error.log"
        "$mariadbd_bin" --no-defaults --datadir="$data" --socket="$sock" --pid-file="$pidfile" \
            --port="$port" --bind-address=127.0.0.1 --skip-name-resolve "${as_user[@]}" "${secure[@]}" \
            --log-error="$dir/error.log" --innodb-buffer-pool-size=64M --max-connections=200 \
            --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
            >"$dir/stderr.log" 2>&1 &
        pid=$!
        for i in $(seq 1 100); do
            if mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1; then
                break 2
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        wait "$pid" 2>/dev/null || true
        grep -q "Address already in use" "$dir/error.log" 2>/dev/null || break
        echo "sandbox: port $port was taken, trying another" >&2
    done
    mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1 ||
        { echo "sandbox did not start:"; tail -20 "$dir/error.log"; exit 1; }
    mariadb --no-defaults --socket="$sock" -uroot <<SQL
CREATE USER IF NOT EXISTS '$user'@'localhost' IDENTIFIED BY '$password';
CREATE USER IF NOT EXISTS '$user'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON *.* TO '$user'@'localhost' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO '$user'@'127.0.0.1' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
    mariadb --no-defaults --socket="$sock" -uroot <"$here/demo.sql"
    cat >"$dir/env" <<ENV
export ${prefix}_HOST=127.0.0.1
export ${prefix}_PORT=$port
export ${prefix}_USER=$user
export ${prefix}_PASSWORD=$password
export ${prefix}_SOCKET=$sock
ENV
    if [ -n "$tls" ]; then
        echo "export ${prefix}_CA=$dir/tls/ca.pem" >>"$dir/env"
        echo "export ${prefix}_OTHER_CA=$dir/tls/other-ca.pem" >>"$dir/env"
    fi
    echo "sandbox: host 127.0.0.1 port $port user $user password $password${tls:+ TLS required} (data in $data)"
}

# A private sshd beside the server: keys, config and known_hosts of its own, in DIR/ssh.
start_sshd() {
    local t="$dir/ssh"
    mkdir -p "$t"
    chmod 700 "$t"
    [ -f "$t/host_ed25519" ] || ssh-keygen -q -t ed25519 -N "" -C "quorvane sandbox host" -f "$t/host_ed25519"
    [ -f "$t/id_ed25519" ] || ssh-keygen -q -t ed25519 -N "" -C "quorvane sandbox client" -f "$t/id_ed25519"
    if [ ! -f "$t/id_protected" ]; then
        cp "$t/id_ed25519" "$t/id_protected"
        ssh-keygen -q -p -P "" -N "sandbox passphrase" -f "$t/id_protected" >/dev/null
    fi
    cp "$t/id_ed25519.pub" "$t/authorized_keys"
    chmod 600 "$t/authorized_keys" "$t/id_ed25519" "$t/id_protected"
    # sshd keeps its unprivileged child's root here, and wants it to exist.
    [ "$(id -u)" -eq 0 ] && mkdir -p /run/sshd && chmod 755 /run/sshd
    local sshd_bin port attempt pid i
    sshd_bin="$(command -v sshd || echo /usr/sbin/sshd)"
    for attempt in 1 2 3 4 5; do
        port=""
        for i in $(seq 24322 24422); do
            if ! (echo >"/dev/tcp/127.0.0.1/$i") 2>/dev/null; then port="$i"; break; fi
        done
        cat >"$t/sshd_config" <<CONF
ListenAddress 127.0.0.1:$port
HostKey $t/host_ed25519
PidFile $t/sshd.pid
AuthorizedKeysFile $t/authorized_keys
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PubkeyAuthentication yes
PermitRootLogin prohibit-password
AllowTcpForwarding yes
AllowStreamLocalForwarding yes
PermitTTY no
X11Forwarding no
LogLevel VERBOSE
CONF
        : >"$t/sshd.log"
        "$sshd_bin" -D -e -f "$t/sshd_config" >>"$t/sshd.log" 2>&1 &
        pid=$!
        for i in $(seq 1 50); do
            (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break 2
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        wait "$pid" 2>/dev/null || true
        echo "sandbox: sshd on $port did not start, trying another" >&2
    done
    (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null ||
        { echo "sshd did not start:"; tail -20 "$t/sshd.log"; exit 1; }
    echo "$pid" >"$t/sshd.pid"
    : >"$t/known_hosts"
    chmod 600 "$t/known_hosts"
    cat >"$t/config" <<CONF
Host quorvane-sandbox
    HostName 127.0.0.1
    Port $port
    User $(id -un)
    IdentityFile $t/id_ed25519
    IdentitiesOnly yes
    IdentityAgent none
    UserKnownHostsFile $t/known_hosts
    GlobalKnownHostsFile /dev/null
    StrictHostKeyChecking ask
CONF
    cat >>"$dir/env" <<ENV
export QUORVANE_SSH_HOST=quorvane-sandbox
export QUORVANE_SSH_PORT=$port
export QUORVANE_SSH_CONFIG=$t/config
export QUORVANE_SSH_KEY=$t/id_ed25519
export QUORVANE_SSH_PROTECTED_KEY=$t/id_protected
export QUORVANE_SSH_PASSPHRASE='sandbox passphrase'
export QUORVANE_SSH_KNOWN_HOSTS=$t/known_hosts
export QUORVANE_SSH_HOST_KEY='$(cut -d' ' -f1,2 "$t/host_ed25519.pub")'
export QUORVANE_SSH_PIDFILE=$t/sshd.pid
ENV
    echo "sandbox: sshd on 127.0.0.1 port $port (ssh -F $t/config quorvane-sandbox)"
}

stop_sshd() {
    local f="$dir/ssh/sshd.pid" pid
    [ -f "$f" ] || return 0
    pid="$(cat "$f")"
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        echo "sandbox: sshd stopped"
    fi
    rm -f "$f"
}

stop() {
    stop_sshd
    if running; then
        local pid
        pid="$(cat "$pidfile")"
        kill "$pid"
        local i
        for i in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
        kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
        echo "sandbox stopped"
    fi
    return 0
}

case "$cmd" in
start)
    start
    if [ -n "$ssh" ]; then start_sshd; fi
    ;;
stop) stop ;;
run)
    shift 2
    if [ "${1:-}" = "--tls" ] || [ "${1:-}" = "--ssh" ]; then shift; fi
    [ "${1:-}" = "--" ] && shift
    trap stop EXIT
    start
    if [ -n "$ssh" ]; then start_sshd; fi
    # shellcheck disable=SC1091
    source "$dir/env"
    "$@"
    ;;
*) sed -n '2,27p' "$0"; exit 2 ;;
esac
