#!/usr/bin/env bash
# The test run's bank sandbox, as a ctest fixture of one build tree.
#   sandbox-fixture.sh start SANDBOX_BINARY WORKDIR   make a throw-away CA and a server certificate
#                                                     for localhost (and an expired one of the same
#                                                     CA, not served), start the sandbox, wait
#                                                     until it listens (WORKDIR/sandbox.info)
#   sandbox-fixture.sh stop WORKDIR                   stop it by its PID
# The sandbox's output goes to WORKDIR/sandbox.out, its request log to WORKDIR/requests.log.
# A start that fails says what failed and why in its first line, with the file to read; the
# end of that file follows.
set -u

# shellcheck source=daemon.sh
. "$(dirname "$0")/daemon.sh"
WHAT="the bank sandbox"

cmd=${1:-}
case "$cmd" in
  start)
    bin=${2:?sandbox binary}; dir=${3:?work dir}
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    # A sandbox left by an interrupted run of this tree goes first.
    if [ -f "$dir/sandbox.pid" ]; then stop_pid "$(cat "$dir/sandbox.pid")" tolvaro_sandbox; fi
    rm -f "$dir/sandbox.info" "$dir/sandbox.pid" "$dir/sandbox.out"
    [ -x "$bin" ] || start_failed "$WHAT" "no program at $bin (build it first)"

    # A new CA for every run: nothing but this run's test prefix or CA file trusts it.
    (
      set -e
      cd "$dir"
      rm -f ca.key ca.pem ca.der server.key server.csr server.pem server-expired.pem ca.srl
      openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
        -subj "/CN=Tolvaro sandbox test CA $$" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
      openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost"
      printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' >server.ext
      openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 \
        -extfile server.ext
      openssl x509 -in ca.pem -outform DER -out ca.der
      # The same key and name, signed by the same CA, valid for one day in 2020: a server
      # whose certificate has expired, for clients that must tell that from an untrusted one.
      rm -rf expired && mkdir expired && : >expired/index.txt
      printf '[ca]\ndefault_ca=expired\n[expired]\ndatabase=expired/index.txt\nnew_certs_dir=expired\nserial=expired/serial\npolicy=any\ndefault_md=sha256\n[any]\ncommonName=supplied\n' >expired/ca.cnf
      openssl ca -batch -config expired/ca.cnf -cert ca.pem -keyfile ca.key -in server.csr -out server-expired.pem \
        -startdate 20200101000000Z -enddate 20200102000000Z -extfile server.ext -notext -rand_serial
    ) >"$dir/openssl.out" 2>&1 || start_failed "$WHAT" "openssl could not make the test certificates" "$dir/openssl.out"

    # The kept listeners answer many requests per connection, for clients behind the latency
    # relay (latency-relay-fixture.sh); the info file names them kept_http= and kept_https=.
    listen_args=(--http 127.0.0.1:0 --https 127.0.0.1:0 --kept-http 127.0.0.1:0 --kept-https 127.0.0.1:0)
    # Clients may resolve localhost to ::1 first: listen there too when the host has IPv6
    # (and for plain HTTP, so IPv6 literals can be tested: the info file's http6= line).
    if [ -e /proc/net/if_inet6 ] && grep -q '^0\{31\}1 ' /proc/net/if_inet6; then
      listen_args+=(--https '[::1]:0' --http '[::1]:0')
    fi
    start_daemon "$WHAT" tolvaro_sandbox "$dir" sandbox 30 "$bin" "${listen_args[@]}" --cert "$dir/server.pem" \
      --key "$dir/server.key" --info-file "$dir/sandbox.info" --info "ca_pem=$dir/ca.pem" --info "ca_der=$dir/ca.der" \
      --info "cert_pem=$dir/server.pem" --info "key_pem=$dir/server.key" --info "expired_pem=$dir/server-expired.pem" \
      --log "$dir/requests.log"
    ;;
  stop)
    dir=${2:?work dir}
    rc=0
    if [ -f "$dir/sandbox.pid" ]; then
      stop_pid "$(cat "$dir/sandbox.pid")" tolvaro_sandbox || rc=1
      rm -f "$dir/sandbox.pid"
    fi
    # What the sandbox printed (sanitizer reports included) goes into the test's output, and a
    # report of AddressSanitizer, LeakSanitizer or UBSan fails the step.
    if [ -s "$dir/sandbox.out" ]; then
      cat "$dir/sandbox.out"
      if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|SUMMARY: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer)' "$dir/sandbox.out"; then
        echo "FAIL: the sandbox's sanitizers reported a fault (see $dir/sandbox.out)"
        rc=1
      fi
    fi
    exit $rc
    ;;
  *)
    echo "usage: sandbox-fixture.sh start SANDBOX_BINARY WORKDIR | stop WORKDIR" >&2
    exit 2
    ;;
esac
