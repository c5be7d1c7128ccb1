#!/usr/bin/env bash
# Makes the PNG pictures of the settings dialogs in docs/ (see docs/screenshots.md).
#   tools/screenshots/make-screenshots.sh [WINDOWS_BUILD_DIR]   (default: build/windows)
# Builds ui_screenshots in that Windows tree, runs it in the tree's Wine prefix under the tree's
# Xvfb, and converts its BMPs. It boots and stops the tree's prefix: do not run it while ctest
# runs in the same tree.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/windows}
build=$(cd "$build" && pwd)
out="$root/docs"
work="$build/screenshots"

cmake --build "$build" -j2 --target ui_screenshots tolvaro_help
rm -rf "$work" && mkdir -p "$work" "$out"
# The help file next to the program for the picture of "Справка" (never left there: the UI
# tests of this folder check the dialog without it).
help_copy="$build/tests/ui/help.chm"
trap 'rm -f "$help_copy"; "$build/wine-run.sh" --stop' EXIT
cp "$build/docs/help/help.chm" "$help_copy"
"$build/wine-run.sh" --boot
win_work=$("$build/wine-run.sh" winepath.exe -w "$work" | tr -d '\r')
# The screen's scale is the prefix's LogPixels (read when a program starts): 96 DPI (100 %), then
# 144 DPI (150 %) for the files ending in -144dpi; 96 again at the end, as the tests expect it.
set_dpi() {
  local key
  for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
    "$build/wine-run.sh" reg.exe add "$key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
  done
}
trap 'rm -f "$help_copy"; set_dpi 96 || true; "$build/wine-run.sh" --stop' EXIT
set_dpi 96
"$build/wine-run.sh" "$build/tests/ui/ui_screenshots.exe" "$win_work"
set_dpi 144
"$build/wine-run.sh" "$build/tests/ui/ui_screenshots.exe" "$win_work" -144dpi

python3 - "$work" "$out" <<'PY'
import struct, sys, zlib, pathlib
src, dst = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
for bmp in sorted(src.glob("*.bmp")):
    data = bmp.read_bytes()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        line = data[offset + (abs(height) - 1 - y if height > 0 else y) * stride:][:width * 3]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::3], line[1::3], line[0::3]
        rows.append(b"\0" + bytes(rgb))
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    target = dst / (bmp.stem + ".png")
    target.write_bytes(png)
    print(target)
PY
