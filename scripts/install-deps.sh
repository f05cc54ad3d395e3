#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12 / Ubuntu. Idempotent.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev googletest
  libpulse-dev pulseaudio pulseaudio-utils
  libasound2-dev libasound2-plugins alsa-utils
  pipewire pipewire-bin pipewire-pulse wireplumber dbus
  qt6-base-dev
  xvfb xauth trayer xdotool x11-apps imagemagick
  clang libclang-rt-14-dev
  python3
  iproute2
)
if [ "${QUAVIX_WITH_WINDOWS:-0}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
