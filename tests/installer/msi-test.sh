#!/usr/bin/env bash
# The MSI packages installed, upgraded and removed in the tree's (64-bit) Wine prefix, as a user
# would:
#   msi-test.sh WINE_RUN MSI_DIR VERSION NEXT_VERSION PROBE32 PROBE64
# Machine-wide: both DLLs and their help files land where they belong, a 32-bit and a 64-bit
# program create the driver by ProgID and each loads its own DLL, the registry entries are
# exactly the class's entries written out below (in each registry view), and the uninstall leaves
# no file, folder or key. Per user: the files, the entries and the clean uninstall; creation by
# ProgID is only reported, since Wine's HKEY_CLASSES_ROOT does not show
# HKEY_CURRENT_USER\Software\Classes. In both scopes: the next version's package (MSI_DIR/next,
# NEXT_VERSION) installed over this one leaves one product, with its files and the class
# registered; this version's package over it is refused and changes nothing.
# Where 32-bit programs cannot run (wine-run.sh --wine32 says why), the 32-bit probe's creation
# is skipped and reported so, and the 64-bit probe reads the 32-bit registry view.
set -uo pipefail
run=$1 dir=$2 version=$3 next_version=$4 probe32=$5 probe64=$6
stage="$dir/stage"
machine_msi="$dir/tolvaro-$version.msi"
user_msi="$dir/tolvaro-$version-user.msi"
next_stage="$dir/next/stage"
next_machine_msi="$dir/next/tolvaro-$next_version.msi"
next_user_msi="$dir/next/tolvaro-$next_version-user.msi"
downgrade_message="Установлена более новая версия драйвера."
work=$(mktemp -d)
failures=0
installed=()

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

wine_text() { "$run" "$@" 2>/dev/null | tr -d '\r'; }
unix_path() { wine_text winepath -u "$1"; }
msiexec() { "$run" msiexec "$@" >/dev/null 2>&1; }

cleanup() {
  # Whatever a failed step left installed goes, so the prefix stays usable for the next run.
  local msi
  for msi in "${installed[@]}"; do msiexec /x "$msi" /qn || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The class's entries in the program's registry view, scope machine or user.
entries() { wine_text "$1" entries "$2"; }

no32=$("$run" --wine32)
# The class's entries in registry VIEW (32 or 64), scope machine or user: read by the probe of
# that bitness, or by the 64-bit one where 32-bit programs cannot run.
view_entries() {
  if [ "$1" = 32 ] && [ -n "$no32" ]; then wine_text "$probe64" entries "$2" 32; else entries "$(probe_of "$1")" "$2"; fi
}
probe_of() { if [ "$1" = 32 ]; then echo "$probe32"; else echo "$probe64"; fi; }
skipped() { echo "  SKIPPED: $* (32-bit programs do not run here: $no32)"; }

# The driver's folders in Windows and Unix form.
pf32=$(wine_text cmd /c 'echo %ProgramFiles(x86)%')
pf64=$(wine_text cmd /c 'echo %ProgramW6432%')
local_app=$(wine_text cmd /c 'echo %LOCALAPPDATA%')
echo "Program Files: $pf32 | $pf64; per-user programs under $local_app"

# FOLDER holds the stripped DLL of ARCH (x86 or x64) and the help file of STAGE (default this
# version's), byte for byte.
check_files() {
  local folder=$1 arch=$2 from=${3:-$stage} unix
  unix=$(unix_path "$folder")
  cmp -s "$unix/tolvaro.dll" "$from/$arch/tolvaro.dll" || fail "$folder\\tolvaro.dll is not the $arch DLL of the package in $from"
  cmp -s "$unix/help.chm" "$from/help.chm" || fail "$folder\\help.chm is missing or differs"
}

# PROBE creates the driver by ProgID; it must load FOLDER\tolvaro.dll.
check_create() {
  local probe=$1 folder=$2 out module rc
  out=$(wine_text "$probe" create)
  rc=$?
  echo "$out" | sed 's/^/    /'
  [ $rc -eq 0 ] || { fail "$(basename "$probe") could not create the driver by ProgID"; return; }
  module=$(echo "$out" | sed -n 's/^module=//p')
  [ "${module,,}" = "${folder,,}\\tolvaro.dll" ] || fail "COM loaded $module, not $folder\\tolvaro.dll"
}

server_masked() { awk '/InprocServer32$/ { on = 1; print; next } /^[^ ]/ { on = 0 } on && /^  \[\] / { print "  [] SERVER"; next } { print }' "$1"; }

# The class's entries as the package must write them, in one registry view, with the DLL's path
# (its 8.3 form where the path has a space) as SERVER.
expected_entries() {
  cat <<'ENTRIES'
Software\Classes\CLSID\{973CB31E-3A3E-4B58-B93D-262E5857EFC4}
  [] (1) 8.2 Equipment Driver 2.0
Software\Classes\CLSID\{973CB31E-3A3E-4B58-B93D-262E5857EFC4}\InprocServer32
  [] SERVER
  [ThreadingModel] (1) Apartment
Software\Classes\CLSID\{973CB31E-3A3E-4B58-B93D-262E5857EFC4}\ProgID
  [] (1) Qelm.tolvaro
Software\Classes\Qelm.tolvaro
  [] (1) 8.2 Equipment Driver 2.0
Software\Classes\Qelm.tolvaro\Clsid
  [] (1) {973CB31E-3A3E-4B58-B93D-262E5857EFC4}
ENTRIES
}

# The entries of registry VIEW and SCOPE are exactly the expected ones, their server one of DLLS.
check_entries() {
  local view=$1 scope=$2 name="$2$1" server dll found=""
  shift 2
  view_entries "$view" "$scope" >"$work/$name.msi"
  echo "  $name entries of the package:"
  sed 's/^/    /' "$work/$name.msi"
  if ! diff -u <(expected_entries) <(server_masked "$work/$name.msi") >"$work/$name.diff"; then
    fail "$name: the package's registry entries are not the class's (- expected, + package)"
    cat "$work/$name.diff"
  fi
  server=$(awk '/InprocServer32$/ { on = 1; next } /^[^ ]/ { on = 0 } on && /^  \[\] / { sub(/^  \[\] \([0-9]+\) /, ""); print }' "$work/$name.msi")
  for dll in "$@"; do [ "$(unix_path "$server")" = "$(unix_path "$dll")" ] && found=$dll; done
  [ -n "$found" ] || fail "$name: InprocServer32 is $server, not $*"
}

check_no_entries() {
  local view=$1 scope=$2 left
  left=$(view_entries "$view" "$scope")
  [ -z "$left" ] || { fail "registry entries left in the $view-bit view ($scope):"; echo "$left"; }
}

# The versions of the installed products named NAME ("tolvaro", "tolvaro per user"), one a line.
products() {
  local key
  for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'; do
    wine_text reg query "$key" /s
  done | awk -v name="$1" '
    function flush() { if (n == name) print v; n = ""; v = "" }
    /^HKEY/ { flush() }
    /^ +DisplayName +REG_SZ/ { sub(/^ +DisplayName +REG_SZ +/, ""); n = $0 }
    /^ +DisplayVersion +REG_SZ/ { v = $NF }
    END { flush() }'
}

# Exactly one product NAME is installed, of version VERSION (major.minor.build); none for "".
check_one_product() {
  local name=$1 want=$2 got
  got=$(products "$name" | paste -sd ' ')
  if [ "$got" != "$want" ]; then
    fail "installed \"$name\": '$got', not ${want:-none}"
  elif [ -n "$want" ]; then
    echo "  installed: one \"$name\", version $got"
  else
    echo "  installed: no \"$name\""
  fi
}

user_version() { echo "$1" | awk -F. '{ print $1 "." $2 "." $4 }'; }

machine_dir32="$pf32\\Qelm\\tolvaro"
machine_dir64="$pf64\\Qelm\\tolvaro"
user_dir="$local_app\\Programs\\Qelm\\tolvaro"

# Everything of a machine-wide install with the files of FROM (a package's stage).
check_machine() {
  local from=$1
  check_files "$machine_dir32" x86 "$from"
  check_files "$machine_dir64" x64 "$from"
  echo "  created by ProgID:"
  if [ -z "$no32" ]; then check_create "$probe32" "$machine_dir32"; else skipped "the 32-bit probe's creation by ProgID"; fi
  check_create "$probe64" "$machine_dir64"
  check_entries 32 machine "$machine_dir32\\tolvaro.dll"
  check_entries 64 machine "$machine_dir64\\tolvaro.dll"
}

# Everything of a per-user install with the files of FROM.
check_user() {
  local from=$1
  check_files "$user_dir\\x86" x86 "$from"
  check_files "$user_dir\\x64" x64 "$from"
  check_entries 64 user "$user_dir\\x64\\tolvaro.dll"
  # Wine keeps one HKEY_CURRENT_USER\Software\Classes\CLSID for both views (Windows gives 32-bit
  # programs their own, with the x86 DLL): there the DLL the package registers last, x64, owns it.
  check_entries 32 user "$user_dir\\x86\\tolvaro.dll" "$user_dir\\x64\\tolvaro.dll"
  if wine_text "$probe64" create >/dev/null; then
    echo "  per user: the driver is created by ProgID"
  else
    echo "  per user: no creation by ProgID under Wine (its HKEY_CLASSES_ROOT leaves out the user's classes)"
  fi
}

# SCOPE (machine or user): install this version, the next one over it, this one again over that
# (refused), and remove the next one; nothing may be left.
install_and_upgrade() {
  local scope=$1 msi=$2 next_msi=$3 name=$4
  echo "== $scope: msiexec /i $(basename "$msi") /qn"
  msiexec /i "$msi" /qn || fail "msiexec /i $(basename "$msi") failed"
  installed+=("$msi")
  check_one_product "$name" "$(user_version "$version")"
  check_$scope "$stage"

  echo "== $scope: the next version over it, msiexec /i $(basename "$next_msi") /qn"
  msiexec /i "$next_msi" /qn || fail "msiexec /i $(basename "$next_msi") failed"
  installed=("$next_msi")
  check_one_product "$name" "$(user_version "$next_version")"
  check_$scope "$next_stage"

  echo "== $scope: this version over the next one is refused"
  msiinfo export "$msi" LaunchCondition | grep -qF "$downgrade_message" ||
    fail "$(basename "$msi") does not carry the message \"$downgrade_message\""
  if msiexec /i "$msi" /qn; then
    fail "the older package installed over the newer one"
    installed+=("$msi")
  else
    echo "  refused (under /qn the message goes to the installer's log on Windows; Wine's log leaves it out)"
  fi
  check_one_product "$name" "$(user_version "$next_version")"
  check_$scope "$next_stage"

  echo "== $scope: msiexec /x $(basename "$next_msi") /qn"
  msiexec /x "$next_msi" /qn || fail "msiexec /x failed"
  installed=()
  check_one_product "$name" ""
}

install_and_upgrade machine "$machine_msi" "$next_machine_msi" tolvaro
for folder in "$pf32\\Qelm" "$pf64\\Qelm"; do
  [ ! -e "$(unix_path "$folder")" ] || fail "$folder is left after the uninstall"
done
check_no_entries 32 machine
check_no_entries 64 machine
for view in 32 64; do
  [ $view = 32 ] && [ -n "$no32" ] && continue
  if wine_text "$(probe_of $view)" create >/dev/null; then fail "the driver is still created by ProgID after the uninstall ($view-bit)"; fi
done

install_and_upgrade user "$user_msi" "$next_user_msi" "tolvaro per user"
[ ! -e "$(unix_path "$local_app\\Programs\\Qelm")" ] || fail "$local_app\\Programs\\Qelm is left after the uninstall"
check_no_entries 32 user
check_no_entries 64 user

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installed, upgraded, refused the older version, entries as written out, and removed cleanly"
