#!/usr/bin/env bash
# Checks a built COM server DLL: PE32 for i386 or PE32+ for x86_64 (the architecture of the
# given objdump), exactly the five server exports under their plain names, and imports from
# Windows system DLLs only (the runtime is linked in).
#   check_dll.sh OBJDUMP DLL
set -u
objdump=$1 dll=$2
fail=0
dump=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }

case "$(basename "$objdump")" in
  x86_64-*) expected_format=pei-x86-64 ;;
  *) expected_format=pei-i386 ;;
esac
format=$("$objdump" -f "$dll" | sed -n 's/.*file format \(.*\)/\1/p')
[ "$format" = "$expected_format" ] || { echo "file format: '$format', expected $expected_format"; fail=1; }

# The export table lists "[ordinal] name" lines after "[Ordinal/Name Pointer] Table".
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([^[:space:]]*\).*/\1/p' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer "
[ "$exports" = "$expected" ] || { echo "exports: '$exports', expected '$expected'"; fail=1; }

allowed=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll gdi32.dll hhctrl.ocx kernel32.dll msvcrt.dll "
allowed+="ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll winhttp.dll ws2_32.dll "
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || { echo "no imports found"; fail=1; }
for dllname in $imports; do
  case "$allowed" in
    *" $dllname "*) ;;
    *) echo "imports a non-system DLL: $dllname"; fail=1 ;;
  esac
done
# The runtime must be inside, not next to the DLL.
for runtime in libstdc++ libgcc libwinpthread; do
  if printf '%s\n' "$imports" | grep -q "^$runtime"; then echo "imports $runtime"; fail=1; fi
done

echo "format: $format"
echo "exports: $exports"
echo "imports: $(printf '%s ' $imports)"
exit $fail
