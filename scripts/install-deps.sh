#!/usr/bin/env bash
# Installs what is missing on Debian 12 / Ubuntu. Idempotent.
#   scripts/install-deps.sh run            building and running: compiler, CMake, the libraries'
#                                          headers (Avahi's client for announcing), pactl
#   scripts/install-deps.sh sound-server   the PulseAudio daemon, for run.sh's private sound
#                                          server where none answers (never over PipeWire's)
#   scripts/install-deps.sh [test]         the whole test stack: run's set, PulseAudio and
#                                          PipeWire, GoogleTest, clang, Xvfb, lintian, ...
#   scripts/install-deps.sh windows        the test stack, mingw-w64, Wine and NSIS
# QUAVIX_WITH_WINDOWS=1 adds the Windows set to any of them.
set -euo pipefail
set_name="${1:-test}"
run_set=(
  build-essential cmake pkg-config
  libpulse-dev libasound2-dev qt6-base-dev libavahi-client-dev libboost-dev
  pulseaudio-utils python3
)
test_set=(
  "${run_set[@]}" git file
  libgtest-dev libgmock-dev googletest
  pulseaudio libasound2-plugins alsa-utils
  pipewire pipewire-bin pipewire-pulse wireplumber dbus
  xvfb xauth trayer xdotool x11-apps imagemagick
  clang libclang-rt-14-dev
  lintian iproute2
  avahi-daemon avahi-utils
  chromium chromium-driver python3-selenium
)
windows_set=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 nsis python3-websocket)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
case "$set_name" in
  run) packages=("${run_set[@]}") ;;
  sound-server)
    # PulseAudio and PipeWire's PulseAudio server exclude each other: where PipeWire's is
    # installed but not answering, it is the one to start.
    if installed pipewire-pulse; then
      echo "pipewire-pulse is installed but not answering; start it rather than PulseAudio:" >&2
      echo "  systemctl --user start pipewire pipewire-pulse wireplumber" >&2
      exit 1
    fi
    packages=(pulseaudio) ;;
  test) packages=("${test_set[@]}") ;;
  windows) packages=("${test_set[@]}" "${windows_set[@]}") ;;
  *) echo "usage: $0 [run|sound-server|test|windows]" >&2; exit 2 ;;
esac
if [ "${QUAVIX_WITH_WINDOWS:-0}" = 1 ]; then
  packages+=("${windows_set[@]}")
fi
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
# avahi-daemon is installed only for the tests, which start their own with allow-interfaces set
# to a veth they made. Its package would start the system's daemon on every interface, which
# would announce on the real network: the service is masked and the package's start refused.
held_start=""
if [[ " ${missing[*]} " == *" avahi-daemon "* ]]; then
  $sudo mkdir -p /etc/systemd/system
  for unit in avahi-daemon.service avahi-daemon.socket; do
    [ -e "/etc/systemd/system/$unit" ] || $sudo ln -s /dev/null "/etc/systemd/system/$unit"
  done
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
    $sudo chmod 755 /usr/sbin/policy-rc.d
    held_start=1
  fi
fi
# --no-remove: never take anything away (such as the desktop's sound server) to make room.
status=0
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends --no-remove \
  "${missing[@]}" || status=$?
[ -z "$held_start" ] || $sudo rm -f /usr/sbin/policy-rc.d
exit "$status"
