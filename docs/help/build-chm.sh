#!/usr/bin/env bash
# Compiles help.chm from the UTF-8 sources in this folder.
#   build-chm.sh SOURCE_DIR OUTPUT_CHM VERSION USER_VERSION
# @TOLVARO_VERSION@ and @TOLVARO_USER_VERSION@ in the sources become the product's version
# (major.minor.release.build) and the three parts shown to users and compared by the installer.
# The viewer reads a Russian (0x419) help file, its contents tree, index and text popups in code
# page 1251, and the pages declare that charset: every source is converted first (a character
# that code page lacks fails the build rather than turning into a question mark).
set -euo pipefail
src=$1
out=$2
version=$3
user_version=$4
stage="$(dirname "$out")/help-src"
rm -rf "$stage"
mkdir -p "$stage"
files=(tolvaro.hhp toc.hhc index.hhk style.css popups.txt)
for page in "$src"/*.html; do files+=("$(basename "$page")"); done
for f in "${files[@]}"; do
  sed -e "s/@TOLVARO_VERSION@/$version/g" -e "s/@TOLVARO_USER_VERSION@/$user_version/g" "$src/$f" |
    iconv -f UTF-8 -t CP1251 >"$stage/$f"
done
# Every page must be in the project, or the compiler leaves it out without a word.
for page in "$src"/*.html; do
  grep -qx "$(basename "$page")" "$src/tolvaro.hhp" || { echo "$(basename "$page") is not in tolvaro.hhp" >&2; exit 1; }
done
rm -f "$stage/help.chm"
(cd "$stage" && chmcmd --no-html-scan tolvaro.hhp >chmcmd.log 2>&1) || { cat "$stage/chmcmd.log" >&2; exit 1; }
if [ ! -s "$stage/help.chm" ]; then
  cat "$stage/chmcmd.log" >&2
  exit 1
fi
# The file's directory lists its entries by name: each source must be inside.
for f in "${files[@]}"; do
  case "$f" in *.hhp) continue ;; esac
  grep -qaF "/$f" "$stage/help.chm" || { echo "help.chm lacks $f" >&2; exit 1; }
done
mv "$stage/help.chm" "$out"
