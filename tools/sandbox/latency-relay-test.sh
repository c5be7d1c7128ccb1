#!/usr/bin/env bash
# The latency relay (tolvaro_latency_relay) in front of the running sandbox's kept listener:
# its command line, the delay it adds (lower bounds only: a busy machine only adds time), the
# round trip a new connection costs, one connection for requests that reuse it, its control
# line's counts, and the answers it drips on command.
#   latency-relay-test.sh RELAY_BINARY WORKDIR   (TOLVARO_SANDBOX: the running fixture's info file)
set -u
bin=${1:?relay binary}; dir=${2:?work dir}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
failures=0; passed=0
check() {  # check NAME CONDITION-RESULT
  if [ "$2" = 0 ]; then passed=$((passed + 1)); else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
trap '"$here/latency-relay-fixture.sh" stop "$dir/relay" >/dev/null 2>&1' EXIT

"$bin" --help >"$dir/help.out" 2>&1
check "--help exits 0 and shows the options" $([ $? = 0 ] && grep -q -- '--delay-ms N' "$dir/help.out"; echo $?)
"$bin" --listen 127.0.0.1:0 >"$dir/bad.out" 2>&1; rc=$?
check "a relay without --to is refused" $([ $rc = 2 ] && grep -q -- "--to are required" "$dir/bad.out"; echo $?)

"$here/latency-relay-fixture.sh" start "$bin" "${TOLVARO_SANDBOX:?}" "$dir/relay" 100 http >/dev/null ||
  { echo "FAILED: the relay did not start"; exit 1; }
port=$(sed -n 's/^port=//p' "$dir/relay/relay.info")
control=$(sed -n 's/^control=//p' "$dir/relay/relay.info")
stats() { exec 3<>"/dev/tcp/${control%:*}/${control##*:}" && echo stats >&3 && cat <&3; exec 3<&-; }

# Two requests on one connection: the first pays the connection's round trip and its own
# (4 x 100 ms), the second its own (2 x 100 ms).
url="http://127.0.0.1:$port/_control/nothing"
times=$(curl -s -o /dev/null -o /dev/null -w '%{time_total} %{num_connects}\n' "$url" "$url")
first=$(echo "$times" | sed -n 1p); second=$(echo "$times" | sed -n 2p)
check "the first request waits a connection's round trip and its own ($first)" \
  $(awk -v t="${first% *}" 'BEGIN { exit !(t >= 0.38) }'; echo $?)
check "the second request reuses the connection and waits one round trip ($second)" \
  $(awk -v t="${second% *}" -v n="${second#* }" 'BEGIN { exit !(t >= 0.19 && n == 0) }'; echo $?)
s=$(stats)
check "one connection accepted, closed by the client ($s)" \
  $(echo "$s" | grep -q 'accepted=1 .*client_closed=1'; echo $?)

# Dripping: a connection accepted after "drip MS" gets the server's bytes one every MS ms (a
# lower bound again); in plain HTTP the answer is all there is to drip. "drip off" ends it for
# the connections after it.
command() { exec 3<>"/dev/tcp/${control%:*}/${control##*:}" && echo "$1" >&3 && cat <&3; exec 3<&-; }
for mode in "" " answer"; do
  a=$(command "drip 20$mode")
  check "drip 20$mode is taken ($a)" $([ "$a" = "drip=20 from=$([ -n "$mode" ] && echo answer || echo first)" ]; echo $?)
  got=$(curl -s -o /dev/null -w '%{size_header} %{size_download} %{time_total}' "$url")
  read -r header body total <<<"$got"
  check "drip 20$mode: $((header + body)) bytes of the answer take 20 ms each ($total s)" \
    $(awk -v t="$total" -v n=$((header + body)) 'BEGIN { exit !(n > 50 && t >= (n - 1) * 0.02) }'; echo $?)
done
a=$(command "drip off")
check "drip off is taken ($a)" $([ "$a" = "drip=off" ]; echo $?)
a=$(command "drip 0")
check "drip 0 is refused ($a)" $(echo "$a" | grep -q '^error'; echo $?)

echo "$passed passed, $failures failed"
[ "$failures" = 0 ]
