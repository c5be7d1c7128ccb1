#!/usr/bin/env bash
# One version everywhere, as src/res/version.h defines it:
#   version-test.sh VERSION USER_VERSION MSI_DIR HELP_STAGE README
# The MSI packages are named with VERSION and carry USER_VERSION (major.minor.build) as their
# ProductVersion; the help's pages as compiled say VERSION; the README names the packages with
# VERSION and no other. (The DLL's version resource: product_dll_file.)
set -uo pipefail
version=$1 user_version=$2 msi_dir=$3 help=$4 readme=$5
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
for name in "tolvaro-$version.msi" "tolvaro-$version-user.msi"; do
  msi=$msi_dir/$name
  [ -f "$msi" ] || { fail "no package $name in $msi_dir"; continue; }
  got=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
  [ "$got" = "$user_version" ] && echo "$name: ProductVersion $got" || fail "$name has ProductVersion '$got', not $user_version"
done
others=$(find "$msi_dir" -maxdepth 1 -name 'tolvaro-*.msi' ! -name "tolvaro-$version.msi" ! -name "tolvaro-$version-user.msi")
[ -z "$others" ] || fail "packages of another version next to them: $others"
for page in index.html install.html; do
  text=$(iconv -f CP1251 -t UTF-8 "$help/$page")
  grep -qF "$version" <<<"$text" && echo "help $page: says $version" || fail "the help's $page does not say $version"
  ! grep -q '@TOLVARO_' <<<"$text" || fail "the help's $page keeps a placeholder"
done
named=$(grep -o 'tolvaro-[0-9][0-9.]*[0-9]' "$readme" | sort -u)
[ -n "$named" ] || fail "the README names no package"
for n in $named; do
  [ "$n" = "tolvaro-$version" ] || fail "the README names $n, not tolvaro-$version"
done
[ $failures -eq 0 ] || exit 1
echo "version $version (installer $user_version) in the packages, the help and the README"
