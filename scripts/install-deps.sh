#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run. Quiet and quick when
# everything is already there.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev libqt6test6 libqt6svg6 libgl1-mesa-dev libqt6sql6-mysql
    libmariadb3 libmariadb-dev mariadb-server mariadb-client
    qt6-charts-dev libqt6opengl6-dev qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-daemon openssl
    openssh-client openssh-server
    xvfb xauth fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
