# Sourced by the fixtures of this folder.
#   stop_pid PID PROGRAM   stops PID with SIGTERM (SIGKILL after 10 s), only while it is still
#                          PROGRAM (a PID may have been reused); 1 when it had to be killed
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
