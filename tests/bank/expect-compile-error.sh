#!/usr/bin/env bash
# A compile that must fail, and fail for its own reason:
#   expect-compile-error.sh MESSAGE COMPILER ARGS...
# Passes only when the compiler exits non-zero and its output has MESSAGE (fixed text).
set -u
message=$1
shift
out=$("$@" 2>&1)
rc=$?
if [ $rc -eq 0 ]; then
  echo "FAIL: it compiled; expected the error: $message"
  exit 1
fi
if ! printf '%s\n' "$out" | grep -qF -- "$message"; then
  printf 'FAIL: the compiler failed (exit %s), but not with: %s\n%s\n' "$rc" "$message" "$out"
  exit 1
fi
echo "refused as expected (exit $rc): $message"
