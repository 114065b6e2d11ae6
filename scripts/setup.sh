#!/usr/bin/env bash
# Installs what is missing on a Debian 12 machine and builds the project into ./build.
# Usage: [NOTES_BUILD_DIR=dir] scripts/setup.sh [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-qpa-plugins libgl-dev
  libsqlite3-0 libsqlite3-dev sqlite3 zip unzip xvfb xauth xdotool
  libsecret-1-dev gnome-keyring dbus-daemon rapidjson-dev
  qt6-httpserver-dev qt6-websockets-dev libsodium-dev libqt6sql6-psql libarchive-dev
  desktop-file-utils appstream
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi

# NOTES_BUILD_DIR picks another build folder (the sanitizer build uses build-asan).
build_dir=${NOTES_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir" -j2
