#!/usr/bin/env bash
# The MSI packages installed and removed in the tree's (64-bit) Wine prefix, as a user would:
#   msi-test.sh WINE_RUN MSI_DIR VERSION PROBE32 PROBE64
# Machine-wide: both DLLs and their help files land where they belong, a 32-bit and a 64-bit
# program create the driver by ProgID and each loads its own DLL, the registry entries are
# exactly those regsvr32 writes (in each registry view), and the uninstall leaves no file,
# folder or key. Per user: the files, the entries (compared with regsvr32 /n /i:user) and the
# clean uninstall; creation by ProgID is only reported, since Wine's HKEY_CLASSES_ROOT does not
# show HKEY_CURRENT_USER\Software\Classes.
# Where 32-bit programs cannot run (wine-run.sh --wine32 says why), the 32-bit probe and the
# 32-bit regsvr32 are skipped and reported so: the 64-bit probe reads the 32-bit registry view,
# whose entries must name the x86 DLL and otherwise equal the 64-bit view's.
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

# The package's 32-bit entries where no 32-bit program runs: the InprocServer32 of the 32-bit
# view is DLL, and the rest equals the 64-bit view (already compared with regsvr32's).
check_entries_32_from_64() {
  local dll=$1 server
  view_entries 32 machine >"$work/machine32.msi"
  view_entries 64 machine >"$work/machine64.now"
  echo "  machine32 entries of the package (read by the 64-bit probe):"
  sed 's/^/    /' "$work/machine32.msi"
  server=$(awk '/InprocServer32$/ { on = 1; next } /^[^ ]/ { on = 0 } on && /^  \[\] / { sub(/^  \[\] \([0-9]+\) /, ""); print }' "$work/machine32.msi")
  [ -n "$server" ] || { fail "machine32: the package wrote no InprocServer32 key"; return; }
  [ "$(unix_path "$server")" = "$(unix_path "$dll")" ] || fail "machine32: InprocServer32 is $server, not $dll"
  if ! diff -u <(server_masked "$work/machine64.now") <(server_masked "$work/machine32.msi"); then
    fail "machine32: the entries differ from the 64-bit view's (- 64-bit, + 32-bit)"
  fi
}
server_masked() { awk '/InprocServer32$/ { on = 1; print; next } /^[^ ]/ { on = 0 } on && /^  \[\] / { print "  [] SERVER"; next } { print }' "$1"; }

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
  local view=$1 scope=$2 left
  left=$(view_entries "$view" "$scope")
  [ -z "$left" ] || { fail "registry entries left in the $view-bit view ($scope):"; echo "$left"; }
}

echo "== machine-wide: msiexec /i $(basename "$machine_msi") /qn"
msiexec /i "$machine_msi" /qn || fail "msiexec /i failed"
installed+=("$machine_msi")
check_files "$pf32\\Qelm\\tolvaro" x86
check_files "$pf64\\Qelm\\tolvaro" x64
echo "  created by ProgID:"
if [ -z "$no32" ]; then check_create "$probe32" "$pf32\\Qelm\\tolvaro"; else skipped "the 32-bit probe's creation by ProgID"; fi
check_create "$probe64" "$pf64\\Qelm\\tolvaro"
if [ -z "$no32" ]; then
  check_entries "$probe32" 'C:\windows\syswow64\regsvr32.exe' "$pf32\\Qelm\\tolvaro\\tolvaro.dll" machine32
  check_entries "$probe64" 'C:\windows\system32\regsvr32.exe' "$pf64\\Qelm\\tolvaro\\tolvaro.dll" machine64
else
  check_entries "$probe64" 'C:\windows\system32\regsvr32.exe' "$pf64\\Qelm\\tolvaro\\tolvaro.dll" machine64
  skipped "the 32-bit regsvr32's entries to compare with"
  check_entries_32_from_64 "$pf32\\Qelm\\tolvaro\\tolvaro.dll"
fi
echo "== machine-wide: msiexec /x"
msiexec /x "$machine_msi" /qn || fail "msiexec /x failed"
installed=()
for folder in "$pf32\\Qelm" "$pf64\\Qelm"; do
  [ ! -e "$(unix_path "$folder")" ] || fail "$folder is left after the uninstall"
done
check_no_entries 32 machine
check_no_entries 64 machine
for view in 32 64; do
  [ $view = 32 ] && [ -n "$no32" ] && continue
  if wine_text "$(probe_of $view)" create >/dev/null; then fail "the driver is still created by ProgID after the uninstall ($view-bit)"; fi
done

echo "== per user: msiexec /i $(basename "$user_msi") /qn"
msiexec /i "$user_msi" /qn || fail "msiexec /i (per user) failed"
installed+=("$user_msi")
user_dir="$local_app\\Programs\\Qelm\\tolvaro"
check_files "$user_dir\\x86" x86
check_files "$user_dir\\x64" x64
# Wine keeps one HKEY_CURRENT_USER\Software\Classes\CLSID for both views (Windows gives
# 32-bit programs their own): the DLL registered last owns the key there. The package writes
# the 64-bit component after the 32-bit one, so regsvr32 runs in that order before comparing.
view_entries 32 user >"$work/user32.msi"
view_entries 64 user >"$work/user64.msi"
grep -q 'InprocServer32' "$work/user64.msi" || fail "user: the package wrote no InprocServer32 key"
if [ -z "$no32" ]; then
  "$run" 'C:\windows\syswow64\regsvr32.exe' /s /n /i:user "$user_dir\\x86\\tolvaro.dll" >/dev/null 2>&1 || fail "regsvr32 /n /i:user (x86) failed"
else
  skipped "regsvr32 /n /i:user of the x86 DLL"
fi
"$run" 'C:\windows\system32\regsvr32.exe' /s /n /i:user "$user_dir\\x64\\tolvaro.dll" >/dev/null 2>&1 || fail "regsvr32 /n /i:user (x64) failed"
for view in 32 64; do
  view_entries $view user >"$work/user$view.regsvr32"
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
check_no_entries 32 user
check_no_entries 64 user

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installed, created, compared with regsvr32 and removed cleanly"
