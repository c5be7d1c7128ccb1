#!/usr/bin/env bash
# Two builds of the same sources in two different folders give the same DLL, byte for byte:
#   reproducible-test.sh SOURCE_DIR BUILD_DIR
# The sources (what git tracks, plus files not yet added but not ignored) are copied to another
# folder and built there into another tree, with BUILD_DIR's configuration and its time stamp
# (BUILD_DIR/source-date-epoch). The two tolvaro.dll files are compared after their signatures are
# taken off: each tree signs with its own throw-away certificate, and a signature carries its
# signing time, so those bytes always differ. Neither file may contain either folder's name.
set -uo pipefail
src=$1 tree=$2
work=$(mktemp -d /tmp/tolvaro-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
cache() { sed -n "s/^$1:[A-Z]*=//p" "$tree/CMakeCache.txt"; }
epoch=$(cat "$tree/source-date-epoch" 2>/dev/null)
toolchain=$(cache CMAKE_TOOLCHAIN_FILE)
[ -n "$epoch" ] && [ -n "$toolchain" ] || { echo "FAIL: $tree has no configured time stamp or toolchain"; exit 1; }
mkdir -p "$work/src"
(cd "$src" && { git ls-files -z; git ls-files -z --others --exclude-standard; } | tar --null -T - -cf - | tar -xf - -C "$work/src") ||
  { echo "FAIL: could not copy the sources"; exit 1; }
toolchain=${toolchain/#$src/$work/src}
echo "second build: sources in $work/src, tree in $work/build, time stamp $epoch"
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE)" -DTOLVARO_SOURCE_DATE_EPOCH="$epoch" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; echo "FAIL: the second tree did not configure"; exit 1; }
cmake --build "$work/build" -j "${JOBS:-2}" --target tolvaro >"$work/build.log" 2>&1 ||
  { tail -30 "$work/build.log"; echo "FAIL: the second build failed"; exit 1; }
failures=0
for side in first second; do
  if [ $side = first ]; then dll=$tree/src/fps/tolvaro.dll; else dll=$work/build/src/fps/tolvaro.dll; fi
  osslsigncode remove-signature -in "$dll" -out "$work/$side.dll" >/dev/null 2>&1 ||
    { echo "FAIL: $dll has no signature to take off"; failures=$((failures + 1)); }
  for folder in "$src" "$tree" "$work"; do
    if grep -qaF "$folder" "$dll"; then echo "FAIL: the $side DLL contains the folder name $folder"; failures=$((failures + 1)); fi
  done
done
if cmp -s "$work/first.dll" "$work/second.dll"; then
  echo "identical: $(stat -c %s "$work/first.dll") bytes without the signature ($(sha256sum <"$work/first.dll" | cut -c1-16)...)"
else
  echo "FAIL: the two DLLs differ in $(cmp -l "$work/first.dll" "$work/second.dll" | wc -l) bytes; the first few (offset, octal values):"
  cmp -l "$work/first.dll" "$work/second.dll" | head -10
  failures=$((failures + 1))
fi
[ $failures -eq 0 ] || exit 1
