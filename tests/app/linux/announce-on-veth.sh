#!/usr/bin/env bash
# quavix-server announced through a real avahi-daemon, found with avahi-browse and
# quavix-remote list. Nothing leaves this test: the system bus is a private dbus-daemon, and
# avahi-daemon runs in a network namespace made here, with allow-interfaces naming the one end
# of a veth pair whose other end is in a second namespace made here.
#   announce-on-veth.sh <quavix-server> <quavix-remote>
# Needs root (namespaces) and the sound server of tests/fixtures/with-sound-server.sh.
set -uo pipefail
skip() {
  [ -n "${QUAVIX_REQUIRE_ANNOUNCE:-}" ] && { echo "FAIL: $*" >&2; exit 1; }
  echo "SKIP: $*"
  exit 77
}
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: network namespaces need root"
  exit 77
fi
[ -n "${QUAVIX_SOUND_SERVER:-}" ] || skip "no sound server"
for tool in avahi-daemon avahi-browse avahi-publish dbus-daemon ip unshare; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
server_bin=$1
remote_bin=$2
export LSAN_OPTIONS="suppressions=$(dirname "$0")/lsan-desktop.supp:${LSAN_OPTIONS:-}"

tag="qxan$$"                       # interface names: 15 characters at most
ns_a="quavix-announce-$$-a"        # avahi-daemon and the servers
ns_b="quavix-announce-$$-b"        # a client across the veth
veth_a="${tag}a"
veth_b="${tag}b"
root=$(mktemp -d /tmp/quavix-announce.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  ip netns del "$ns_a" 2>/dev/null
  ip netns del "$ns_b" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in "$root"/*.err; do echo "--- $f" >&2; cat "$f" >&2; done
  echo "--- avahi-browse" >&2
  avahi-browse -rpt _quavix._tcp >&2 2>&1
  exit 1
}
# Polls a condition (a command) every 100 ms until it holds, for at most $1 seconds.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  while [ "$SECONDS" -lt "$end" ]; do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# The two namespaces and the veth between them; IPv6 addresses without duplicate detection, so
# they are usable at once.
ip netns add "$ns_a" && ip netns add "$ns_b" || fail "cannot make network namespaces"
ip link add "$veth_a" netns "$ns_a" type veth peer name "$veth_b" netns "$ns_b" ||
  fail "cannot make the veth pair"
for side in a b; do
  ns_var="ns_$side" && veth_var="veth_$side"
  ns=${!ns_var} && veth=${!veth_var}
  n=$([ "$side" = a ] && echo 1 || echo 2)
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
  ip -n "$ns" link set lo up
  ip -n "$ns" link set "$veth" up
  ip -n "$ns" addr add "10.77.0.$n/24" dev "$veth"
  ip -n "$ns" addr add "fd00:77::$n/64" dev "$veth" nodad
done

# The private system bus.
cat >"$root/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$root/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$root/bus.conf" --nofork --nopidfile 2>"$root/dbus.err" &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$root/bus"
wait_for 10 test -S "$root/bus" || fail "the private bus did not start"

cat >"$root/avahi.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=yes
allow-interfaces=$veth_a
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-workstation=no
publish-hinfo=no
publish-domain=no
publish-addresses=yes
[reflector]
enable-reflector=no
CONF
avahi_pid=""
# avahi-daemon keeps its pid file and socket in /run/avahi-daemon: a private /run (a mount
# namespace of its own) keeps them apart from any other daemon on this machine.
start_avahi() {
  ip netns exec "$ns_a" unshare -m sh -c "mount -t tmpfs tmpfs /run &&
    mount -t tmpfs tmpfs /etc/avahi/services &&
    exec avahi-daemon -f '$root/avahi.conf' --no-drop-root --no-chroot --no-rlimits \
      --no-proc-title" 2>>"$root/avahi.err" &
  avahi_pid=$!
  pids+=("$avahi_pid")
  wait_for 10 avahi-browse -at >/dev/null 2>&1 || fail "avahi-daemon did not start"
}
stop_avahi() {
  kill "$avahi_pid" && wait "$avahi_pid" 2>/dev/null
}

host=$(hostname)
host=${host%%.*}
name="Quavix Server on $host"
# avahi-browse -p writes a space in a name as \032.
name_p=${name// /\\032}
# Whether avahi-browse finds the service named $1 (as avahi-browse writes it) on port $2 at one
# of the veth's addresses, with its TXT record. (Interface names and indexes are those of
# another namespace here, so they say nothing.)
found() {
  # The name goes through the environment: awk -v would read \032 as an escape.
  avahi-browse -rpt _quavix._tcp 2>/dev/null | NAME="$1" PORT="$2" awk -F';' '
    $1 == "=" && $4 == ENVIRON["NAME"] && ($8 == "10.77.0.1" || $8 == "fd00:77::1") && $9 == ENVIRON["PORT"] &&
      $10 == "\"txtvers=1\"" { hit = 1 }
    END { exit !hit }'
}
none_found() { ! avahi-browse -rpt _quavix._tcp 2>/dev/null | grep -q '^[+=]'; }
# Whether `quavix-remote list` prints the server named $1 with both of the veth's addresses on
# port $2.
listed() {
  "$remote_bin" list >"$root/list.out" 2>>"$root/list.err" &&
    awk -F'\t' -v name="$1" -v port="$2" '
      $1 == name { for (i = 3; i <= NF; ++i) { if ($i == "10.77.0.1:" port) v4 = 1;
                                              if ($i == "[fd00:77::1]:" port) v6 = 1;
                                              if ($i == "" || $i ~ /^:/) bad = 1 } }
      END { exit !(v4 && v6 && !bad) }' "$root/list.out"
}
start_server() {  # $1: a name for its files; the rest: its environment
  local label=$1
  shift
  mkdir -p "$root/$label/config" "$root/$label/run"
  chmod 700 "$root/$label/run"
  ip netns exec "$ns_a" env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
    XDG_CONFIG_HOME="$root/$label/config" XDG_RUNTIME_DIR="$root/$label/run" "$@" \
    "$server_bin" >"$root/$label.out" 2>"$root/$label.err" &
  pids+=($!)
}
greets() { ip netns exec "$ns_b" "$remote_bin" "10.77.0.1:$1" get >/dev/null 2>&1; }
avahi_lines() { grep -c -i 'avahi' "$root/first.err"; }

# Started while no avahi-daemon runs: serves, and says so once.
start_server first
first_pid=${pids[-1]}
wait_for 10 grep -q 17495 "$root/first.out" || fail "the server did not start"
wait_for 10 greets 17495 || fail "no greeting across the veth without avahi-daemon"
wait_for 10 test "$(avahi_lines)" -ge 1 || fail "no line about the missing avahi-daemon"
"$remote_bin" list >/dev/null 2>&1 && fail "list found a server without avahi-daemon"

# The daemon comes up later: the server is announced without a restart.
start_avahi
wait_for 15 found "$name_p" 17495 || fail "not announced once avahi-daemon started"
wait_for 10 listed "$name" 17495 || fail "quavix-remote list did not list the server"

# The daemon restarts: announced again.
stop_avahi
start_avahi
wait_for 15 found "$name_p" 17495 || fail "not announced again after avahi-daemon restarted"

# A port change moves the announcement.
# In the server's namespace: --set-port waits for the greeting on the new port.
ip netns exec "$ns_a" env XDG_CONFIG_HOME="$root/first/config" XDG_RUNTIME_DIR="$root/first/run" \
  "$server_bin" --set-port 17498 >/dev/null || fail "--set-port failed"
wait_for 15 found "$name_p" 17498 || fail "not announced on the new port"
found "$name_p" 17495 && fail "still announced on the old port"

# A second server (another user's, on 17497) with the same name takes Avahi's alternative.
mkdir -p "$root/second/config"
XDG_CONFIG_HOME="$root/second/config" "$server_bin" --set-port 17497 >/dev/null ||
  fail "--set-port failed for the second server"
start_server second
second_pid=${pids[-1]}
wait_for 15 found "${name_p}\\032\\0352" 17497 || fail "the second server took no alternative name"
found "$name_p" 17498 || fail "the first server lost its name"

# Quitting withdraws.
kill "$first_pid" && wait "$first_pid"
wait_for 10 eval '! found "$name_p" 17498' || fail "still announced after quitting"
kill "$second_pid" && wait "$second_pid"
wait_for 10 none_found || fail "the second server is still announced after quitting"
# A withdrawn record lingers in the daemon's cache for a second after its goodbye.
list_says_none() {
  "$remote_bin" list >"$root/list.out"
  [ $? -eq 1 ] && [ ! -s "$root/list.out" ]
}
wait_for 10 list_says_none || fail "list did not exit 1 with no server: $(cat "$root/list.out")"

[ "$(avahi_lines)" -eq 1 ] || fail "the server did not say exactly once that avahi-daemon is missing"
echo "PASS"
