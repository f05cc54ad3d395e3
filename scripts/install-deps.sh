#!/usr/bin/env bash
# Installs what is missing on Debian 12 / Ubuntu. Idempotent.
#   scripts/install-deps.sh run            building and running: compiler, CMake, the libraries'
#                                          headers (Avahi's client for announcing, GLib's key
#                                          file for the settings, libcrypto, the QR code
#                                          library, CryptoJS for the page), pactl
#   scripts/install-deps.sh sound-server   the PulseAudio daemon, for run.sh's private sound
#                                          server where none answers (never over PipeWire's)
#   scripts/install-deps.sh [test]         the whole test stack: run's set, PulseAudio and
#                                          PipeWire, GoogleTest, clang, Xvfb, lintian, ...
#   scripts/install-deps.sh windows        the test stack, mingw-w64, Wine and NSIS, and the QR
#                                          code library's Debian source for the cross build
# QUAVIX_WITH_WINDOWS=1 adds the Windows set to any of them.
set -euo pipefail
set_name="${1:-test}"
run_set=(
  build-essential cmake pkg-config
  libpulse-dev libasound2-dev qt6-base-dev libavahi-client-dev libboost-dev libglib2.0-dev
  libssl-dev libqrcodegencpp-dev libjs-cryptojs
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
  chromium chromium-driver python3-selenium python3-websocket zbar-tools curl
  mpv mpv-mpris playerctl
)
windows_set=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 nsis python3-websocket)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
with_windows=0
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
  windows) packages=("${test_set[@]}" "${windows_set[@]}"); with_windows=1 ;;
  *) echo "usage: $0 [run|sound-server|test|windows]" >&2; exit 2 ;;
esac
if [ "${QUAVIX_WITH_WINDOWS:-0}" = 1 ]; then
  packages+=("${windows_set[@]}")
  with_windows=1
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The Windows build compiles the QR code library (libqrcodegencpp-dev on Linux) from Debian's
# source package, as it takes GoogleTest from Debian's sources: no Windows package exists. apt
# finds it through deb-src entries for the archives it already uses (in a private list, so the
# system's is left alone) and checks its hash against the signed index. Only its upstream
# tarball is needed (the Debian part builds the Linux libraries): it is unpacked into the folder
# cmake/QrCodeLibrary.cmake looks in.
qr_folder=/usr/local/src/qr-code-generator
fetch_qr_source() {
  [ -f "$qr_folder/cpp/qrcodegen.cpp" ] && return 0
  local work uri file hash
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  mkdir -p "$work/sources" "$work/lists/partial"
  for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] && sed -n 's/^deb \(.*\)/deb-src \1/p' "$list"
  done >"$work/sources/sources.list"
  for list in /etc/apt/sources.list.d/*.sources; do
    [ -f "$list" ] && sed 's/^Types: deb$/Types: deb-src/' "$list" >"$work/sources/${list##*/}"
  done
  # Files are checked against the signed index, so apt may fetch as root into the private folder
  # (its download user cannot write there).
  local apt=(-qq -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/sources"
             -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
  apt-get "${apt[@]}" update
  read -r uri file _ hash < <(apt-get "${apt[@]}" source --print-uris qr-code-generator |
                                grep "\.orig\.tar")
  [ -n "${hash:-}" ] || { echo "Debian's source package qr-code-generator was not found" >&2; return 1; }
  echo "Unpacking Debian's $file into $qr_folder"
  /usr/lib/apt/apt-helper "${apt[@]}" download-file "${uri//\'/}" "$work/$file" "$hash"
  $sudo mkdir -p "$qr_folder"
  $sudo tar -xf "$work/$file" -C "$qr_folder" --strip-components=1
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  [ "$with_windows" = 0 ] || fetch_qr_source
  exit 0
fi
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
[ "$status" != 0 ] || [ "$with_windows" = 0 ] || fetch_qr_source || status=$?
exit "$status"
