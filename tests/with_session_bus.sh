#!/usr/bin/env bash
# Runs a command on a D-Bus session bus of its own, in a throw-away home, so that no test ever
# touches the user's keyring:
#   with_session_bus.sh unlocked CMD...  a GNOME keyring daemon, unlocked by a test password
#   with_session_bus.sh locked CMD...    a GNOME keyring whose login keyring is locked, on a
#                                        private X display where its unlock prompt waits for an
#                                        answer that never comes
#   with_session_bus.sh none CMD...      a bus that offers no Secret Service at all
# The command sees QUORVANE_KEYRING set to the mode.
set -euo pipefail
mode="$1"
shift
case "$mode" in unlocked | locked | none) ;; *) echo "mode: unlocked, locked or none" >&2; exit 2 ;; esac
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
config=()
if [ "$mode" = none ]; then
    # A session bus with no service folders: nothing can be started to answer for secrets.
    cat >"$home/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=$home</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    config=(--config-file="$home/bus.conf")
fi
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
export XDG_RUNTIME_DIR="$home/run" QUORVANE_KEYRING="$mode"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
display=()
# The prompt needs a display to wait on; the bus hands it the one the bus was started with.
[ "$mode" = locked ] && display=(xvfb-run -a -s "-screen 0 640x480x24")
# shellcheck disable=SC2016
"${display[@]}" dbus-run-session "${config[@]}" -- bash -c '
    if [ "$QUORVANE_KEYRING" != none ]; then
        printf "%s" "keyring-test-password" |
            gnome-keyring-daemon --unlock --components=secrets >/dev/null
    fi
    if [ "$QUORVANE_KEYRING" = locked ]; then
        # Started again without the password: the login keyring is there, and locked.
        gnome-keyring-daemon --replace --components=secrets --daemonize >/dev/null 2>&1
    fi
    "$@"
' bash "$@" 2> >(grep -v -e "Failed to set fd limit" -e "Gcr-WARNING" -e "^$" -e "ctivat" \
    -e "SpiRegistry" >&2)
