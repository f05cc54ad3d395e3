#!/usr/bin/env bash
# Checks the README's install steps and the Debian package they lead to, on a copy of the source
# tree (so the developer's build directories stay as they are):
#   1. the README's "cmake ... cmake --install" block, run verbatim into a DESTDIR: every file
#      in place, and install_manifest.txt lists exactly what was installed;
#   2. the README's cpack line, run verbatim: the .deb's fields, contents, stripped programs,
#      compressed manual pages, a Depends the host satisfies, and no lintian errors;
#   3. the .deb unpacked by dpkg into an empty root: the installed server started against a
#      private sound server greets a TCP client, quits with 0 on SIGTERM; then dpkg removes it all.
# Prints a PASS or FAIL line per check; exits 1 if any failed.
set -uo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d /tmp/quavix-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$repo/tests/packaging/checks.sh"
summary="Linux install and package checks"
block() { python3 "$repo/tests/packaging/readme-block.py" "$repo/README.md" '## Installing' "$1"; }

# The tracked and new (not ignored) files of the working tree, as a clone would have them.
src="$work/src"
mkdir -p "$src"
(cd "$repo" && git ls-files -z --cached --others --exclude-standard) |
  while IFS= read -r -d '' f; do [ -e "$repo/$f" ] && printf '%s\0' "$f"; done |
  (cd "$repo" && xargs -0 cp --parents -t "$src")

# 1. The README's install steps, verbatim; `sudo` keeps DESTDIR here (a real sudo drops it).
install_steps=$(block 'cmake --install') || { fail "README install steps found"; finish "$summary"; }
dest="$work/destdir"
echo "README install steps, run in a copy of the tree with DESTDIR=$dest:"
echo "$install_steps" | sed 's/^/    /'
if (cd "$src" && export DESTDIR="$dest" &&
    bash -euo pipefail -c "sudo() { \"\$@\"; }; $install_steps") >"$work/install.log" 2>&1; then
  pass "README install steps"
else
  tail -20 "$work/install.log"
  fail "README install steps"
  finish "$summary"
fi
prefix="$dest/usr/local"
missing=()
for f in bin/quavix-server bin/quavix-remote share/man/man1/quavix-server.1.gz \
         share/man/man1/quavix-remote.1.gz share/applications/quavix-server.desktop \
         lib/systemd/user/quavix-server.service share/doc/quavix-server/copyright \
         share/icons/hicolor/{16x16,32x32,48x48,64x64,256x256}/apps/quavix-server.png; do
  [ -f "$prefix/$f" ] || missing+=("$f")
done
[ ${#missing[@]} -eq 0 ] && pass "installed files in place" || fail "installed files missing: ${missing[*]}"
grep -qx "ExecStart=/usr/local/bin/quavix-server" "$prefix/lib/systemd/user/quavix-server.service" &&
  pass "unit starts /usr/local/bin/quavix-server" || fail "unit's ExecStart"
# The README's uninstall removes what install_manifest.txt lists: it must list every file.
manifest="$src/build-release/install_manifest.txt"
(cd "$dest" && find . -type f | sed 's|^\.||' | sort) >"$work/installed.txt"
sed "s|^$dest||" "$manifest" | sort >"$work/listed.txt"
if cmp -s "$work/installed.txt" "$work/listed.txt"; then
  pass "install_manifest.txt lists every installed file"
else
  diff "$work/listed.txt" "$work/installed.txt" | sed 's/^/    /'
  fail "install_manifest.txt differs from the installed files (< listed, > installed)"
fi

# 2. The README's package step, verbatim (without the `sudo apt install` line, done below in
# an empty root instead).
package_steps=$(block 'cpack -G DEB' | grep -v '^sudo apt ') || { fail "README package steps found"; finish "$summary"; }
if (cd "$src" && bash -euo pipefail -c "$package_steps") >"$work/cpack.log" 2>&1; then
  pass "README package step (cpack -G DEB)"
else
  tail -20 "$work/cpack.log"
  fail "README package step"
  finish "$summary"
fi
# The README's uninstall of the source install reads install_manifest.txt: packaging must not
# rewrite it with the package's paths.
if grep -qx /usr/local/bin/quavix-server "$manifest" && ! grep -q '^/usr/bin/' "$manifest"; then
  pass "cpack leaves the source install's install_manifest.txt alone"
else
  fail "cpack rewrote install_manifest.txt"
fi
debs=("$src"/build-release/quavix-server_*.deb)
deb="${debs[0]}"
[ -f "$deb" ] || { fail "no .deb made"; finish "$summary"; }
echo "Package: $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Section Maintainer Depends | sed 's/^/    /'
depends=$(dpkg-deb -f "$deb" Depends)
[ "$(dpkg-deb -f "$deb" Section)" = sound ] && pass "section sound" || fail "section"
case "$depends" in
  *libc6*libpulse0* | *libpulse0*libc6*) ;;
  *) depends="" ;;
esac
case "$depends" in
  *libqt6widgets6*) pass "Depends computed by dpkg-shlibdeps" ;;
  *) fail "Depends lacks libc6, libpulse0 or libqt6widgets6: $(dpkg-deb -f "$deb" Depends)" ;;
esac
if dpkg-checkbuilddeps -d "$(dpkg-deb -f "$deb" Depends)" /dev/null 2>"$work/deps.log"; then
  pass "this machine satisfies the Depends"
else
  cat "$work/deps.log"
  fail "Depends not satisfiable here"
fi
unpacked="$work/unpacked"
dpkg-deb -x "$deb" "$unpacked"
for p in quavix-server quavix-remote; do
  if file "$unpacked/usr/bin/$p" | grep -q ', stripped'; then pass "$p stripped"; else fail "$p not stripped"; fi
done
for f in usr/share/man/man1/quavix-server.1.gz usr/share/man/man1/quavix-remote.1.gz \
         usr/share/doc/quavix-server/changelog.Debian.gz; do
  # gzip -9n: no flags (so no file name) and no time stamp (bytes 4-7) in the header.
  header=$(od -An -tx1 -N8 "$unpacked/$f" 2>/dev/null | tr -d ' \n')
  case "$header" in
    1f8b080000000000) pass "$f gzip -9n" ;;
    *) fail "$f missing or not gzip -9n (header $header)" ;;
  esac
done
for f in usr/share/doc/quavix-server/copyright usr/lib/systemd/user/quavix-server.service \
         usr/share/applications/quavix-server.desktop \
         usr/share/icons/hicolor/48x48/apps/quavix-server.png; do
  [ -f "$unpacked/$f" ] && pass "package has /$f" || fail "package lacks /$f"
done
grep -qx "ExecStart=/usr/bin/quavix-server" "$unpacked/usr/lib/systemd/user/quavix-server.service" &&
  pass "packaged unit starts /usr/bin/quavix-server" || fail "packaged unit's ExecStart"
if command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
  status=$?
  sed 's/^/    lintian: /' "$work/lintian.log"
  if [ "$status" = 0 ] && ! grep -q '^E: ' "$work/lintian.log"; then
    pass "no lintian errors"
  else
    fail "lintian errors (exit status $status)"
  fi
else
  fail "lintian not installed (scripts/install-deps.sh test)"
fi

# 3. Installed by dpkg into an empty root (the host's libraries serve its Depends, checked above).
root="$work/root"
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
if dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" >"$work/dpkg.log" 2>&1; then
  pass "dpkg installs it into an empty root"
else
  cat "$work/dpkg.log"
  fail "dpkg install"
  finish "$summary"
fi
server="$root/usr/bin/quavix-server"
port=$(free_port)
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/quavix"
printf '[server]\nport = %s\n' "$port" >"$XDG_CONFIG_HOME/quavix/quavix-server.conf"
cat >"$work/start-check.sh" <<'CHECK'
set -u
server="$1" port="$2" log="$3"
source "$4/tests/packaging/checks.sh"
env -u DISPLAY -u WAYLAND_DISPLAY "$server" >"$log" 2>&1 &
pid=$!
greets "$port" 20
greeted=$?
kill -TERM "$pid" 2>/dev/null
# Bounded: a server that ignores SIGTERM fails the check instead of hanging it.
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$pid" 2>/dev/null
wait "$pid"
status=$?
check "installed server greets on port $port" [ "$greeted" = 0 ]
check "installed server quits with 0 on SIGTERM (got $status)" [ "$status" = 0 ]
exit "$failed"
CHECK
if ! bash "$repo/tests/fixtures/with-sound-server.sh" bash "$work/start-check.sh" "$server" "$port" "$work/server.log" "$repo"; then
  sed 's/^/    server: /' "$work/server.log"
  failed=1
fi
dpkg --root="$root" --force-not-root --log=/dev/null -r quavix-server >"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log"; fail "dpkg remove"; }
left=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o -type f -print)
[ -z "$left" ] && pass "dpkg -r removes every file" || fail "left after dpkg -r: $left"
finish "$summary"
