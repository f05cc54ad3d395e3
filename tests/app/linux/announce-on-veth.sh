#!/usr/bin/env bash
# quavix-server announced through a real avahi-daemon, found with avahi-browse and
# quavix-remote list; the announcer on its own; and all of them while the daemon hangs
# (SIGSTOP). Nothing leaves this test: the system bus is a private dbus-daemon, and
# avahi-daemon runs in a network namespace made here, with allow-interfaces naming the one end
# of a veth pair whose other end is in a second namespace made here.
#   announce-on-veth.sh <quavix-server> <quavix-remote> <announcer_on_veth_check>
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
check_bin=$3
export LSAN_OPTIONS="suppressions=$(dirname "$0")/lsan-desktop.supp:${LSAN_OPTIONS:-}"

tag="qxan$$"                       # interface names: 15 characters at most
ns_a="quavix-announce-$$-a"        # avahi-daemon and the servers
ns_b="quavix-announce-$$-b"        # a client across the veth
veth_a="${tag}a"
veth_b="${tag}b"
root=$(mktemp -d /tmp/quavix-announce.XXXXXX)
pids=()
# SIGTERM, and SIGKILL for a process still there 10 s later (it hangs); then reaps it. Fails
# (status 1) when it took SIGKILL.
end_process() {
  kill "$1" 2>/dev/null || return 0
  kill -CONT "$1" 2>/dev/null  # a stopped process takes its signal only once it runs
  local end=$((SECONDS + 10)) hung=0
  while kill -0 "$1" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do sleep 0.1; done
  kill -0 "$1" 2>/dev/null && { hung=1; kill -CONT "$1"; kill -KILL "$1"; } 2>/dev/null
  wait "$1" 2>/dev/null
  return "$hung"
}
cleanup() {
  for pid in "${pids[@]}"; do end_process "$pid"; done
  ip netns del "$ns_a" 2>/dev/null
  ip netns del "$ns_b" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT
# Where the test is, for a run that ends in a time-out.
note() { echo "${SECONDS}s: $*"; }
fail() {
  echo "FAIL after ${SECONDS}s: $*" >&2
  [ -n "${avahi_pid:-}" ] && kill -CONT "$avahi_pid" 2>/dev/null
  for f in "$root"/*.err; do echo "--- $f" >&2; cat "$f" >&2; done
  echo "--- avahi-browse" >&2
  timeout 10 avahi-browse -rpt _quavix._tcp >&2 2>&1
  exit 1
}
# Runs a command and fails unless it succeeds within $1 milliseconds.
within() {
  local limit=$1 start rc took
  shift
  start=$(date +%s%3N)
  "$@"
  rc=$?
  took=$(($(date +%s%3N) - start))
  [ "$rc" -eq 0 ] && [ "$took" -le "$limit" ] && return 0
  echo "took $took ms (at most $limit), status $rc: $*" >&2
  return 1
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
  wait_for 10 timeout 5 avahi-browse -at >/dev/null 2>&1 || fail "avahi-daemon did not start"
}
stop_avahi() {
  end_process "$avahi_pid"
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
  timeout 10 avahi-browse -rpt _quavix._tcp 2>/dev/null | NAME="$1" PORT="$2" awk -F';' '
    $1 == "=" && $4 == ENVIRON["NAME"] && ($8 == "10.77.0.1" || $8 == "fd00:77::1") && $9 == ENVIRON["PORT"] &&
      $10 == "\"txtvers=1\"" { hit = 1 }
    END { exit !hit }'
}
none_found() { ! timeout 10 avahi-browse -rpt _quavix._tcp 2>/dev/null | grep -q '^[+=]'; }
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

note "serving without avahi-daemon"
# The daemon comes up later: the server is announced without a restart.
start_avahi
wait_for 15 found "$name_p" 17495 || fail "not announced once avahi-daemon started"
wait_for 10 listed "$name" 17495 || fail "quavix-remote list did not list the server"

# The daemon restarts: announced again.
stop_avahi
start_avahi
wait_for 15 found "$name_p" 17495 || fail "not announced again after avahi-daemon restarted"

note "announced, and again after a restart of the daemon"
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

note "moved, and a second server took an alternative name"
# A stranger's name that would forge fields and lines and drive the terminal: list shows it
# escaped, so each line has exactly its fields.
avahi-publish -s $'Quavix Server on bank\tbank.local\t6.6.6.6:1\n\e[31mX' _quavix._tcp 1234 \
  >/dev/null 2>"$root/publish.err" &
publish_pid=$!
pids+=("$publish_pid")
list_escaped() {
  "$remote_bin" list >"$root/list.out" 2>>"$root/list.err" &&
    grep -qF 'Quavix Server on bank\tbank.local\t6.6.6.6:1\n\x1B[31mX' "$root/list.out" &&
    ! grep -q $'\e' "$root/list.out" && [ "$(wc -l <"$root/list.out")" -eq 3 ]
}
wait_for 15 list_escaped || fail "list printed a stranger's name raw: $(cat -A "$root/list.out")"
kill "$publish_pid" && wait "$publish_pid" 2>/dev/null

note "a stranger's name shown escaped"
# The announcer in a process that lives on: what it withdraws leaves the daemon, as after a
# move whose way back failed too.
QUAVIX_AVAHI_CONF="$root/avahi.conf" timeout 90 "$check_bin" >"$root/check.err" 2>&1 || fail "the announcer's own check failed (or took 90 s)"

note "the announcer's own check passed"
# A daemon that hangs holds up neither a move, nor a start, nor quitting, nor list; the
# announcement catches up once it answers again.
kill -STOP "$avahi_pid"
set_port() {
  ip netns exec "$ns_a" env XDG_CONFIG_HOME="$root/first/config" \
    XDG_RUNTIME_DIR="$root/first/run" "$server_bin" --set-port "$1" >/dev/null
}
within 4000 set_port 17499 || fail "a move waited for the hung daemon"
within 4000 set_port 17500 || fail "a second move waited for the hung daemon"
start_server third
third_pid=${pids[-1]}
within 5000 wait_for 5 grep -q listening "$root/third.out" ||
  fail "the start-up line waited for the hung daemon"
quit_third() { kill "$third_pid" && wait "$third_pid"; }
within 3000 quit_third || fail "quitting waited for the hung daemon"
list_hung() {
  "$remote_bin" list >"$root/hung.out" 2>"$root/hung.err"
  [ $? -eq 1 ] && grep -q "avahi-daemon is not answering" "$root/hung.err"
}
within 5500 list_hung || fail "list with a hung daemon: $(cat "$root/hung.err")"
"$remote_bin" list >/dev/null 2>&1 &
list_pid=$!
sleep 1
interrupt_list() {
  kill -INT "$list_pid"
  wait "$list_pid"
  [ $? -eq 130 ]
}
within 1000 interrupt_list || fail "Ctrl+C did not end list at once with 130"
kill -CONT "$avahi_pid"
wait_for 30 found "$name_p" 17500 || fail "the announcement did not catch up with the daemon"

note "nothing waited for the hung daemon, and announcing caught up"
# Quitting withdraws.
end_process "$first_pid" || fail "the first server did not quit within 10 s"
wait_for 10 eval '! found "$name_p" 17500' || fail "still announced after quitting"
end_process "$second_pid" || fail "the second server did not quit within 10 s"
wait_for 10 none_found || fail "the second server is still announced after quitting"
# A withdrawn record lingers in the daemon's cache for a second after its goodbye.
list_says_none() {
  "$remote_bin" list >"$root/list.out"
  [ $? -eq 1 ] && [ ! -s "$root/list.out" ]
}
wait_for 10 list_says_none || fail "list did not exit 1 with no server: $(cat "$root/list.out")"

[ "$(avahi_lines)" -eq 1 ] || fail "the server did not say exactly once that avahi-daemon is missing"
echo "PASS"
