#!/usr/bin/env bash
# Checks a built COM server DLL: PE32 for i386 or PE32+ for x86_64 (the architecture of the
# given objdump), exactly the five server exports under their plain names, imports from
# Windows system DLLs only (the runtime is linked in), and a version resource that says
# VERSION (its fixed file and product versions, its FileVersion text) and the file's name. It runs no Windows program, so it runs on every machine.
#   check_dll.sh OBJDUMP DLL VERSION
set -u
objdump=$1 dll=$2 version=$3
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

# The version resource, read from the file as Windows' version API would find it.
resource=$(python3 - "$dll" 2>&1 <<'PY'
import struct, sys

data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
optional = pe + 24
directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
if not rsrc_rva:
    sys.exit("the file has no resources")
table = optional + optional_size

def offset(rva):
    for i in range(sections):
        size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + i * 40 + 8)
        if address <= rva < address + max(size, raw_size):
            return raw + rva - address
    sys.exit("no section holds RVA %#x" % rva)

base = offset(rsrc_rva)

def entries(directory):
    named, ids = struct.unpack_from("<HH", data, base + directory + 12)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", data, base + directory + 16 + i * 8)
        yield name, target

def first_leaf(target):
    while target & 0x80000000:
        target = next(entries(target & 0x7FFFFFFF))[1]
    return target

versions = [t for n, t in entries(0) if n == 16]  # RT_VERSION
if not versions:
    sys.exit("no version resource")
rva, size = struct.unpack_from("<II", data, base + first_leaf(versions[0]))
block = data[offset(rva):offset(rva) + size]
fixed = block.find(struct.pack("<I", 0xFEEF04BD))
if fixed < 0:
    sys.exit("no VS_FIXEDFILEINFO")
fms, fls, pms, pls = struct.unpack_from("<IIII", block, fixed + 8)
dotted = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
print("fixed FileVersion=" + dotted(fms, fls))
print("fixed ProductVersion=" + dotted(pms, pls))
text = block.decode("utf-16-le", "replace")
for key in ("FileVersion", "OriginalFilename"):
    at = text.find(key + "\0")
    value = text[at + len(key):].lstrip("\0").split("\0", 1)[0] if at >= 0 else "(missing)"
    print(key + "=" + value)
PY
) || { echo "version resource: unreadable: $resource"; fail=1; }
expected_resource="fixed FileVersion=$version
fixed ProductVersion=$version
FileVersion=$version
OriginalFilename=$(basename "$dll")"
[ "$resource" = "$expected_resource" ] || { echo "version resource:"; echo "$resource"; echo "expected:"; echo "$expected_resource"; fail=1; }

echo "format: $format"
echo "exports: $exports"
echo "imports: $(printf '%s ' $imports)"
echo "version: $version"
exit $fail
