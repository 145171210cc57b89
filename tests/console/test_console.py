#!/usr/bin/python3
"""The site console in a real headless Chromium, against zendrikd with three virtual readers
(zendrik-sim on HID sockets) and a mosquitto of the test's own on a free loopback port.

ConsoleTest: the daemon as it comes (no [control], no [reader.settings]) behind a token: the token
asked once and kept, the cards (what each reader's kind means, the reads' line from its first
rate), a reader unplugged and back, a tag arriving and departing, the events list with the kinds
the daemon names, the outputs' list with a webhook nobody listens for retrying, no settings form,
one column on a phone, the page's element helper refusing a
handler given as text, and a reload of the configuration that removes a reader and adds one named
with markup characters, whose card and panel follow within 5 s and show its name as text; and the
Zones view with a tag carried through a door into a zone (virtual readers playing one scene): the tag
in the zone, its passage in with its arrow, the search by EPC with its zone and passage, and one not
found.
ConsoleCommandsTest: the settings forms with commands "all" (a managed key, a setting saved and a
bad one refused, inventory stopped and started, factory default, the forms following a reload of
the configuration) and their list with "read-only"; and the roles of [[http.token]]: a viewer
signed in sees who it is, the settings listed and no button, then an operator gets the forms and
the inventory's buttons but no factory default, and the Audit view shows the operator's write from
the console with its before and after; CTest runs it as console_commands_test.

The browser's log must hold no error but the refusals a scenario asks for. Run one case with
`test_console.py ConsoleTest`. CTest sets ZENDRIKD, ZENDRIK_SIM, ZENDRIK_CLI and ZENDRIK_CONSOLE_DIR;
with ZENDRIK_CONSOLE_SHOTS set to a folder, the readers, presence, settings and audit views are saved
there as PNG files. Exits 77 (skipped) when the browser or selenium is not installed."""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

try:
    from selenium import webdriver
    from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.select import Select
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    WEBDRIVER_MISSING = "python3-selenium is not installed for this interpreter"
else:
    WEBDRIVER_MISSING = None

CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver")
SHOTS = os.environ.get("ZENDRIK_CONSOLE_SHOTS")

TAG_A = "e2003412012345678901abcd"  # in front of gate-1 all along
TAG_B = "e20034120123456789aa0042"  # brought to gate-2 while the page looks
# The configuration lets a reader's name hold anything but '/', '+', '#' and control characters:
# the reader a reload adds is named with markup, which the page must show as text.
MARKUP_NAME = '<b>&"'
ABSENCE_MS = 500
FAST_ROUND_MS = 20  # a tag brought to a reader arrives at once
# gate-1 reads its tag all along: in rounds slow enough that its reads leave gate-2's story among
# the page's last 500 events until the events view looks at it.
READING_ROUND_MS = 100
TOKEN = "console-test-token"
# The holders of [[http.token]] in the roles scenario: name, role, token.
# The zones' scene: a tag carried from the yard through door-3 into the dock, whose reader is named
# with markup; the dock keeps it long after its last read, so that it is still there when searched.
TAG_CARRIED = "e20034120123456789cc0077"
DOCK_READER = f"dock {MARKUP_NAME}"
SCENE_LEAD_MS = 5000  # the daemon started and the page open before the tag comes
SCENES = {"yard": ("yard", "5", ["0 enter " + TAG_CARRIED, "700 leave " + TAG_CARRIED]),
          DOCK_READER: ("dock-in", "6", ["500 enter " + TAG_CARRIED, "1500 leave " + TAG_CARRIED])}
ZONES_AND_DOORS = ["[[zone]]", 'name = "dock"', f"readers = {json.dumps([DOCK_READER])}", "absence_ms = 60000",
                   "[[door]]", 'name = "door-3"', 'outside = ["yard"]', f"inside = {json.dumps([DOCK_READER])}",
                   "settle_ms = 600"]
HOLDERS = (("wall-screen", "viewer", "wall-screen-console-token"), ("ops-desk", "operator", "ops-desk-console-token"))
WAIT_S = 15  # for what takes a daemon, a reader and a browser round trip
LINK_LOST_WITHIN_S = 5  # an unplugged reader shows as such within this
RELOAD_SHOWN_WITHIN_S = 5  # a reader a reload adds or removes shows so within this
POLL_S = 0.05
SCREEN = {"width": 1280, "height": 800}
PHONE = {"width": 390, "height": 844}
# What each virtual reader's kind means, as its card says it.
KIND_WORDS = {0: "power 0\u201333, frequency band in kHz (kind 0)",
              1: "power 18\u201326, frequency band in kHz (kind 1)",
              2: "power 0\u201363, numbered frequency channels (kind 2)"}
SPARKLINE_WIDTH = 120  # the chart's viewBox

# Chromium's flags for a machine whose network is closed: no background connections it would try.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


DEAD_WEBHOOK_PORT = free_port()


def css_string(text):
    """`text` as a CSS string, for an attribute selector: [data-reader=...]."""
    return json.dumps(text)


def wait_for(condition, what, timeout=WAIT_S):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"{what} did not happen within {timeout} s")
        time.sleep(POLL_S)


def accepts(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


class Process:
    """A child process with its output in a log file; stopped with SIGTERM."""

    def __init__(self, command, log):
        self.log = log
        with open(log, "ab") as output:
            self.process = subprocess.Popen(command, stdout=output, stderr=subprocess.STDOUT)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=WAIT_S)

    def output(self):
        with open(self.log, encoding="utf-8", errors="replace") as log:
            return log.read()


class VirtualReader:
    def __init__(self, directory, name, serial, kind, round_ms=FAST_ROUND_MS):
        self.socket = os.path.join(directory, f"{name}.sock")
        self.log = os.path.join(directory, f"{name}.log")
        self.serial, self.kind, self.round_ms = serial, kind, round_ms
        self.process = None

    @property
    def address(self):
        return f"usb:{self.socket}"

    def plug(self, *tags, options=()):
        if os.path.exists(self.socket):
            os.remove(self.socket)
        command = [os.environ["ZENDRIK_SIM"], "--hid-socket", self.socket, "--serial", self.serial,
                   "--kind", str(self.kind), "--round-time", str(self.round_ms), *options]
        for tag in tags:
            command += ["--tag", tag]
        self.process = Process(command, self.log)
        wait_for(lambda: os.path.exists(self.socket), f"virtual reader {self.socket}")

    def unplug(self):
        self.process.stop()

    def settings(self):
        """The reader's settings as `zendrik config --json` reads them, beside the daemon."""
        result = subprocess.run([os.environ["ZENDRIK_CLI"], "--reader", self.address, "config", "--json"],
                                capture_output=True, text=True, timeout=WAIT_S, check=True)
        return json.loads(result.stdout)


def daemon_config(directory, broker_port, http_port, readers, name, commands=None, token=None, holders=(),
                  extra=()):
    """The daemon's file. With `commands`, the command layer's tables: [control] and gate-1's
    declared buzzer, from the profile it names; with `holders`, a [[http.token]] each, its file
    readable by its owner only; `extra` lines at its end ([[zone]], [[door]])."""
    lines = ['site = "dock-3"', "status_interval_ms = 300",
             "[mqtt]", f"port = {broker_port}", 'topic_prefix = "zt"', "reconnect_max_ms = 300",
             "[spool]", f'path = "{os.path.join(directory, name + "-spool.sqlite")}"',
             "[http]", f'listen = "127.0.0.1:{http_port}"']
    if token:
        lines.append(f'token = "{token}"')
    for holder, role, secret in holders:
        path = os.path.join(directory, f"{holder}.token")
        with open(path, "w", encoding="utf-8") as out:
            out.write(secret + "\n")
        os.chmod(path, 0o600)
        lines += ["[[http.token]]", f'name = "{holder}"', f'file = "{path}"', f'role = "{role}"']
    if commands:
        lines += ["[control]", f'commands = "{commands}"',
                  "[[profile]]", 'name = "door"', "[profile.settings]", 'buzzer = "off"']
    # A webhook nobody listens for: its row in the outputs' list says it is retrying.
    lines += ["[[output]]", 'name = "wms"', 'kind = "webhook"', f'url = "http://127.0.0.1:{DEAD_WEBHOOK_PORT}/rfid"']
    for reader_name, reader in readers.items():
        lines += ["[[reader]]", f"name = {json.dumps(reader_name)}", f'address = "{reader.address}"',
                  f"absence_ms = {ABSENCE_MS}"]
        if commands and reader_name == "gate-1":
            lines.append('profile = "door"')
    lines += extra
    path = os.path.join(directory, f"zendrikd-{name}.toml")
    with open(path, "w", encoding="utf-8") as config:
        config.write("\n".join(lines) + "\n")
    return path


def start_broker(directory):
    port = free_port()
    config = os.path.join(directory, "mosquitto.conf")
    with open(config, "w", encoding="utf-8") as out:
        # As root, mosquitto would change to a user of its own, who could not write the log here.
        out.write(f"listener {port} 127.0.0.1\nallow_anonymous true\nlog_dest stderr\n"
                  f"user {os.environ.get('USER', 'root')}\n")
    broker = Process(["mosquitto", "-c", config], os.path.join(directory, "mosquitto.log"))
    wait_for(lambda: accepts(port), "mosquitto accepting")
    return broker, port


@unittest.skipIf(WEBDRIVER_MISSING or not CHROMIUM or not CHROMEDRIVER, "no browser")
class ConsoleScenario(unittest.TestCase):
    """The broker, the three readers and the browser, shared by a case's scenarios; each scenario
    starts its own daemon."""

    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="zendrik-console-")
        cls.processes = []
        cls.broker, cls.broker_port = start_broker(cls.directory)
        cls.readers = {"gate-1": VirtualReader(cls.directory, "gate-1", "1", 0, READING_ROUND_MS),
                       "gate-2": VirtualReader(cls.directory, "gate-2", "2", 1),
                       "dock-3": VirtualReader(cls.directory, "dock-3", "3", 2)}
        cls.spare = VirtualReader(cls.directory, "spare", "4", 0)  # the reader a reload adds
        cls.readers["gate-1"].plug(TAG_A)
        cls.readers["gate-2"].plug()
        cls.readers["dock-3"].plug()
        cls.spare.plug()
        options = webdriver.ChromeOptions()
        for flag in CHROMIUM_FLAGS + [f"--user-data-dir={os.path.join(cls.directory, 'chromium')}"]:
            options.add_argument(flag)
        options.binary_location = CHROMIUM
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.browser = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        cls.screen(SCREEN)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        for reader in [*cls.readers.values(), cls.spare]:
            reader.unplug()
        cls.broker.stop()
        shutil.rmtree(cls.directory, ignore_errors=True)

    @classmethod
    def screen(cls, size):
        cls.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                    {**size, "deviceScaleFactor": 1, "mobile": size is PHONE})

    def start_daemon(self, name, commands=None, token=None, holders=(), readers=None, extra=()):
        http_port = free_port()
        self.write_config = lambda readers: daemon_config(self.directory, self.broker_port, http_port, readers,
                                                          name, commands, token, holders, extra)
        self.token = token
        config = self.write_config(self.readers if readers is None else readers)
        daemon = Process([os.environ["ZENDRIKD"], "--config", config, "--console-dir",
                          os.environ["ZENDRIK_CONSOLE_DIR"]], os.path.join(self.directory, f"zendrikd-{name}.log"))
        self.addCleanup(daemon.stop)
        wait_for(lambda: accepts(http_port) or daemon.process.poll() is not None, "zendrikd listening")
        self.assertIsNone(daemon.process.poll(), daemon.output())
        self.daemon = daemon
        self.url = f"http://127.0.0.1:{http_port}/"
        return self.url

    def reload(self, readers):
        """The daemon's file with these readers, read again as `systemctl reload` has it do."""
        self.write_config(readers)
        self.daemon.process.send_signal(signal.SIGHUP)

    def readers_after_reload(self, gone):
        """The readers but `gone`, and the spare one named with markup."""
        readers = {name: reader for name, reader in self.readers.items() if name != gone}
        return {**readers, MARKUP_NAME: self.spare}

    def api(self, path):
        headers = {"Authorization": f"Bearer {self.token}"} if self.token else {}
        with urllib.request.urlopen(urllib.request.Request(self.url + path.lstrip("/"), headers=headers),
                                    timeout=WAIT_S) as answer:
            return json.load(answer)

    # ---- the page ------------------------------------------------------------------------------

    def wait(self, condition, what, timeout=WAIT_S):
        try:
            return WebDriverWait(self.browser, timeout, poll_frequency=POLL_S).until(lambda _: condition(), what)
        except TimeoutException:
            raise AssertionError(f"{what} did not happen within {timeout} s\n{self.daemon.output()[-3000:]}") from None

    def find(self, css):
        return self.browser.find_elements(By.CSS_SELECTOR, css)

    def one(self, css):
        found = self.find(css)
        return found[0] if found else None

    def text(self, css):
        """The text of the first element matching, also while its view is hidden; None while there is
        none, or while the element found is being replaced (the statuses redraw some)."""
        element = self.one(css)
        try:
            return " ".join(element.get_attribute("textContent").split()) if element else None
        except StaleElementReferenceException:
            return None

    def view(self, name):
        self.browser.execute_script("location.hash = arguments[0]", name)
        self.wait(lambda: self.one(f"#view-{name}").is_displayed(), f"the {name} view")

    def card_state(self, reader):
        card = self.one(f'article.reader[data-reader={css_string(reader)}]')
        return (card.get_attribute("data-state"), self.text(f'article.reader[data-reader={css_string(reader)}] .badge')) \
            if card else None

    def wait_card(self, reader, state, words, timeout=WAIT_S):
        self.wait(lambda: self.card_state(reader) == (state, words), f"{reader} shown {words}", timeout)

    def tag_row(self, reader, epc):
        return self.one(f'section.presence[data-reader={css_string(reader)}] tr[data-epc="{epc}"]')

    def field(self, reader, name):
        return self.one(f'section.settings[data-reader={css_string(reader)}] [data-setting="{name}"] input, '
                        f'section.settings[data-reader={css_string(reader)}] [data-setting="{name}"] select')

    def message(self, reader):
        return self.one(f'section.settings[data-reader={css_string(reader)}] .message')

    def save(self, reader, name, value):
        control = self.field(reader, name)
        control.clear()
        control.send_keys(value)
        self.one(f'section.settings[data-reader={css_string(reader)}] button[type=submit]').click()
        self.wait(lambda: self.one(f'section.settings[data-reader={css_string(reader)}][aria-busy]') is None and
                  not self.message(reader).text.endswith("…"), f"{reader} saved")
        return self.message(reader)

    def button(self, reader, words):
        for button in self.find(f'section.settings[data-reader={css_string(reader)}] .actions button'):
            if button.text == words:
                return button
        raise AssertionError(f"no button {words} for {reader}")

    def shot(self, name):
        if SHOTS:
            os.makedirs(SHOTS, exist_ok=True)
            self.browser.execute_script("window.scrollTo(0, 0)")
            self.browser.save_screenshot(os.path.join(SHOTS, f"console-{name}.png"))

    def expect_clean_log(self, *refusals):
        """Nothing but the answers the scenario asked for (as status numbers) is logged as an error."""
        errors = [entry for entry in self.browser.get_log("browser") if entry["level"] == "SEVERE"]
        unexpected = [entry["message"] for entry in errors
                      if not (entry["source"] == "network" and any(f"status of {code}" in entry["message"]
                                                                   for code in refusals))]
        self.assertEqual(unexpected, [])

    def leave_page(self):
        # Off the page before its daemon stops, so that the stream's end is not logged as a failure.
        self.browser.get("about:blank")

    def enter_token(self):
        """The question for the token: a wrong one refused, then the right one."""
        dialog = "#token-dialog[open]"
        self.wait(lambda: self.one(dialog) is not None, "the question for the token")
        self.one("#token-input").send_keys("wrong", "\n")
        self.wait(lambda: self.one(dialog) is not None and "refused" in self.text("#token-reason"),
                  "the wrong token refused")
        self.one("#token-input").send_keys(TOKEN, "\n")
        self.wait(lambda: self.one(dialog) is None, "the token taken")

    def wait_all_online(self):
        for name in self.readers:
            self.wait_card(name, "online", "online")

    def check_reload_followed(self, gone, panels):
        """A reload of the configuration without `gone` and with the spare reader, named with markup:
        within 5 s the `panels` ("article.reader", "section.presence", ...) of the one have gone and
        those of the other have come, in the file's order, its name shown as text."""
        self.reload(self.readers_after_reload(gone))
        removed, added = css_string(gone), css_string(MARKUP_NAME)
        self.wait(lambda: all(self.one(f"{panel}[data-reader={removed}]") is None and
                              self.one(f"{panel}[data-reader={added}]") is not None for panel in panels),
                  f"the panels following the reload without {gone}", RELOAD_SHOWN_WITHIN_S)
        names = [name for name in self.readers if name != gone] + [MARKUP_NAME]
        for panel in panels:
            self.assertEqual([element.get_attribute("data-reader") for element in self.find(panel)], names)
            self.assertEqual(self.text(f"{panel}[data-reader={added}] h3"), MARKUP_NAME)
            self.assertEqual(self.find(f"{panel}[data-reader={added}] h3 *"), [])

    def check_element_helper(self):
        """The page's element helper: text stays text, a handler is a function and never a text."""
        outcome = self.browser.execute_async_script("""
            const done = arguments[arguments.length - 1];
            import('/console/dom.js').then(({ el }) => {
                const refusal = (attributes) => {
                    try {
                        el('b', attributes);
                        return 'made';
                    } catch (error) {
                        return error.name;
                    }
                };
                let clicks = 0;
                const button = el('button', { onclick: () => { clicks += 1; } }, '<b>&"');
                button.click();
                done({ text: button.textContent, elements: button.children.length,
                       attribute: button.getAttribute('onclick'), clicks,
                       text_handler: refusal({ onclick: 'window.hit = 1' }),
                       upper_case_handler: refusal({ ONMOUSEOVER: 'window.hit = 1' }) });
            }, (error) => done({ error: String(error) }));""")
        self.assertEqual(outcome, {"text": '<b>&"', "elements": 0, "attribute": None, "clicks": 1,
                                   "text_handler": "TypeError", "upper_case_handler": "TypeError"})

    def check_sparkline_from_first_rate(self, reader):
        """The reads' line spans the chart from the first rate on, above its foot."""
        points = self.one(f"article.reader[data-reader={css_string(reader)}] .sparkline polyline") \
            .get_attribute("points").split()
        xs = [float(point.split(",")[0]) for point in points]
        ys = [float(point.split(",")[1]) for point in points]
        self.assertGreaterEqual(len(points), 2, points)
        self.assertGreater(max(xs) - min(xs), SPARKLINE_WIDTH / 2, points)
        self.assertLess(min(ys), 20, points)

    def check_phone_width(self):
        """One column on a phone's width, nothing wider than the screen."""
        self.screen(PHONE)
        self.view("readers")
        lefts = {card.rect["x"] for card in self.find("article.reader")}
        self.assertEqual(len(lefts), 1, lefts)
        self.assertTrue(self.browser.execute_script(
            "return document.documentElement.scrollWidth <= document.documentElement.clientWidth"))
        self.screen(SCREEN)


class ConsoleTest(ConsoleScenario):
    def test_site_behind_a_token(self):
        url = self.start_daemon("site", token=TOKEN)
        self.browser.get(url)
        self.enter_token()
        for name, kind in (("gate-1", 0), ("gate-2", 1), ("dock-3", 2)):
            self.wait_card(name, "online", "online")
            card = f'article.reader[data-reader="{name}"]'
            self.wait(lambda: self.text(f"{card} .facts dd:nth-of-type(1)") == KIND_WORDS[kind],
                      f"what the kind of {name} means")
            self.assertEqual(self.text(f"{card} .address"), self.readers[name].address)
            self.assertEqual(self.one(card).get_attribute("data-settings"), "unmanaged")
        self.assertEqual(self.text("#site-name"), "dock-3")
        self.assertEqual(self.text("#commands-state"), "commands: off")
        self.wait(lambda: (self.text('#output-list [data-output="wms"] [data-role="state"]') or "").startswith(
            "retrying in "), "the dead webhook retrying")
        self.assertIn("connect", self.text('#output-list [data-output="wms"] .output-error').lower())
        self.wait(lambda: self.text('#output-list [data-output="mqtt"] [data-role="state"]') == "connected",
                  "the broker's output connected")
        self.wait(lambda: self.text('article.reader[data-reader="gate-1"] .rate') not in (None, "– /s", "0.0 /s"),
                  "gate-1's reads per second")
        self.check_sparkline_from_first_rate("gate-1")
        self.check_element_helper()

        # Unplugged, then back with a tag in its field, which then departs with the reader gone.
        gate2 = self.readers["gate-2"]
        gate2.unplug()
        self.wait_card("gate-2", "link-lost", "link lost", LINK_LOST_WITHIN_S)
        self.shot("readers")
        gate2.plug(TAG_B)
        self.wait_card("gate-2", "online", "online")
        self.view("presence")
        self.wait(lambda: self.tag_row("gate-2", TAG_B) is not None, "the tag at gate-2")
        self.wait(lambda: self.tag_row("gate-1", TAG_A) is not None, "the tag at gate-1")
        row = self.tag_row("gate-2", TAG_B)
        self.assertIn("present", row.text)
        self.assertRegex(row.find_element(By.CSS_SELECTOR, ".card-number").text, r"^\d{8}$")
        self.shot("presence")
        gate2.unplug()
        self.wait(lambda: "departed" in (self.tag_row("gate-2", TAG_B).get_attribute("class") or ""),
                  "the tag departing")
        self.assertIn("departed", self.tag_row("gate-2", TAG_B).text)
        self.wait(lambda: self.tag_row("gate-2", TAG_B) is None, "the departed tag's row going")
        self.assertIsNotNone(self.tag_row("gate-1", TAG_A))
        gate2.plug()
        self.wait_card("gate-2", "online", "online")

        # The events (the stream takes the token too): gate-2's story by reader and kind; a
        # paused list stands still.
        self.view("events")
        kinds = self.api("/api/v1/site")["event_kinds"]
        self.assertTrue({"settings-drift", "zone-entered", "zone-left", "passage"} <= set(kinds), kinds)
        self.assertEqual([option.get_attribute("value") for option in Select(self.one("#event-kind")).options],
                         ["", *kinds])
        Select(self.one("#event-reader")).select_by_value("gate-2")
        kinds = {row.get_attribute("data-kind") for row in self.find("#event-rows tr")}
        self.assertTrue({"link-lost", "link-restored", "arrived", "departed"} <= kinds, kinds)
        self.assertEqual({row.get_attribute("data-reader") for row in self.find("#event-rows tr")}, {"gate-2"})
        Select(self.one("#event-kind")).select_by_value("departed")
        self.assertEqual({row.get_attribute("data-kind") for row in self.find("#event-rows tr")}, {"departed"})
        Select(self.one("#event-reader")).select_by_value("")
        Select(self.one("#event-kind")).select_by_value("read")
        self.one("#event-pause").click()
        newest = self.one("#event-rows tr").text
        self.wait(lambda: int(re.search(r"Paused: (\d+) newer", self.text("#event-summary")).group(1)) >= 3,
                  "reads arriving while paused")
        self.assertEqual(self.one("#event-rows tr").text, newest)
        self.one("#event-pause").click()
        self.wait(lambda: self.one("#event-rows tr").text != newest, "the newer reads shown")

        # No commands: no settings, no form, and the note says why.
        self.view("settings")
        self.assertIn('commands = "off"', self.text("#settings-note"))
        self.assertEqual(self.find("#view-settings section.settings, #view-settings form"), [])

        self.check_phone_width()
        self.browser.refresh()  # the token is kept for the session: not asked again
        self.wait_all_online()
        self.assertIsNone(self.one("#token-dialog[open]"))

        self.check_reload_followed("dock-3", ("article.reader", "section.presence"))
        self.assertEqual([option.get_attribute("value") for option in Select(self.one("#event-reader")).options],
                         ["", "gate-1", "gate-2", MARKUP_NAME])
        self.wait_card(MARKUP_NAME, "online", "online")
        self.wait(lambda: self.text(f"article.reader[data-reader={css_string(MARKUP_NAME)}] .facts dd") ==
                  KIND_WORDS[0], "what the kind of the added reader means")
        self.expect_clean_log(401)
        self.leave_page()

    def test_zones_and_doors(self):
        """A tag carried through a door into a zone: in the zone, then its passage in, then found."""
        self.leave_page()  # whatever another case left open, and its log, are not this one's
        self.browser.get_log("browser")
        epoch_ms = int(time.time() * 1000) + SCENE_LEAD_MS
        readers = {}
        for name, (socket_name, serial, lines) in SCENES.items():
            scene = os.path.join(self.directory, f"{socket_name}.scene")
            with open(scene, "w", encoding="utf-8") as out:
                out.write("\n".join(lines) + "\n")
            readers[name] = VirtualReader(self.directory, socket_name, serial, 0)
            readers[name].plug(options=["--scene", scene, "--scene-epoch", str(epoch_ms)])
            self.addCleanup(readers[name].unplug)
        url = self.start_daemon("zones", token=TOKEN, readers=readers, extra=ZONES_AND_DOORS)
        self.browser.get(url + "#zones")
        self.enter_token()
        zone = 'section.zone[data-zone="dock"]'
        self.wait(lambda: self.one(f'{zone} tr[data-epc="{TAG_CARRIED}"]') is not None, "the tag in the dock")
        self.assertEqual(self.text(f'{zone} tr[data-epc="{TAG_CARRIED}"] .last-reader'), DOCK_READER)
        self.assertEqual(self.text(f"{zone} .zone-readers"), f"readers: {DOCK_READER}")
        passage = f'section.door[data-door="door-3"] tr.passage[data-epc="{TAG_CARRIED}"]'
        self.wait(lambda: self.one(passage) is not None, "the passage through door-3")
        self.assertEqual(self.one(passage).get_attribute("data-direction"), "in")
        self.assertEqual((self.text(f"{passage} .arrow"), self.text(f"{passage} .direction-words")),
                         ("\u2192", "in (outside \u2192 inside)"))
        self.assertEqual(self.find("#view-zones b"), [])  # the reader's markup shown as text

        # The history keeps the passage within its next batch: asked until the answer holds it.
        def found(wanted):
            search = self.one("#tag-search-input")
            search.clear()
            search.send_keys(wanted, "\n")
            self.wait(lambda: self.one("#tag-result[data-state=searching]") is None, f"{wanted} looked up")
            return self.one("#tag-result").get_attribute("data-state")
        self.wait(lambda: found(TAG_CARRIED.upper()) == "found" and
                  self.one('#tag-result tr.passage[data-direction="in"]') is not None, "the tag found with its passage")
        self.assertEqual(self.text("#tag-result .tag-zone")[:len("in zone dock since")], "in zone dock since")
        self.assertEqual(self.text('#tag-result tr.passage .door'), "door-3")
        self.assertEqual(found("4242"), "not-found")
        self.assertIn("Not found", self.text("#tag-result"))
        self.assertEqual(found("no such tag"), "not-found")
        self.shot("zones")
        self.expect_clean_log(401, 404)
        self.leave_page()


class ConsoleCommandsTest(ConsoleScenario):
    def test_commands_all(self):
        url = self.start_daemon("all", commands="all")
        self.browser.get(url)
        self.wait_all_online()
        self.wait(lambda: self.one('article.reader[data-reader="gate-1"]').get_attribute("data-settings") == "in-sync",
                  "gate-1 in sync with its file")
        self.assertIn("in sync", self.text('article.reader[data-reader="gate-1"]'))
        self.assertIn("unmanaged", self.text('article.reader[data-reader="dock-3"]'))

        # The settings: a managed key is not editable, a saved one is on the reader, a bad one is
        # refused with the daemon's words, inventory stops and starts, factory default asks first.
        self.view("settings")
        dock3 = self.readers["dock-3"]
        self.wait(lambda: all(self.field(name, "power") for name in self.readers), "the settings forms")
        buzzer = self.field("gate-1", "buzzer")
        self.assertFalse(buzzer.is_enabled())
        self.assertIn("managed by the configuration file (from profile door)",
                      self.text('section.settings[data-reader="gate-1"] [data-setting="buzzer"]'))
        self.assertTrue(self.field("dock-3", "buzzer").is_enabled())
        self.assertEqual(self.field("dock-3", "buzzer").tag_name, "select")
        self.assertEqual((self.field("dock-3", "power").get_attribute("min"),
                          self.field("dock-3", "power").get_attribute("max")), ("0", "63"))
        message = self.save("dock-3", "power", "20")
        self.assertNotIn("error", message.get_attribute("class"), message.text)
        self.assertEqual(dock3.settings()["power"], 20)
        message = self.save("dock-3", "power", "99")
        self.assertIn("error", message.get_attribute("class"))
        self.assertIn("power", message.text)
        self.assertIn("99", message.text)
        self.assertEqual(dock3.settings()["power"], 20)
        self.shot("settings")

        self.button("dock-3", "Stop inventory").click()
        self.wait(lambda: not self.button("dock-3", "Start inventory").get_attribute("disabled"), "stopped")
        self.view("readers")
        self.wait_card("dock-3", "stopped", "stopped")
        self.view("settings")
        self.button("dock-3", "Start inventory").click()
        self.wait(lambda: self.button("dock-3", "Start inventory").get_attribute("disabled"), "running")
        self.wait_card("dock-3", "online", "online")

        self.button("dock-3", "Factory default…").click()
        self.browser.switch_to.alert.dismiss()
        self.assertEqual(dock3.settings()["power"], 20)
        self.button("dock-3", "Factory default…").click()
        self.browser.switch_to.alert.accept()
        self.wait(lambda: self.field("dock-3", "power").get_attribute("value") == "63", "the factory power")
        self.assertEqual(dock3.settings()["power"], 63)

        self.check_reload_followed("gate-2", ("section.settings", "article.reader"))
        self.wait(lambda: self.field(MARKUP_NAME, "power") is not None, "the added reader's settings form")
        self.check_phone_width()
        self.expect_clean_log(400)
        self.leave_page()

    def sign_in(self, token):
        self.wait(lambda: self.one("#token-dialog[open]") is not None, "the question for the token")
        self.one("#token-input").send_keys(token, "\n")
        self.wait(lambda: self.one("#token-dialog[open]") is None, "the token taken")

    def test_roles(self):
        url = self.start_daemon("roles", commands="all", holders=HOLDERS)
        self.token = HOLDERS[1][2]
        self.browser.get(url)
        self.sign_in(HOLDERS[0][2])
        self.wait(lambda: self.text("#who-state") == "signed in: wall-screen (viewer)", "the viewer signed in")
        self.wait_all_online()
        self.view("settings")
        self.wait(lambda: self.one('section.settings[data-reader="dock-3"] dd[data-setting="power"]') is not None,
                  "the settings listed")
        self.assertEqual(self.find("#view-settings form, #view-settings input, #view-settings select"), [])
        self.assertEqual([button.text for button in self.find('section.settings[data-reader="dock-3"] .actions button')],
                         ["Read again"])
        self.assertIn("wall-screen, a viewer", self.text("#settings-note"))

        # Another holder: the operator may write settings and run the inventory, not restore the factory's.
        self.one("#sign-out").click()
        self.sign_in(HOLDERS[1][2])
        self.wait(lambda: self.text("#who-state") == "signed in: ops-desk (operator)", "the operator signed in")
        self.view("settings")
        self.wait(lambda: self.field("dock-3", "power") is not None, "the operator's form")
        self.assertEqual([button.text for button in self.find('section.settings[data-reader="dock-3"] .actions button')],
                         ["Start inventory", "Stop inventory", "Read again"])
        before = self.readers["dock-3"].settings()["power"]
        after = 17 if before != 17 else 18
        message = self.save("dock-3", "power", str(after))
        self.assertNotIn("error", message.get_attribute("class"), message.text)

        # The audit trail says who did it, from where, and what it was before.
        self.view("audit")
        row = 'tr[data-actor="ops-desk"]'
        self.wait(lambda: self.one(row) is not None, "the operator's write in the audit view")
        self.assertEqual([cell.text for cell in self.one(row).find_elements(By.CSS_SELECTOR, "td")][1:],
                         ["ops-desk", "console", "dock-3", f"set-settings power={after}", "ok",
                          f"power {before} \u2192 {after}"])
        self.shot("audit")
        entry = self.api("/api/v1/audit?actor=ops-desk&limit=1")["entries"][0]
        self.assertEqual((entry["before"], entry["after"]), ({"power": before}, {"power": after}))
        self.expect_clean_log(401)
        self.leave_page()

    def test_read_only(self):
        url = self.start_daemon("read-only", commands="read-only")
        self.browser.get(url)
        self.wait_all_online()
        self.view("settings")
        self.wait(lambda: self.one('section.settings[data-reader="dock-3"] dd[data-setting="power"]') is not None,
                  "the settings shown")
        self.assertEqual(self.find("#view-settings form, #view-settings input, #view-settings select"), [])
        self.assertIn("read-only", self.text("#settings-note"))
        self.expect_clean_log()
        self.leave_page()


if __name__ == "__main__":
    if WEBDRIVER_MISSING or not CHROMIUM or not CHROMEDRIVER:
        print(WEBDRIVER_MISSING or "chromium or chromedriver is not installed", file=sys.stderr)
        sys.exit(77)
    unittest.main(verbosity=2)
