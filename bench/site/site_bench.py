#!/usr/bin/python3
"""Site benchmark: chronel-cli working on many simulated modules at once, in
one run, against the floor of one module.

1. upload    `upload` from 1, 8, 32 and 64 modules of one chronel-sim at the
             default poll interval; wall time, chronel-cli and chronel-sim
             processor time. Target: wall(64) <= 1.3 x wall(1).
2. dead      `upload` from 32 modules, the fifth dead: the other 31 finish
             within 1.3 x wall(1) (their seconds in chronel-cli's summary
             table), the dead one fails, the exit status is 1.
3. scan      `events --seconds S` on 256 modules (two simulators on one port,
             127.0.0.1-254 and 127.0.1.1-2) with --trace: each module's mean
             interval between requests against the 2000 ms scan period.
             Target: worst module stretched by at most 10 %. Processor time
             of chronel-cli and chronel-sim per module per minute.

It runs in a private network namespace: started outside one, it starts itself
again under `unshare --net` and brings loopback up, and it refuses to run in
a namespace that has any interface besides lo.

    bench/site/site_bench.py [--cli PATH] [--sim PATH] [--scan-seconds S] [--keep]

Exit status: 0 every target met, 1 a target or a check failed, 2 the
benchmark could not run.
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

for _module, _package in (("resource", "python3"), ("statistics", "python3"), ("socket", "python3")):
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"site_bench.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

import argparse
import os
import re
import resource
import shutil
import signal
import statistics
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
from benchlib import BenchError, Children, enter_private_network, free_port, proc_cpu_seconds, reap  # noqa: E402

NETNS_MARK = "CHRONEL_SITE_BENCH_NETNS"
UPLOAD_COUNTS = (1, 8, 32, 64)
DEAD_SITE, DEAD_MODULE = 32, 5
SCAN_PERIOD_MS = 2000  # the event scan's default poll interval
RATIO_TARGET = 1.3
STRETCH_TARGET_PCT = 10.0

SUMMARY_HEADER = re.compile(r"^Address\s+Result\s+Seconds\s+Message\s*$")
SUMMARY_ROW = re.compile(r"^(127\.\d+\.\d+\.\d+)\s+(\S+)\s+(\d+(?:\.\d+)?)(?:\s+(.*))?$")
# "127.0.0.5: 14:02:07.315 > tcp unit 255: 03 ..."; ">" is a request.
TRACE_REQUEST = re.compile(r"^(127\.\d+\.\d+\.\d+): (\d\d):(\d\d):(\d\d)\.(\d{3}) > ")


class Simulator:
    def __init__(self, children, path, port, modules, listen, extra, log_dir):
        self.modules = modules
        self.listen = listen
        out = log_dir / f"sim-{listen}-{modules}.out"
        with open(out, "w") as stdout, open(log_dir / f"sim-{listen}-{modules}.err", "w") as stderr:
            self.proc = children.start([path, "--tcp-port", str(port), "--listen", listen, "--modules", str(modules),
                                        "--max-clients", "256", *extra], stdout=stdout, stderr=stderr)
        # It prints the port once every module listens.
        deadline = time.monotonic() + 15
        while f"tcp-port {port}" not in out.read_text():
            if self.proc.poll() is not None:
                raise BenchError(f"chronel-sim on {listen} ended with status {self.proc.returncode}")
            if time.monotonic() > deadline:
                raise BenchError(f"chronel-sim on {listen} did not start within 15 s")
            time.sleep(0.05)

    def addresses(self):
        a, b, c, d = (int(x) for x in self.listen.split("."))
        return [f"{a}.{b}.{c}.{d + k}" for k in range(self.modules)]

    def cpu(self):
        return proc_cpu_seconds(self.proc.pid)


class Run:
    """One chronel-cli run: exit status, wall and processor times, output."""

    def __init__(self, children, cli, port, sims, addresses, command, work, name, timeout, trace=False):
        if not all(a.startswith("127.") for a in addresses):
            raise BenchError("loopback addresses only")
        args = [cli, "--tcp", "--jobs", str(len(addresses))] + (["--trace"] if trace else [])
        for a in addresses:
            args += ["--ip", a]
        args += command
        env = dict(os.environ, PLCTAG_TCP_PORT=str(port))
        self.stdout_path = work / f"{name}.out"
        self.stderr_path = work / f"{name}.err"
        sim_before = sum(s.cpu() for s in sims)
        with open(self.stdout_path, "w") as out, open(self.stderr_path, "w") as err:
            start = time.monotonic()
            p = children.start(args, stdout=out, stderr=err, env=env)
            # Reaped here by wait4; on any exception it stays with children
            # for the way out to stop.
            self.status, self.cli_cpu = reap(children, p, timeout)
            self.wall = time.monotonic() - start
        self.sim_cpu = sum(s.cpu() for s in sims) - sim_before
        self.stdout = self.stdout_path.read_text(errors="replace")

    def summary(self):
        """{address: (result, seconds, message)} from the table ending the run."""
        rows, inside = {}, False
        for line in self.stdout.splitlines():
            if SUMMARY_HEADER.match(line):
                inside, rows = True, {}
            elif inside:
                m = SUMMARY_ROW.match(line)
                if m:
                    rows[m[1]] = (m[2], float(m[3]), (m[4] or "").strip())
        return rows


# --- the three measurements --------------------------------------------------

def request_intervals(trace_path):
    """{address: [seconds of day of each request]} from a --trace stderr."""
    times = {}
    with open(trace_path, errors="replace") as f:
        for line in f:
            m = TRACE_REQUEST.match(line)
            if not m:
                continue
            t = int(m[2]) * 3600 + int(m[3]) * 60 + int(m[4]) + int(m[5]) / 1000
            seen = times.setdefault(m[1], [])
            if seen and t < seen[-1] - 43200:  # past midnight
                t += 86400
            seen.append(t)
    return times


def bench_upload(children, args, port, work, results, checks):
    sim = Simulator(children, args.sim, port, max(UPLOAD_COUNTS), "127.0.0.1", [], work)
    try:
        for count in UPLOAD_COUNTS:
            folder = work / f"upload-{count}"
            folder.mkdir()
            addresses = sim.addresses()[:count]
            run = Run(children, args.cli, port, [sim], addresses, ["upload", str(folder / "s.csv")], work,
                      f"upload-{count}", timeout=180)
            results["upload"][count] = run
            checks.append((f"upload {count}: exit status 0", run.status == 0, f"status {run.status}"))
            # One module keeps the file name; several get their address in it.
            names = ["s.csv"] if count == 1 else [f"s.{a}.csv" for a in addresses]
            missing = [n for n in names if not (folder / n).is_file()]
            checks.append((f"upload {count}: a file per module", not missing,
                           f"missing {', '.join(missing[:4])}" + (" ..." if len(missing) > 4 else "")))
            print(f"  upload from {count:3d}: {run.wall:6.2f} s wall, status {run.status}", flush=True)
    finally:
        children.stop(sim.proc)


def bench_dead(children, args, port, work, results, checks):
    sim = Simulator(children, args.sim, port, DEAD_SITE, "127.0.0.1", ["--dead", str(DEAD_MODULE)], work)
    try:
        folder = work / "dead"
        folder.mkdir()
        run = Run(children, args.cli, port, [sim], sim.addresses(), ["upload", str(folder / "s.csv")], work, "dead",
                  timeout=180)
    finally:
        children.stop(sim.proc)
    results["dead"] = run
    rows = run.summary()
    dead = sim.addresses()[DEAD_MODULE - 1]
    others = {a: r for a, r in rows.items() if a != dead}
    checks.append(("dead: exit status 1", run.status == 1, f"status {run.status}"))
    checks.append(("dead: a summary row per module", len(rows) == DEAD_SITE, f"{len(rows)} rows"))
    checks.append((f"dead: {dead} failed", rows.get(dead, ("missing",))[0] == "failed",
                   f"{rows.get(dead, ('missing',))[0]}"))
    not_done = sorted(a for a, r in others.items() if r[0] != "done")
    checks.append(("dead: the others done", not not_done, ", ".join(not_done[:4])))
    print(f"  upload from {DEAD_SITE}, one dead: {run.wall:6.2f} s wall, status {run.status}", flush=True)


def bench_scan(children, args, port, work, results, checks):
    # A simulator serves at most .254 of one range: 254 + 2 on the same port.
    sims = []
    try:
        for modules, listen in ((254, "127.0.0.1"), (2, "127.0.1.1")):
            sims.append(Simulator(children, args.sim, port, modules, listen, ["--events", "random:0.2"], work))
        addresses = [a for s in sims for a in s.addresses()]
        run = Run(children, args.cli, port, sims, addresses, ["events", "--seconds", f"{args.scan_seconds:g}"], work,
                  "scan", timeout=args.scan_seconds + 120, trace=True)
    finally:
        for s in sims:
            children.stop(s.proc)
    results["scan"] = run
    rows = run.summary()
    not_done = sorted(a for a in addresses if rows.get(a, ("missing",))[0] != "done")
    checks.append(("scan: exit status 0", run.status == 0, f"status {run.status}"))
    checks.append(("scan: every module done", not not_done,
                   f"{len(not_done)} not: " + ", ".join(not_done[:4])))
    # The scan sends at most one request per tick of its poll timer: the
    # reply's handler prepares the next request (coil 1, event block,
    # acknowledge, status block, coil 1 ...) and the next tick sends it; a
    # tick that finds a request outstanding sends nothing. So consecutive
    # requests are one period apart when every tick sends, and a module's
    # mean interval (last - first) / (n - 1) shows both a late timer and
    # skipped ticks. Qt's coarse poll timer may fire up to 5 % early or late
    # (a module's first ticks land at 1.9 or 2.1 s), so one interval says
    # little; the longest is reported beside the mean.
    times = request_intervals(run.stderr_path)
    per_module = {}
    for a in addresses:
        t = times.get(a, [])
        if len(t) >= 2:
            gaps = [y - x for x, y in zip(t, t[1:])]
            per_module[a] = ((t[-1] - t[0]) / (len(t) - 1) * 1000, max(gaps) * 1000, len(t))
    few = sorted(set(addresses) - set(per_module))
    checks.append(("scan: two requests or more per module", not few, ", ".join(few[:4])))
    results["scan_modules"] = per_module


# --- report ------------------------------------------------------------------

def report(results, checks, started_load, total_seconds):
    rows = []  # (figure, value, target, verdict)
    verdicts = []

    def target(ok):
        verdicts.append(ok)
        return "PASS" if ok else "FAIL"

    uploads = results["upload"]
    floor = uploads[1].wall if 1 in uploads else None
    print("\nUpload at the default interval (one chronel-sim, --jobs = modules)")
    print(f"  {'modules':>7}  {'wall s':>7}  {'x wall(1)':>9}  {'cli CPU s':>9}  {'sim CPU s':>9}  {'status':>6}")
    for count, run in sorted(uploads.items()):
        print(f"  {count:7d}  {run.wall:7.2f}  {run.wall / floor:9.3f}  {run.cli_cpu:9.2f}  {run.sim_cpu:9.2f}"
              f"  {run.status:6d}")
    if 64 in uploads:
        r = uploads[64].wall / floor
        rows.append(("upload wall(64) / wall(1)", f"{r:.3f}", f"<= {RATIO_TARGET}", target(r <= RATIO_TARGET)))

    if "dead" in results:
        run = results["dead"]
        dead = f"127.0.0.{DEAD_MODULE}"
        summary = run.summary()
        others = [r[1] for a, r in summary.items() if a != dead]
        print(f"\nUpload from {DEAD_SITE} modules, {dead} dead")
        print(f"  wall {run.wall:.2f} s ({run.wall / floor:.3f} x wall(1)), status {run.status}, "
              f"cli CPU {run.cli_cpu:.2f} s, sim CPU {run.sim_cpu:.2f} s")
        if dead in summary:
            print(f"  {dead}: {summary[dead][0]} after {summary[dead][1]:.1f} s ({summary[dead][2]})")
        if others:
            print(f"  the other {len(others)}: {min(others):.1f} to {max(others):.1f} s, "
                  f"median {statistics.median(others):.1f} s")
            worst = max(others)
            rows.append(("dead: slowest other module s", f"{worst:.1f}", f"<= {RATIO_TARGET * floor:.1f}",
                         target(worst <= RATIO_TARGET * floor)))
        else:
            rows.append(("dead: slowest other module s", "none", f"<= {RATIO_TARGET * floor:.1f}", target(False)))
        rows.append(("dead: total wall s", f"{run.wall:.2f}", "", ""))

    if "scan" in results:
        run = results["scan"]
        per_module = results["scan_modules"]
        modules = len(run.summary()) or 256
        minutes = run.wall / 60
        print(f"\nEvent scan of 256 modules with --trace, {run.wall:.1f} s wall, status {run.status}")
        if per_module:
            means = sorted((v[0], a) for a, v in per_module.items())
            worst_mean, worst_addr = means[-1]
            stretch = (worst_mean / SCAN_PERIOD_MS - 1) * 100
            median_mean = statistics.median(m for m, _ in means)
            max_gap, gap_addr = max((v[1], a) for a, v in per_module.items())
            skipped = sum(1 for v in per_module.values() if v[1] >= 1.5 * SCAN_PERIOD_MS)
            print(f"  mean request interval: median module {median_mean:.0f} ms, best {means[0][0]:.0f} ms "
                  f"({means[0][1]}), worst {worst_mean:.0f} ms ({worst_addr})")
            print(f"  longest single interval {max_gap:.0f} ms ({gap_addr}); modules with a skipped tick "
                  f"(an interval >= {1.5 * SCAN_PERIOD_MS:.0f} ms): {skipped}")
            print(f"  requests per module: {min(v[2] for v in per_module.values())} to "
                  f"{max(v[2] for v in per_module.values())}")
            rows.append(("scan: worst module stretch %", f"{stretch:.1f}", f"<= {STRETCH_TARGET_PCT:.0f}",
                         target(stretch <= STRETCH_TARGET_PCT)))
        else:
            rows.append(("scan: worst module stretch %", "none", f"<= {STRETCH_TARGET_PCT:.0f}", target(False)))
        cli_rate = run.cli_cpu * 1000 / modules / minutes
        sim_rate = run.sim_cpu * 1000 / modules / minutes
        print(f"  chronel-cli {run.cli_cpu:.2f} s CPU, chronel-sim {run.sim_cpu:.2f} s CPU (both simulators)")
        rows.append(("scan: chronel-cli ms CPU/module/min", f"{cli_rate:.1f}", "", ""))
        rows.append(("scan: chronel-sim ms CPU/module/min", f"{sim_rate:.1f}", "", ""))

    for name, ok, detail in checks:
        if not ok:
            rows.append((name, detail or "failed", "", target(False)))
    failed_checks = sum(1 for _, ok, _ in checks if not ok)

    print("\nFigures")
    width = max(len(r[0]) for r in rows)
    for name, value, goal, verdict in rows:
        print(f"  {name:<{width}}  {value:>8}  {goal:<10}  {verdict}")
    # Only the load before the run tells whether the machine was busy: the
    # scan's 256 threads wake together and inflate it afterwards.
    print(f"  checks: {len(checks) - failed_checks} of {len(checks)} passed; load average before "
          f"{started_load}; {os.cpu_count()} processors; {total_seconds:.0f} s in all")
    return all(verdicts)


def main():
    parser = argparse.ArgumentParser(description="chronel-cli on many simulated modules at once, against one.")
    parser.add_argument("--cli", default=str(ROOT / "build/bin/chronel-cli"), help="chronel-cli (build/bin/...)")
    parser.add_argument("--sim", default=str(ROOT / "build/bin/chronel-sim"), help="chronel-sim (build/bin/...)")
    parser.add_argument("--scan-seconds", type=float, default=60.0, help="length of the 256-module scan (60)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder (outputs and traces)")
    args = parser.parse_args()
    if not 10 <= args.scan_seconds <= 600:
        parser.error("--scan-seconds: 10 to 600")
    for path in (args.cli, args.sim):
        if not os.access(path, os.X_OK):
            raise BenchError(f"{path}: not an executable (build it first)")

    enter_private_network(__file__, NETNS_MARK)
    # SIGTERM ends the run through the finally blocks, children included.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(2))
    # Two simulators and 256 sessions hold many sockets at once.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    started = time.monotonic()
    started_load = f"{os.getloadavg()[0]:.2f}"
    port = free_port()
    work = Path(tempfile.mkdtemp(prefix="site_bench."))
    children = Children("site_bench")
    results = {"upload": {}}
    checks = []
    try:
        print(f"site_bench: port {port}, work folder {work}", flush=True)
        bench_upload(children, args, port, work, results, checks)
        bench_dead(children, args, port, work, results, checks)
        bench_scan(children, args, port, work, results, checks)
        ok = report(results, checks, started_load, time.monotonic() - started)
    finally:
        children.stop_all()
        if args.keep:
            print(f"site_bench: outputs kept in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("site_bench: PASS" if ok else "site_bench: FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as e:
        print(f"site_bench: {e}", file=sys.stderr)
        sys.exit(2)
