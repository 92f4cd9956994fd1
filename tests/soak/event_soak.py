#!/usr/bin/python3
"""Event-integrity soak: chronel-sim generates numbered point events at a
steady rate while requests are dropped, replies are dropped or delayed and TCP
connections are reset; `chronel-cli events --log` retrieves them over Modbus
TCP or over a serial RTU adapter. The soak then counts the events generated,
retrieved, lost and duplicated.

Numbering: the simulator plays a script whose entry n switches point
n mod 32 + 1 on (first half of every 64) or off, at 1 s + n / RATE after the
module started. The module stamps each change with that time, so a log line
tells its number from its time relative to the module's "Power on Reset"
record, and its point and state confirm it.

Every event must appear exactly once: a lost request (dropped by the
simulator, or cut off by a connection reset before it reached the module) and
a lost reply (the acknowledge's included, whose write the module carried out)
may cost time, never an event. Any lost or duplicated event fails the soak,
and so does a chronel-cli exit other than 0, or 1 for a last request that
failed (its error line is then the last line it printed).

Run it inside a private network namespace (scripts/soak does).
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

for _module, _package in (("json", "python3"), ("select", "python3"), ("socket", "python3")):
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"event_soak.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

import argparse
import json
import os
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

LINE = re.compile(r"(\d{2}):(\d{2}):(\d{2})\.(\d{3}).*?(Input Point\s+(\d+)\s+(On|Off)|Power on Reset)\s*$")
# chronel-sim --verbose: "tcp request 5 0 1 255 0 (no reply)"
SIM_REQUEST = re.compile(r"^(tcp|rtu) request((?: \d+)*)(?: \((dropped|no reply)\))?$")
FIRST_EVENT_MS = 1000
DAY_MS = 86400000


def write_script(path, count, rate):
    with open(path, "w") as f:
        f.write("# numbered point events for the event-integrity soak\n")
        for n in range(count):
            at = (FIRST_EVENT_MS + n * 1000.0 / rate) / 1000.0
            f.write("%.3f %d %d\n" % (at, n % 32 + 1, 1 if (n // 32) % 2 == 0 else 0))


def expected_point(n):
    return n % 32 + 1, (n // 32) % 2 == 0


class ResettingProxy:
    """A Modbus TCP relay that resets the client connection (RST) in place of
    forwarding every `every`-th request: the request is lost before the module
    sees it."""

    def __init__(self, upstream_port, every):
        self.upstream_port = upstream_port
        self.every = every
        self.requests = 0
        self.resets = 0
        self.reset_acknowledges = 0
        self.lock = threading.Lock()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.stopping = False
        threading.Thread(target=self.accept_loop, daemon=True).start()

    def stop(self):
        self.stopping = True
        self.listener.close()

    def accept_loop(self):
        while not self.stopping:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.relay, args=(client,), daemon=True).start()

    def relay(self, client):
        try:
            upstream = socket.create_connection(("127.0.0.1", self.upstream_port), timeout=5)
        except OSError:
            client.close()
            return
        pending = b""
        try:
            while True:
                readable, _, _ = select.select([client, upstream], [], [], 1.0)
                if self.stopping:
                    break
                if upstream in readable:
                    data = upstream.recv(4096)
                    if not data:
                        break
                    client.sendall(data)
                if client in readable:
                    data = client.recv(4096)
                    if not data:
                        break
                    pending += data
                    while len(pending) >= 6:
                        length = 6 + struct.unpack(">H", pending[4:6])[0]
                        if len(pending) < length:
                            break
                        frame, pending = pending[:length], pending[length:]
                        with self.lock:
                            self.requests += 1
                            cut = self.every and self.requests % self.every == 0
                            if cut:
                                self.resets += 1
                                if is_acknowledge(list(frame[7:])):
                                    self.reset_acknowledges += 1
                        if cut:
                            client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                            return
                        upstream.sendall(frame)
        except OSError:
            pass
        finally:
            client.close()
            upstream.close()


def is_acknowledge(pdu):
    """A write of the acknowledge coil 2 (protocol address 1)."""
    if len(pdu) >= 3 and pdu[0] in (5, 15):
        return (pdu[1] << 8 | pdu[2]) == 1
    return False


def read_line(stream, timeout):
    ready, _, _ = select.select([stream], [], [], timeout)
    if not ready:
        raise RuntimeError("chronel-sim did not announce its port")
    return stream.readline().decode().strip()


def parse_log(path, rate):
    """The numbered events of the log, in log order, and lines that fit no number."""
    interval = 1000.0 / rate
    base = None
    numbers = []
    strays = []
    restarts = 0
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip("\r\n")
            m = LINE.search(line)
            if not m:
                continue
            ms = ((int(m.group(1)) * 60 + int(m.group(2))) * 60 + int(m.group(3))) * 1000 + int(m.group(4))
            if m.group(5) == "Power on Reset":
                if base is not None:
                    restarts += 1
                base = ms
                continue
            if base is None:
                strays.append(line)
                continue
            offset = (ms - base) % DAY_MS - FIRST_EVENT_MS
            n = int(round(offset / interval))
            point, on = int(m.group(6)), m.group(7) == "On"
            # A stamp may come late on a loaded machine (89 ms once, with the
            # whole suite running), up to half the interval the rounding
            # allows; the point and state each number carries tell the
            # events apart. Early, it is only ever by rounding.
            late = offset - n * interval
            if n < 0 or late < -min(50, interval / 4) or expected_point(n) != (point, on):
                strays.append(line)
                continue
            numbers.append(n)
    return numbers, strays, restarts


def parse_sim_log(path):
    counts = {"requests": 0, "dropped_requests": 0, "dropped_replies": 0,
              "dropped_acknowledges": 0, "dropped_acknowledge_replies": 0}
    with open(path, errors="replace") as f:
        for line in f:
            m = SIM_REQUEST.match(line.strip())
            if not m:
                continue
            counts["requests"] += 1
            pdu = [int(x) for x in m.group(2).split()]
            ack = is_acknowledge(pdu)
            if m.group(3) == "dropped":
                counts["dropped_requests"] += 1
                counts["dropped_acknowledges"] += ack
            elif m.group(3) == "no reply":
                counts["dropped_replies"] += 1
                counts["dropped_acknowledge_replies"] += ack
    return counts


def gaps(missing):
    runs = []
    for n in sorted(missing):
        if runs and runs[-1][1] == n - 1:
            runs[-1][1] = n
        else:
            runs.append([n, n])
    return runs


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--transport", choices=["tcp", "rtu"], required=True)
    ap.add_argument("--minutes", type=float, default=30)
    ap.add_argument("--rate", type=float, default=5, help="events per second")
    ap.add_argument("--drain", type=float, default=30, help="seconds of retrieval after the last event")
    ap.add_argument("--interval", type=int, default=100, help="event scan poll interval, ms")
    ap.add_argument("--drop-request-every", type=int, default=7)
    ap.add_argument("--drop-reply-every", type=int, default=11)
    ap.add_argument("--delay-ms", type=int, default=20)
    ap.add_argument("--reset-every", type=int, default=13, help="TCP connection reset every N-th request")
    ap.add_argument("--sim", required=True)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--work", help="directory for the script, logs and PLCDRV.INI")
    ap.add_argument("--json", help="write the counts here as well")
    args = ap.parse_args()

    work = args.work or tempfile.mkdtemp(prefix="chronel-soak-")
    os.makedirs(work, exist_ok=True)
    count = int(args.minutes * 60 * args.rate)
    if count < 1 or count > 100000:
        sys.exit("soak: %d events: choose minutes and rate for 1 to 100000 events" % count)
    script = os.path.join(work, "events.txt")
    write_script(script, count, args.rate)
    event_log = os.path.join(work, "events-%s.log" % args.transport)
    sim_log = os.path.join(work, "sim-%s.log" % args.transport)
    if os.path.exists(event_log):
        os.remove(event_log)

    sim_cmd = [args.sim, "--events", "script:" + script, "--buffer-type", "2", "--verbose",
               "--drop-request-every", str(args.drop_request_every),
               "--drop-reply-every", str(args.drop_reply_every), "--delay-ms", str(args.delay_ms)]
    if args.transport == "tcp":
        sim_cmd += ["--tcp-port", "0"]
    else:
        sim_cmd += ["--no-tcp", "--rtu", "pty", "--baud", "38400", "--parity", "E"]
    sim_err = open(sim_log, "w")
    sim = subprocess.Popen(sim_cmd, stdout=subprocess.PIPE, stderr=sim_err)
    proxy = None
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    cli_cmd = [args.cli, "--ip", "127.0.0.1", "--interval", str(args.interval)]
    try:
        if args.transport == "tcp":
            announced = read_line(sim.stdout, 10)
            sim_port = int(announced.split()[1])
            proxy = ResettingProxy(sim_port, args.reset_every)
            env["PLCTAG_TCP_PORT"] = str(proxy.port)
            cli_cmd += ["--tcp"]
        else:
            pty = read_line(sim.stdout, 10)
            ini = os.path.join(work, "PLCDRV.INI")
            with open(ini, "w") as f:
                f.write("[GENERAL]\nDialogShow=0\n\n[Ports]\nCOM1=%s\n\n"
                        "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=0\nLinkSpeed=5\nLinkParity=2\n"
                        "LinkDataBits=1\nLinkStopBits=0\nLinkProtocol=0\nLinkTimeOut=500\n" % pty)
            cli_cmd += ["--ini", ini]
        seconds = args.minutes * 60 + FIRST_EVENT_MS / 1000.0 + args.drain
        cli_cmd += ["events", "--seconds", "%.0f" % seconds, "--log", event_log]
        started = time.monotonic()
        cli_out = os.path.join(work, "cli-%s.out" % args.transport)
        with open(cli_out, "w") as out:
            cli = subprocess.run(cli_cmd, env=env, stdout=out, stderr=subprocess.PIPE, timeout=seconds + 120)
        elapsed = time.monotonic() - started
    finally:
        if proxy:
            proxy.stop()
        sim.send_signal(signal.SIGTERM)
        try:
            sim.wait(timeout=10)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()
        sim_err.close()

    numbers, strays, restarts = parse_log(event_log, args.rate)
    seen = set()
    duplicated = 0
    for n in numbers:
        if n in seen:
            duplicated += 1
        seen.add(n)
    missing = set(range(count)) - seen
    runs = gaps(missing)
    sim_counts = parse_sim_log(sim_log)
    # Exit 1 means the last request failed; every failure prints an error line.
    with open(cli_out, errors="replace") as f:
        last_line = ([line.rstrip("\n") for line in f if line.strip()] or [""])[-1]
    cli_ok = cli.returncode == 0 or (cli.returncode == 1 and "Communications error" in last_line)

    result = {
        "transport": args.transport,
        "minutes": args.minutes,
        "cli_seconds": round(elapsed, 1),
        "cli_exit": cli.returncode,
        "generated": count,
        "retrieved": len(seen),
        "cli_last_line": last_line,
        "lost": len(missing),
        "lost_runs": [r for r in runs[:10]],
        "duplicated": duplicated,
        "unnumbered_lines": len(strays),
        "module_restarts_seen": restarts,
        "requests": sim_counts["requests"],
        "dropped_requests": sim_counts["dropped_requests"],
        "dropped_acknowledge_requests": sim_counts["dropped_acknowledges"],
        "dropped_replies": sim_counts["dropped_replies"],
        "dropped_acknowledge_replies": sim_counts["dropped_acknowledge_replies"],
        "connection_resets": proxy.resets if proxy else 0,
        "reset_acknowledge_requests": proxy.reset_acknowledges if proxy else 0,
        "work": work,
    }
    for key, value in result.items():
        print("%-34s %s" % (key, value))
    if strays:
        print("first unnumbered lines:", *strays[:5], sep="\n  ")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(result, f, indent=1)
    if cli.stderr:
        sys.stderr.write(cli.stderr.decode(errors="replace")[-2000:])
    # A soak proves nothing unless its faults happened: acknowledges lost
    # (request or reply), and over TCP connections reset.
    lost_acknowledges = (result["dropped_acknowledge_requests"] + result["dropped_acknowledge_replies"] +
                         result["reset_acknowledge_requests"])
    faults_ok = lost_acknowledges > 0 and (args.transport != "tcp" or result["connection_resets"] > 0)
    if not faults_ok:
        print("soak %s: the faults did not happen (lost acknowledges %d, connection resets %d)"
              % (args.transport, lost_acknowledges, result["connection_resets"]))
    ok = (not missing and duplicated == 0 and not strays and restarts == 0 and len(seen) > 0 and cli_ok
          and faults_ok)
    print("soak %s: %s" % (args.transport, "passed" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
