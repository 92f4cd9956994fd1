"""What the benchmark scripts share: the private network namespace they run
in, their child processes and the processor time those use.

A script imports it after checking its own imports:

    sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
    import benchlib
"""
import os
import shutil
import socket
import subprocess
import sys
import time
from pathlib import Path

CLK_TCK = os.sysconf("SC_CLK_TCK")


class BenchError(Exception):
    """The benchmark could not run (exit status 2)."""


# --- the private network namespace -------------------------------------------

def interfaces():
    # /proc/self/net follows this process's namespace (/sys/class/net would
    # follow the one sysfs was mounted in).
    with open("/proc/self/net/dev") as f:
        return sorted(line.split(":", 1)[0].strip() for line in f.readlines()[2:] if ":" in line)


def enter_private_network(script, mark):
    """Started outside a private network namespace, runs `script` again under
    `unshare --net` (environment variable `mark` set); inside one, brings
    loopback up, and refuses to run where any interface besides lo exists."""
    if os.environ.get(mark) != "1":
        if shutil.which("unshare") is None:
            raise BenchError("unshare (util-linux) is needed to run in a private network namespace")
        userns = ["--map-root-user"] if os.geteuid() != 0 else []
        env = dict(os.environ, **{mark: "1"})
        os.execvpe("unshare", ["unshare", "--net", *userns, "--", sys.executable, str(Path(script).resolve()),
                               *sys.argv[1:]], env)
    found = interfaces()
    if found != ["lo"]:
        raise BenchError(f"refusing to run: network interfaces {found} besides lo (not a private namespace)")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=10)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# --- child processes ---------------------------------------------------------

class Children:
    """Every process started, stopped on the way out whatever happens."""

    def __init__(self, name="bench"):
        self.name = name
        self.procs = []

    def start(self, args, **kwargs):
        p = subprocess.Popen(args, stdin=subprocess.DEVNULL, **kwargs)
        self.procs.append(p)
        return p

    def stop(self, p, grace=10.0):
        if p.returncode is None and p.poll() is None:
            p.terminate()
            try:
                p.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(timeout=grace)
        if p in self.procs:
            self.procs.remove(p)

    def stop_all(self):
        for p in list(self.procs):
            try:
                self.stop(p)
            except Exception as e:  # keep stopping the others
                print(f"{self.name}: could not stop pid {p.pid}: {e}", file=sys.stderr)


def proc_cpu_seconds(pid):
    """utime + stime of a running process, from /proc/<pid>/stat."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def reap(children, p, timeout, sig=None):
    """Sends sig (if any), waits with wait4 for the process's own resource
    usage and kills it at the deadline. Returns (exit status, user + system s)."""
    if sig is not None:
        p.send_signal(sig)
    deadline = time.monotonic() + timeout
    killed = False
    while True:
        pid, status, usage = os.wait4(p.pid, os.WNOHANG)
        if pid == p.pid:
            p.returncode = os.waitstatus_to_exitcode(status)
            if p in children.procs:
                children.procs.remove(p)
            if killed:
                raise BenchError(f"{Path(p.args[0]).name} did not end within {timeout:.0f} s")
            return p.returncode, usage.ru_utime + usage.ru_stime
        if time.monotonic() > deadline and not killed:
            p.kill()
            killed = True
        time.sleep(0.01)
