#!/usr/bin/python3
"""Collector benchmark: `chronel-cli collect` against simulated modules, the
journal read back with Python's sqlite3 (table journal_events).

1. delay     8 modules (--delay-modules 64 for a larger site) with random
             input changes at 2 per second, collected for 60 s: median and
             95th percentile of (received - generation time). `received` is
             the collector's clock when it hands a block to the journal, a
             few milliseconds before the commit. Generation time is the
             module time less the module's clock offset from UTC, which is
             read first: `status` (SER time to the second against this
             computer's clock) gives the offset, rounded to whole hours when
             it lies within the reading's uncertainty of them (the simulator
             keeps GPS time plus a whole-hour GPS offset); the least
             received - generation time over all events is printed as a
             check that no event seems to arrive before it happened.
             Target: median <= 2 s. From the --trace lines, the requests
             per module and second in the window's first and last 10 s: a
             busy module is scanned every 250 ms, and two blocks a second
             to drain add at most eight more. Target: <= 12 in the last 10 s.
2. burst tcp one module over Modbus TCP, a script of 1000 input changes
             within one second (1 ms apart, 35 s after start so that the
             collector is back at its idle pace); time from the burst's last
             change until the journal holds all 1000 (the journal polled
             every 20 ms), and when the collector first saw the events. The
             simulator's buffer holds 1024 events, the last slot kept for
             the overflow record, so 1000 fit even without the collector
             draining during the burst. Target <= 2 s.
3. burst rtu the same number of changes, all within one millisecond (so that no
             drain runs alongside the burst on the instant pseudo-terminal),
             over Modbus RTU at 19200 baud, 8E1 (11 bits a
             character) on a pseudo-terminal. From the --trace lines: the
             bytes of every exchange from the first request after the burst
             began that finds events up to the last block's commit (each
             frame's PDU plus address and CRC, 3 bytes), the time they need
             on the line at 19200 / 11 characters a second, and the shares
             of the coil 1 and status block reads. The event blocks alone
             are the exchanges that hand the events out: each block read
             that holds records and each acknowledge, request and reply,
             in that window. A pseudo-terminal moves the bytes at once, so
             the measured drain holds the gaps and turn-arounds only; the
             projected drain on a real line is the measured one plus the
             line time of every exchange. Target: projected <= 1.05 x the
             line time of the event blocks alone (its ratio to the line
             time of every exchange printed beside it).
4. soak      64 modules x 2 events/s for --soak-minutes (2; 10 for the full
             soak), eight simulators of eight modules, each playing a known
             script (so every generated event is known); four simulators
             drop every 7th request and every 11th reply and delay every
             reply by 20 ms, and one of those four sits behind a relay that
             resets the TCP connection in place of forwarding every 13th
             request (the existing event soak's fault mix). The simulator's
             own --reset-every is left out: a module restart loses its
             pending events by design. The collector is killed with SIGKILL
             every 10 to 40 s and started again; after the last change it
             runs until the journal holds every event (at most 180 s) and is
             stopped with SIGTERM. Every scripted event must be in the
             journal exactly once, nothing else from an input point, and one
             Power on Reset per module. Processor time of the collector
             (user + system over all its runs) per module and minute.

5. outage    64 modules with random input changes at 1 per second collect
             into a private PostgreSQL server (initdb and postgres as uid
             1000 of a child user namespace, Unix socket only), which is
             stopped for --outage-seconds (60) once every module collects,
             then started again. During the outage: the requests each module
             gets (the simulator's --verbose lines) and the collector's
             processor time; while the journal refuses, the collector asks a
             module every 2 s. Targets: <= 1 request per second per module
             and <= 5 % of one core. After it the collection must resume by
             itself: within 30 s of the server's restart the journal holds a
             row the collector received after it.
6. fleet     --fleet-modules (1000) on one collector at its default idle
             pace: simulators of 250 modules each on one port (127.0.0.1-250,
             127.0.1.1-250, 127.0.2.1-250, 127.0.3.1-250), a site file of
             them all, a SQLite journal. After a warm-up (every module's
             Power on Reset in the journal, and 30 s more so that the busy
             pace after those events has ended, at least 40 s in all), for
             --fleet-seconds (30): the collector's processor time (user +
             system from /proc) as a share of one core, its peak and final
             resident size (VmHWM, VmRSS), threads and open descriptors.
             Targets: <= 25 % of one core, <= 200 MB. Then the last
             --fleet-bursting (1) modules, on a simulator of their own,
             play a burst of --fleet-burst-events (1000) input changes 1 ms
             apart, --fleet-burst-at (110) s after their simulator started,
             while the others stay idle; --fleet-bursting 1000
             --fleet-burst-events 50 is a site-wide trip. For each bursting
             module, the time from the burst's
             last change (module time less the clock offset a `status` read
             of each simulator's first module gives) until the journal
             holds all of its changes (read-only, new rows polled every
             50 ms). Target: every module <= 2 s; median, 95th percentile,
             most and the modules over the target printed. --perf S records
             the collector with perf for S s after the measured window and
             prints the 20 symbols it spends most time in. One collector
             takes up to 1024 modules.
7. fleet-pg  two collectors sharing one PostgreSQL journal (the private
             server of 5.), each with a site file of its own simulator's
             250 modules, named A-n and B-n there; every module plays a
             burst of --pg-burst-events (20) changes --pg-burst-at (75) s
             after start. Every scripted event must be in the journal
             exactly once with one Power on Reset per module, and each
             collector must have written only its own modules' rows (their
             names); the collectors' processor time over --pg-seconds (20)
             before the burst and over the whole run.

The journal's query speed is bench/journal/journal_bench's.

It runs in a private network namespace: started outside one, it starts itself
again under `unshare --net` and brings loopback up, and it refuses to run in
a namespace that has any interface besides lo.

    bench/journal/collector_bench.py [--soak-minutes M] [--delay-modules 8|64]
        [--only delay,burst-tcp,burst-rtu,soak,outage,fleet,fleet-pg] [--outage-seconds S]
        [--fleet-modules N] [--perf S] [--cli PATH] [--sim PATH] [--keep]

Exit status: 0 every target met, 1 a target or a check failed, 2 the
benchmark could not run.
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

for _module, _package in (("resource", "python3"), ("statistics", "python3"), ("socket", "python3"),
                          ("sqlite3", "libpython3-stdlib")):
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"collector_bench.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

import argparse
import bisect
import calendar
import datetime
import os
import random
import re
import resource
import select
import shutil
import signal
import socket
import sqlite3
import statistics
import struct
import subprocess
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
from benchlib import BenchError, Children, enter_private_network, free_port, proc_cpu_seconds, reap  # noqa: E402

NETNS_MARK = "CHRONEL_COLLECTOR_BENCH_NETNS"
MODULE_EPOCH = 441763200  # 1984-01-01 in Unix seconds, the module's epoch

DELAY_TARGET_S = 2.0
BURST_TARGET_S = 2.0
# The projected drain against the line time of the event blocks alone: all
# else on the line (coil 1, status block, gaps) may add 5 %.
LINE_RATIO_TARGET = 1.05
BUFFER_EVENTS = 1023  # chronel-sim's 1024 slots, the last kept for the overflow record
RTU_BAUD = 19200
RTU_LINK_SPEED = 4  # PLCDRV.INI LinkSpeed index of 19200
BITS_PER_CHAR = 11  # start, 8 data, parity, stop
RTU_OVERHEAD = 3  # address and CRC around each PDU
STATUS_READ = "03 00 C7 00 64"
COIL_READ = "01 00 00 00 01"
BLOCK_READ = "03 00 64 00 64"

KIND_INPUT, KIND_POWER_ON = 1, 6
# A busy module: a request every 250 ms, and at 2 events/s at most two blocks
# a second to drain, each with up to four more requests.
PACE_LIMIT = 12.0
SOAK_GROUPS, SOAK_GROUP_MODULES = 8, 8
SOAK_RATE = 2.0
SOAK_FAULTY = (4, 5, 6, 7)  # group indexes with the fault mix; the last also behind the resetting relay
SOAK_FAULTS = ["--drop-request-every", "7", "--drop-reply-every", "11", "--delay-ms", "20"]
SOAK_RESET_EVERY = 13
OUTAGE_MODULES = 64
OUTAGE_RATE_TARGET = 1.0  # requests per second and module while the journal is down
OUTAGE_CPU_TARGET = 0.05  # of one core
FLEET_SIM_MODULES = 250
FLEET_CPU_TARGET = 0.25  # of one core
FLEET_RSS_TARGET_MB = 200.0
FLEET_BURST_TARGET_S = 2.0
FLEET_WARM_MIN_S = 40.0
# A module that handed out events is scanned at the busy pace this long
# (module_collector.cpp ActiveWindowMs): the warm-up waits it out.
ACTIVE_WINDOW_S = 30.0
FLEET_POLL_S = 0.05
PG_SIMS = 2

# "127.0.0.5: 14:02:07.315 > tcp unit 255: 03 ..." (no address with one module)
TRACE = re.compile(r"^(?:\S+: )?(\d\d):(\d\d):(\d\d)\.(\d{3}) ([<>!]) (?:tcp|adapter \d+) unit \d+:(.*)$")


def child_env(port=None):
    # TZ=UTC: the trace's times of day compare with this computer's UTC clock.
    env = dict(os.environ, TZ="UTC", QT_QPA_PLATFORM="offscreen")
    if port is not None:
        env["PLCTAG_TCP_PORT"] = str(port)
    return env


class Simulator:
    """One chronel-sim; over TCP it has printed its port once every module
    listens, over RTU the pseudo-terminal's path."""

    def __init__(self, children, sim, work, name, extra, port=None, listen="127.0.0.1", modules=1, rtu=False):
        self.listen, self.modules, self.pty = listen, modules, None
        out, err = work / f"sim-{name}.out", work / f"sim-{name}.err"
        args = [sim, "--modules", str(modules), "--max-clients", "256", "--buffer-type", "2", *extra]
        if rtu:
            args += ["--no-tcp", "--rtu", "pty", "--baud", str(RTU_BAUD), "--parity", "E"]
        else:
            args += ["--tcp-port", str(port), "--listen", listen]
        with open(out, "w") as stdout, open(err, "w") as stderr:
            self.proc = children.start(args, stdout=stdout, stderr=stderr)
        deadline = time.monotonic() + 15
        while True:
            text = out.read_text()
            if rtu and text.endswith("\n"):
                self.pty = text.splitlines()[0].strip()
                break
            if not rtu and f"tcp-port {port}" in text:
                break
            if self.proc.poll() is not None:
                raise BenchError(f"chronel-sim {name} ended with status {self.proc.returncode}")
            if time.monotonic() > deadline:
                raise BenchError(f"chronel-sim {name} did not start within 15 s")
            time.sleep(0.02)
        self.started = time.time()

    def addresses(self):
        a, b, c, d = (int(x) for x in self.listen.split("."))
        return [f"{a}.{b}.{c}.{d + k}" for k in range(self.modules)]


def write_site(path, addresses, names=None):
    """One module a line, with its name after the address when `names` gives one."""
    if not all(a.startswith("127.") for a in addresses):
        raise BenchError("loopback addresses only")
    names = names or [""] * len(addresses)
    path.write_text("".join(f"{a} {n}".rstrip() + "\n" for a, n in zip(addresses, names)))


def proc_figures(pid):
    """(VmRSS MB, VmHWM MB, threads, open descriptors) of a running process; MB = 10^6 bytes."""
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.split()

    def mb(key):
        return int(fields[key][0]) * 1024 / 1e6  # the kernel's kB are KiB

    return mb("VmRSS"), mb("VmHWM"), int(fields["Threads"][0]), len(os.listdir(f"/proc/{pid}/fd"))


def read_only(path):
    """A read-only connection to a journal, or None before the file exists."""
    if not path.exists():
        return None
    return sqlite3.connect(f"file:{path}?mode=ro", uri=True, timeout=2)


def rtu_ini(path, pty):
    # As tests/cli/cli_test_support.cpp SerialIniText, at 19200 baud, even parity.
    path.write_text("[GENERAL]\nDialogShow=0\n\n[Ports]\nCOM1=%s\n\n[Adapter.Object.1]\nEnabled=1\nType=0\n"
                    "COM:=0\nLinkSpeed=%d\nLinkParity=2\nLinkDataBits=1\nLinkStopBits=0\nLinkProtocol=0\n"
                    "LinkTimeOut=1000\n" % (pty, RTU_LINK_SPEED))


# --- times -------------------------------------------------------------------

def utc_seconds(text):
    """'2026-12-07T21:57:05.705' (a trailing Z allowed) as Unix seconds."""
    text = text.rstrip("Z")
    whole, _, frac = text.partition(".")
    t = datetime.datetime.strptime(whole, "%Y-%m-%dT%H:%M:%S")
    return calendar.timegm(t.timetuple()) + (int(frac) / 10 ** len(frac) if frac else 0.0)


def decode_raw(raw):
    """A buffer-type-2 record: (kind, point, state, module ms since 1970 as if UTC)."""
    if raw is None or len(raw) != 8:
        return None
    kind = raw[0] & 0x1F
    point = ((raw[0] >> 5) | ((raw[1] & 0x03) << 3)) + 1
    state = (raw[1] >> 2) & 1
    ms = raw[2] | ((raw[3] & 0x03) << 8)
    seconds = struct.unpack("<i", bytes(raw[4:8]))[0]
    return kind, point, state, (seconds + MODULE_EPOCH) * 1000 + ms


def read_journal(path):
    """[(module, module_time s, received s, kind, point, state, raw)] from journal_events."""
    con = sqlite3.connect(str(path), timeout=10)
    try:
        rows = con.execute("SELECT module, module_time, received, raw FROM journal_events").fetchall()
    finally:
        con.close()
    out = []
    for module, module_time, received, raw in rows:
        d = decode_raw(raw)
        if d is None:
            raise BenchError(f"journal row of {module} with a raw record of {len(raw or b'')} bytes, not type 2")
        kind, point, state, ms = d
        out.append((module, ms / 1000.0, utc_seconds(received), kind, point, state, bytes(raw),
                    utc_seconds(module_time)))
    return out


def count_inputs(path, module=None):
    """Input-point rows and their latest `received`, or (0, None) before the table exists."""
    if not path.exists():
        return 0, None
    con = sqlite3.connect(str(path), timeout=2)
    try:
        q = "SELECT count(*), max(received) FROM journal_events WHERE point > 0"
        args = ()
        if module:
            q += " AND module = ?"
            args = (module,)
        n, latest = con.execute(q, args).fetchone()
        return n, latest
    except sqlite3.OperationalError:  # not created yet
        return 0, None
    finally:
        con.close()


def count_textless(path):
    """{soak group: (input rows without a state text, input rows)}."""
    con = sqlite3.connect(str(path), timeout=10)
    try:
        found = con.execute("SELECT module, sum(state_text = ''), count(*) FROM journal_events WHERE point > 0"
                            " GROUP BY module").fetchall()
    finally:
        con.close()
    groups = {}
    for module, empty, total in found:
        g = int(module.split(".")[2]) - 1
        e, t = groups.get(g, (0, 0))
        groups[g] = (e + empty, t + total)
    return groups


def clock_offsets(children, cli, transport_args, env, addresses, work, name):
    """{address: module clock - UTC in seconds} from one `status` read."""
    args = [cli, *transport_args, "--jobs", str(len(addresses))]
    for a in addresses:
        args += ["--ip", a]
    out_path, err_path = work / f"{name}-status.out", work / f"{name}-status.err"
    with open(out_path, "w") as out, open(err_path, "w") as err:
        before = time.time()
        p = children.start(args + ["status"], stdout=out, stderr=err, env=env)
        status, _ = reap(children, p, 120)
        after = time.time()
    if status != 0:
        raise BenchError(f"{name}: status failed with {status}: {err_path.read_text()[-300:]}")
    fields = {}
    for line in out_path.read_text().splitlines():
        m = re.match(r"^(?:(\S+): )?SER (Time|Date):\s+(\S+)\s*$", line)
        if m:
            fields.setdefault(m[1] or addresses[0], {})[m[2]] = m[3]
    offsets, notes = {}, []
    for a in addresses:
        f = fields.get(a, {})
        if "Time" not in f or "Date" not in f:
            raise BenchError(f"{name}: no SER time from {a}")
        h, mi, s = (int(x) for x in f["Time"].split(":"))
        y, mo, d = (int(x) for x in f["Date"].split("-"))
        module = calendar.timegm((y, mo, d, h, mi, s, 0, 0, 0)) + 0.5  # shown to the second
        estimate = module - (before + after) / 2
        slack = 1.0 + (after - before) / 2
        hours = round(estimate / 3600) * 3600
        if abs(estimate - hours) <= slack:
            offsets[a] = float(hours)
        else:
            offsets[a] = estimate
            notes.append(f"{a}: clock {estimate:+.1f} s from UTC, not whole hours (+-{slack:.1f} s)")
    return offsets, notes


# --- 1. delay ----------------------------------------------------------------

def bench_delay(children, args, port, work, results, checks):
    n = args.delay_modules
    sim = Simulator(children, args.sim, work, "delay", ["--events", "random:2"], port=port, modules=n)
    env = child_env(port)
    addresses = sim.addresses()
    site = work / "delay-site.txt"
    write_site(site, addresses)
    try:
        offsets, notes = clock_offsets(children, args.cli, ["--tcp"], env, addresses, work, "delay")
        journal = work / "delay.sqlite"
        warm, drain = 5.0, 10.0
        seconds = warm + args.delay_seconds + drain
        started = time.time()
        trace = work / "delay-collect.err"
        with open(work / "delay-collect.out", "w") as out, open(trace, "w") as err:
            p = children.start([args.cli, "--tcp", "--trace", "--jobs", str(n), "--ip", f"@{site}", "collect",
                                "--journal",
                                str(journal), "--seconds", f"{seconds:g}"], stdout=out, stderr=err, env=env)
            status, cpu = reap(children, p, seconds + 120)
        wall = time.time() - started
    finally:
        children.stop(sim.proc)
    checks.append(("delay: collect exit status 0", status == 0, f"status {status}"))
    # Events made once the collector had its point tables, and early enough
    # to be collected before it stopped.
    lo, hi = started + warm, started + warm + args.delay_seconds
    delays, per_module, mismatched = [], {}, 0
    for module, mtime, received, kind, point, state, raw, mtext in read_journal(journal):
        if abs(mtime - mtext) > 0.0005:
            mismatched += 1
        if kind != KIND_INPUT:
            continue
        generated = mtime - offsets[module]
        if lo <= generated < hi:
            delays.append(received - generated)
            per_module.setdefault(module, []).append(received - generated)
    checks.append(("delay: module_time matches the raw record", mismatched == 0, f"{mismatched} rows differ"))
    missing = [a for a in addresses if a not in per_module]
    checks.append(("delay: events from every module", not missing, ", ".join(missing[:4])))
    if not delays:
        raise BenchError("delay: no events in the measuring window")
    delays.sort()
    # The pace: requests per module and second in the first and the last
    # 10 s of the window, against the 250 ms busy pace plus the drains.
    day = calendar.timegm(time.gmtime(lo)[:3] + (0, 0, 0, 0, 0, 0))
    sent = [f[0] for f in parse_trace(trace, day) if f[1] == ">"]
    early = sum(1 for t in sent if lo <= t < lo + 10) / 10 / n
    late = sum(1 for t in sent if hi - 10 <= t < hi) / 10 / n
    results["delay"] = {
        "modules": n, "seconds": args.delay_seconds, "events": len(delays), "wall": wall, "cpu": cpu,
        "median": statistics.median(delays), "p95": delays[min(len(delays) - 1, int(0.95 * len(delays)))],
        "max": delays[-1], "min": delays[0], "rate_early": early, "rate_late": late,
        "offset": sorted(set(offsets.values())), "notes": notes,
        "worst_module_median": max((statistics.median(v), a) for a, v in per_module.items()),
    }
    r = results["delay"]
    checks.append(("delay: no event received before it was made (offset check)", r["min"] > -0.005,
                   f"least delay {r['min'] * 1000:.0f} ms"))
    print(f"  delay: {n} modules, {len(delays)} events, median {r['median'] * 1000:.0f} ms, "
          f"p95 {r['p95'] * 1000:.0f} ms", flush=True)


# --- 2./3. burst -------------------------------------------------------------

def parse_trace(path, day_start):
    """[(t, direction, bytes of PDU, PDU text)] with t in Unix seconds (UTC trace)."""
    frames = []
    with open(path, errors="replace") as f:
        for line in f:
            m = TRACE.match(line.rstrip("\n"))
            if not m:
                continue
            t = day_start + int(m[1]) * 3600 + int(m[2]) * 60 + int(m[3]) + int(m[4]) / 1000
            if frames and t < frames[-1][0] - 43200:  # past midnight
                t += 86400
            frames.append((t, m[5], len(m[6].split()), m[6].strip()))
    return frames


def finds_events(request, reply):
    """Coil 1 read as set, or an event block read whose record count (word 2) is not 0."""
    if request == COIL_READ:
        return reply == "01 01 01"
    if request == BLOCK_READ:
        b = reply.split()
        return len(b) >= 8 and (b[6], b[7]) != ("00", "00")
    return False


def is_acknowledge(request):
    """A write of coil 2 (protocol address 1), single or multiple."""
    b = request.split()
    return len(b) >= 3 and b[0] in ("05", "0F") and (b[1], b[2]) == ("00", "01")


def burst_script(path, at, count, apart_ms=1):
    """Input changes `apart_ms` apart from `at` seconds on; each point alternates on and off."""
    with open(path, "w") as f:
        f.write("# a burst of input changes; each point alternates on and off\n")
        for i in range(count):
            f.write("%.3f %d %d\n" % (at + i * apart_ms / 1000.0, i % 32 + 1, 1 if (i // 32) % 2 == 0 else 0))


def bench_burst(children, args, port, work, results, checks, transport):
    count = args.burst_events
    if count > BUFFER_EVENTS:
        print(f"  burst: the simulator's buffer holds {BUFFER_EVENTS} events; {count} asked for", flush=True)
    at = args.burst_at
    script = work / f"burst-{transport}.txt"
    rtu = transport == "rtu"
    # Over RTU all changes come in one millisecond: a pseudo-terminal moves
    # bytes at once, so a drain running alongside a slower burst would read
    # part-filled blocks that a real line, twenty times slower, would not.
    burst_script(script, at, count, 0 if rtu else 1)
    sim = Simulator(children, args.sim, work, f"burst-{transport}", ["--events", f"script:{script}"],
                    port=port, rtu=rtu)
    env = child_env(port)
    if rtu:
        ini = work / "rtu.ini"
        rtu_ini(ini, sim.pty)
        transport_args = ["--ini", str(ini)]
    else:
        transport_args = ["--tcp"]
    address = "127.0.0.1"
    journal = work / f"burst-{transport}.sqlite"
    trace = work / f"burst-{transport}-collect.err"
    limit = at + 1 + args.burst_wait
    try:
        offsets, notes = clock_offsets(children, args.cli, transport_args, env, [address], work, f"burst-{transport}")
        with open(work / f"burst-{transport}-collect.out", "w") as out, open(trace, "w") as err:
            p = children.start([args.cli, *transport_args, "--trace", "--ip", address, "collect", "--journal",
                                str(journal), "--seconds", f"{limit + 10:g}"], stdout=out, stderr=err, env=env)
            seen_all = None
            while time.time() < sim.started + limit:
                n, _ = count_inputs(journal)
                if n >= count:
                    seen_all = time.time()
                    break
                if p.poll() is not None:
                    break
                time.sleep(0.02)
            status, cpu = reap(children, p, 30, signal.SIGTERM)
    finally:
        children.stop(sim.proc)
    rows = [r for r in read_journal(journal) if r[3] == KIND_INPUT]
    offset = offsets[address]
    # Changes in one millisecond repeat their time and bytes: every row counts.
    got = len(rows) if rtu else len({(r[1], r[6]) for r in rows})
    checks.append((f"burst {transport}: all {count} committed within {args.burst_wait:.0f} s", got >= count,
                   f"{got} of {count}"))
    checks.append((f"burst {transport}: collect ended cleanly", status == 0, f"status {status}"))
    if not rows:
        raise BenchError(f"burst {transport}: no events in the journal")
    first = min(r[1] for r in rows) - offset
    last = max(r[1] for r in rows) - offset
    stamped = max(r[2] for r in rows)
    res = {"events": got, "burst_span": last - first, "stamped_after_end": stamped - last,
           "seen_after_end": (seen_all - last) if seen_all else None, "cpu": cpu, "notes": notes,
           "min_delay": min(r[2] - (r[1] - offset) for r in rows)}
    checks.append((f"burst {transport}: no event received before it was made (offset check)",
                   res["min_delay"] > -0.005, f"least delay {res['min_delay'] * 1000:.0f} ms"))
    day = calendar.timegm(time.gmtime(first)[:3] + (0, 0, 0, 0, 0, 0))
    frames = parse_trace(trace, day)
    # The drain: from the first request after the burst began that finds
    # events (coil 1 set, or an event block holding records) to the last
    # block handed to the journal. Before it the idle pace decides.
    span = [f for f in frames if first <= f[0] <= stamped + 0.0005]
    requests = [f for f in span if f[1] == ">"]
    if not requests:
        raise BenchError(f"burst {transport}: no request in the trace during the drain")
    finding = [a for a, b in zip(span, span[1:]) if a[1] == ">" and b[1] == "<" and finds_events(a[3], b[3])]
    start = (finding or requests)[0][0]
    window = [f for f in span if f[0] >= start]
    res.update({"first_request_after_start": requests[0][0] - first, "drain_after_start": start - first,
                "drain": stamped - start})
    if rtu:
        chars = sum(f[2] + RTU_OVERHEAD for f in window if f[1] in "<>")
        # Request and reply of each answered exchange.
        answered = [(f, g, f[2] + g[2] + 2 * RTU_OVERHEAD) for f, g in zip(window, window[1:])
                    if f[1] == ">" and g[1] == "<"]
        status_chars = sum(c for f, g, c in answered if f[3] == STATUS_READ)
        coil_chars = sum(c for f, g, c in answered if f[3] == COIL_READ)
        # The exchanges that hand the events out: block reads holding
        # records and the acknowledges. The last block's acknowledge follows
        # its commit, so it lies outside the window as it does for `chars`.
        handing = [(f, g, c) for f, g, c in answered
                   if (f[3] == BLOCK_READ and finds_events(f[3], g[3])) or is_acknowledge(f[3])]
        block_chars = sum(c for f, g, c in handing)
        res.update({
            "exchanges": len([f for f in window if f[1] == ">"]),
            "failures": len([f for f in window if f[1] == "!"]),
            "chars": chars, "line_time": chars * BITS_PER_CHAR / RTU_BAUD, "status_chars": status_chars,
            "coil_chars": coil_chars, "block_chars": block_chars,
            "block_line_time": block_chars * BITS_PER_CHAR / RTU_BAUD,
            "blocks": sum(1 for f, g, c in handing if f[3] == BLOCK_READ),
            "acknowledges": sum(1 for f, g, c in handing if is_acknowledge(f[3])),
            "empty_blocks": sum(1 for f, g, c in answered if f[3] == BLOCK_READ and not finds_events(f[3], g[3])),
            "coil_reads": sum(1 for f, g, c in answered if f[3] == COIL_READ),
            "status_reads": sum(1 for f, g, c in answered if f[3] == STATUS_READ),
        })
        res["projected"] = res["drain"] + res["line_time"]
    results[f"burst-{transport}"] = res
    seen = f"{res['seen_after_end']:.2f} s" if res["seen_after_end"] is not None else "never"
    print(f"  burst {transport}: {got} events, all in the journal {seen} after the burst's end", flush=True)


# --- 4. soak -----------------------------------------------------------------

class ResettingRelay:
    """Modbus TCP relay from each listen address to its upstream address (same
    port) that resets the client's connection (RST) in place of forwarding
    every `every`-th request: that request never reaches the module. Counts
    the acknowledges (writes of coil 2) it cut, which are the lost
    acknowledges the soak claims."""

    def __init__(self, pairs, port, every):
        self.every, self.port = every, port
        self.requests = self.resets = self.reset_acknowledges = 0
        self.lock = threading.Lock()
        self.stopping = False
        self.listeners = []
        for listen, upstream in pairs:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind((listen, port))
            s.listen(16)
            self.listeners.append(s)
            threading.Thread(target=self.accept_loop, args=(s, upstream), daemon=True).start()

    def stop(self):
        self.stopping = True
        for s in self.listeners:
            s.close()

    def accept_loop(self, listener, upstream):
        while not self.stopping:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=self.relay, args=(client, upstream), daemon=True).start()

    def relay(self, client, upstream_address):
        try:
            upstream = socket.create_connection((upstream_address, self.port), timeout=5)
        except OSError:
            client.close()
            return
        pending = b""
        try:
            while not self.stopping:
                readable, _, _ = select.select([client, upstream], [], [], 1.0)
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
                            cut = self.requests % self.every == 0
                            self.resets += cut
                            # Function 5 or 15 at protocol address 1: coil 2.
                            pdu = frame[7:]
                            if cut and len(pdu) >= 3 and pdu[0] in (5, 15) and (pdu[1] << 8 | pdu[2]) == 1:
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


def soak_script(path, group, count):
    """Entry n at 2 s + the group's phase + n / rate: point n mod 32 + 1,
    on in the first half of every 64 and off in the second, so each entry
    changes its point. Returns {ms after start: (n, point, state)}."""
    phase = group * 0.0625
    entries = {}
    with open(path, "w") as f:
        f.write("# numbered input changes of the collector soak\n")
        for n in range(count):
            at_ms = round((2.0 + phase + n / SOAK_RATE) * 1000)
            point, state = n % 32 + 1, 1 if (n // 32) % 2 == 0 else 0
            f.write("%.3f %d %d\n" % (at_ms / 1000, point, state))
            entries[at_ms] = (n, point, state)
    return entries


def match_soak(rows, expected):
    """Each input row of the journal to its script entry: (found {(address, n):
    [raw]}, strays, {address: [Power on Reset times]}, other records, the
    largest stamp deviation in ms)."""
    found, strays, power_ons, other_kinds, worst = {}, [], {}, 0, 0
    for module, mtime, received, kind, point, state, raw, mtext in rows:
        if kind == KIND_POWER_ON:
            power_ons.setdefault(module, []).append(mtime)
    times = {}
    for module, mtime, received, kind, point, state, raw, mtext in rows:
        if kind != KIND_INPUT:
            other_kinds += kind != KIND_POWER_ON
            continue
        if module not in expected or len(power_ons.get(module, [])) != 1:
            strays.append((module, mtime, point, state))
            continue
        group, entries = expected[module]
        keys = times.setdefault(group, sorted(entries))
        # The reset record is stamped as the script starts, an input change
        # as the simulator handles it: a busy simulator stamps a few ms late.
        # Entries are 500 ms apart; the nearest within 50 ms is the one.
        rel = (mtime - power_ons[module][0]) * 1000
        i = bisect.bisect_left(keys, rel)
        near = min((k for k in keys[max(0, i - 1):i + 1]), key=lambda k: abs(k - rel), default=None)
        hit = entries[near] if near is not None and abs(near - rel) <= 50 else None
        if hit is None or (hit[1], hit[2]) != (point, state):
            strays.append((module, mtime, point, state))
            continue
        worst = max(worst, abs(near - rel))
        found.setdefault((module, hit[0]), []).append(raw)
    return found, strays, power_ons, other_kinds, worst


def bench_soak(children, args, port, work, results, checks):
    minutes = args.soak_minutes
    count = int(minutes * 60 * SOAK_RATE)
    rng = random.Random(args.seed)
    sims, expected, relay = [], {}, None
    site_addresses = []
    # Group g serves 127.0.(g+1).1-8; the relayed group's simulator sits on
    # 127.0.100.x behind the relay on the group's own addresses.
    relayed = SOAK_FAULTY[-1]
    try:
        for g in range(SOAK_GROUPS):
            script = work / f"soak-{g + 1}.txt"
            entries = soak_script(script, g, count)
            listen = f"127.0.{g + 1}.1"
            sim_listen = "127.0.100.1" if g == relayed else listen
            extra = ["--events", f"script:{script}"] + (SOAK_FAULTS if g in SOAK_FAULTY else [])
            sims.append(Simulator(children, args.sim, work, f"soak-{g + 1}", extra, port=port, listen=sim_listen,
                                  modules=SOAK_GROUP_MODULES))
            for k in range(SOAK_GROUP_MODULES):
                address = f"127.0.{g + 1}.{k + 1}"
                site_addresses.append(address)
                expected[address] = (g, entries)
        relay = ResettingRelay([(f"127.0.{relayed + 1}.{k + 1}", f"127.0.100.{k + 1}")
                                for k in range(SOAK_GROUP_MODULES)], port, SOAK_RESET_EVERY)
        site = work / "soak-site.txt"
        write_site(site, site_addresses)
        journal = work / "soak.sqlite"
        env = child_env(port)
        modules = len(site_addresses)
        cmd = [args.cli, "--tcp", "--jobs", str(modules), "--ip", f"@{site}", "collect", "--journal", str(journal)]
        gen_end = max(s.started for s in sims) + 2.0 + SOAK_GROUPS * 0.0625 + count / SOAK_RATE
        runs, kills, cpu, unexpected_exits = 0, 0, 0.0, []
        started = time.time()

        def launch():
            nonlocal runs
            runs += 1
            out = open(work / f"soak-collect-{runs}.out", "w")
            err = open(work / f"soak-collect-{runs}.err", "w")
            try:
                return children.start(cmd, stdout=out, stderr=err, env=env)
            finally:
                out.close()
                err.close()

        p = launch()
        next_kill = time.time() + rng.uniform(args.kill_min, args.kill_max)
        while time.time() < gen_end:
            if p.poll() is not None:
                status, used = reap(children, p, 5)
                cpu += used
                unexpected_exits.append((runs, status))
                p = launch()
            elif time.time() >= next_kill:
                _, used = reap(children, p, 10, signal.SIGKILL)
                cpu += used
                kills += 1
                p = launch()
                next_kill = time.time() + rng.uniform(args.kill_min, args.kill_max)
            time.sleep(0.1)
        # Drain: no more kills; stop once every event is in (bounded).
        total = count * modules
        drain_started = time.time()
        while time.time() < drain_started + args.soak_drain:
            if count_inputs(journal)[0] >= total:
                time.sleep(2)  # let the last acknowledges go out
                break
            if p.poll() is not None:
                break
            time.sleep(1)
        drain = time.time() - drain_started
        status, used = reap(children, p, 60, signal.SIGTERM)
        cpu += used
        wall = time.time() - started
        sim_cpu = sum(proc_cpu_seconds(s.proc.pid) for s in sims)
    finally:
        if relay:
            relay.stop()
        for s in sims:
            children.stop(s.proc)

    found, strays, power_ons, other_kinds, worst_stamp = match_soak(read_journal(journal), expected)
    textless = count_textless(journal)
    missing = [(a, n) for a in site_addresses for n in range(count) if (a, n) not in found]
    duplicated = sum(len(v) - 1 for v in found.values() if len(v) > 1)
    restarted = sorted(a for a in site_addresses if len(power_ons.get(a, [])) != 1)
    faulty = {f"127.0.{g + 1}." for g in SOAK_FAULTY}
    missing_faulty = sum(1 for a, _ in missing if any(a.startswith(x) for x in faulty))
    results["soak"] = {
        "minutes": minutes, "modules": modules, "generated": total, "stored": len(found), "missing": len(missing),
        "missing_faulty": missing_faulty, "duplicated": duplicated, "strays": len(strays), "kills": kills,
        "runs": runs, "wall": wall, "drain": drain, "cpu": cpu, "sim_cpu": sim_cpu, "other_kinds": other_kinds,
        "resets": relay.resets if relay else 0, "relayed": relay.requests if relay else 0,
        "lost_acknowledges": relay.reset_acknowledges if relay else 0,
        "unexpected_exits": unexpected_exits, "last_status": status,
        "missing_first": missing[:6], "strays_first": strays[:4], "restarted": restarted,
        "textless": textless, "worst_stamp": worst_stamp,
    }
    checks.append(("soak: every event stored", not missing, f"{len(missing)} missing"))
    checks.append(("soak: no event stored twice", duplicated == 0, f"{duplicated} duplicated"))
    checks.append(("soak: no input event outside the scripts", not strays, f"{len(strays)} strays"))
    checks.append(("soak: one Power on Reset per module", not restarted, ", ".join(restarted[:4])))
    checks.append(("soak: the collector ended only when killed", not unexpected_exits,
                   ", ".join(f"run {r} status {s}" for r, s in unexpected_exits[:4])))
    checks.append(("soak: last run stopped cleanly by SIGTERM", status in (0, 1), f"status {status}"))
    # A soak proves nothing unless its faults happened.
    checks.append(("soak: the collector was killed", kills >= 1, f"{kills} kills"))
    checks.append(("soak: connections were reset", results["soak"]["resets"] > 0, "no reset"))
    checks.append(("soak: acknowledges were lost", results["soak"]["lost_acknowledges"] > 0, "no acknowledge lost"))
    print(f"  soak: {modules} modules, {minutes:g} min, {kills} kills, {len(found)} of {total} stored, "
          f"{len(missing)} missing, {duplicated} duplicated", flush=True)


# --- 5. outage ---------------------------------------------------------------

class PostgresServer:
    """A private PostgreSQL server on a Unix socket in `folder`, as the tests'
    tests/support/postgres_server: it refuses to run as root, so initdb and
    postgres run as uid 1000 of a child user namespace."""

    def __init__(self, children, folder):
        self.children, self.folder, self.proc = children, folder, None
        bins = sorted(Path("/usr/lib/postgresql").glob("*/bin"))
        if not bins:
            raise BenchError("PostgreSQL's programs not found (Debian package postgresql)")
        self.bin = bins[-1]
        self.data = folder / "data"
        folder.mkdir(parents=True, exist_ok=True)
        self.as_user = ["unshare", "--user", "--map-user=1000", "--map-group=1000"]
        r = subprocess.run(self.as_user + [str(self.bin / "initdb"), "-D", str(self.data), "-U", "postgres", "-A",
                                           "trust", "-E", "UTF8", "--locale=C", "--no-sync", "--no-instructions"],
                           capture_output=True, text=True, timeout=120, env=dict(os.environ, LC_ALL="C"))
        if r.returncode != 0:
            raise BenchError(f"initdb failed: {r.stdout[-500:]}{r.stderr[-500:]}")

    def url(self):
        return f"postgresql:///postgres?host={self.folder}&user=postgres"

    def start(self):
        log = open(self.folder / "server.log", "a")
        self.proc = self.children.start(
            self.as_user + [str(self.bin / "postgres"), "-D", str(self.data), "-k", str(self.folder), "-c",
                            "listen_addresses=", "-c", "fsync=off", "-c", "max_connections=120"],
            stdout=log, stderr=log)
        log.close()
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            pid_file = self.data / "postmaster.pid"
            if pid_file.exists() and "ready" in pid_file.read_text(errors="replace"):
                return
            if self.proc.poll() is not None:
                raise BenchError("postgres ended at start")
            time.sleep(0.05)
        raise BenchError("postgres not ready after 30 s")

    def stop(self):
        if self.proc:
            self.children.stop(self.proc, grace=20)  # SIGTERM: smart shutdown, then SIGKILL
            self.proc = None


def psql(server, sql):
    """Rows of a query on the private server, fields split at '|'; None before the journal exists."""
    r = subprocess.run([str(server.bin / "psql"), "-X", "-q", "-A", "-t", "-F", "|", "-h", str(server.folder), "-U",
                        "postgres", "-d", "postgres", "-c", sql], capture_output=True, text=True, timeout=60,
                       env=dict(os.environ, LC_ALL="C"))
    if r.returncode != 0:
        if "does not exist" in r.stderr:
            return None
        raise BenchError(f"psql: {r.stderr.strip()[-300:]}")
    return [line.split("|") for line in r.stdout.splitlines() if line]


def module_requests(log_path, offset):
    """Requests per module in the simulator's --verbose log from `offset` on, and the end offset."""
    counts = {}
    with open(log_path, "rb") as f:
        f.seek(offset)
        data = f.read()
    end = offset + data.rfind(b"\n") + 1
    for line in data[:end - offset].splitlines():
        parts = line.split(b" ", 2)
        if len(parts) >= 2 and parts[1] in (b"tcp", b"rtu"):
            counts[parts[0].decode()] = counts.get(parts[0].decode(), 0) + 1
    return counts, end


def bench_outage(children, args, port, work, results, checks):
    server = PostgresServer(children, Path(tempfile.mkdtemp(prefix="chronel-pg-", dir="/tmp")))
    server.start()
    sim = Simulator(children, args.sim, work, "outage", ["--events", "random:1", "--verbose"], port=port,
                    listen="127.0.0.1", modules=OUTAGE_MODULES)
    sim_log = work / "sim-outage.err"
    site = work / "outage-site.txt"
    write_site(site, sim.addresses())
    cmd = [args.cli, "--tcp", "--ip", f"@{site}", "collect", "--journal", server.url()]
    out, err = open(work / "outage-collect.out", "w"), open(work / "outage-collect.err", "w")
    collector = children.start(cmd, stdout=out, stderr=err, env=child_env(port))
    out.close()
    err.close()
    try:
        # Every module collecting: each has stored rows.
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            r = subprocess.run([args.cli, "journal", "--journal", server.url(), "--format", "csv"],
                               capture_output=True, text=True, timeout=60, env=child_env())
            if len({line.split(",")[0] for line in r.stdout.splitlines()[1:]}) >= OUTAGE_MODULES:
                break
            time.sleep(2)
        else:
            raise BenchError("not every module stored rows within 90 s of the start")
        server.stop()
        _, offset = module_requests(sim_log, 0)
        cpu0, t0 = proc_cpu_seconds(collector.pid), time.monotonic()
        time.sleep(args.outage_seconds)
        counts, _ = module_requests(sim_log, offset)
        cpu1, t1 = proc_cpu_seconds(collector.pid), time.monotonic()
        server.start()
        restarted, restarted_at = time.monotonic(), time.time()
        resumed = None
        while time.monotonic() < restarted + 30:
            # A row received once the server was back: a count would also
            # grow by rows committed just before it stopped.
            latest = psql(server, "SELECT max(received) FROM journal_events")
            if latest and latest[0][0] and utc_seconds(latest[0][0]) >= restarted_at:
                resumed = time.monotonic() - restarted
                break
            time.sleep(0.5)
        warnings = (work / "outage-collect.err").read_text(errors="replace")
    finally:
        status, _ = reap(children, collector, 60, signal.SIGTERM)
        # Its addresses and port are the next measurement's.
        children.stop(sim.proc)
        server.stop()
        shutil.rmtree(server.folder, ignore_errors=True)
    seconds = t1 - t0
    rates = sorted(counts.get(a, 0) / seconds for a in sim.addresses())
    cpu = (cpu1 - cpu0) / seconds
    results["outage"] = {"modules": OUTAGE_MODULES, "seconds": seconds, "rate_max": rates[-1],
                         "rate_median": statistics.median(rates), "cpu": cpu, "resumed": resumed,
                         "warnings": warnings.count("the journal did not take them"), "status": status}
    checks.append(("outage: collection resumed by itself", resumed is not None, "no new row within 30 s"))
    print(f"  outage: {OUTAGE_MODULES} modules, {seconds:.0f} s without the journal: at most {rates[-1]:.2f} "
          f"requests/s a module, {cpu * 100:.1f} % of a core", flush=True)


# --- 6. fleet ----------------------------------------------------------------

def fleet_simulators(children, args, port, work, name, count, script, bursting=None):
    """Simulators of FLEET_SIM_MODULES modules each, the g-th on 127.0.g.1 on. Every module plays `script`, or
    with `bursting` only the last that many, on a simulator of their own (the others have no events)."""
    bursting = count if bursting is None else bursting
    groups = [(m, True) for m in split(bursting)] if bursting == count else \
        [(m, False) for m in split(count - bursting)] + [(m, True) for m in split(bursting)]
    sims = []
    for g, (modules, plays) in enumerate(groups):
        events = ["--events", f"script:{script}"] if plays else []
        sims.append(Simulator(children, args.sim, work, f"{name}-{g}", events, port=port, listen=f"127.0.{g}.1",
                              modules=modules))
        sims[-1].bursts = plays
    return sims


def split(count):
    """`count` modules as simulators of at most FLEET_SIM_MODULES."""
    return [min(FLEET_SIM_MODULES, count - k) for k in range(0, count, FLEET_SIM_MODULES)]


def power_ons(path):
    """{module: UTC seconds its Power on Reset was received} from a SQLite journal."""
    con = read_only(path)
    if con is None:
        return {}
    try:
        rows = con.execute("SELECT module, received, raw FROM journal_events WHERE point = 0").fetchall()
    except sqlite3.OperationalError:  # not created yet
        return {}
    finally:
        con.close()
    found = {}
    for module, received, raw in rows:
        d = decode_raw(raw)
        if d and d[0] == KIND_POWER_ON:
            found[module] = utc_seconds(received)
    return found


def collector_messages(path):
    """The collector's warnings: how many lines, and the first few."""
    lines = [line for line in path.read_text(errors="replace").splitlines()
             if line.startswith("chronel-cli: ") and "collecting into" not in line]
    return len(lines), lines[:3]


def perf_top(pid, seconds, work):
    """The 20 symbols perf finds the process spends most time in, over `seconds`."""
    if shutil.which("perf") is None:
        return ["perf not found (Debian package linux-perf)"]
    data = work / "fleet-perf.data"
    r = subprocess.run(["perf", "record", "-g", "-o", str(data), "-p", str(pid), "--", "sleep", f"{seconds:g}"],
                       capture_output=True, text=True, timeout=seconds + 60)
    if r.returncode != 0:
        return [f"perf record failed: {r.stderr.strip()[-200:]}"]
    r = subprocess.run(["perf", "report", "--no-children", "--sort", "sym", "--stdio", "-g", "none", "-i", str(data)],
                       capture_output=True, text=True, timeout=600)
    return [line.rstrip() for line in r.stdout.splitlines() if line.strip() and not line.startswith("#")][:20]


def bench_fleet(children, args, port, work, results, checks):
    n, count, at = args.fleet_modules, args.fleet_burst_events, args.fleet_burst_at
    script = work / "fleet-burst.txt"
    burst_script(script, at, count)
    res = {"modules": n, "burst_events": count, "burst_at": at}
    results["fleet"] = res
    sims, collector = [], None
    try:
        sims = fleet_simulators(children, args, port, work, "fleet", n, script, args.fleet_bursting)
        res["sims"] = len(sims)
        res["bursting"] = args.fleet_bursting
        addresses = [a for s in sims for a in s.addresses()]
        bursting = [a for s in sims if s.bursts for a in s.addresses()]
        site = work / "fleet-site.txt"
        write_site(site, addresses)
        env = child_env(port)
        # One module of each simulator: the others of it run on the same host clock.
        firsts = [s.addresses()[0] for s in sims]
        offsets, notes = clock_offsets(children, args.cli, ["--tcp"], env, firsts, work, "fleet")
        res["notes"] = notes
        sim_of = {a: g for g, s in enumerate(sims) for a in s.addresses()}
        journal = work / "fleet.sqlite"
        err_path = work / "fleet-collect.err"
        first_start, last_start = min(s.started for s in sims), max(s.started for s in sims)
        deadline = last_start + at + count / 1000 + args.fleet_wait
        with open(work / "fleet-collect.out", "w") as out, open(err_path, "w") as err:
            collector = children.start([args.cli, "--tcp", "--ip", f"@{site}", "collect", "--journal", str(journal),
                                        "--seconds", f"{deadline - time.time() + 30:.0f}"],
                                       stdout=out, stderr=err, env=env)
        pid = collector.pid
        started = time.time()

        def gone():
            if collector.poll() is None:
                return False
            said = err_path.read_text(errors="replace").strip().splitlines()
            res["refused"] = said[0][:400] if said else f"status {collector.returncode}"
            checks.append((f"fleet: one collector takes {n} modules", False, f"exit status {collector.returncode}"))
            print(f"  fleet: the collector ended with status {collector.returncode}: {res['refused']}", flush=True)
            return True

        # Warm-up: every module has read its point table (its rows follow)
        # and stored its Power on Reset, and the busy pace those rows set off
        # has ended; it must end before the measured window would reach the
        # burst.
        warm_cap = first_start + at - args.fleet_seconds - args.perf - 5
        settled = False
        while not gone():
            now = time.time()
            powered = power_ons(journal)
            res["powered"] = len(powered)
            if len(powered) >= n and now >= started + FLEET_WARM_MIN_S and \
                    now >= max(powered.values()) + ACTIVE_WINDOW_S + 2:
                settled = True
                res["all_powered_after"] = max(powered.values()) - started
                break
            if now >= warm_cap:
                break
            time.sleep(2)
        if collector.returncode is not None:
            return
        res["warm"] = time.time() - started
        checks.append(("fleet: every module collecting and settled before the measured window", settled,
                       f"{res['powered']} of {n} modules stored their Power on Reset"))
        res["load"] = os.getloadavg()[0]
        sim_cpu0 = sum(proc_cpu_seconds(s.proc.pid) for s in sims)
        cpu0, t0 = proc_cpu_seconds(pid), time.monotonic()
        most_threads = most_fds = 0
        while time.monotonic() < t0 + args.fleet_seconds:
            _, _, threads, fds = proc_figures(pid)
            most_threads, most_fds = max(most_threads, threads), max(most_fds, fds)
            time.sleep(1)
        cpu1, t1 = proc_cpu_seconds(pid), time.monotonic()
        sim_cpu1 = sum(proc_cpu_seconds(s.proc.pid) for s in sims)
        rss, hwm, threads, fds = proc_figures(pid)
        res.update({"seconds": t1 - t0, "cpu": (cpu1 - cpu0) / (t1 - t0), "sim_cpu": (sim_cpu1 - sim_cpu0) / (t1 - t0),
                    "rss": rss, "hwm": hwm, "threads": threads, "fds": fds, "most_threads": max(most_threads, threads),
                    "most_fds": max(most_fds, fds)})
        print(f"  fleet: {n} modules, {res['cpu'] * 100:.1f} % of one core, {hwm:.0f} MB at most, {threads} threads, "
              f"{fds} descriptors", flush=True)
        if args.perf:
            res["perf"] = perf_top(pid, args.perf, work)

        # The burst: each simulator's modules play it `at` s after it started.
        while time.time() < first_start + at - 1 and not gone():
            time.sleep(0.2)
        if collector.returncode is not None:
            return
        res["burst_load"] = os.getloadavg()[0]
        cpu_b0, tb0 = proc_cpu_seconds(pid), time.monotonic()
        got, seen, last_id = {}, {}, 0
        con = read_only(journal)
        try:
            while time.time() < deadline and len(seen) < len(bursting) and collector.poll() is None:
                found = con.execute("SELECT id, module FROM journal_events WHERE id > ? AND point > 0",
                                    (last_id,)).fetchall()
                now = time.time()
                for rid, module in found:
                    last_id = max(last_id, rid)
                    got[module] = got.get(module, 0) + 1
                    if got[module] >= count and module not in seen:
                        seen[module] = now
                time.sleep(FLEET_POLL_S)
        finally:
            con.close()
        cpu_b1, tb1 = proc_cpu_seconds(pid), time.monotonic()
        _, res["hwm_after_burst"], _, _ = proc_figures(pid)
        res["burst_cpu"], res["burst_seconds"] = cpu_b1 - cpu_b0, tb1 - tb0
        time.sleep(1)  # the last acknowledges
        res["status"], res["cpu_total"] = reap(children, collector, 60, signal.SIGTERM)
        res["wall"] = time.time() - started
        res["messages"] = collector_messages(err_path)
    finally:
        if collector is not None and collector.returncode is None:
            children.stop(collector)
        for s in sims:
            children.stop(s.proc)

    checks.append(("fleet: collect ended cleanly", res["status"] == 0, f"status {res['status']}"))
    rows = read_journal(journal)
    power_on, inputs = {}, {}
    for module, mtime, received, kind, point, state, raw, mtext in rows:
        if kind == KIND_POWER_ON:
            power_on.setdefault(module, []).append(mtime)
        elif kind == KIND_INPUT:
            inputs.setdefault(module, []).append((mtime, received, raw))
    offset = {a: offsets[firsts[sim_of[a]]] for a in addresses}
    # The offsets hold for every module of a simulator if each one's Power
    # on Reset, less its offset, falls at its simulator's start.
    skewed = [a for a in addresses if a in power_on and
              not -2.0 <= power_on[a][0] - offset[a] - sims[sim_of[a]].started <= 1.0]
    checks.append(("fleet: Power on Reset times agree with the clock offsets", not skewed,
                   f"{len(skewed)} modules, first {skewed[:3]}"))
    delays, stamped, incomplete, doubled = {}, {}, [], []
    strays = [a for a in addresses if a not in bursting and inputs.get(a)]
    checks.append(("fleet: no input rows from the modules without a burst", not strays, f"{len(strays)} modules"))
    for a in bursting:
        mine = inputs.get(a, [])
        if len({(m, r) for m, _, r in mine}) < count:
            incomplete.append(a)
            continue
        if len(mine) > count:
            doubled.append(a)
        last = max(m for m, _, _ in mine) - offset[a]
        stamped[a] = max(r for _, r, _ in mine) - last
        if a in seen:
            delays[a] = seen[a] - last
    checks.append(("fleet: every module's burst in the journal", not incomplete,
                   f"{len(incomplete)} modules short, first {incomplete[:3]}"))
    checks.append(("fleet: no burst event stored twice", not doubled, f"{len(doubled)} modules"))
    least = min((min(r - (m - offset[a]) for m, r, _ in v) for a, v in inputs.items()), default=0.0)
    checks.append(("fleet: no event received before it was made (offset check)", least > -0.005,
                   f"least delay {least * 1000:.0f} ms"))
    res.update({"delays": sorted(delays.values()), "stamped": sorted(stamped.values()),
                "never": len(bursting) - len(delays),
                "incomplete": len(incomplete), "over": sum(1 for d in delays.values() if d > FLEET_BURST_TARGET_S),
                "worst": max(((d, a) for a, d in delays.items()), default=None)})
    d = res["delays"]
    if d:
        print(f"  fleet burst: {len(d)} of {len(bursting)} modules complete, median {statistics.median(d):.2f} s, "
              f"most {d[-1]:.2f} s after their burst's end", flush=True)


# --- 7. fleet-pg ------------------------------------------------------------

def bench_fleet_pg(children, args, port, work, results, checks):
    count, at = args.pg_burst_events, args.pg_burst_at
    modules = PG_SIMS * FLEET_SIM_MODULES
    server = PostgresServer(children, Path(tempfile.mkdtemp(prefix="chronel-pg-", dir="/tmp")))
    res = {"modules": modules, "burst_events": count, "collectors": []}
    results["fleet-pg"] = res
    sims, collectors = [], []
    try:
        server.start()
        script = work / "fleet-pg-burst.txt"
        burst_script(script, at, count)
        sims = fleet_simulators(children, args, port, work, "fleet-pg", modules, script)
        letters = "AB"
        names = {}
        env = child_env(port)
        for g, sim in enumerate(sims):
            site = work / f"fleet-pg-site-{letters[g]}.txt"
            mine = [f"{letters[g]}-{k + 1}" for k in range(sim.modules)]
            names.update(zip(sim.addresses(), mine))
            write_site(site, sim.addresses(), mine)
        first_start, last_start = min(s.started for s in sims), max(s.started for s in sims)
        deadline = last_start + at + count / 1000 + args.fleet_wait
        for g, sim in enumerate(sims):
            with open(work / f"fleet-pg-{letters[g]}.out", "w") as out, \
                    open(work / f"fleet-pg-{letters[g]}.err", "w") as err:
                collectors.append(children.start(
                    [args.cli, "--tcp", "--ip", f"@{work / f'fleet-pg-site-{letters[g]}.txt'}", "collect", "--journal",
                     server.url(), "--seconds", f"{deadline - time.time() + 30:.0f}"],
                    stdout=out, stderr=err, env=env))
        started = time.time()
        warm_cap = first_start + at - args.pg_seconds - 5
        settled = False
        while all(c.poll() is None for c in collectors):
            now = time.time()
            found = psql(server, "SELECT count(DISTINCT module), max(received) FROM journal_events WHERE point = 0")
            if found and int(found[0][0]) >= modules and now >= started + FLEET_WARM_MIN_S and \
                    now >= utc_seconds(found[0][1]) + ACTIVE_WINDOW_S + 2:
                settled = True
                break
            if now >= warm_cap:
                break
            time.sleep(2)
        ended = [(letters[g], c.returncode) for g, c in enumerate(collectors) if c.poll() is not None]
        if ended:
            raise BenchError(f"fleet-pg: collectors ended early: {ended}")
        checks.append(("fleet-pg: every module collecting and settled before the measured window", settled, ""))
        cpu0, t0 = [proc_cpu_seconds(c.pid) for c in collectors], time.monotonic()
        time.sleep(args.pg_seconds)
        cpu1, t1 = [proc_cpu_seconds(c.pid) for c in collectors], time.monotonic()
        res["idle_cpu"] = [(b - a) / (t1 - t0) for a, b in zip(cpu0, cpu1)]
        res["idle_seconds"] = t1 - t0
        res["figures"] = [proc_figures(c.pid) for c in collectors]
        total = modules * count
        while time.time() < first_start + at:
            time.sleep(0.2)
        all_in = None
        while time.time() < deadline and all(c.poll() is None for c in collectors):
            n = int(psql(server, "SELECT count(*) FROM journal_events WHERE point > 0")[0][0])
            if n >= total:
                # After the end of the last simulator's burst on the host
                # clock: the modules stamp the script's times from their start.
                all_in = time.time() - (last_start + at + (count - 1) / 1000)
                break
            time.sleep(0.5)
        res["all_in"] = all_in
        res["burst_end_spread"] = last_start - first_start
        time.sleep(2)  # the last acknowledges
        for g, c in enumerate(collectors):
            status, cpu = reap(children, c, 60, signal.SIGTERM)
            res["collectors"].append({"name": letters[g], "status": status, "cpu": cpu,
                                      "messages": collector_messages(work / f"fleet-pg-{letters[g]}.err")})
        res["wall"] = time.time() - started
        rows = psql(server, "SELECT module, module_name, module_time, point, encode(raw, 'hex') FROM journal_events")
    finally:
        for c in collectors:
            if c.returncode is None:
                children.stop(c)
        for s in sims:
            children.stop(s.proc)
        server.stop()
        shutil.rmtree(server.folder, ignore_errors=True)

    for c in res["collectors"]:
        checks.append((f"fleet-pg: collector {c['name']} ended cleanly", c["status"] == 0, f"status {c['status']}"))
    inputs, power_on, strangers, misnamed = {}, {}, 0, []
    for module, name, mtime, point, raw in rows:
        if module not in names:
            strangers += 1
            continue
        if name != names[module]:
            misnamed.append((module, name))
        kind = decode_raw(bytes.fromhex(raw))[0]
        if kind == KIND_POWER_ON:
            power_on[module] = power_on.get(module, 0) + 1
        elif kind == KIND_INPUT:
            inputs.setdefault(module, []).append((mtime, raw))
    short = [a for a in names if len(set(inputs.get(a, []))) < count]
    doubled = sum(len(v) - len(set(v)) for v in inputs.values())
    extra = [a for a in names if len(set(inputs.get(a, []))) > count]
    restarts = [a for a in names if power_on.get(a, 0) != 1]
    res.update({"rows": len(rows), "inputs": sum(len(v) for v in inputs.values()), "short": len(short),
                "doubled": doubled, "strangers": strangers, "misnamed": len(misnamed)})
    checks.append(("fleet-pg: every burst event in the journal", not short,
                   f"{len(short)} modules short, first {short[:3]}"))
    checks.append(("fleet-pg: no event stored twice", doubled == 0, f"{doubled} duplicated"))
    checks.append(("fleet-pg: no input event besides the script's", not extra, f"{len(extra)} modules"))
    checks.append(("fleet-pg: one Power on Reset per module", not restarts, f"{len(restarts)} modules"))
    checks.append(("fleet-pg: each collector wrote only its own modules' rows", not misnamed and strangers == 0,
                   f"{len(misnamed)} rows under another name, first {misnamed[:2]}; {strangers} of unknown modules"))
    print(f"  fleet-pg: {modules} modules on two collectors, {res['inputs']} of {modules * count} burst events, "
          f"{doubled} twice", flush=True)


# --- report ------------------------------------------------------------------

def report(results, checks, started_load, total_seconds):
    rows, verdicts = [], []

    def target(ok):
        verdicts.append(ok)
        return "PASS" if ok else "FAIL"

    if "delay" in results:
        r = results["delay"]
        offsets = ", ".join(f"{o / 3600:+g} h" if o % 3600 == 0 else f"{o:+.1f} s" for o in r["offset"])
        print(f"\n1. Delay: {r['modules']} modules x 2 events/s, {r['seconds']:g} s measured, {r['events']} events")
        print(f"  module clock offset from UTC (status read): {offsets}; least received - generated "
              f"{r['min'] * 1000:.0f} ms (the offset floor: never negative)")
        for note in r["notes"]:
            print(f"  {note}")
        print(f"  received - generated: median {r['median'] * 1000:.0f} ms, p95 {r['p95'] * 1000:.0f} ms, "
              f"max {r['max'] * 1000:.0f} ms; worst module median {r['worst_module_median'][0] * 1000:.0f} ms "
              f"({r['worst_module_median'][1]})")
        print(f"  requests per module and second: {r['rate_early']:.1f} in the window's first 10 s, "
              f"{r['rate_late']:.1f} in its last 10 s (250 ms busy pace: 4, plus the drains)")
        print(f"  collector {r['cpu']:.2f} s CPU in {r['wall']:.0f} s (with --trace)")
        rows.append(("delay median s", f"{r['median']:.3f}", f"<= {DELAY_TARGET_S:g}",
                     target(r["median"] <= DELAY_TARGET_S)))
        rows.append(("delay p95 s", f"{r['p95']:.3f}", "", ""))
        rows.append(("delay: requests/s/module, last 10 s", f"{r['rate_late']:.1f}", f"<= {PACE_LIMIT:g}",
                     target(r["rate_late"] <= PACE_LIMIT)))

    for transport in ("tcp", "rtu"):
        key = f"burst-{transport}"
        if key not in results:
            continue
        r = results[key]
        print(f"\n{2 if transport == 'tcp' else 3}. Burst over {transport.upper()}: {r['events']} changes "
              f"in {r['burst_span'] * 1000:.0f} ms")
        seen = r["seen_after_end"]
        print(f"  all in the journal (polled every 20 ms) {seen:.2f} s after the burst's last change; the last "
              f"block stamped {r['stamped_after_end']:.2f} s after it" if seen is not None else
              "  not all in the journal")
        for note in r["notes"]:
            print(f"  {note}")
        print(f"  first request {r['first_request_after_start']:.2f} s after the burst began, the first finding "
              f"events {r['drain_after_start']:.2f} s after (idle pace); drain {r['drain']:.2f} s")
        if transport == "tcp":
            rows.append(("burst tcp: all committed after end s", f"{seen:.2f}" if seen is not None else "never",
                         f"<= {BURST_TARGET_S:g}", target(seen is not None and seen <= BURST_TARGET_S)))
        else:
            print(f"  drain {r['drain']:.2f} s over {r['exchanges']} exchanges ({r['failures']} failed), "
                  f"{r['chars']} characters = {r['line_time']:.2f} s on a 19200 baud 8E1 line")
            print(f"  of which coil 1 reads ({r['coil_reads']}): {r['coil_chars']} characters "
                  f"({100 * r['coil_chars'] / r['chars']:.0f} %); status block reads ({r['status_reads']}): "
                  f"{r['status_chars']} characters ({100 * r['status_chars'] / r['chars']:.0f} %); "
                  f"empty block reads: {r['empty_blocks']}")
            print(f"  the event blocks alone ({r['blocks']} block reads holding records, {r['acknowledges']} "
                  f"acknowledges): {r['block_chars']} characters = {r['block_line_time']:.2f} s "
                  f"({100 * r['block_chars'] / r['chars']:.0f} % of the line time)")
            after = r["drain_after_start"] + r["projected"] - r["burst_span"]
            print(f"  on a real line all would be in the journal some {after:.1f} s after the burst's end")
            print(f"  a pseudo-terminal carries the bytes at once: projected drain on a real line "
                  f"{r['projected']:.2f} s = {r['projected'] / r['block_line_time']:.3f} x the event blocks' line "
                  f"time, {r['projected'] / r['line_time']:.3f} x the line time of every exchange "
                  f"(measured {r['drain'] / r['line_time']:.3f} x)")
            rows.append(("burst rtu: all committed after end s", f"{seen:.2f}" if seen is not None else "never",
                         "", ""))
            rows.append(("burst rtu: line time s", f"{r['line_time']:.2f}", "", ""))
            rows.append(("burst rtu: event blocks' line time s", f"{r['block_line_time']:.2f}", "", ""))
            rows.append(("burst rtu: drain on the pty s", f"{r['drain']:.2f}", "", ""))
            rows.append(("burst rtu: projected drain / line time", f"{r['projected'] / r['line_time']:.3f}", "",
                         ""))
            ratio = r["projected"] / r["block_line_time"] if r["block_line_time"] else float("inf")
            rows.append(("burst rtu: projected drain / blocks' line time", f"{ratio:.3f}",
                         f"<= {LINE_RATIO_TARGET}", target(ratio <= LINE_RATIO_TARGET)))

    if "outage" in results:
        r = results["outage"]
        print(f"\n5. Outage: {r['modules']} modules, PostgreSQL stopped for {r['seconds']:.0f} s")
        print(f"  requests per module and second: median {r['rate_median']:.2f}, most {r['rate_max']:.2f}; "
              f"collector {r['cpu'] * 100:.1f} % of one core; {r['warnings']} warnings about the journal; "
              f"resumed {r['resumed']:.1f} s after the server's restart" if r["resumed"] is not None else
              "  the collection did not resume")
        rows.append(("outage: requests/s per module (most)", f"{r['rate_max']:.2f}", f"<= {OUTAGE_RATE_TARGET:g}",
                     target(r["rate_max"] <= OUTAGE_RATE_TARGET)))
        rows.append(("outage: collector share of one core", f"{r['cpu'] * 100:.1f} %",
                     f"<= {OUTAGE_CPU_TARGET * 100:g} %", target(r["cpu"] <= OUTAGE_CPU_TARGET)))

    if "fleet" in results:
        r = results["fleet"]
        print(f"\n6. Fleet: {r['modules']} modules on one collector ({r.get('sims', 0)} simulators of up to "
              f"{FLEET_SIM_MODULES}), default idle pace, SQLite journal")
        if "refused" in r:
            print(f"  the collector ended at once: {r['refused']}")
        if "cpu" in r:
            for note in r["notes"]:
                print(f"  {note}")
            print(f"  warm-up {r['warm']:.0f} s (every module's Power on Reset in the journal "
                  + (f"{r['all_powered_after']:.0f} s after the start)" if "all_powered_after" in r else
                     f"for {r['powered']} of {r['modules']} only)") + f"; load average {r['load']:.2f}")
            print(f"  over {r['seconds']:.0f} s: collector {r['cpu'] * 100:.1f} % of one core (user + system), "
                  f"simulators {r['sim_cpu'] * 100:.1f} % together")
            print(f"  resident: peak (VmHWM) {r['hwm']:.1f} MB, at the end (VmRSS) {r['rss']:.1f} MB; {r['threads']} "
                  f"threads, {r['fds']} open descriptors (most seen {r['most_threads']}, {r['most_fds']})")
            for line in r.get("perf", []):
                print(f"  perf | {line}")
            rows.append(("fleet: collector share of one core", f"{r['cpu'] * 100:.1f} %",
                         f"<= {FLEET_CPU_TARGET * 100:g} %", target(r["cpu"] <= FLEET_CPU_TARGET)))
            peak = max(r["hwm"], r.get("hwm_after_burst", 0.0))
            rows.append(("fleet: collector peak resident MB", f"{peak:.1f}", f"<= {FLEET_RSS_TARGET_MB:g}",
                         target(peak <= FLEET_RSS_TARGET_MB)))
            rows.append(("fleet: threads / descriptors", f"{r['threads']} / {r['fds']}", "", ""))
        if "delays" in r:
            d, st = r["delays"], r["stamped"]
            on = "every module" if r["bursting"] == r["modules"] else f"{r['bursting']} of the modules"
            print(f"  burst: {r['burst_events']} changes 1 ms apart on {on}, {r['burst_at']:g} s after its "
                  f"simulator's start; the journal polled every {FLEET_POLL_S * 1000:.0f} ms; load average "
                  f"{r['burst_load']:.2f}")
            if d:
                p95 = d[min(len(d) - 1, int(0.95 * len(d)))]
                print(f"  last change to all of a module's changes in the journal: median "
                      f"{statistics.median(d):.2f} s, p95 {p95:.2f} s, most {d[-1]:.2f} s ({r['worst'][1]}); "
                      f"over {FLEET_BURST_TARGET_S:g} s: {r['over']} modules; never complete: {r['never']}")
            if st:
                print(f"  last change to the last block's stamp (received): median {statistics.median(st):.2f} s, "
                      f"most {st[-1]:.2f} s")
            print(f"  collector during the burst: {r['burst_cpu']:.1f} s CPU in {r['burst_seconds']:.1f} s; peak "
                  f"resident after it {r['hwm_after_burst']:.1f} MB; {r['cpu_total']:.1f} s CPU in "
                  f"{r['wall']:.0f} s in all")
            count, first = r["messages"]
            print(f"  collector warnings: {count}" + "".join(f"\n    {line[:160]}" for line in first))
            worst = d[-1] if d and not r["never"] else float("inf")
            rows.append(("fleet: burst, slowest module s", f"{worst:.2f}" if d else "never",
                         f"<= {FLEET_BURST_TARGET_S:g}", target(worst <= FLEET_BURST_TARGET_S)))
            rows.append(("fleet: burst, modules over target", f"{r['over'] + r['never']}", "0", ""))

    if "fleet-pg" in results and "rows" in results["fleet-pg"]:
        r = results["fleet-pg"]
        print(f"\n7. Two collectors on one PostgreSQL journal: {r['modules']} modules, a burst of "
              f"{r['burst_events']} changes on each")
        print(f"  journal rows {r['rows']}, burst events {r['inputs']}; short modules {r['short']}, duplicated "
              f"{r['doubled']}, rows under another collector's names {r['misnamed']}, of unknown modules "
              f"{r['strangers']}")
        print("  all in the journal " + (f"{r['all_in']:.2f} s after the last simulator's burst ended"
                                        if r["all_in"] is not None else "never"))
        for c, idle, (rss, hwm, threads, fds) in zip(r["collectors"], r["idle_cpu"], r["figures"]):
            print(f"  collector {c['name']}: {idle * 100:.1f} % of one core over {r['idle_seconds']:.0f} s before "
                  f"the burst, {c['cpu']:.1f} s CPU in {r['wall']:.0f} s in all; {hwm:.1f} MB peak, {threads} "
                  f"threads, {fds} descriptors; {c['messages'][0]} warnings")
            rows.append((f"fleet-pg: collector {c['name']} share of one core", f"{idle * 100:.1f} %", "", ""))

    if "soak" in results:
        r = results["soak"]
        minutes = r["wall"] / 60
        per = r["cpu"] * 1000 / r["modules"] / minutes
        print(f"\n4. Soak: {r['modules']} modules x {SOAK_RATE:g} events/s for {r['minutes']:g} min, "
              f"{r['kills']} SIGKILLs ({r['runs']} runs), {r['wall']:.0f} s in all ({r['drain']:.0f} s drain)")
        print(f"  generated {r['generated']}, stored {r['stored']}, missing {r['missing']} "
              f"({r['missing_faulty']} of faulted modules), duplicated {r['duplicated']}, strays {r['strays']}, "
              f"other records {r['other_kinds']}")
        print(f"  relay: {r['resets']} connection resets ({r['lost_acknowledges']} of them acknowledges) in "
              f"{r['relayed']} requests; module times within "
              f"{r['worst_stamp']:.0f} ms of the scripts' times")
        clean = [v for g, v in sorted(r["textless"].items()) if g not in SOAK_FAULTY]
        faulted = [v for g, v in sorted(r["textless"].items()) if g in SOAK_FAULTY]
        print(f"  input rows without point texts (point table not read): clean modules "
              f"{sum(v[0] for v in clean)} of {sum(v[1] for v in clean)}, faulted "
              f"{sum(v[0] for v in faulted)} of {sum(v[1] for v in faulted)}")
        if r["missing_first"]:
            print(f"  first missing (module, number): {r['missing_first']}")
        if r["strays_first"]:
            print(f"  first strays: {r['strays_first']}")
        print(f"  collector {r['cpu']:.1f} s CPU ({r['cpu'] / minutes:.2f} s per minute), "
              f"simulators {r['sim_cpu']:.1f} s")
        rows.append(("soak: missing + duplicated", f"{r['missing'] + r['duplicated']}", "0",
                     target(r["missing"] + r["duplicated"] == 0)))
        rows.append(("soak: collector ms CPU/module/min", f"{per:.1f}", "", ""))
        rows.append(("soak: input rows without point texts", f"{sum(v[0] for v in r['textless'].values())}", "",
                     ""))

    for name, ok, detail in checks:
        if not ok:
            rows.append((name, detail or "failed", "", target(False)))
    failed_checks = sum(1 for _, ok, _ in checks if not ok)
    print("\nFigures")
    width = max((len(r[0]) for r in rows), default=10)
    for name, value, goal, verdict in rows:
        print(f"  {name:<{width}}  {value:>8}  {goal:<8}  {verdict}")
    print(f"  checks: {len(checks) - failed_checks} of {len(checks)} passed; load average before {started_load}; "
          f"{os.cpu_count()} processors; {total_seconds:.0f} s in all")
    return all(verdicts)


def main():
    parts = ("delay", "burst-tcp", "burst-rtu", "soak", "outage", "fleet", "fleet-pg")
    parser = argparse.ArgumentParser(description="chronel-cli collect: delay, bursts and exactly-once under SIGKILL.")
    parser.add_argument("--cli", default=str(ROOT / "build/bin/chronel-cli"), help="chronel-cli (build/bin/...)")
    parser.add_argument("--sim", default=str(ROOT / "build/bin/chronel-sim"), help="chronel-sim (build/bin/...)")
    parser.add_argument("--only", default=",".join(parts), help="comma-separated parts: " + ", ".join(parts))
    parser.add_argument("--delay-modules", type=int, choices=(8, 64), default=8, help="modules of the delay run (8)")
    parser.add_argument("--delay-seconds", type=float, default=60.0, help="measured seconds of the delay run (60)")
    parser.add_argument("--burst-events", type=int, default=1000, help="input changes of the burst (1000)")
    parser.add_argument("--burst-at", type=float, default=35.0,
                        help="seconds after start of the burst, past the collector's 30 s busy pace (35)")
    parser.add_argument("--burst-wait", type=float, default=60.0, help="longest wait for the burst (60 s)")
    parser.add_argument("--soak-minutes", type=float, default=2.0, help="minutes of events in the soak (2; 10 full)")
    parser.add_argument("--soak-drain", type=float, default=180.0, help="longest drain after the soak (180 s)")
    parser.add_argument("--kill-min", type=float, default=10.0, help="least seconds between SIGKILLs (10)")
    parser.add_argument("--kill-max", type=float, default=40.0, help="most seconds between SIGKILLs (40)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the kill times (1)")
    parser.add_argument("--outage-seconds", type=float, default=60.0, help="seconds without the journal (60)")
    parser.add_argument("--fleet-modules", type=int, default=1000, help="modules on the fleet's collector (1000)")
    parser.add_argument("--fleet-seconds", type=float, default=30.0, help="measured seconds of the idle fleet (30)")
    parser.add_argument("--fleet-burst-events", type=int, default=1000, help="changes of each module's burst (1000)")
    parser.add_argument("--fleet-bursting", type=int, default=1,
                        help="modules with the burst, the others idle (1; the fleet's size for a site-wide trip)")
    parser.add_argument("--fleet-burst-at", type=float, default=110.0,
                        help="seconds after its simulator's start of each module's burst (110)")
    parser.add_argument("--fleet-wait", type=float, default=30.0, help="longest wait for a fleet's burst (30 s)")
    parser.add_argument("--perf", type=float, default=0.0,
                        help="seconds of perf record on the fleet's collector after the measured window (0: none)")
    parser.add_argument("--pg-seconds", type=float, default=20.0, help="measured seconds before fleet-pg's burst (20)")
    parser.add_argument("--pg-burst-events", type=int, default=20, help="changes of each module's burst in fleet-pg")
    parser.add_argument("--pg-burst-at", type=float, default=75.0, help="seconds after start of fleet-pg's burst (75)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder (journals, traces, outputs)")
    args = parser.parse_args()
    only = [p for p in args.only.split(",") if p]
    if not only or any(p not in parts for p in only):
        parser.error("--only: some of " + ", ".join(parts))
    if not 10 <= args.delay_seconds <= 600:
        parser.error("--delay-seconds: 10 to 600")
    if not 1 <= args.burst_events <= 5000:
        parser.error("--burst-events: 1 to 5000")
    if not 5 <= args.burst_at <= 120 or not 5 <= args.burst_wait <= 300:
        parser.error("--burst-at: 5 to 120; --burst-wait: 5 to 300")
    if not 0.5 <= args.soak_minutes <= 60:
        parser.error("--soak-minutes: 0.5 to 60")
    if not 1 <= args.kill_min <= args.kill_max <= 600 or not 10 <= args.soak_drain <= 900:
        parser.error("1 <= --kill-min <= --kill-max <= 600; --soak-drain: 10 to 900")
    if not 10 <= args.outage_seconds <= 600:
        parser.error("--outage-seconds: 10 to 600")
    if not 1 <= args.fleet_modules <= 4 * FLEET_SIM_MODULES:
        parser.error(f"--fleet-modules: 1 to {4 * FLEET_SIM_MODULES}")
    if not 1 <= args.fleet_bursting <= args.fleet_modules:
        parser.error("--fleet-bursting: 1 to --fleet-modules")
    if not 1 <= args.fleet_burst_events <= BUFFER_EVENTS or not 1 <= args.pg_burst_events <= BUFFER_EVENTS:
        parser.error(f"--fleet-burst-events, --pg-burst-events: 1 to {BUFFER_EVENTS}")
    if not 10 <= args.fleet_seconds <= 600 or not 0 <= args.perf <= 120 or not 5 <= args.fleet_wait <= 300:
        parser.error("--fleet-seconds: 10 to 600; --perf: 0 to 120; --fleet-wait: 5 to 300")
    if not FLEET_WARM_MIN_S + args.fleet_seconds + args.perf + 10 <= args.fleet_burst_at <= 900:
        parser.error("--fleet-burst-at: at least 40 s of warm-up, the measured seconds, --perf and 10 s before it")
    if not 5 <= args.pg_seconds <= 300 or not FLEET_WARM_MIN_S + args.pg_seconds + 10 <= args.pg_burst_at <= 900:
        parser.error("--pg-seconds: 5 to 300; --pg-burst-at: at least 40 s of warm-up, --pg-seconds and 10 s")
    for path in (args.cli, args.sim):
        if not os.access(path, os.X_OK):
            raise BenchError(f"{path}: not an executable (build it first)")

    enter_private_network(__file__, NETNS_MARK)
    # SIGTERM ends the run through the finally blocks, children included.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(2))
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    started = time.monotonic()
    started_load = f"{os.getloadavg()[0]:.2f}"
    port = free_port()
    work = Path(tempfile.mkdtemp(prefix="collector_bench."))
    children = Children("collector_bench")
    results, checks = {}, []
    try:
        print(f"collector_bench: port {port}, work folder {work}", flush=True)
        if "delay" in only:
            bench_delay(children, args, port, work, results, checks)
        if "burst-tcp" in only:
            bench_burst(children, args, port, work, results, checks, "tcp")
        if "burst-rtu" in only:
            bench_burst(children, args, port, work, results, checks, "rtu")
        if "soak" in only:
            bench_soak(children, args, port, work, results, checks)
        if "outage" in only:
            bench_outage(children, args, port, work, results, checks)
        if "fleet" in only:
            bench_fleet(children, args, port, work, results, checks)
        if "fleet-pg" in only:
            bench_fleet_pg(children, args, port, work, results, checks)
        ok = report(results, checks, started_load, time.monotonic() - started)
    finally:
        children.stop_all()
        if args.keep:
            print(f"collector_bench: outputs kept in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("collector_bench: PASS" if ok else "collector_bench: FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as e:
        print(f"collector_bench: {e}", file=sys.stderr)
        sys.exit(2)
