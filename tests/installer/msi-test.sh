#!/usr/bin/env bash
# The MSI packages installed and removed in the tree's (64-bit) Wine prefix, as a user would:
#   msi-test.sh WINE_RUN MSI_DIR VERSION PROBE32 PROBE64
# Machine-wide: both DLLs and their help files land where they belong, a 32-bit and a 64-bit
# program create the driver by ProgID and each loads its own DLL, the registry entries are
# exactly those regsvr32 writes (in each registry view), and the uninstall leaves no file,
# folder or key. Per user: the files, the entries (compared with regsvr32 /n /i:user) and the
# clean uninstall; creation by ProgID is only reported, since Wine's HKEY_CLASSES_ROOT does not
# show HKEY_CURRENT_USER\Software\Classes.
set -uo pipefail
run=$1 dir=$2 version=$3 probe32=$4 probe64=$5
stage="$dir/stage"
machine_msi="$dir/tolvaro-$version.msi"
user_msi="$dir/tolvaro-$version-user.msi"
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

# The driver's folders in Windows and Unix form.
pf32=$(wine_text cmd /c 'echo %ProgramFiles(x86)%')
pf64=$(wine_text cmd /c 'echo %ProgramW6432%')
local_app=$(wine_text cmd /c 'echo %LOCALAPPDATA%')
echo "Program Files: $pf32 | $pf64; per-user programs under $local_app"

# FOLDER holds the stripped DLL of ARCH (x86 or x64) and the help file, byte for byte.
check_files() {
  local folder=$1 arch=$2 unix
  unix=$(unix_path "$folder")
  cmp -s "$unix/tolvaro.dll" "$stage/$arch/tolvaro.dll" || fail "$folder\\tolvaro.dll is not the $arch DLL of the package"
  cmp -s "$unix/help.chm" "$stage/help.chm" || fail "$folder\\help.chm is missing or differs"
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

# The package's machine-wide entries in PROBE's view equal what regsvr32 (REGSVR) writes for DLL.
check_entries() {
  local probe=$1 regsvr=$2 dll=$3 name=$4
  entries "$probe" machine >"$work/$name.msi"
  grep -q 'InprocServer32' "$work/$name.msi" || fail "$name: the package wrote no InprocServer32 key"
  echo "  $name entries of the package:"
  sed 's/^/    /' "$work/$name.msi"
  "$run" "$regsvr" /s "$dll" >/dev/null 2>&1 || fail "$name: regsvr32 failed"
  entries "$probe" machine >"$work/$name.regsvr32"
  if ! diff -u "$work/$name.msi" "$work/$name.regsvr32" >"$work/$name.diff"; then
    fail "$name: the package's registry entries differ from regsvr32's (- package, + regsvr32)"
    cat "$work/$name.diff"
  fi
}

check_no_entries() {
  local probe=$1 scope=$2 left
  left=$(entries "$probe" "$scope")
  [ -z "$left" ] || { fail "registry entries left in the $(basename "$probe") view ($scope):"; echo "$left"; }
}

echo "== machine-wide: msiexec /i $(basename "$machine_msi") /qn"
msiexec /i "$machine_msi" /qn || fail "msiexec /i failed"
installed+=("$machine_msi")
check_files "$pf32\\Qelm\\tolvaro" x86
check_files "$pf64\\Qelm\\tolvaro" x64
echo "  created by ProgID:"
check_create "$probe32" "$pf32\\Qelm\\tolvaro"
check_create "$probe64" "$pf64\\Qelm\\tolvaro"
check_entries "$probe32" 'C:\windows\syswow64\regsvr32.exe' "$pf32\\Qelm\\tolvaro\\tolvaro.dll" machine32
check_entries "$probe64" 'C:\windows\system32\regsvr32.exe' "$pf64\\Qelm\\tolvaro\\tolvaro.dll" machine64
echo "== machine-wide: msiexec /x"
msiexec /x "$machine_msi" /qn || fail "msiexec /x failed"
installed=()
for folder in "$pf32\\Qelm" "$pf64\\Qelm"; do
  [ ! -e "$(unix_path "$folder")" ] || fail "$folder is left after the uninstall"
done
check_no_entries "$probe32" machine
check_no_entries "$probe64" machine
if wine_text "$probe32" create >/dev/null; then fail "the driver is still created by ProgID after the uninstall"; fi

echo "== per user: msiexec /i $(basename "$user_msi") /qn"
msiexec /i "$user_msi" /qn || fail "msiexec /i (per user) failed"
installed+=("$user_msi")
user_dir="$local_app\\Programs\\Qelm\\tolvaro"
check_files "$user_dir\\x86" x86
check_files "$user_dir\\x64" x64
# Wine keeps one HKEY_CURRENT_USER\Software\Classes\CLSID for both views (Windows gives
# 32-bit programs their own): the DLL registered last owns the key there. The package writes
# the 64-bit component after the 32-bit one, so regsvr32 runs in that order before comparing.
entries "$probe32" user >"$work/user32.msi"
entries "$probe64" user >"$work/user64.msi"
grep -q 'InprocServer32' "$work/user64.msi" || fail "user: the package wrote no InprocServer32 key"
"$run" 'C:\windows\syswow64\regsvr32.exe' /s /n /i:user "$user_dir\\x86\\tolvaro.dll" >/dev/null 2>&1 || fail "regsvr32 /n /i:user (x86) failed"
"$run" 'C:\windows\system32\regsvr32.exe' /s /n /i:user "$user_dir\\x64\\tolvaro.dll" >/dev/null 2>&1 || fail "regsvr32 /n /i:user (x64) failed"
for view in 32 64; do
  probe=$probe64
  [ $view = 32 ] && probe=$probe32
  entries "$probe" user >"$work/user$view.regsvr32"
  if ! diff -u "$work/user$view.msi" "$work/user$view.regsvr32"; then
    fail "user$view: the package's registry entries differ from regsvr32's (- package, + regsvr32)"
  fi
done
if wine_text "$probe64" create >/dev/null; then
  echo "  per user: the driver is created by ProgID"
else
  echo "  per user: no creation by ProgID under Wine (its HKEY_CLASSES_ROOT leaves out the user's classes)"
fi
echo "== per user: msiexec /x"
msiexec /x "$user_msi" /qn || fail "msiexec /x (per user) failed"
installed=()
[ ! -e "$(unix_path "$local_app\\Programs\\Qelm")" ] || fail "$local_app\\Programs\\Qelm is left after the uninstall"
check_no_entries "$probe32" user
check_no_entries "$probe64" user

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installed, created, compared with regsvr32 and removed cleanly"
