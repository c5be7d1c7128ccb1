# shellcheck shell=bash
# Sourced by the fixtures of this folder: their programs run detached, known by PID.
#   stop_pid PID PROGRAM   stops PID with SIGTERM (SIGKILL after 10 s), only while it is still
#                          PROGRAM (a PID may have been reused); 1 when it had to be killed
#   start_failed WHAT WHY [LOG]
#                          "cannot start WHAT: WHY (see LOG)", the end of LOG, exit 1
#   start_daemon WHAT PROGRAM DIR NAME SECONDS COMMAND...
#                          runs COMMAND detached (no descriptor of ours, output to DIR/NAME.out)
#                          and waits until it writes DIR/NAME.info, whose pid= line goes to
#                          DIR/NAME.pid; prints the info file. A COMMAND that exits first, or
#                          writes nothing within SECONDS (then stopped), fails the start.
stop_pid() {
  local pid=$1 program=$2 i
  [ -r "/proc/$pid/cmdline" ] || return 0
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q "$program" || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  echo "$program $pid did not stop on SIGTERM within 10 s; killing it" >&2
  kill -KILL "$pid" 2>/dev/null
  return 1
}

start_failed() {
  if [ -z "${3:-}" ]; then
    echo "cannot start $1: $2" >&2
  else
    echo "cannot start $1: $2 (see $3)" >&2
    tail -n 20 "$3" 2>/dev/null | sed 's/^/  | /' >&2
  fi
  exit 1
}

start_daemon() {
  local what=$1 program=$2 dir=$3 name=$4 seconds=$5 pid i
  shift 5
  setsid "$@" </dev/null >"$dir/$name.out" 2>&1 &
  pid=$!
  echo "$pid" >"$dir/$name.pid"
  for i in $(seq 1 $((seconds * 10))); do
    if [ -s "$dir/$name.info" ]; then
      # The program's own word for its PID (setsid may have forked).
      sed -n 's/^pid=//p' "$dir/$name.info" >"$dir/$name.pid"
      cat "$dir/$name.info"
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      rm -f "$dir/$name.pid"
      wait "$pid"
      start_failed "$what" "it exited with code $? before listening" "$dir/$name.out"
    fi
    sleep 0.1
  done
  stop_pid "$pid" "$program"
  rm -f "$dir/$name.pid"
  start_failed "$what" "it did not listen within $seconds s" "$dir/$name.out"
}
