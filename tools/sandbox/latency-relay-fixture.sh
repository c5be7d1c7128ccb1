#!/usr/bin/env bash
# A latency relay in front of the running sandbox's kept-alive listener, as a ctest fixture
# (or for the benchmark).
#   latency-relay-fixture.sh start RELAY_BINARY SANDBOX_INFO WORKDIR [DELAY_MS [http|https]]
#       relay to the sandbox's kept_http= (or kept_https=) listener with DELAY_MS each way
#       (default 0), listening on 127.0.0.1 and, where the host has IPv6, ::1 on the same
#       port; wait until it listens (WORKDIR/relay.info: port=, listen=, control=, pid=)
#   latency-relay-fixture.sh stop WORKDIR
#       stop it by its PID
# The relay's connection log goes to WORKDIR/relay.log, its output to WORKDIR/relay.out.
set -u

# shellcheck source=daemon.sh
. "$(dirname "$0")/daemon.sh"
WHAT="the latency relay"

case "${1:-}" in
  start)
    bin=${2:?relay binary}; info=${3:?sandbox info file}; dir=${4:?work dir}
    delay=${5:-0}; scheme=${6:-http}
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    if [ -f "$dir/relay.pid" ]; then stop_pid "$(cat "$dir/relay.pid")" tolvaro_latency_relay; fi
    rm -f "$dir/relay.info" "$dir/relay.pid" "$dir/relay.out"
    [ -x "$bin" ] || start_failed "$WHAT" "no program at $bin (build it first)"
    target=$(sed -n "s/^kept_${scheme}=//p" "$info" 2>/dev/null)
    [ -n "$target" ] || start_failed "$WHAT" "the sandbox's info file names no kept_${scheme} listener" "$info"
    listen=(--listen 127.0.0.1:0)
    if [ -e /proc/net/if_inet6 ] && grep -q '^0\{31\}1 ' /proc/net/if_inet6; then listen+=(--listen '[::1]:0'); fi
    start_daemon "$WHAT" tolvaro_latency_relay "$dir" relay 10 "$bin" "${listen[@]}" --to "$target" --delay-ms "$delay" \
      --info-file "$dir/relay.info" --log "$dir/relay.log"
    ;;
  stop)
    dir=${2:?work dir}
    rc=0
    if [ -f "$dir/relay.pid" ]; then
      stop_pid "$(cat "$dir/relay.pid")" tolvaro_latency_relay || rc=1
      rm -f "$dir/relay.pid"
    fi
    [ -s "$dir/relay.out" ] && cat "$dir/relay.out"
    exit $rc
    ;;
  *)
    echo "usage: latency-relay-fixture.sh start RELAY_BINARY SANDBOX_INFO WORKDIR [DELAY_MS [http|https]] | stop WORKDIR" >&2
    exit 2
    ;;
esac
