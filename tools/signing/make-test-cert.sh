#!/usr/bin/env bash
# Makes a build tree's throw-away code-signing identity: a test CA and a signing certificate
# issued by it (code signing only), valid for a few days, never trusted anywhere but in the
# tree's own checks.
#   make-test-cert.sh OUT_DIR
# OUT_DIR gets ca.pem (the CA's certificate, for osslsigncode verify), signer.p12 (certificate and
# key for signing) and signer.pass (its password, readable by the owner only).
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
umask 077
openssl rand -hex 16 >"$work/pass"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" -days 7 \
  -subj "/CN=tolvaro test code-signing CA (throw-away)" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" \
  -subj "/CN=tolvaro test signer (throw-away)/O=Qelm" 2>/dev/null
printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" >"$work/signer.ext"
openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -days 7 -sha256 -extfile "$work/signer.ext" -out "$work/signer.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -certfile "$work/ca.pem" \
  -passout "file:$work/pass" -out "$work/signer.p12"
mv "$work/pass" "$out/signer.pass"
mv "$work/signer.p12" "$out/signer.p12"
mv "$work/ca.pem" "$out/ca.pem"
