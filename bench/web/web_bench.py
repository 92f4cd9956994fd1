#!/usr/bin/python3
"""Web view benchmark: chronel-web in its plain loopback mode, measured from
outside as a browser or an API client sees it.

1. page     the first page of one day's rows (and of a day and one module) on
            a large SQLite journal (journal_page_bench builds it once,
            /tmp/chronel-page-bench-ROWS.sqlite), each on a day not asked for
            before. Target: at most 200 ms each.
2. clients  100 API clients at once, each with its own session, each asking
            for pages of random days with a pause of 0.5-1.5 s between them,
            an engineer's pace, each starting at a random moment within its
            first second. Target: p99 at most 300 ms. Beside it the
            same clients with no pause, which saturates the server: its
            pages a second and what a request then waits.
3. live     25 headless Chromium pages in live mode while a writer commits a
            burst of 1000 events in blocks of 20; each page notes when each
            row comes into its table (the page's own notice: drawn, or
            standing in as space beyond the rows it draws) and when rows are
            drawn. Commit to shown, over every row and every page. Target:
            p99 at most 1 s, every row in every table. Beside it, in the same
            browsers, the floor: a bare table of the same stream that draws
            every row.
4. memory   25 live clients (server-sent events) for --minutes (30 by
            default) while bursts of 200 events go in each minute; the
            server's resident memory sampled every 10 s. Target: flat, the
            last third's mean within 10 % (and 8 MB) of the first third's.

It runs in a private network namespace: started outside one, it starts itself
again under `unshare --net` and brings loopback up, and it refuses to run in
a namespace that has any interface besides lo.

    bench/web/web_bench.py --web PATH --seed PATH --page-bench PATH
        [--rows N] [--minutes M] [--only page,clients,live,memory] [--keep]

Exit status: 0 every target met, 1 a target or a check failed, 2 the
benchmark could not run.
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

for _module, _package in (("statistics", "python3"), ("selenium.webdriver", "python3-selenium")):
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"web_bench.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

import argparse
import concurrent.futures
import datetime
import http.client
import json
import os
import random
import shutil
import socket
import statistics
import subprocess
import tempfile
import threading
import time
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.common.exceptions import WebDriverException

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
import benchlib  # noqa: E402

PASSWORD = "bench-secret-123"
LIVE_PAGES = 25
BURST = 1000
BLOCK = 20


def percentile(values, p):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    return ordered[min(len(ordered) - 1, max(0, round(p / 100 * len(ordered)) - 1))]


class Client:
    """One API client with a session of its own, on one keep-alive connection."""

    def __init__(self, port, name):
        self.conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        status, body, headers = self.request("POST", "/api/login", json.dumps({"name": name, "password": PASSWORD}),
                                             {"Content-Type": "application/json"})
        if status != 200:
            raise benchlib.BenchError(f"login as {name}: {status} {body[:200]!r}")
        cookie = next((v for k, v in headers if k.lower() == "set-cookie"), "")
        self.cookie = cookie.split(";", 1)[0]

    def request(self, method, path, body=None, headers=None):
        self.conn.request(method, path, body=body, headers=headers or {})
        answer = self.conn.getresponse()
        return answer.status, answer.read(), answer.getheaders()

    def get(self, path):
        started = time.perf_counter()
        status, body, _ = self.request("GET", path, headers={"Cookie": self.cookie})
        elapsed = time.perf_counter() - started
        if status != 200:
            raise benchlib.BenchError(f"GET {path}: {status} {body[:200]!r}")
        return elapsed, json.loads(body)


class Server:
    def __init__(self, children, args, journal, work):
        self.port = benchlib.free_port()
        config = os.path.join(work, "web.conf")
        with open(config, "w") as f:
            f.write(f"[web]\nstate={os.path.join(work, 'state')}\n")
        for name, role in (("bench", "viewer"),) + tuple((f"client{i}", "viewer") for i in range(100)):
            for verb in ("add", "passwd"):
                extra = ["--role", role] if verb == "add" else []
                done = subprocess.run([args.web, "user", verb, "--config", config, "--journal", journal, name, *extra],
                                      input=PASSWORD + "\n", text=True, capture_output=True, timeout=60)
                if done.returncode == 0:
                    break
            else:
                raise benchlib.BenchError(f"chronel-web user add {name}: {done.stderr.strip()}")
        self.log = open(os.path.join(work, "chronel-web.log"), "w")
        self.proc = children.start([args.web, "--config", config, "--plain", "--listen", f"127.0.0.1:{self.port}",
                                    "--journal", journal], stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise benchlib.BenchError(f"chronel-web ended with {self.proc.returncode}; see {self.log.name}")
            try:
                conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=2)
                conn.request("GET", "/")
                if conn.getresponse().status == 200:
                    return
            except OSError:
                time.sleep(0.1)
        raise benchlib.BenchError("chronel-web did not answer within 30 s")

    def rss_mb(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
        return float("nan")


def day_path(day, module=None, limit=100):
    """The rows of the journal's day `day` (0: its first, 2025-01-01)."""
    first = datetime.date(2025, 1, 1) + datetime.timedelta(days=day)
    path = f"/api/rows?from={first}%2000:00&to={first + datetime.timedelta(days=1)}%2000:00&limit={limit}"
    if module:
        path += f"&module={module}"
    return path


def bench_page(server, results):
    client = Client(server.port, "bench")
    days = random.Random(1).sample(range(1, 360), 20)
    plain, by_module = [], []
    for i, day in enumerate(days):
        elapsed, body = client.get(day_path(day, "127.0.1.7" if i % 2 else None))
        if not body.get("rows"):
            raise benchlib.BenchError(f"day {day}: no rows")
        (by_module if i % 2 else plain).append(elapsed * 1000)
    worst = max(plain + by_module)
    print(f"page: first page of a day: median {statistics.median(plain):.0f} ms, max {max(plain):.0f} ms; "
          f"with a module: median {statistics.median(by_module):.0f} ms, max {max(by_module):.0f} ms "
          f"(target <= 200 ms)")
    results["page"] = worst <= 200


def bench_clients(server, results):
    """100 clients with a session each, all at once: first at an engineer's pace (the target), then with no
    pause at all (the server's saturation, reported beside it)."""
    clients = [Client(server.port, f"client{i}") for i in range(100)]

    def run(pause, pages):
        latencies = []
        lock = threading.Lock()
        start = threading.Barrier(len(clients))

        def one(i):
            rng = random.Random(i + int(pause * 1000))
            start.wait()
            # At an engineer's pace each comes in at a moment of its own, not
            # all on the same millisecond.
            if pause:
                time.sleep(rng.uniform(0, pause))
            mine = []
            for _ in range(pages):
                elapsed, _ = clients[i].get(day_path(rng.randrange(1, 360), limit=100) +
                                            f"&offset={rng.randrange(0, 5) * 100}")
                mine.append(elapsed * 1000)
                if pause:
                    time.sleep(rng.uniform(pause / 2, pause * 3 / 2))
            with lock:
                latencies.extend(mine)

        started = time.monotonic()
        cpu0 = benchlib.proc_cpu_seconds(server.proc.pid)
        with concurrent.futures.ThreadPoolExecutor(len(clients)) as pool:
            list(pool.map(one, range(len(clients))))
        wall = time.monotonic() - started
        cpu = benchlib.proc_cpu_seconds(server.proc.pid) - cpu0
        return latencies, wall, cpu

    paced, wall, cpu = run(1.0, 20)
    p99 = percentile(paced, 99)
    print(f"clients: 100 at once, each a page then a pause of 0.5-1.5 s: {len(paced)} pages in {wall:.1f} s "
          f"({len(paced) / wall:.0f}/s, server {cpu * 1000 / len(paced):.1f} processor ms a page): p50 "
          f"{percentile(paced, 50):.0f} ms, p99 {p99:.0f} ms (target <= 300 ms)")
    flat, wall, cpu = run(0, 10)
    print(f"clients, saturated: 100 at once with no pause: {len(flat)} pages in {wall:.1f} s ({len(flat) / wall:.0f}/s, "
          f"server {cpu * 1000 / len(flat):.1f} processor ms a page): p50 {percentile(flat, 50):.0f} ms, p99 "
          f"{percentile(flat, 99):.0f} ms (each request waits behind the others: 100 / throughput)")
    results["clients"] = p99 <= 300


class Seeder:
    def __init__(self, seed, journal):
        self.proc = subprocess.Popen([seed, journal], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        if not answer.startswith("stored "):
            raise benchlib.BenchError(f"journal_seed {line!r}: {answer!r}")
        return time.time()

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=30)


def browser(work, i):
    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                f"--user-data-dir={os.path.join(work, f'chromium-{i}')}", "--window-size=1400,900"):
        options.add_argument(arg)
    options.binary_location = "/usr/bin/chromium"
    # A driver started beside others now and then ends at once (exit status
    # 1, nothing said): it is started again.
    for attempt in range(3):
        try:
            return webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
        except WebDriverException:
            if attempt == 2:
                raise
            time.sleep(0.5)


# Notes in the page when each row appears in the table, by its id.
WATCH = """
window.__seen = {};
const body = document.getElementById('journal-body');
new MutationObserver(records => {
  const now = performance.timeOrigin + performance.now();
  for (const r of records) for (const n of r.addedNodes) {
    const id = n.nodeType === 1 ? n.getAttribute('data-id') : null;
    if (id && !(id in window.__seen)) window.__seen[id] = now;
  }
}).observe(body, {childList: true});
window.__shown = {};
const table = document.getElementById('journal');
if (table) table.addEventListener('rows-shown', ev => {
  const now = performance.timeOrigin + performance.now();
  for (const id of ev.detail) if (!(id in window.__shown)) window.__shown[id] = now;
});
"""

# The floor: the least a page can do with the same stream, in the same
# browsers: the logged-in page's body replaced by a bare table that puts
# each row of the server's events on top, four cells of text, no style.
FLOOR = """
document.body.textContent = '';
const table = document.createElement('table');
const body = document.createElement('tbody');
body.id = 'journal-body';
table.appendChild(body);
document.body.appendChild(table);
const es = new EventSource('/api/live?after=' + arguments[0]);
es.addEventListener('rows', ev => {
  for (const r of JSON.parse(ev.data).rows) {
    const tr = document.createElement('tr');
    tr.dataset.id = String(r.id);
    for (const v of [r.moduleTime, r.module, r.point, r.text]) {
      const td = document.createElement('td');
      td.textContent = String(v);
      tr.appendChild(td);
    }
    body.insertBefore(tr, body.firstChild);
  }
});
window.__floor = es;
"""


def commit_burst(seeder, base):
    """Commits BURST rows after row `base` in blocks of BLOCK; each row's id to the time its block committed."""
    commits = {}
    for block in range(BURST // BLOCK):
        at = seeder.send(f"burst {BLOCK} {10000 + base + block * BLOCK}")
        for k in range(BLOCK):
            commits[base + block * BLOCK + k + 1] = at
        time.sleep(0.02)
    return commits


def burst(drivers, seeder, base):
    """Commits BURST rows after row `base` in blocks. Commit to shown per row and page and the rows never shown;
    commit to drawn for the rows drawn. A page that says which rows its table took in is judged by that, the floor,
    which draws every row, by its drawing."""
    def metrics():
        out = []
        for d in drivers:
            d.execute_cdp_cmd("Performance.enable", {})
            out.append({m["name"]: m["value"] for m in d.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]})
        return out

    def browsers_cpu():
        total = 0.0
        for pid in os.listdir("/proc"):
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if "chrom" not in f.read():
                        continue
                total += benchlib.proc_cpu_seconds(pid)
            except (OSError, ValueError, IndexError):
                continue
        return total

    before = metrics()
    cpu0 = browsers_cpu()
    commits = commit_burst(seeder, base)
    time.sleep(5)
    spent_cpu = browsers_cpu() - cpu0
    after = metrics()
    # Where a page's main thread spent the burst, mean over the pages.
    spent = {}
    for name in ("TaskDuration", "ScriptDuration", "RecalcStyleDuration", "LayoutDuration"):
        spent[name] = statistics.mean(a.get(name, 0) - b.get(name, 0) for a, b in zip(after, before))
    spent["browsers' processor time"] = spent_cpu
    delays, missing, drawn = [], 0, []
    for d in drivers:
        seen = d.execute_script("return window.__seen")
        shown = d.execute_script("return document.getElementById('journal') ? window.__shown : window.__seen")
        for row_id, at in commits.items():
            if str(row_id) in shown:
                delays.append(shown[str(row_id)] / 1000 - at)
            else:
                missing += 1
            if str(row_id) in seen:
                drawn.append(seen[str(row_id)] / 1000 - at)
    return delays, missing, drawn, spent


def stream_burst(server, seeder, base):
    """The server's part alone: LIVE_PAGES event-stream clients in this process take a burst; commit to
    received per row and client, and rows never received."""
    cookie = Client(server.port, "bench").cookie
    received = [dict() for _ in range(LIVE_PAGES)]
    ready = threading.Barrier(LIVE_PAGES + 1)
    # The streams' sockets, kept as the request opens them: http.client lets go of a connection's socket once a
    # response that ends with the connection (as an event stream does) has begun.
    socks = []

    def listen(i):
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
        conn.request("GET", f"/api/live?after={base}", headers={"Cookie": cookie, "Accept": "text/event-stream"})
        socks.append(conn.sock)
        answer = conn.getresponse()
        ready.wait(timeout=30)
        try:
            while True:
                line = answer.fp.readline()
                if not line:
                    break
                if line.startswith(b"data:"):
                    now = time.time()
                    for row in json.loads(line[5:]).get("rows", []):
                        received[i].setdefault(row["id"], now)
        except (OSError, ValueError):
            pass

    threads = [threading.Thread(target=listen, args=(i,), daemon=True) for i in range(LIVE_PAGES)]
    for t in threads:
        t.start()
    try:
        ready.wait(timeout=30)
    except threading.BrokenBarrierError:
        raise benchlib.BenchError("the event streams did not all open within 30 s")
    commits = commit_burst(seeder, base)
    time.sleep(3)
    for sock in socks:
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
    for t in threads:
        t.join(timeout=10)
    delays, missing = [], 0
    for seen in received:
        for row_id, at in commits.items():
            if row_id in seen:
                delays.append(seen[row_id] - at)
            else:
                missing += 1
    return delays, missing


def bench_live(args, children, work, results):
    journal = os.path.join(work, "live.sqlite")
    seeder = Seeder(args.seed, journal)
    seeder.send("seed 200")
    server = Server(children, args, journal, work)
    drivers = []
    try:
        # The server alone first, before any browser shares the machine.
        stream, stream_missing = stream_burst(server, seeder, 200)
        print(f"live, the server's part: {BURST} events to {LIVE_PAGES} event streams read here: commit to received "
              f"p50 {percentile(stream, 50) * 1000:.0f} ms, p99 {percentile(stream, 99) * 1000:.0f} ms, "
              f"max {max(stream) * 1000:.0f} ms; {stream_missing} never received")
        with concurrent.futures.ThreadPoolExecutor(5) as pool:
            drivers = list(pool.map(lambda i: browser(work, i), range(LIVE_PAGES)))
        for d in drivers:
            d.get(f"http://127.0.0.1:{server.port}/")
            d.find_element(By.ID, "login-name").send_keys("bench")
            d.find_element(By.ID, "login-password").send_keys(PASSWORD)
            d.find_element(By.ID, "login-submit").click()

        def shown(d):
            deadline = time.monotonic() + 30
            while not d.execute_script("return document.querySelectorAll('#journal-body tr[data-id]').length"):
                if time.monotonic() > deadline:
                    raise benchlib.BenchError("a page showed no rows within 30 s of logging in")
                time.sleep(0.1)

        # The floor first, then the page itself on the same browsers.
        base = 200 + BURST
        for d in drivers:
            shown(d)
            d.execute_script(FLOOR, base)
            d.execute_script(WATCH)
        time.sleep(2)
        floor, floor_missing, _, floor_spent = burst(drivers, seeder, base)
        base += BURST
        for d in drivers:
            d.execute_script("window.__floor.close()")
            d.get(f"http://127.0.0.1:{server.port}/")
        for d in drivers:
            shown(d)
            d.execute_script(WATCH)
            d.find_element(By.ID, "live").click()
        time.sleep(2)
        cpu0 = benchlib.proc_cpu_seconds(server.proc.pid)
        delays, missing, drawn, spent = burst(drivers, seeder, base)
        cpu = benchlib.proc_cpu_seconds(server.proc.pid) - cpu0
        p99 = percentile(delays, 99)
        print(f"live: {BURST} events in blocks of {BLOCK} to {LIVE_PAGES} pages: commit to shown p50 "
              f"{percentile(delays, 50) * 1000:.0f} ms, p99 {p99 * 1000:.0f} ms, max {max(delays) * 1000:.0f} ms; "
              f"{missing} of {BURST * LIVE_PAGES} never shown; server {cpu:.1f} processor s (target p99 <= 1 s, "
              f"none missing)")
        if drawn:
            print(f"live: of these, {len(drawn)} drawn as they came (the rest came beyond the rows drawn): commit to "
                  f"drawn p50 {percentile(drawn, 50) * 1000:.0f} ms, p99 {percentile(drawn, 99) * 1000:.0f} ms")
        print(f"live floor (a bare table of the same stream, same browsers): p50 "
              f"{percentile(floor, 50) * 1000:.0f} ms, p99 {percentile(floor, 99) * 1000:.0f} ms, "
              f"max {max(floor) * 1000:.0f} ms; {floor_missing} never drawn")
        for label, figures in (("page", spent), ("floor", floor_spent)):
            print(f"live: a {label}'s main thread over the burst: " +
                  ", ".join(f"{k.replace('Duration', '').lower()} {v * 1000:.0f} ms" for k, v in figures.items()))
        results["live"] = p99 <= 1.0 and missing == 0
    finally:
        for d in drivers:
            d.quit()
        seeder.close()
        children.stop(server.proc)


def bench_memory(args, children, work, results):
    journal = os.path.join(work, "memory.sqlite")
    seeder = Seeder(args.seed, journal)
    seeder.send("seed 200")
    server = Server(children, args, journal, work)
    stop = threading.Event()
    received = [0] * LIVE_PAGES
    cookie = Client(server.port, "bench").cookie

    def listen(i):
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=60)
        conn.request("GET", "/api/live?after=0", headers={"Cookie": cookie, "Accept": "text/event-stream"})
        answer = conn.getresponse()
        while not stop.is_set():
            line = answer.fp.readline()
            if not line:
                break
            if line.startswith(b"data:"):
                received[i] += json.loads(line[5:]).get("rows", []).__len__()
        conn.close()

    threads = [threading.Thread(target=listen, args=(i,), daemon=True) for i in range(LIVE_PAGES)]
    for t in threads:
        t.start()
    samples = []
    ends = time.monotonic() + args.minutes * 60
    next_burst = time.monotonic()
    offset = 20000
    while time.monotonic() < ends:
        if time.monotonic() >= next_burst:
            for _ in range(10):
                seeder.send(f"burst 20 {offset}")
                offset += 20
            next_burst += 60
        samples.append(server.rss_mb())
        time.sleep(10)
    stop.set()
    third = max(1, len(samples) // 3)
    first, last = statistics.mean(samples[:third]), statistics.mean(samples[-third:])
    flat = last <= first * 1.10 or last - first <= 8
    print(f"memory: {args.minutes} min, {LIVE_PAGES} live clients, {offset - 20000} events: RSS first third "
          f"{first:.1f} MB, last third {last:.1f} MB, max {max(samples):.1f} MB; rows received per client "
          f"min {min(received)} (target flat)")
    results["memory"] = flat and min(received) >= offset - 20000
    seeder.close()
    children.stop(server.proc)


def main():
    parser = argparse.ArgumentParser(description="chronel-web benchmark")
    parser.add_argument("--web", required=True)
    parser.add_argument("--seed", required=True, help="tests/web_browser's journal_seed")
    parser.add_argument("--page-bench", required=True, help="bench/journal's journal_page_bench (builds the journal)")
    parser.add_argument("--rows", type=int, default=10_000_000)
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--only", default="page,clients,live,memory")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    benchlib.enter_private_network(__file__, "CHRONEL_WEB_BENCH_NS")
    only = set(args.only.split(","))
    children = benchlib.Children("web_bench")
    work = tempfile.mkdtemp(prefix="chronel-web-bench-")
    results = {}
    try:
        if only & {"page", "clients"}:
            journal = f"/tmp/chronel-page-bench-{args.rows}.sqlite"
            if not os.path.exists(journal):
                print(f"building the {args.rows}-row journal (once; kept as {journal})", flush=True)
            env = dict(os.environ, CHRONEL_PAGE_BENCH_ROWS=str(args.rows))
            subprocess.run([args.page_bench, "--benchmark_filter=^$"], env=env, check=True,
                           stdout=subprocess.DEVNULL)
            server = Server(children, args, journal, work)
            if "page" in only:
                bench_page(server, results)
            if "clients" in only:
                bench_clients(server, results)
            children.stop(server.proc)
        if "live" in only:
            bench_live(args, children, work, results)
        if "memory" in only:
            bench_memory(args, children, work, results)
    finally:
        children.stop_all()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print(f"kept {work}")
    failed = [k for k, ok in results.items() if not ok]
    print("targets: " + ("all met" if not failed else "missed: " + ", ".join(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except benchlib.BenchError as e:
        print(f"web_bench.py: {e}", file=sys.stderr)
        sys.exit(2)
