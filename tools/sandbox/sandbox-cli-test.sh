#!/usr/bin/env bash
# The sandbox's command line: --help, clear start-up errors with a non-zero exit, and a
# prompt clean shutdown on SIGTERM while a request hangs in a scripted delay.
#   sandbox-cli-test.sh SANDBOX_BINARY WORKDIR   (TOLVARO_SANDBOX: the running fixture's info file)
set -u
bin=${1:?sandbox binary}; dir=${2:?work dir}
mkdir -p "$dir"
failures=0; passed=0
check() {  # check NAME CONDITION-RESULT
  if [ "$2" = 0 ]; then passed=$((passed + 1)); else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
pid=
cleanup() { [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; }
trap cleanup EXIT

"$bin" --help >"$dir/help.out" 2>&1
check "--help exits 0 and shows the options" $([ $? = 0 ] && grep -q -- '--terminal KEY:PASSWORD' "$dir/help.out"; echo $?)

"$bin" --frobnicate >"$dir/bad.out" 2>&1; rc=$?
check "an unknown option is refused" $([ $rc = 2 ] && grep -q "unknown option '--frobnicate'" "$dir/bad.out"; echo $?)

# The fixture's sandbox holds its HTTP port.
port=$(sed -n 's|^http=http://127.0.0.1:||p' "${TOLVARO_SANDBOX:?}")
timeout 20 "$bin" --http "127.0.0.1:$port" >"$dir/inuse.out" 2>&1; rc=$?
check "a port in use is a clear start-up error" \
  $([ $rc = 2 ] && grep -q "cannot listen on 127.0.0.1:$port: Address already in use" "$dir/inuse.out"; echo $?)

echo "not a certificate" >"$dir/bad.pem"
timeout 20 "$bin" --https 127.0.0.1:0 --cert "$dir/bad.pem" --key "$dir/bad.pem" >"$dir/cert.out" 2>&1; rc=$?
check "a bad certificate is a clear start-up error" \
  $([ $rc = 2 ] && grep -q "cannot load the certificate $dir/bad.pem" "$dir/cert.out"; echo $?)

timeout 20 "$bin" --date-offset soon >"$dir/offset.out" 2>&1; rc=$?
check "a bad --date-offset is a clear start-up error" $([ $rc = 2 ] && grep -q -- "--date-offset takes whole seconds" "$dir/offset.out"; echo $?)

# Every answer has a Date header: the real time on the fixture's sandbox, ten minutes behind
# with --date-offset -600 (a client's clock check reads it).
date_of() { curl -s -m 10 -o /dev/null -D - "$1/v2/Init" -X POST -d '{}' | sed -n 's/^[Dd]ate: *//p' | tr -d '\r'; }
fixture_http=$(sed -n 's/^http=//p' "$TOLVARO_SANDBOX")
real=$(date -d "$(date_of "$fixture_http")" +%s 2>/dev/null || echo 0)
check "the Date header is the real time" $([ $((real - $(date +%s))) -ge -60 ] && [ $((real - $(date +%s))) -le 60 ]; echo $?)
rm -f "$dir/info"
"$bin" --http 127.0.0.1:0 --date-offset -600 --info-file "$dir/info" --log "$dir/offset.log" </dev/null >"$dir/offset-run.out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do [ -s "$dir/info" ] && break; sleep 0.1; done
shifted=$(date -d "$(date_of "$(sed -n 's/^http=//p' "$dir/info")")" +%s 2>/dev/null || echo 0)
diff=$(($(date +%s) - shifted))
check "--date-offset -600 puts the Date ten minutes behind (got $diff s)" $([ $diff -ge 540 ] && [ $diff -le 660 ]; echo $?)
kill -TERM "$pid"; wait "$pid"; pid=

# The fixture's expired certificate: issued by its CA for localhost, and expired.
ca=$(sed -n 's/^ca_pem=//p' "$TOLVARO_SANDBOX"); expired=$(sed -n 's/^expired_pem=//p' "$TOLVARO_SANDBOX")
openssl verify -CAfile "$ca" "$expired" >"$dir/expired.out" 2>&1
check "the fixture's expired certificate is its CA's and has expired" \
  $(grep -q 'certificate has expired' "$dir/expired.out" && openssl verify -no_check_time -CAfile "$ca" "$expired" >/dev/null 2>&1 \
    && openssl x509 -in "$expired" -noout -ext subjectAltName | grep -q 'DNS:localhost'; echo $?)

# SIGTERM while a request hangs in a long delay.
rm -f "$dir/info"
"$bin" --http 127.0.0.1:0 --terminal T:P --info-file "$dir/info" --log "$dir/requests.log" </dev/null >"$dir/run.out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do [ -s "$dir/info" ] && break; sleep 0.1; done
base=$(sed -n 's/^http=//p' "$dir/info")
code=$(curl -s -o /dev/null -w '%{http_code}' -X POST "$base/_control/terminals/T/script" \
       -d '{"Operation":"*","Answer":{"Kind":"delay","Ms":600000}}')
check "the ten-minute delay is scripted" $([ "$code" = 200 ]; echo $?)
curl -s -m 120 -X POST "$base/v2/Init" -d '{"Amount":1,"OrderId":"O","TerminalKey":"T"}' >/dev/null 2>&1 &
curl_pid=$!
# The request is in: the terminal's request record has it (the request log gets its line
# only once answered).
held=1
for _ in $(seq 1 100); do
  curl -s -m 5 "$base/_control/terminals/T/requests" | grep -q '"Path":"/v2/Init"' && { held=0; break; }
  sleep 0.1
done
check "the sandbox holds the request" $held
sleep 0.5
check "the client is still waiting when SIGTERM is sent" $(kill -0 "$curl_pid" 2>/dev/null; echo $?)
kill -TERM "$pid"
stopped=1
for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || { stopped=0; break; }; sleep 0.1; done
check "SIGTERM stops it within 15 s although a request hangs" $stopped
wait "$pid"; rc=$?; pid=
check "the shutdown is clean (exit 0, info file removed)" $([ $rc = 0 ] && [ ! -e "$dir/info" ]; echo $?)
kill "$curl_pid" 2>/dev/null; wait "$curl_pid" 2>/dev/null

echo "$passed passed, $failures failed"
[ $failures = 0 ]
