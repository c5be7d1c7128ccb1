#!/usr/bin/env bash
# The emulated machine that runs a 32-bit Windows tree's programs where this machine's kernel
# refuses 32-bit programs: qemu (TCG: no KVM needed) with Debian's kernel, booted from the image
# of image.sh (read-only: the machine's writes go to a throw-away overlay), with the source
# folder shared at its own path (the tree's recorded paths hold there) and the tree's Wine
# prefixes on the guest's own disk.
#   vm32.sh start TREE       boots the machine for the build tree TREE, unless it runs already
#   vm32.sh stop TREE        powers it off, and stops qemu by its PID if it does not go
#   vm32.sh run TREE -- COMMAND [ARGS...]
#                            runs COMMAND in the machine (booting it first where needed), with
#                            this working folder and environment; its output and exit code are
#                            this command's (vmjob.py)
#   vm32.sh status TREE      says whether it runs (exit 0) or not (exit 1)
# TREE/vm holds its state: ctl/ (the folder shared for jobs), qemu.pid, console.log.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
cmd=${1:-}
# An empty TREE would be the working folder ("cd ''" stays put): refused like a missing one.
tree=$([ -n "${2:-}" ] && cd "$2" 2>/dev/null && pwd) || { echo "vm32.sh: no build tree '${2:-}'" >&2; exit 2; }
state=$tree/vm
ctl=$state/ctl
pidfile=$ctl/qemu.pid

# The PID of this tree's qemu, when it runs (a PID may have been reused: its command line says).
qemu_pid() {
  local pid
  pid=$(cat "$pidfile" 2>/dev/null) || return 1
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF "path=$ctl," || return 1
  echo "$pid"
}

stop() {
  local pid i
  pid=$(qemu_pid) || { rm -f "$pidfile" "$ctl/ready"; return 0; }
  : >"$ctl/poweroff"
  for i in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$pidfile" "$ctl/ready"
}

boot() {
  local image pid i started=$SECONDS
  if ! image=$("$here/image.sh" --path); then
    echo "vm32.sh: the machine's image is not made: $image ($here/image.sh makes it; ./run test does)" >&2
    return 1
  fi
  command -v qemu-system-x86_64 >/dev/null || { echo "vm32.sh: qemu-system-x86_64 is not installed" >&2; return 1; }
  stop
  rm -rf "$ctl"
  mkdir -p "$ctl/jobs"
  cp "$here/vmjob.py" "$ctl/"
  # Wine prefixes (the tests', demo's and bench's) on the guest's disk: Wine's files on a 9p
  # share are slow and its mappings there unreliable.
  python3 - "$ctl/config.json" "$source_dir" "$tree" <<'PY'
import json, sys
out, source, tree = sys.argv[1:]
local = [f"{tree}/{name}" for name in ("wineprefix", "demo-wineprefix", "bench-wineprefix")]
json.dump({"tree": source, "local": local}, open(out, "w"))
PY
  # -cpu max without SMAP: with it, the guest kernel faults on 32-bit Wine processes' returns.
  qemu-system-x86_64 -accel tcg,thread=multi -cpu max,-smap -smp 2 -m 6G \
    -display none -monitor none -serial "file:$state/console.log" -no-reboot -nic none \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 panic=-1 quiet systemd.show_status=0" \
    -drive "file=$image/root.img,format=raw,if=virtio,snapshot=on" \
    -virtfs "local,path=$ctl,mount_tag=ctl,security_model=passthrough,id=ctl" \
    -virtfs "local,path=$source_dir,mount_tag=tree,security_model=passthrough,id=tree" \
    -pidfile "$pidfile" -daemonize </dev/null >"$state/qemu.log" 2>&1 9>&- ||
    { echo "vm32.sh: qemu did not start: $(tail -3 "$state/qemu.log")" >&2; return 1; }
  for i in $(seq 1 3000); do
    [ -f "$ctl/ready" ] && { echo "the 32-bit machine is up ($((SECONDS - started)) s; $state)" >&2; return 0; }
    pid=$(qemu_pid) || break
    sleep 0.1
  done
  echo "vm32.sh: the machine did not come up within 300 s (its console: $state/console.log)" >&2
  tail -20 "$state/console.log" >&2 2>/dev/null
  stop
  return 1
}

# Starts are serialized: the first forwarded command of a run boots, the others wait for it.
start() {
  mkdir -p "$state"
  exec 9>"$state/lock"
  flock 9
  # The guest caches the shared tree loosely: a machine that was up while the tree was built
  # again would run the old files. It boots anew instead.
  if qemu_pid >/dev/null && [ -f "$ctl/ready" ] && ! [ "$tree/.ninja_log" -nt "$ctl/ready" ]; then
    exec 9>&-
    return 0
  fi
  boot
  local rc=$?
  exec 9>&-
  return $rc
}

case "$cmd" in
  start) start ;;
  stop)
    mkdir -p "$state"
    exec 9>"$state/lock"
    flock 9
    stop
    ;;
  status) qemu_pid >/dev/null && [ -f "$ctl/ready" ] ;;
  run)
    [ "${3:-}" = -- ] || { echo "usage: vm32.sh run TREE -- COMMAND [ARGS...]" >&2; exit 2; }
    shift 3
    start || exit 1
    exec python3 "$here/vmjob.py" run "$ctl" -- "$@"
    ;;
  *)
    echo "usage: vm32.sh start|stop|status TREE | run TREE -- COMMAND [ARGS...]" >&2
    exit 2
    ;;
esac
