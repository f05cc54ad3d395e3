#!/usr/bin/env bash
# Checks the Windows installer under Wine: builds QuavixServer-<version>-setup.exe in the
# cross-build (default build-windows), then
#   1. a silent install with /AUTOSTART=0: program, uninstaller, Start-menu shortcut and
#      uninstall entry in place, no Run value;
#   2. a silent reinstall over it without options: the Run value (the default) is there;
#   3. the installed program, on a port stored in the registry first, greets a TCP client from
#      Linux;
#   4. a silent uninstall while it runs: the program quits with 0, and the files, the shortcut,
#      the Run value and the uninstall entry are gone while the stored port stays.
# Prints a PASS or FAIL line per check; exits 1 if any failed.
#   tests/packaging/windows-installer.sh [BUILD_DIR]
set -uo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$repo/build-windows}" && pwd)"

if [ -z "${QUAVIX_INSTALLER_IN_WINE:-}" ]; then
  cmake --build "$build" --target installer >/dev/null || { echo "FAIL: building the installer"; exit 1; }
  # The program needs a playback device: Wine's audio driver finds the private sound server.
  QUAVIX_INSTALLER_IN_WINE=1 exec bash "$repo/tests/fixtures/with-sound-server.sh" \
    bash "$repo/tests/win32/fixtures/with-wine.sh" "$build" bash "$0" "$build"
fi

source "$repo/tests/packaging/checks.sh"
setups=("$build"/QuavixServer-*-setup.exe)
setup="${setups[0]}"
echo "Installer: $(basename "$setup")"
dir="$WINEPREFIX/drive_c/Program Files/Quavix Server"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quavix Server.lnk"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuavixServer'
setting_key='HKCU\Software\Marrowick\Quavix'
has_value() { wine reg query "$1" /v "$2" >/dev/null 2>&1; }
has_key() { wine reg query "$1" >/dev/null 2>&1; }
no_value() { ! has_value "$@"; }
no_key() { ! has_key "$@"; }
gone() { [ ! -e "$1" ]; }
wait_gone() {  # the uninstaller runs on as a copy of itself after `wine` returns
  for _ in $(seq 150); do [ -e "$1" ] || return 0; sleep 0.2; done
  return 1
}

# Leftovers of an earlier, interrupted run would hide what this one does.
if [ -e "$dir/Uninstall.exe" ]; then
  wine "$dir/Uninstall.exe" /S >/dev/null 2>&1
  wait_gone "$dir"
fi
port=$(free_port)
wine reg add "$setting_key" /v ServerPort /t REG_DWORD /d "$port" /f >/dev/null 2>&1

# 1. Silent install without the logon start.
wine "$setup" /S /AUTOSTART=0 >/dev/null 2>&1
check "silent install exits with 0" [ $? = 0 ]
check "program installed in Program Files" [ -f "$dir/QuavixServer.exe" ]
check "uninstaller installed" [ -f "$dir/Uninstall.exe" ]
check "Start-menu shortcut" [ -f "$shortcut" ]
check "uninstall entry in the registry" has_value "$uninstall_key" UninstallString
check "/AUTOSTART=0: no Run value" no_value "$run_key" "Quavix Server"
wine "$setup" /S /AUTOSTART=maybe >/dev/null 2>&1
check "a bad /AUTOSTART= value is refused with exit code 2" [ $? = 2 ]

# 2. Silent reinstall over it, defaults: starts at logon.
wine "$setup" /S >/dev/null 2>&1
check "silent reinstall exits with 0" [ $? = 0 ]
if has_value "$run_key" "Quavix Server" &&
   wine reg query "$run_key" /v "Quavix Server" 2>/dev/null | grep -qi 'Program Files\\Quavix Server\\QuavixServer.exe'; then
  pass "default install: Run value starts the installed program"
else
  fail "default install: Run value starts the installed program"
fi

# 3. The installed program on the stored port.
wine "$dir/QuavixServer.exe" >/dev/null 2>&1 &
server=$!
check "installed program greets on stored port $port" greets "$port" 30

# 4. Silent uninstall while it runs.
wine "$dir/Uninstall.exe" /S >/dev/null 2>&1
status=timeout
for _ in $(seq 150); do
  if ! kill -0 "$server" 2>/dev/null; then wait "$server"; status=$?; break; fi
  sleep 0.2
done
[ "$status" = timeout ] && kill "$server" 2>/dev/null
check "uninstall quits the running program with exit code 0 (got $status)" [ "$status" = 0 ]
check "program folder removed" wait_gone "$dir"
check "shortcut removed" gone "$shortcut"
check "Run value removed" no_value "$run_key" "Quavix Server"
check "uninstall entry removed" no_key "$uninstall_key"
if wine reg query "$setting_key" /v ServerPort 2>/dev/null | grep -qi "0x$(printf '%x' "$port")"; then
  pass "stored port kept"
else
  fail "stored port kept"
fi
wine reg delete "$setting_key" /f >/dev/null 2>&1
finish "Windows installer checks"
