#!/usr/bin/env bash
# Puts the product together, signs it and builds its two MSI packages with wixl.
#   build-msi.sh WXS VERSION MSI_VERSION DLL32 STRIP32 DLL64 STRIP64 HELP_CHM OUT_DIR SIGN IDENTITY [DESCRIPTION]
# OUT_DIR/stage/x86 and x64 get the stripped DLLs, signed (SIGN FILE IDENTITY: tools/signing),
# each with help.chm (the build trees keep their debug information); OUT_DIR gets
# tolvaro-VERSION.msi (every user of the machine) and tolvaro-VERSION-user.msi (the current
# user), each signed. MSI_VERSION is the package's version (major.minor.build: the parts Windows
# Installer compares when it upgrades).
set -euo pipefail
wxs=$1 version=$2 msi_version=$3 dll32=$4 strip32=$5 dll64=$6 strip64=$7 help=$8 out=$9 sign=${10} identity=${11} description=${12:-tolvaro}
stage="$out/stage"
# Packages of another version left from an earlier build would be shipped with these.
rm -rf "$stage" "$out"/tolvaro-*.msi
mkdir -p "$stage/x86" "$stage/x64"
# Stripping rewrites the file, so the signature is made afterwards, on what is shipped. The build
# trees' DLLs are signed already: their signature goes first (stripping a signed file leaves a
# certificate table that no longer ends the file, which signing tools refuse).
unsigned() {
  osslsigncode remove-signature -in "$1" -out "$2" >/dev/null 2>&1 || cp "$1" "$2"
}
unsigned "$dll32" "$stage/x86/linked.dll"
unsigned "$dll64" "$stage/x64/linked.dll"
"$strip32" -o "$stage/x86/tolvaro.dll" "$stage/x86/linked.dll"
"$strip64" -o "$stage/x64/tolvaro.dll" "$stage/x64/linked.dll"
rm "$stage/x86/linked.dll" "$stage/x64/linked.dll"
"$sign" "$stage/x86/tolvaro.dll" "$identity" "$description"
"$sign" "$stage/x64/tolvaro.dll" "$identity" "$description"
cp "$help" "$stage/x86/help.chm"
cp "$help" "$stage/x64/help.chm"
cp "$help" "$stage/help.chm"
downgrade=$(sed -n 's/.*DowngradeErrorMessage="\([^"]*\)".*/\1/p' "$wxs")
[ -n "$downgrade" ] || { echo "build-msi.sh: $wxs has no DowngradeErrorMessage" >&2; exit 1; }
printf '\r\n\r\n1251\t_ForceCodepage\r\n' >"$stage/_ForceCodepage.idt"
# wixl finds the files' sources relative to the current folder.
cd "$stage"
for scope in machine user; do
  name="tolvaro-$version"
  per_user=no
  [ $scope = machine ] || { name="$name-user"; per_user=yes; }
  wixl -a x64 -D Version="$msi_version" -D PerUser=$per_user -o "$out/$name.msi.new" "$wxs"
  # wixl writes no code page into the package and drops table text outside ASCII: the code page
  # and the Russian refusal of a downgrade (DowngradeErrorMessage of the source) go in afterwards.
  msibuild "$out/$name.msi.new" -i "$stage/_ForceCodepage.idt"
  msibuild "$out/$name.msi.new" -q "UPDATE \`LaunchCondition\` SET \`Description\` = '$downgrade' WHERE \`Condition\` = 'NOT WIX_DOWNGRADE_DETECTED'"
  msiinfo export "$out/$name.msi.new" LaunchCondition | grep -qF "$downgrade" ||
    { echo "build-msi.sh: $name.msi does not carry the downgrade message" >&2; exit 1; }
  "$sign" "$out/$name.msi.new" "$identity" "$description"
  mv "$out/$name.msi.new" "$out/$name.msi"
done
