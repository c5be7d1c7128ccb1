#!/usr/bin/env bash
# The 64-bit tree's runner starts its programs with the 64-bit loader itself: with Debian's
# wrapper scripts (wine, wineboot, winepath, regsvr32, msiexec) and the 32-bit loader all
# failing as they do where the kernel refuses 32-bit programs, and with TOLVARO_WIN32=off, a
# program still runs, and the runner's --gate still runs its command.
#   wine64-alone-test.sh WINE_RUN   (the 64-bit tree's wine-run.sh)
set -uo pipefail
run=$1
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
for name in wine wine-stable wineboot winepath regsvr32 msiexec wine32; do
  printf '#!/bin/sh\necho "%s: Exec format error" >&2\nexit 126\n' "$name" >"$fake/$name"
  chmod +x "$fake/$name"
done
export PATH="$fake:$PATH" TOLVARO_WIN32=off TOLVARO_WINE32_LOADER="$fake/wine32"

out=$("$run" cmd /c echo 64-bit alone 2>&1 | tr -d '\r')
rc=$?
echo "cmd: exit $rc: $out"
[ $rc -eq 0 ] && [ "$out" = "64-bit alone" ] || { echo "FAIL: the 64-bit runner did not run cmd.exe"; exit 1; }
out=$("$run" --gate echo gated 2>&1)
[ "$out" = gated ] || { echo "FAIL: --gate in the 64-bit tree: $out"; exit 1; }
echo "the 64-bit runner needs neither the wrapper nor the 32-bit loader"
