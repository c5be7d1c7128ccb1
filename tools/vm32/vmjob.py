#!/usr/bin/env python3
"""Commands of the host run in the emulated machine (tools/vm32), through a shared folder.

  vmjob.py run CTL -- COMMAND [ARGS...]   (host) runs COMMAND in the machine, in this working
                                          folder with this environment (less the machine's own
                                          variables); its output comes back as it is written,
                                          its exit code is this one's
  vmjob.py agent CTL                      (guest, started at boot) mounts the tree, runs the
                                          jobs it finds in CTL/jobs, powers off when asked

The control folder CTL is shared with the guest uncached (9p cache=none), so both sides see
each other's files at once. A job is a folder CTL/jobs/ID: job.json (argv, cwd, env) written
by the host and renamed into place whole; out and err, written by the guest as the command
runs; rc, renamed into place when it has ended. The host touches alive while it waits: a job
whose host side is gone (killed by a time-out) is stopped by the guest, as is one whose host
side asks so by cancel.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import time

# Variables that describe the host machine or its session, not the command: the guest has its own.
MACHINE_VARIABLES = {
    "PATH", "HOME", "USER", "LOGNAME", "SHELL", "TERM", "PWD", "OLDPWD", "SHLVL", "_", "DISPLAY",
    "HOSTNAME", "MAIL", "TMPDIR", "TOLVARO_WIN32", "TOLVARO_IN_VM", "LD_PRELOAD", "LD_LIBRARY_PATH",
}
MACHINE_PREFIXES = ("XDG_", "SSH_", "DBUS_")
GUEST_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
STALE_HOST_SECONDS = 60      # a waiting host touches alive every 5 s
STALE_AGENT_SECONDS = 120    # the agent touches agent-alive every 3 s
IDLE_POWEROFF_SECONDS = 1800  # a machine left running by a run that died stops by itself


def write_atomically(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def machine_running(ctl):
    try:
        with open(os.path.join(ctl, "qemu.pid")) as f:
            os.kill(int(f.read().strip()), 0)
        return True
    except (OSError, ValueError):
        return False


def agent_silent(ctl):
    try:
        return time.time() - os.stat(os.path.join(ctl, "agent-alive")).st_mtime > STALE_AGENT_SECONDS
    except OSError:
        return False  # an agent of before this file: nothing to tell


# ---------------------------------------------------------------------------------------- host

def run(ctl, argv):
    if not os.path.exists(os.path.join(ctl, "ready")) or not machine_running(ctl):
        print(f"vmjob: the emulated machine of {os.path.dirname(ctl)} is not running", file=sys.stderr)
        return 1
    env = {k: v for k, v in os.environ.items()
           if k not in MACHINE_VARIABLES and not k.startswith(MACHINE_PREFIXES)}
    jobs = os.path.join(ctl, "jobs")
    jid = f"{time.time_ns()}-{os.getpid()}"
    new = os.path.join(jobs, "." + jid)
    job = os.path.join(jobs, jid)
    os.makedirs(new)
    with open(os.path.join(new, "job.json"), "w") as f:
        json.dump({"argv": argv, "cwd": os.getcwd(), "env": env}, f)
    open(os.path.join(new, "alive"), "w").close()
    os.rename(new, job)

    stopping = []

    def on_signal(signum, _frame):
        stopping.append(signum)
        open(os.path.join(job, "cancel"), "w").close()

    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, on_signal)

    offsets = {"out": 0, "err": 0}
    streams = {"out": sys.stdout.buffer, "err": sys.stderr.buffer}

    def copy_output():
        for name, stream in streams.items():
            try:
                with open(os.path.join(job, name), "rb") as f:
                    f.seek(offsets[name])
                    data = f.read()
            except FileNotFoundError:
                continue
            if data:
                offsets[name] += len(data)
                stream.write(data)
                stream.flush()

    last_alive = time.monotonic()
    given_up_at = None
    try:
        while True:
            done = os.path.exists(os.path.join(job, "rc"))
            copy_output()
            if done:
                with open(os.path.join(job, "rc")) as f:
                    rc = int(f.read().strip())
                break
            if not machine_running(ctl):
                print("vmjob: the emulated machine stopped while the command ran", file=sys.stderr)
                rc = 1
                break
            if agent_silent(ctl):
                print("vmjob: the emulated machine's agent stopped answering (its console: "
                      f"{os.path.join(os.path.dirname(ctl), 'console.log')})", file=sys.stderr)
                rc = 1
                break
            if stopping:
                given_up_at = given_up_at or time.monotonic()
                if time.monotonic() - given_up_at > 15:
                    rc = 128 + stopping[0]
                    break
            if time.monotonic() - last_alive > 5:
                os.utime(os.path.join(job, "alive"))
                last_alive = time.monotonic()
            time.sleep(0.1)
    finally:
        shutil.rmtree(job, ignore_errors=True)
    return 128 + stopping[0] if stopping else rc


# --------------------------------------------------------------------------------------- guest

def log(text):
    print(f"tolvaro-agent: {text}", flush=True)


def mount(source, target, options):
    os.makedirs(target, exist_ok=True)
    subprocess.run(["mount", "-t", "9p", "-o", options, source, target], check=True)


def agent(ctl):
    with open(os.path.join(ctl, "config.json")) as f:
        config = json.load(f)
    # The tree at the host's own path, so that the build trees' recorded paths hold. Cached
    # loosely: programs run from an uncached or mmap-cached 9p share crash in Wine (bogus page
    # faults); the host does not change the tree while the machine runs.
    mount("tree", config["tree"], "trans=virtio,version=9p2000.L,msize=512000,cache=loose")
    # Wine prefixes live on the guest's own disk, over their folders in the tree.
    for i, folder in enumerate(config.get("local", [])):
        local = f"/var/lib/tolvaro/local/{i}"
        os.makedirs(local, exist_ok=True)
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["mount", "--bind", local, folder], check=True)
    jobs = os.path.join(ctl, "jobs")
    os.makedirs(jobs, exist_ok=True)
    write_atomically(os.path.join(ctl, "ready"), f"{os.uname().release} {time.time():.0f}\n".encode())
    log("ready")

    alive = os.path.join(ctl, "agent-alive")
    open(alive, "w").close()
    running = {}   # id -> (Popen, files, signalled at)
    idle_since = time.monotonic()
    checked_hosts = 0.0
    # Polled: 9p has no change notification. Every look at the share costs the emulated
    # machine a round trip, so new jobs are looked for five times a second and the hosts of
    # running ones every few seconds.
    while True:
        try:
            if os.path.exists(os.path.join(ctl, "poweroff")):
                break
            try:
                names = os.listdir(jobs)
            except OSError:
                names = []
            for jid in names:
                if jid.startswith(".") or jid in running:
                    continue
                folder = os.path.join(jobs, jid)
                try:
                    if os.path.exists(os.path.join(folder, "started")):
                        continue
                    open(os.path.join(folder, "started"), "w").close()
                    running[jid] = start_job(folder)
                except (OSError, ValueError, KeyError) as e:
                    log(f"job {jid} not started: {e}")  # its host side gave up while it was written
            check_hosts = time.monotonic() - checked_hosts > 3
            if check_hosts:
                checked_hosts = time.monotonic()
                try:
                    os.utime(alive)
                except OSError:
                    open(alive, "w").close()
            for jid, (proc, files, signalled) in list(running.items()):
                folder = os.path.join(jobs, jid)
                rc = proc.poll()
                if rc is not None:
                    for f in files:
                        f.close()
                    os.sync()  # the loosely cached tree: what the command wrote reaches the host
                    del running[jid]
                    try:
                        write_atomically(os.path.join(folder, "rc"), f"{rc if rc >= 0 else 128 - rc}\n".encode())
                    except OSError:
                        pass  # its host side gave up and took the folder
                    continue
                if signalled is None and check_hosts and cancelled(folder):
                    signal_group(proc, signal.SIGTERM)
                    running[jid] = (proc, files, time.monotonic())
                elif signalled is not None and time.monotonic() - signalled > 10:
                    signal_group(proc, signal.SIGKILL)
        except Exception as e:  # one job's trouble never ends the agent, and so every other job
            log(f"{type(e).__name__}: {e}")
        if running:
            idle_since = time.monotonic()
        elif time.monotonic() - idle_since > IDLE_POWEROFF_SECONDS:
            log("idle: powering off")
            break
        time.sleep(0.2)
    for proc, files, _ in running.values():
        signal_group(proc, signal.SIGKILL)
    os.sync()
    subprocess.run(["systemctl", "poweroff", "--no-block"])


def cancelled(folder):
    if os.path.exists(os.path.join(folder, "cancel")):
        return True
    try:
        return time.time() - os.stat(os.path.join(folder, "alive")).st_mtime > STALE_HOST_SECONDS
    except OSError:
        return True  # its folder is gone: the host gave up


def signal_group(proc, sig):
    try:
        os.killpg(proc.pid, sig)
    except OSError:
        pass


def start_job(folder):
    with open(os.path.join(folder, "job.json")) as f:
        job = json.load(f)
    env = {"PATH": GUEST_PATH, "HOME": "/root", "LANG": "C.UTF-8"}
    env.update(job["env"])
    # In the machine 32-bit programs run natively, and must.
    env.update({"TOLVARO_WIN32": "on", "TOLVARO_IN_VM": "1"})
    out = open(os.path.join(folder, "out"), "wb")
    err = open(os.path.join(folder, "err"), "wb")
    try:
        proc = subprocess.Popen(job["argv"], cwd=job["cwd"], env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, start_new_session=True)
    except OSError as e:
        err.write(f"vmjob: cannot start {job['argv'][0]}: {e}\n".encode())
        err.flush()
        proc = subprocess.Popen(["false"], stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                start_new_session=True)
    return proc, (out, err), None


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "agent":
        agent(sys.argv[2])
        return 0
    if len(sys.argv) >= 5 and sys.argv[1] == "run" and sys.argv[3] == "--":
        return run(os.path.abspath(sys.argv[2]), sys.argv[4:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
