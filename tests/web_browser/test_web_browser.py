#!/usr/bin/python3
"""chronel-web's page in Chromium: headless, through Selenium and Debian's
chromium-driver, against chronel-web itself in its plain loopback mode on a
journal that journal_seed fills and appends to while the page is open.

The cases run in order on one browser, as a user would: log in, filter, sort,
turn pages, draw the timing chart, mark an incident and comment on it,
download its package, comment on an event, follow the journal live, log out;
then a viewer, whose changes the server refuses, and a chattering point.

With CHRONEL_WEB_SCREENSHOTS=1 it saves pictures of the page for the README
(web-*.png) into the folder --screenshots names.

Run it inside a private network namespace (scripts/test, /work/notes/nsrun):
everything it starts listens on 127.0.0.1 only.
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

for _module, _package in (("selenium.webdriver", "python3-selenium"), ("zipfile", "python3")):
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"test_web_browser.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

import argparse
import os
import shutil
import socket
import subprocess
import time
import unittest
import urllib.error
import urllib.request
import zipfile

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

ARGS = None
SEEDED = 250  # journal_seed's rows: row i at 14:00:00 + i s
ENGINEER = ("alice", "engineer", "correct horse 1")
VIEWER = ("bob", "viewer", "battery staple 2")
# The chart's first two trace colours (app.js's palette).
TRACE_COLOURS = ((0x24, 0x45, 0x5E), (0xB0, 0x1E, 0x00))


def row_time(i):
    """journal_seed's row i as the table shows its module time."""
    return "2024-03-01 %02d:%02d:%02d.000" % (14 + i // 3600, (i // 60) % 60, i % 60)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Seeder:
    """journal_seed on the test journal: a writer of its own process."""

    def __init__(self, journal):
        self.proc = subprocess.Popen([ARGS.seed, journal], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        if not answer.startswith("stored "):
            raise AssertionError(f"journal_seed {line!r}: {answer!r}, exit {self.proc.poll()}")
        return int(answer.split()[1])

    def close(self):
        self.proc.stdin.close()
        self.proc.stdout.close()
        if self.proc.wait(timeout=10) != 0:
            raise AssertionError(f"journal_seed ended with {self.proc.returncode}")


class WebBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Left behind after a run for a look at the journal, the server's log
        # and the downloads; cleared by the next.
        cls.work = os.path.join(ARGS.work, "run")
        shutil.rmtree(cls.work, ignore_errors=True)
        cls.journal = os.path.join(cls.work, "journal.sqlite")
        cls.downloads = os.path.join(cls.work, "downloads")
        os.makedirs(cls.downloads)
        # A settings file of the test's own: none on the machine applies.
        cls.config = os.path.join(cls.work, "web.conf")
        with open(cls.config, "w") as f:
            f.write(f"[web]\nstate={os.path.join(cls.work, 'state')}\n")
        seeder = Seeder(cls.journal)
        assert seeder.send(f"seed {SEEDED}") == SEEDED
        seeder.close()
        for name, role, password in (ENGINEER, VIEWER):
            done = subprocess.run([ARGS.web, "user", "add", "--config", cls.config, "--journal", cls.journal, name,
                                   "--role", role],
                                  input=password + "\n", text=True, capture_output=True, timeout=30)
            assert done.returncode == 0, f"chronel-web user add {name}: {done.stderr}"
        port = free_port()
        cls.base = f"http://127.0.0.1:{port}"
        cls.log = open(os.path.join(cls.work, "chronel-web.log"), "w")
        cls.server = subprocess.Popen([ARGS.web, "--config", cls.config, "--plain", "--listen", f"127.0.0.1:{port}",
                                       "--journal", cls.journal],
                                      stdout=cls.log, stderr=subprocess.STDOUT)
        cls.wait_for_server()
        cls.seeder = Seeder(cls.journal)
        cls.driver = cls.start_browser()

    @classmethod
    def wait_for_server(cls):
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if cls.server.poll() is not None:
                raise AssertionError(f"chronel-web ended with {cls.server.returncode}: {cls.server_log()}")
            try:
                with urllib.request.urlopen(cls.base + "/", timeout=2) as answer:
                    if answer.status == 200:
                        return
            except (urllib.error.URLError, ConnectionError):
                time.sleep(0.1)
        raise AssertionError(f"chronel-web did not answer on {cls.base}: {cls.server_log()}")

    @classmethod
    def server_log(cls):
        cls.log.flush()
        with open(cls.log.name) as f:
            return f.read()[-3000:]

    @classmethod
    def start_browser(cls):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for arg in ("--headless=new", "--no-sandbox", "--disable-background-networking", "--disable-component-update",
                    "--disable-sync", "--no-first-run", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1400,1000", "--user-data-dir=" + os.path.join(cls.work, "profile")):
            options.add_argument(arg)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        options.add_experimental_option("prefs", {"download.default_directory": cls.downloads,
                                                  "download.prompt_for_download": False})
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": cls.downloads})
        driver.set_script_timeout(10)
        return driver

    @classmethod
    def tearDownClass(cls):
        for stop in (lambda: cls.driver.quit(), lambda: cls.seeder.close()):
            try:
                stop()
            except Exception as e:  # the next still runs
                print(f"tear-down: {e}", file=sys.stderr)
        cls.server.terminate()
        try:
            cls.server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            cls.server.kill()
        cls.log.close()

    # ---- helpers -----------------------------------------------------------

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def text(self, css):
        return self.find(css).text

    def wait(self, condition, what, timeout=5):
        try:
            return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(lambda d: condition())
        except TimeoutException:
            self.fail(f"waited {timeout} s for {what}; status {self.status()!r}, error {self.error()!r}\n"
                      f"{self.server_log()}")

    def status(self):
        try:
            return self.text("#status")
        except Exception:
            return ""

    def error(self):
        try:
            return self.text("#error")
        except Exception:
            return ""

    def wait_status(self, part):
        self.wait(lambda: part in self.status(), f"status to say {part!r}")

    def headings(self):
        return self.driver.execute_script(
            "return Array.from(document.querySelectorAll('#journal-head th'), (th) => th.textContent);")

    def cells(self, column):
        """The texts of a column of the journal table, by its heading."""
        heads = self.headings()
        index = heads.index(column) + 1
        return self.driver.execute_script(
            "return Array.from(document.querySelectorAll(arguments[0]), (td) => td.textContent);",
            f"#journal-body tr td:nth-child({index})")

    def first_cell(self, column):
        values = self.cells(column)
        return values[0] if values else None

    def sorted_by(self):
        """The heading the table is sorted by and the direction."""
        return self.driver.execute_script(
            "const th = document.querySelector('#journal-head th[aria-sort]');"
            "return th ? [th.querySelector('button').textContent, th.getAttribute('aria-sort')] : null;")

    def set_field(self, css, value):
        field = self.find(css)
        field.clear()
        field.send_keys(value)

    def apply(self, module="", point="", grep="", start="", end=""):
        Select(self.find("#f-module")).select_by_value(module)
        self.wait(lambda: any(o.get_attribute("value") == point for o in Select(self.find("#f-point")).options),
                  f"point {point!r} among the choices")
        Select(self.find("#f-point")).select_by_value(point)
        self.set_field("#f-grep", grep)
        self.set_field("#f-from", start)
        self.set_field("#f-to", end)
        self.find("#apply").click()

    def sort(self, heading):
        self.driver.find_element(By.XPATH, f"//th/button[@class='sort'][normalize-space()='{heading}']").click()

    def fetch(self, method, path, body=None, csrf=True):
        """The status of a request made by the page's own origin and cookie."""
        return self.driver.execute_async_script("""
            const [method, path, body, csrf, done] = arguments;
            const headers = {'Content-Type': 'application/json'};
            (async () => {
              if (csrf) {
                const me = await fetch('/api/me');
                if (me.ok) headers['X-CSRF-Token'] = (await me.json()).csrf;
              }
              const r = await fetch(path, {method, headers, body: body === null ? undefined : JSON.stringify(body)});
              done(r.status);
            })().catch((e) => done('failed: ' + e));
        """, method, path, body, csrf)

    def trace_pixels(self):
        """Pixels of each of the first two trace colours in the chart's plot area."""
        return self.driver.execute_script("""
            const canvas = document.getElementById('chart');
            const chart = Chart.getChart(canvas);
            if (!chart) return [0, 0];
            const r = chart.currentDevicePixelRatio || 1, a = chart.chartArea;
            const img = canvas.getContext('2d').getImageData(
                Math.round(a.left * r), Math.round(a.top * r),
                Math.round((a.right - a.left) * r), Math.round((a.bottom - a.top) * r)).data;
            const colours = arguments[0], counts = colours.map(() => 0);
            for (let i = 0; i < img.length; i += 4) {
              if (img[i + 3] < 200) continue;
              colours.forEach((c, k) => {
                if (Math.abs(img[i] - c[0]) + Math.abs(img[i + 1] - c[1]) + Math.abs(img[i + 2] - c[2]) < 40)
                  counts[k] += 1;
              });
            }
            return counts;
        """, TRACE_COLOURS)

    def x_range(self):
        return self.driver.execute_script(
            "const x = Chart.getChart(document.getElementById('chart')).scales.x; return [x.min, x.max];")

    def screenshot(self, name):
        if os.environ.get("CHRONEL_WEB_SCREENSHOTS") == "1":
            os.makedirs(ARGS.screenshots, exist_ok=True)
            self.driver.save_screenshot(os.path.join(ARGS.screenshots, f"web-{name}.png"))

    def log_in(self, name, password):
        self.set_field("#login-name", name)
        self.set_field("#login-password", password)
        self.find("#login-submit").click()

    # ---- the cases, in order -----------------------------------------------

    def test_01_log_in(self):
        self.driver.get(self.base + "/")
        self.wait(lambda: self.find("#login").is_displayed(), "the login form")
        self.screenshot("login")
        self.log_in(ENGINEER[0], "not the password")
        self.wait(lambda: "wrong name or password" in self.text("#login-error"), "the refusal")
        self.assertFalse(self.find("#app").is_displayed())

        self.log_in(ENGINEER[0], ENGINEER[2])
        self.wait_status(f"Rows 1–100 of {SEEDED}")
        self.assertEqual(self.text("#user-name"), "alice")
        self.assertEqual(self.text("#user-role"), "engineer")
        # Newest first; the window's columns, the clock beside the module time.
        self.assertEqual(self.first_cell("Module time"), row_time(SEEDED - 1))
        self.assertEqual(len(self.cells("Module")), 100)
        heads = self.headings()
        for column in ("Module", "Name", "Module time", "Clock", "Point", "Description", "State", "Event text",
                       "Comments"):
            self.assertIn(column, heads)
        # Row 249 is 127.0.0.3's: markup in its name is text, its internal
        # clock marked.
        self.assertEqual(self.first_cell("Name"), "<b>South</b> & Co")
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, "#journal-body b"), [])
        clock = self.find("#journal-body tr:first-child td.doubt")
        self.assertTrue(clock.get_attribute("textContent").startswith("[clock not synchronised]  internal clock, good"),
                        clock.get_attribute("textContent"))
        self.assertEqual(self.cells("Clock")[1], "GPS, good, +0.4 s")
        self.assertTrue(self.cells("Event text")[0].endswith("Input Point  7  On"), self.cells("Event text")[0])

    def test_02_filter(self):
        self.apply(module="127.0.0.2", grep="transformer")
        self.wait_status("of 25;")
        self.assertEqual(set(self.cells("Module")), {"127.0.0.2"})
        self.assertEqual(set(self.cells("Description")), {"Transformer alarm"})

        self.apply(start="2024-03-01 14:01:00", end="2024-03-01 14:02:00")
        self.wait_status("Rows 1–60 of 60;")
        self.assertEqual(self.first_cell("Module time"), row_time(119))
        self.assertEqual(self.cells("Module time")[-1], row_time(60))

        self.apply(point="7")
        self.wait_status("of 125;")
        self.assertEqual(set(self.cells("Point")), {"7"})

        # A filter the server cannot read: its words, and the table left as it was.
        self.apply(point="7", start="yesterday")
        self.wait(lambda: self.error() != "", "the refusal of the period")
        self.assertIn("from", self.error().lower())
        self.assertIn("of 125;", self.status())

        self.apply()
        self.wait_status(f"of {SEEDED};")
        self.assertEqual(self.error(), "")

    def test_03_sort(self):
        self.sort("Module time")  # newest first → oldest first
        self.wait(lambda: self.first_cell("Module time") == row_time(0), "oldest first")
        self.assertEqual(self.sorted_by(), ["Module time", "ascending"])

        self.sort("Point")
        self.wait(lambda: self.first_cell("Point") == "5", "point 5 first")
        self.sort("Point")
        self.wait(lambda: self.first_cell("Point") == "9", "point 9 first")
        self.assertEqual(self.sorted_by(), ["Point", "descending"])
        self.assertEqual(set(self.cells("Point")[:25]), {"9"})

        self.sort("Module")
        self.wait(lambda: set(self.cells("Module")) == {"127.0.0.2"}, "127.0.0.2's rows first")
        self.sort("Module time")  # a new key: time newest first again
        self.wait(lambda: self.first_cell("Module time") == row_time(SEEDED - 1), "newest first")

    def test_04_pages(self):
        self.wait_status(f"Rows 1–100 of {SEEDED};")
        self.assertFalse(self.find("#page-prev").is_enabled())
        self.find("#page-next").click()
        self.wait_status(f"Rows 101–200 of {SEEDED};")
        self.assertEqual(self.first_cell("Module time"), row_time(SEEDED - 101))
        self.find("#page-next").click()
        self.wait_status(f"Rows 201–250 of {SEEDED};")
        self.assertEqual(self.cells("Module time")[-1], row_time(0))
        self.assertFalse(self.find("#page-next").is_enabled())
        self.find("#page-prev").click()
        self.wait_status(f"Rows 101–200 of {SEEDED};")
        self.find("#page-first").click()
        self.wait_status(f"Rows 1–100 of {SEEDED};")

    def test_05_chart(self):
        self.assertEqual(self.trace_pixels(), [0, 0])
        rows = self.driver.find_elements(By.CSS_SELECTOR, "#journal-body tr")
        rows[0].find_element(By.CSS_SELECTOR, "td").click()  # 127.0.0.3 point 7
        rows[1].find_element(By.CSS_SELECTOR, "td").click()  # 127.0.0.2 point 5
        self.wait(lambda: self.driver.execute_script(
            "const c = Chart.getChart(document.getElementById('chart'));"
            "return c ? c.data.datasets.map((d) => d.label.split(' ')[0]) : [];") == ["127.0.0.3:7", "127.0.0.2:5"],
            "both traces")
        counts = self.trace_pixels()
        self.assertGreater(counts[0], 200, counts)
        self.assertGreater(counts[1], 200, counts)
        self.driver.execute_script("arguments[0].scrollIntoView()", self.find("#chart-panel"))
        self.screenshot("chart")

        canvas = self.find("#chart")
        whole = self.x_range()
        ActionChains(self.driver).scroll_from_origin(ScrollOrigin.from_element(canvas), 0, -300).perform()
        self.wait(lambda: self.x_range()[1] - self.x_range()[0] < (whole[1] - whole[0]) * 0.9, "the wheel's zoom")

        self.find("#chart-all").click()
        self.assertEqual(self.x_range(), whole)
        # A drag across a tenth of the plot zooms into that span.
        area = self.driver.execute_script("return Chart.getChart(document.getElementById('chart')).chartArea;")
        width = area["right"] - area["left"]
        left_px = area["left"] + width * 0.4
        right_px = area["left"] + width * 0.5
        to_centre = lambda px: (px - canvas.size["width"] / 2, (area["top"] + area["bottom"]) / 2 - canvas.size["height"] / 2)
        ActionChains(self.driver).move_to_element_with_offset(canvas, *to_centre(left_px)).click_and_hold() \
            .move_to_element_with_offset(canvas, *to_centre(right_px)).release().perform()
        zoomed = self.x_range()
        span = whole[1] - whole[0]
        self.assertAlmostEqual(zoomed[0], whole[0] + span * 0.4, delta=span * 0.01)
        self.assertAlmostEqual(zoomed[1], whole[0] + span * 0.5, delta=span * 0.01)
        # Shift+drag pans by the distance dragged, the span kept.
        ActionChains(self.driver).key_down(Keys.SHIFT).move_to_element_with_offset(canvas, *to_centre(right_px)) \
            .click_and_hold().move_to_element_with_offset(canvas, *to_centre(left_px)).release() \
            .key_up(Keys.SHIFT).perform()
        panned = self.x_range()
        zoomed_span = zoomed[1] - zoomed[0]
        self.assertAlmostEqual(panned[1] - panned[0], zoomed_span, delta=1)
        self.assertAlmostEqual(panned[0], zoomed[0] + zoomed_span * (right_px - left_px) / width,
                               delta=zoomed_span * 0.02)

        # The time cursor reads every trace's state where it is placed.
        self.find("#chart-all").click()
        cursor_px = area["left"] + width * 0.3
        ActionChains(self.driver).move_to_element_with_offset(canvas, *to_centre(cursor_px)).click().perform()
        self.wait(lambda: len(self.driver.find_elements(By.CSS_SELECTOR, "#cursor-readout span")) == 2,
                  "the cursor's reading")
        t = self.driver.execute_script(
            "return Chart.getChart(document.getElementById('chart')).scales.x.getValueForPixel(arguments[0]);",
            cursor_px)
        first_ms = self.driver.execute_script("return Date.UTC(2024, 2, 1, 14, 0, 0);")
        second = int((t - first_ms) // 1000)

        def expected(parity):
            i = second if second % 2 == parity else second - 1
            i = min(i, SEEDED - 1 if (SEEDED - 1) % 2 == parity else SEEDED - 2)
            while i % 10 == 0 and parity == 0:  # point 9's rows, not point 5's
                i -= 2
            return "On" if (i // 2) % 2 == 0 else "Off"

        readout = [s.text for s in self.driver.find_elements(By.CSS_SELECTOR, "#cursor-readout span")]
        self.assertEqual(readout, [f"127.0.0.3:7 {expected(1)}", f"127.0.0.2:5 {expected(0)}"])

        for tr in self.driver.find_elements(By.CSS_SELECTOR, "#journal-body tr.selected"):
            tr.find_element(By.CSS_SELECTOR, "td").click()
        self.wait(lambda: self.trace_pixels() == [0, 0], "the chart emptied")

    def test_06_incident_and_its_package(self):
        # The selected rows' span and modules, To a millisecond after the last.
        for tr in self.driver.find_elements(By.CSS_SELECTOR, "#journal-body tr:nth-child(-n+3)"):
            tr.find_element(By.CSS_SELECTOR, "td").click()
        self.find("#i-selection").click()
        self.assertEqual(self.find("#i-from").get_attribute("value"), row_time(SEEDED - 3))
        self.assertEqual(self.find("#i-to").get_attribute("value"), row_time(SEEDED - 1)[:-3] + "001")
        checked = self.driver.execute_script(
            "return Array.from(document.querySelectorAll('#i-modules input:checked'), (b) => b.value);")
        self.assertEqual(sorted(checked), ["127.0.0.2", "127.0.0.3"])
        self.find("#i-modules input[value='127.0.0.3']").click()
        for tr in self.driver.find_elements(By.CSS_SELECTOR, "#journal-body tr.selected"):
            tr.find_element(By.CSS_SELECTOR, "td").click()

        self.set_field("#i-title", "Breaker trip <script>")
        self.set_field("#i-from", "2024-03-01 14:00:00")
        self.set_field("#i-to", "2024-03-01 14:01:00")
        self.set_field("#i-comment", "First look")
        self.find("#i-add").click()
        self.wait(lambda: self.find("#incident-detail").is_displayed(), "the incident opened")
        self.assertTrue(self.text("#d-title").endswith(": Breaker trip <script>"), self.text("#d-title"))
        self.assertEqual(self.text("#d-modules"), "127.0.0.2")
        self.assertEqual(self.text("#d-comment"), "First look")
        self.assertIn("No comments yet.", self.text("#d-comments"))

        self.set_field("#d-comment-text", "Relay 21 operated")
        self.find("#d-comment-add").click()
        self.wait(lambda: "Relay 21 operated" in self.text("#d-comments"), "the incident's comment")
        self.assertIn("alice", self.text("#d-comments"))
        listed = lambda: self.driver.execute_script(
            "const tr = document.querySelector('#incident-body tr');"
            "return tr ? Array.from(tr.children, (td) => td.textContent) : [];")
        self.wait(lambda: listed()[-1:] == ["1"], "the incident listed with its comment")
        cells = listed()
        self.assertEqual(cells[1], "Breaker trip <script>")
        self.driver.execute_script("arguments[0].scrollIntoView()", self.find("#incidents"))
        self.screenshot("incident")

        incident = cells[0]
        self.find("#d-package").click()
        path = os.path.join(self.downloads, f"incident-{incident}.zip")
        self.wait(lambda: os.path.exists(path) and not any(n.endswith(".crdownload")
                                                           for n in os.listdir(self.downloads)),
                  f"{path} downloaded", timeout=10)
        with zipfile.ZipFile(path) as package:
            names = package.namelist()
            self.assertIn("events.csv", names)
            self.assertIn("summary.html", names)
            self.assertTrue(any(n.endswith(".cfg") for n in names), names)
            self.assertTrue(any(n.endswith(".dat") for n in names), names)
            lines = package.read("events.csv").decode().splitlines()
            # 127.0.0.2's rows of 14:00:00 … 14:00:59, the even ones.
            self.assertEqual(len(lines) - 1, 30, lines[:3])
            self.assertTrue(all("127.0.0.2" in line for line in lines[1:]))
            summary = package.read("summary.html").decode()
            self.assertIn("Relay 21 operated", summary)
            self.assertIn("&lt;script&gt;", summary)
            self.assertNotIn("<script>", summary)

    def test_07_event_comment(self):
        badge = self.find("#journal-body tr:first-child button.badge")
        self.assertEqual(badge.text, "0")
        badge.click()
        self.wait(lambda: "No comments yet." in self.text("#e-comments"), "the event's comments")
        self.set_field("#e-comment-text", "Checked on site")
        self.find("#e-comment-add").click()
        self.wait(lambda: "Checked on site" in self.text("#e-comments"), "the event's comment")
        self.wait(lambda: self.find("#journal-body tr:first-child button.badge").text == "1", "the row's badge")
        self.find("#e-close").click()

    def test_08_live(self):
        self.find("#live").click()
        # The stream asks for the rows after the page's last: a row stored
        # before it is open is not missed.
        self.wait_status("; live")
        second_row = self.find("#journal-body tr:nth-child(2)")
        self.assertEqual(self.seeder.send("append 127.0.0.2 5 3600 On"), 1)
        self.wait(lambda: self.first_cell("Module time") == "2024-03-01 15:00:00.000", "the live row", timeout=5)
        self.wait_status(f"of {SEEDED + 1};")
        self.assertEqual(len(self.cells("Module")), 101)
        # Inserted: the rows shown before are the same elements.
        try:
            self.assertEqual(second_row.get_attribute("data-id"), self.cells_ids()[2])
        except StaleElementReferenceException:
            self.fail("the table was built anew for a live row")
        self.driver.execute_script("window.scrollTo(0, 0); document.querySelector('.table-wrap').scrollLeft = 0;")
        self.screenshot("journal")

        # A burst larger than the page holds: its newest rows show, at most
        # 1000 rows in all.
        self.assertEqual(self.seeder.send("burst 1500 7200"), 1500)
        self.wait(lambda: self.first_cell("Module time") == "2024-03-01 16:24:59.000", "the burst's newest row",
                  timeout=8)
        self.wait_status(f"of {SEEDED + 1 + 1500};")
        self.wait_status("Rows 1–1000 of")
        # Only the rows around the view are drawn, the others stand in as
        # space; scrolling through the table draws each of the 1000 once, in
        # order, from the burst's newest to the earliest the page holds.
        self.assertLessEqual(len(self.cells("Module")), 120)
        times = []
        for _ in range(200):
            for t in self.cells("Module time"):
                if not times or t < times[-1]:
                    times.append(t)
            # What the middle of the view shows is a drawn row, not space.
            at_end, in_view = self.driver.execute_async_script("""
                const done = arguments[arguments.length - 1];
                const wrap = document.getElementById('journal-wrap');
                const box = wrap.getBoundingClientRect();
                const hit = document.elementFromPoint(box.left + 20, box.top + box.height / 2);
                const drawn = !!(hit && hit.closest('#journal-body'));
                const end = wrap.scrollTop + wrap.clientHeight >= wrap.scrollHeight - 1;
                wrap.scrollTop += wrap.clientHeight;
                requestAnimationFrame(() => requestAnimationFrame(() => done([end, drawn])));""")
            self.assertTrue(in_view, f"no row drawn in view after {len(times)} rows")
            if at_end:
                break
        expected = [row_time(k) for k in range(7200 + 1499, 7200 + 499, -1)]
        self.assertEqual(times, expected)
        self.find("#live").click()

    def cells_ids(self):
        return [tr.get_attribute("data-id") for tr in self.driver.find_elements(By.CSS_SELECTOR, "#journal-body tr")]

    def test_09_log_out(self):
        self.find("#logout").click()
        self.wait(lambda: self.find("#login").is_displayed(), "the login form")
        self.assertFalse(self.find("#app").is_displayed())
        self.assertEqual(self.fetch("GET", "/api/me", csrf=False), 401)
        self.driver.refresh()
        self.wait(lambda: self.find("#login").is_displayed(), "the login form after a reload")

    def test_10_viewer_refused(self):
        self.log_in(VIEWER[0], VIEWER[2])
        self.wait_status(f"of {SEEDED + 1 + 1500};")
        self.assertEqual(self.text("#user-role"), "viewer")
        self.assertFalse(self.find("#incident-form").is_displayed())
        self.find("#journal-body tr:first-child button.badge").click()
        self.wait(lambda: self.find("#event-panel").is_displayed(), "the event's comments")
        self.assertFalse(self.find("#e-comment-form").is_displayed())
        self.find("#e-close").click()
        incident = {"title": "viewer's", "from": "2024-03-01 14:00:00", "to": "2024-03-01 14:01:00",
                    "modules": [], "comment": ""}
        self.assertEqual(self.fetch("POST", "/api/incidents", incident), 403)
        self.assertEqual(self.fetch("POST", "/api/incidents/1/comments", {"text": "viewer's"}), 403)
        self.find("#incident-body tr").click()
        self.wait(lambda: self.find("#incident-detail").is_displayed(), "the incident")
        self.assertIn("Relay 21 operated", self.text("#d-comments"))
        self.assertNotIn("viewer's", self.text("#d-comments"))
        self.assertFalse(self.find("#d-comment-form").is_displayed())
        self.assertTrue(self.find("#d-package").is_displayed())

    def test_11_chatter_and_the_legend(self):
        # 12 changes within 0.6 s: more than 10 within 1 s.
        self.assertEqual(self.seeder.send("chatter 127.0.0.3 3 10800 12"), 12)
        # The page read again shows them and offers their point.
        self.find("#apply").click()
        self.wait(lambda: self.first_cell("Point") == "3", "the chattering point's rows")
        self.apply(point="3")
        self.wait_status("of 12;")
        texts = self.cells("Event text")
        self.assertEqual(len(texts), 12)
        self.assertTrue(all(t.endswith("  [chattering]") for t in texts), texts)
        self.assertFalse(self.find("#legend").is_displayed())
        self.find("#legend-toggle").click()
        self.assertIn("chattering: a change of a point", self.text("#legend"))

    def test_12_within_the_content_policy(self):
        # default-src 'self': an inline script or style, or anything from
        # elsewhere, is refused and said so in the console.
        refused = [e["message"] for e in self.driver.get_log("browser") if "Content Security Policy" in e["message"]]
        self.assertEqual(refused, [])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--web", required=True, help="chronel-web")
    parser.add_argument("--seed", required=True, help="journal_seed")
    parser.add_argument("--work", required=True, help="a folder for the journal, the profile and downloads")
    parser.add_argument("--screenshots", required=True, help="where web-*.png go with CHRONEL_WEB_SCREENSHOTS=1")
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + rest, failfast=True, verbosity=2)


if __name__ == "__main__":
    main()
