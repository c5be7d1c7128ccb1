# How this machine runs Windows programs under Wine. Sourced (bash) by ./run and by each Windows
# build tree's wine-run.sh, so that both decide the same way.
#
# Machines of this kind differ: on some the kernel runs 32-bit Linux programs, on others it
# refuses them ("Exec format error"), and then neither 32-bit Wine nor Debian's `wine` wrapper
# can start: the wrapper picks the 32-bit loader whenever wine32 is installed, even for a 64-bit
# prefix. So nothing here goes through the wrapper: each prefix architecture calls its own
# loader directly, and 64-bit Wine never depends on the 32-bit loader.
#
#   wine32_unavailable        prints why 32-bit Windows programs cannot run natively here and
#                             returns 0; returns 1, printing nothing, when they can; returns 2
#                             with the reason when that is an error (fail, do not skip). Decided
#                             by trying the i386 loader, never by the architecture's name.
#   wine32_route              decides where a 32-bit tree's programs run: sets WINE32_ROUTE to
#                             native, vm (the emulated machine of tools/vm32) or skip, and
#                             WINE32_WHY to the reason when not native; returns 2 with the
#                             reason in WINE32_WHY when that is an error.
#                             TOLVARO_WIN32: auto (default) native where the i386 loader runs,
#                             else the emulated machine where its image is made, else skip;
#                             off skips 32-bit Wine as if it could not run; on requires native
#                             (an error where it cannot); vm requires the emulated machine.
#   wine_setup win32|win64    exports WINEARCH and WINELOADER, sets WINE (the loader that starts
#                             the prefix's programs: "$WINE" regsvr32 /s x.dll)
#   wine_boot_prefix LOG      makes the exported WINEPREFIX usable (one left by an earlier run
#                             is reused, an unusable one made anew); on failure says why in one
#                             line, naming LOG, and returns 1
#   wine_windows_path PATH    PATH in the prefix's Windows form

TOLVARO_WINE32_LOADER=${TOLVARO_WINE32_LOADER:-/usr/lib/wine/wine}
TOLVARO_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TOLVARO_WINE64_LOADER=${TOLVARO_WINE64_LOADER:-/usr/lib/wine/wine64}

wine32_unavailable() {
  case "${TOLVARO_WIN32:-auto}" in
    off)
      echo "TOLVARO_WIN32=off asks to run no 32-bit programs"
      return 0
      ;;
    vm)
      echo "TOLVARO_WIN32=vm asks to run 32-bit programs in the emulated machine only"
      return 0
      ;;
    auto | on) ;;
    *)
      echo "TOLVARO_WIN32 is '${TOLVARO_WIN32}': expected auto, on, off or vm"
      return 2
      ;;
  esac
  local why
  why=$(wine32_probe) || return 1
  if [ "${TOLVARO_WIN32:-auto}" = on ]; then
    echo "TOLVARO_WIN32=on, but $why"
    return 2
  fi
  echo "$why"
  return 0
}

wine32_route() {
  local why rc=0 machine
  WINE32_ROUTE="" WINE32_WHY=""
  why=$(wine32_unavailable) || rc=$?
  case $rc in
    1) WINE32_ROUTE=native; return 0 ;;
    2) WINE32_WHY=$why; return 2 ;;
  esac
  if [ "${TOLVARO_WIN32:-auto}" = off ]; then
    WINE32_ROUTE=skip WINE32_WHY=$why
    return 0
  fi
  if machine=$(wine32_machine_unavailable); then
    if [ "${TOLVARO_WIN32:-auto}" = vm ]; then
      WINE32_WHY="TOLVARO_WIN32=vm, but $machine"
      return 2
    fi
    WINE32_ROUTE=skip WINE32_WHY="$why, and $machine"
    return 0
  fi
  WINE32_ROUTE=vm WINE32_WHY=$why
}

# Why the emulated machine cannot run the 32-bit tree's programs (returns 0), or nothing
# (returns 1) when it can.
wine32_machine_unavailable() {
  if ! command -v qemu-system-x86_64 >/dev/null 2>&1; then
    echo "the emulated machine cannot take over: qemu-system-x86_64 is not installed (./run test installs it)"
    return 0
  fi
  if ! "$TOLVARO_SOURCE_DIR/tools/vm32/image.sh" --path >/dev/null 2>&1; then
    echo "the emulated machine cannot take over: its disk image is not made (./run test makes it: tools/vm32/image.sh)"
    return 0
  fi
  return 1
}

# Why the i386 loader does not run here (returns 0), or nothing (returns 1) when it does.
wine32_probe() {
  if [ ! -e "$TOLVARO_WINE32_LOADER" ]; then
    echo "32-bit Wine is not installed ($TOLVARO_WINE32_LOADER is missing; ./run deps installs wine32:i386)"
    return 0
  fi
  local out rc=0
  out=$("$TOLVARO_WINE32_LOADER" --version 2>&1 </dev/null) || rc=$?
  [ "$rc" -eq 0 ] && return 1
  if [ "$rc" -eq 126 ] || printf '%s' "$out" | grep -qi 'exec format error'; then
    echo "this machine's kernel refuses 32-bit programs (Exec format error starting $TOLVARO_WINE32_LOADER)"
  else
    echo "the 32-bit Wine loader $TOLVARO_WINE32_LOADER does not start (exit code $rc: $(printf '%s' "$out" | tail -n 1))"
  fi
  return 0
}

wine_setup() {
  case "$1" in
    win32) WINE=$TOLVARO_WINE32_LOADER ;;
    win64) WINE=$TOLVARO_WINE64_LOADER ;;
    *)
      echo "wine_setup: unknown prefix architecture '$1'" >&2
      return 2
      ;;
  esac
  export WINEARCH=$1 WINELOADER=$WINE
  if [ ! -x "$WINE" ]; then
    echo "cannot start Wine for $1: $WINE is missing (./run deps installs it)" >&2
    return 1
  fi
}

wine_boot_prefix() {
  local log=$1 rc=0
  mkdir -p "$(dirname "$log")"
  if [ -f "$WINEPREFIX/system.reg" ] && "$WINE" cmd /c exit 0 </dev/null >"$log" 2>&1; then
    return 0
  fi
  # A prefix folder that is a mount point (the emulated 32-bit machine's, on its own disk)
  # stays, emptied.
  rm -rf "$WINEPREFIX" 2>/dev/null || true
  "$WINE" wineboot.exe -i </dev/null >"$log" 2>&1 || rc=$?
  wineserver -w 2>/dev/null || true
  if [ "$rc" -ne 0 ]; then
    echo "cannot boot the Wine prefix $WINEPREFIX: wineboot exited $rc (see $log)" >&2
    return 1
  fi
  if ! "$WINE" cmd /c exit 0 </dev/null >>"$log" 2>&1; then
    echo "the Wine prefix $WINEPREFIX booted but runs no program: cmd.exe failed (see $log)" >&2
    return 1
  fi
}

wine_windows_path() {
  "$WINE" winepath.exe -w "$1" </dev/null 2>/dev/null | tr -d '\r'
}
