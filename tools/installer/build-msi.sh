#!/usr/bin/env bash
# Puts the product together and builds its two MSI packages with wixl.
#   build-msi.sh WXS VERSION DLL32 STRIP32 DLL64 STRIP64 HELP_CHM OUT_DIR
# OUT_DIR/stage/x86 and x64 get the stripped DLLs, each with help.chm (the build trees keep
# their debug information); OUT_DIR gets tolvaro-VERSION.msi (every user of the machine) and
# tolvaro-VERSION-user.msi (the current user).
set -euo pipefail
wxs=$1 version=$2 dll32=$3 strip32=$4 dll64=$5 strip64=$6 help=$7 out=$8
stage="$out/stage"
rm -rf "$stage"
mkdir -p "$stage/x86" "$stage/x64"
"$strip32" -o "$stage/x86/tolvaro.dll" "$dll32"
"$strip64" -o "$stage/x64/tolvaro.dll" "$dll64"
cp "$help" "$stage/x86/help.chm"
cp "$help" "$stage/x64/help.chm"
cp "$help" "$stage/help.chm"
# wixl finds the files' sources relative to the current folder.
cd "$stage"
wixl -a x64 -D Version="$version" -D PerUser=no -o "$out/tolvaro-$version.msi.new" "$wxs"
wixl -a x64 -D Version="$version" -D PerUser=yes -o "$out/tolvaro-$version-user.msi.new" "$wxs"
mv "$out/tolvaro-$version.msi.new" "$out/tolvaro-$version.msi"
mv "$out/tolvaro-$version-user.msi.new" "$out/tolvaro-$version-user.msi"
