#!/usr/bin/env bash
# Authenticode-signs a DLL or an MSI in place, SHA-256.
#   sign.sh FILE TEST_IDENTITY_DIR [DESCRIPTION]
# With TOLVARO_SIGN_PKCS12 set (a release with the real certificate), that PKCS#12 file is used,
# its password taken from TOLVARO_SIGN_PASSWORD; otherwise the build tree's throw-away identity
# in TEST_IDENTITY_DIR (make-test-cert.sh). TOLVARO_TIMESTAMP_URL adds an RFC 3161 time stamp.
# The password goes to osslsigncode through a file only this user can read, never on a command
# line (other users see those) or in any output.
set -euo pipefail
file=$1 identity=$2 description=${3:-tolvaro}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 077
if [ -n "${TOLVARO_SIGN_PKCS12:-}" ]; then
  [ -r "$TOLVARO_SIGN_PKCS12" ] || { echo "sign.sh: TOLVARO_SIGN_PKCS12 names no readable file" >&2; exit 1; }
  p12=$TOLVARO_SIGN_PKCS12
  printf '%s' "${TOLVARO_SIGN_PASSWORD:-}" >"$work/pass"
else
  p12=$identity/signer.p12
  cp "$identity/signer.pass" "$work/pass"
fi
timestamp=()
[ -z "${TOLVARO_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$TOLVARO_TIMESTAMP_URL")
# A file signed before (a relinked DLL is not; a copy may be) loses the old signature first.
if osslsigncode extract-signature -in "$file" -out "$work/old.sig" >/dev/null 2>&1; then
  osslsigncode remove-signature -in "$file" -out "$work/unsigned" >/dev/null
  cp "$work/unsigned" "$file"
fi
if ! osslsigncode sign -pkcs12 "$p12" -readpass "$work/pass" -h sha256 -n "$description" \
     -i "https://www.quorvel.example" "${timestamp[@]}" -in "$file" -out "$work/signed" >"$work/log" 2>&1; then
  echo "sign.sh: signing $file failed:" >&2
  cat "$work/log" >&2
  exit 1
fi
cat "$work/signed" >"$file"
