#!/usr/bin/env bash
# The product files are Authenticode-signed and the signatures hold:
#   signatures-test.sh CA_PEM FILE...
# Every FILE verifies against the tree's test CA; a copy of each with one byte changed after
# signing (inside what the signature covers) is refused.
set -uo pipefail
ca=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
for file in "$@"; do
  name=$(basename "$file")
  if ! out=$(osslsigncode verify -CAfile "$ca" -in "$file" 2>&1); then
    echo "FAIL: $file does not verify:"
    echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
    continue
  fi
  echo "$name: $(echo "$out" | grep -m1 -i 'Message digest algorithm' | sed 's/^[[:space:]]*//'); verified"
  # A byte in the middle of the file: code or data of a DLL, a stream of an MSI.
  cp "$file" "$work/$name"
  size=$(stat -c %s "$file")
  offset=$((size / 2))
  old=$(od -An -tu1 -j "$offset" -N1 "$file" | tr -d ' ')
  printf "\\$(printf '%03o' $(((old + 1) % 256)))" | dd of="$work/$name" bs=1 seek="$offset" conv=notrunc status=none
  if osslsigncode verify -CAfile "$ca" -in "$work/$name" >/dev/null 2>&1; then
    echo "FAIL: $name with byte $offset changed after signing still verifies"
    failures=$((failures + 1))
  else
    echo "$name: refused once byte $offset is changed"
  fi
done
[ $failures -eq 0 ] || { echo "$failures file(s) failed"; exit 1; }
echo "all $# files signed, and a change after signing is refused"
