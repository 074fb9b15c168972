"""The web page in a real browser: headless Chromium through Selenium (Debian's
chromium, chromium-driver and python3-selenium) against talmir880-scpi on the
simulator. Controls are found by their accessible names, as a screen reader
finds them, in each of the page's languages; axe-core (npm, pinned in
axe/package.json, installed by scripts/deps.sh) checks the WCAG 2.1 A and AA
rules in the page as it is."""

import http.server
import json
import os
import re
import signal
import socket
import threading
import time
import unittest
import urllib.request
import xml.etree.ElementTree as ElementTree

import pyvisa
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait
from wsproto import ConnectionType, WSConnection
from wsproto.events import AcceptConnection, CloseConnection, Request, TextMessage

from server_fixture import TAKEOVER, ServerTest, Simulator, ask

CHROMEDRIVER = "/usr/bin/chromedriver"
LXI = "{http://www.lxistandard.org/InstrumentIdentification/1.0}"
# scripts/deps.sh puts the pinned axe-core here.
AXE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "axe", "node_modules", "axe-core",
                   "axe.min.js")


def browser_options(width=1200, height=900, *extra, languages=None):
    """Headless Chromium's options; `languages` its Accept-Language."""
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=%d,%d" % (width, height),
                     *extra):
        options.add_argument(argument)
    if languages:
        options.add_experimental_option("prefs", {"intl.accept_languages": languages})
    return options


def browser(width=1200, height=900, *extra, languages=None):
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER),
                              options=browser_options(width, height, *extra, languages=languages))
    driver.set_page_load_timeout(10)
    driver.set_script_timeout(30)
    return driver


def axe_violations(driver):
    """axe-core's WCAG 2.1 A and AA violations on the page as it is now:
    [[rule, [elements]]]."""
    with open(AXE) as source:
        driver.execute_script(source.read())
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document, {runOnly: {type: 'tag', values: %s}})"
        ".then((r) => done(r.violations.map((v) => [v.id, v.nodes.map((n) => n.target.join(' '))])),"
        "      (e) => done([['axe-core failed', [String(e)]]]));"
        % json.dumps(["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"]))


def texts_shown(driver):
    """Every text of the page that the texts' table words, as [key, shown,
    expected] where they differ, and how many there were."""
    return driver.execute_script(
        "const all = [...document.querySelectorAll('[data-text]')];"
        "return [all.map((e) => [e.dataset.text, e.textContent, T(e.dataset.text, e.dataset.arg)])"
        "  .filter((t) => t[1] !== t[2]), all.length];")


def visa_breaks(driver):
    """For each VISA resource string shown: its text, how many lines it
    takes and whether every field kept to one line."""
    return driver.execute_script(
        "return [...document.querySelectorAll('.visa')].map((v) => {"
        "  const tops = new Set([...v.getClientRects()].map((r) => Math.round(r.top)));"
        "  const fields = [...v.querySelectorAll(':scope > span')].map((f) => f.getClientRects().length);"
        "  return [v.textContent, tops.size, fields.every((n) => n === 1)]; });")


def control(driver, name):
    """The one element whose accessible name, as Chromium computes it, is `name`."""
    found = [e for e in driver.find_elements(
        By.CSS_SELECTOR, "input, select, button, progress, [role]") if e.accessible_name == name]
    if len(found) != 1:
        raise AssertionError("%d controls named %r" % (len(found), name))
    return found[0]


def wait_until(driver, condition, timeout=5.0, message=""):
    return WebDriverWait(driver, timeout, poll_frequency=0.02).until(
        lambda d: condition(), message)


class WebServerTest(ServerTest):
    """A server with its web page on loopback, and a browser."""

    server_args = ("--no-vxi11", "--http", "0")

    # Whatever hangs (the browser, its driver) fails its own test, with where.
    BOUND_S = 45

    def setUp(self):
        def hung(*_):
            raise TimeoutError("the test took longer than %d s" % self.BOUND_S)
        signal.signal(signal.SIGALRM, hung)
        signal.alarm(self.BOUND_S)
        self.addCleanup(signal.alarm, 0)
        super().setUp()
        line = self.wait_for_log("web page on http://", timeout=5)
        self.assertIsNotNone(line, self.server_log)
        self.web_port = int(re.search(r":(\d+)/$", line).group(1))
        self.url = "http://127.0.0.1:%d/" % self.web_port
        self.driver = browser()
        self.addCleanup(self.driver.quit)

    def open_page(self, driver=None):
        driver = driver or self.driver
        driver.get(self.url)
        wait_until(driver, lambda: driver.find_element(By.ID, "link").get_attribute("class") ==
                   "live", message="the page's WebSocket did not open")
        return driver


class WebPageTest(WebServerTest):
    server_args = WebServerTest.server_args + ("--log-commands",)

    def test_page_shows_what_a_pyvisa_client_set(self):
        self.open_page()
        manager = pyvisa.ResourceManager("@py")
        instrument = manager.open_resource(self.resource, read_termination="\n",
                                           write_termination="\n", timeout=5000)
        self.addCleanup(manager.close)
        self.addCleanup(instrument.close)
        instrument.write("OUTP ON;:FREQ 123.456 MHZ;:POW -9")
        self.assertEqual(instrument.query("*OPC?"), "1")
        now = self.driver.find_element(By.ID, "rf-now")
        wait_until(self.driver, lambda: now.text == "123.456 MHz, output on",
                   message="shows %r" % now.text)
        self.assertEqual(self.driver.find_element(By.ID, "level-now").text, "-9 dBm")
        self.assertEqual(control(self.driver, "Level (dBm)").get_attribute("value"), "-9")
        self.assertTrue(control(self.driver, "RF output").is_selected())

    def test_page_controls_go_to_the_device_as_commands(self):
        self.open_page()
        rf = control(self.driver, "RF frequency (MHz)")
        rf.clear()
        rf.send_keys("433.92", Keys.ENTER)
        control(self.driver, "Modulation frequency (kHz)").clear()
        control(self.driver, "Modulation frequency (kHz)").send_keys("2.5", Keys.TAB)
        # Nothing is switched on unasked: both were only kept.
        time.sleep(0.3)
        self.assertEqual(self.sim.commands(), [])
        control(self.driver, "RF output").click()
        self.sim.read_lines(until="$F043392000")
        control(self.driver, "Modulation").click()
        self.sim.read_lines(until="$M0002500")
        control(self.driver, "RF output").send_keys(Keys.SPACE)  # the keyboard alone
        self.sim.read_lines(until="$F000000001")
        self.assertEqual(self.sim.commands(), ["$F043392000", "$M0002500", "$F000000001"])
        self.assertIsNotNone(self.wait_for_log(" web $F043392000 <- OUTP ON"), self.server_log)
        with self.connect() as script:
            self.assertEqual(ask(script, "FREQ?;:LFO:FREQ?;:OUTP?"),
                             "433920000;2500;0")

    def test_a_pass_started_on_the_page_moves_the_progress(self):
        self.open_page()
        errors = control(self.driver, "Errors")
        control(self.driver, "Single sweep").click()
        wait_until(self.driver, lambda: '-221,"Settings conflict;output off"' in errors.text,
                   message="the page's own error: %r" % errors.text)
        # About 1.7 s of points at 57600 baud: long enough to be seen
        # between 0 and 100 on a loaded machine.
        for name, value in (("Sweep start (MHz)", "100"), ("Sweep stop (MHz)", "110"),
                            ("Sweep points", "2000")):
            field = control(self.driver, name)
            field.clear()
            field.send_keys(value, Keys.ENTER)
        control(self.driver, "RF output").click()
        self.sim.read_lines(until="$F")
        control(self.driver, "Single sweep").click()
        progress = control(self.driver, "Sweep progress")
        self.assertEqual(progress.aria_role, "progressbar")
        seen = set()
        wait_until(self.driver, lambda: seen.add(int(progress.get_attribute("value"))) or
                   any(0 < v < 100 for v in seen), timeout=10,
                   message="the progress stayed at %r" % seen)
        self.assertEqual(axe_violations(self.driver), [], "during a pass")
        self.sim.read_lines(until="$W")
        self.assertTrue(any(c.startswith("$W") for c in self.sim.commands()))
        with self.connect() as script:
            self.assertEqual(ask(script, "SYST:ERR?"), '0,"No error"',
                             "the page's errors are its own")

    def test_tuning_step_and_save_to_flash_reach_the_device(self):
        self.open_page()
        self.assertEqual(axe_violations(self.driver), [], "idle")
        step = Select(control(self.driver, "Tuning step"))
        self.assertEqual([o.text for o in step.options],
                         ["1GHz", "100MHz", "10MHz", "1MHz", "100kHz", "10kHz", "1kHz", "100Hz",
                          "10Hz"])
        self.assertEqual(step.first_selected_option.text, "1MHz", "the instrument's own step")
        control(self.driver, "RF output").click()
        self.sim.read_lines(until="$F010000000")
        control(self.driver, "Step up").click()
        self.sim.read_lines(until="$F010100000")
        step.select_by_visible_text("10kHz")
        control(self.driver, "Step down").click()
        self.sim.read_lines(until="$F010099000")
        with self.connect() as script:
            self.assertEqual(ask(script, "FREQ:STEP?;:FREQ?"), "10000;100990000")
        # Saving asks first, naming the mode the device will start in.
        save, dialog = control(self.driver, "Save to flash"), self.driver.find_element(By.ID,
                                                                                      "save-dialog")
        save.click()
        wait_until(self.driver, dialog.is_displayed)
        self.assertEqual(self.driver.find_element(By.ID, "save-question").text,
                         "Save the device's settings to its flash? It will start in VFO mode.")
        control(self.driver, "Cancel").click()
        wait_until(self.driver, lambda: not dialog.is_displayed())
        with self.connect() as script:
            ask(script, "FREQ:MODE SWE;*OPC?")
        wait_until(self.driver, lambda: self.driver.find_element(By.ID, "save-mode").text ==
                   "Sweep")
        save.click()
        self.assertIn("It will start in Sweep mode.",
                      self.driver.find_element(By.ID, "save-question").text)
        control(self.driver, "Save").click()
        self.sim.read_lines(until="$S")
        self.assertEqual(self.sim.commands(),
                         ["$F010000000", "$F010100000", "$F010099000", "$S1"])
        self.assertIsNotNone(self.wait_for_log(" web $S1 <- *SAV 0"), self.server_log)

    def test_device_events_show_apart_from_the_pages_errors(self):
        self.open_page()
        errors, events = control(self.driver, "Errors"), control(self.driver, "Device events")
        control(self.driver, "Single sweep").click()  # refused: the output is off
        wait_until(self.driver, lambda: "-221" in errors.text)
        self.sim.taken_over()
        control(self.driver, "RF output").click()
        self.sim.read_lines(until="$F")
        with self.connect() as script:  # its R heard: the device went after it took it
            ask(script, "*OPC?")
        self.sim.stop()
        wait_until(self.driver, lambda: events.text.startswith("Device unreachable: "),
                   message="events: %r" % events.text)
        self.assertEqual(events.text, "Device unreachable: device gone")
        time.sleep(0.3)
        # (Its own command may have been late for its R on a starved machine:
        # that -240 is the page's.)
        self.assertEqual(errors.text.splitlines()[0], '-221,"Settings conflict;output off"')
        self.assertNotIn("device gone", errors.text, "the device's events are not the page's errors")
        self.restart_simulator()
        time.sleep(1.1)  # a port that went is tried at most once a second
        control(self.driver, "RF output").click()  # reaches it again
        wait_until(self.driver, lambda: "Device back" in events.text,
                   message="events: %r" % events.text)

    def test_a_foreign_page_gets_no_websocket(self):
        web_port = self.web_port

        class Foreign(http.server.BaseHTTPRequestHandler):
            timeout = 2  # the browser's spare connections send nothing

            def do_GET(self):
                body = ("<title>waiting</title><script>const s = new WebSocket("
                        "'ws://127.0.0.1:%d/ws'); s.onopen = () => document.title = 'open';"
                        "s.onclose = () => document.title = 'closed';</script>" % web_port)
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.end_headers()
                self.wfile.write(body.encode())

            def log_message(self, *args):
                pass

        foreign = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Foreign)
        threading.Thread(target=foreign.serve_forever, daemon=True).start()
        self.addCleanup(foreign.server_close)
        self.addCleanup(foreign.shutdown)
        self.driver.get("http://127.0.0.1:%d/" % foreign.server_port)
        wait_until(self.driver, lambda: self.driver.title != "waiting")
        self.assertEqual(self.driver.title, "closed")

    def test_a_rebound_name_gets_nothing(self):
        # The browser resolves the attacker's name to this machine, as after
        # a DNS rebinding; the request carries that name as Host.
        rebound = browser(800, 600, "--host-resolver-rules=MAP rebind.test 127.0.0.1")
        self.addCleanup(rebound.quit)
        rebound.get("http://rebind.test:%d/" % self.web_port)
        self.assertIn("421 Misdirected Request", rebound.find_element(By.TAG_NAME, "body").text)
        with socket.create_connection(("127.0.0.1", self.web_port), timeout=5) as raw:
            raw.sendall(b"GET /ws HTTP/1.1\r\nHost: rebind.test:%d\r\nOrigin: http://rebind.test:%d"
                        b"\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13"
                        b"\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"
                        % (self.web_port, self.web_port))
            self.assertTrue(raw.recv(100).startswith(b"HTTP/1.1 421 "))

    def test_lxi_identification_matches_idn(self):
        with urllib.request.urlopen("%slxi/identification" % self.url, timeout=5) as reply:
            self.assertEqual(reply.headers.get_content_type(), "text/xml")
            root = ElementTree.fromstring(reply.read())
        self.assertEqual(root.tag, LXI + "LXIDevice")
        with self.connect() as script:
            idn = ask(script, "*IDN?").split(",")
        self.assertEqual([root.findtext(LXI + name) for name in
                          ("Manufacturer", "Model", "SerialNumber", "FirmwareRevision")], idn)
        self.assertEqual([a.text for a in root.iter(LXI + "InstrumentAddressString")],
                         ["TCPIP::127.0.0.1::%d::SOCKET" % self.port])
        # And on the page, for people.
        self.open_page()
        wait_until(self.driver, lambda: self.driver.find_element(By.ID, "lxi-socket").text ==
                   "TCPIP::127.0.0.1::%d::SOCKET" % self.port)
        self.assertEqual(self.driver.find_element(By.ID, "lxi-model").text, idn[1])


class LanguagesTest(WebServerTest):
    """The page in the panel's three languages: the browser's first choice,
    switched on the page and kept by the browser; every text in each, the
    controls named in each, the instrument's data and strings unchanged."""

    CASES = (
        # Accept-Language, the page's language, and names as a screen reader finds them.
        ("zh-CN,zh;q=0.9,en;q=0.8", "zh-CN",
         ("射频频率 (MHz)", "射频 开/关", "步进", "步进+", "单次", "连续", "停止扫描",
          "保存到FLASH", "进度", "错误", "设备事件", "语言")),
        ("zh-TW,zh;q=0.9", "zh-TW",
         ("射頻頻率 (MHz)", "射頻開/關", "步進", "步進-", "單次", "連續", "停止掃描",
          "保存到FLASH", "進度", "錯誤", "設備事件", "語言")),
        ("de-DE,en;q=0.5", "en",
         ("RF frequency (MHz)", "RF output", "Tuning step", "Step up", "Single sweep",
          "Continuous sweep", "Stop sweep", "Save to flash", "Sweep progress", "Errors",
          "Device events", "Language")),
    )

    def whole_and_accessible(self, accept, tag, names):
        driver = browser(languages=accept)
        self.addCleanup(driver.quit)
        self.open_page(driver)
        self.assertEqual(driver.find_element(By.TAG_NAME, "html").get_attribute("lang"), tag)
        wrong, count = texts_shown(driver)
        self.assertEqual(wrong, [])
        self.assertGreaterEqual(count, 50)
        for name in names:
            control(driver, name)
        shown = driver.find_element(By.ID, "lxi-socket")
        wait_until(driver, lambda: shown.text == "TCPIP::127.0.0.1::%d::SOCKET" % self.port)
        self.assertEqual(driver.find_element(By.ID, "lxi-manufacturer").text, "TALMIR")
        self.assertEqual(axe_violations(driver), [], tag)

    def test_simplified_chinese_from_accept_language(self):
        self.whole_and_accessible(*self.CASES[0])

    def test_traditional_chinese_from_accept_language(self):
        self.whole_and_accessible(*self.CASES[1])

    def test_english_for_any_other(self):
        self.whole_and_accessible(*self.CASES[2])

    def test_a_choice_on_the_page_is_kept_by_the_browser(self):
        driver = browser(languages="zh-CN")
        self.addCleanup(driver.quit)
        self.open_page(driver)
        self.assertEqual(control(driver, "单次").text, "单次")
        Select(control(driver, "语言")).select_by_visible_text("繁体中文")
        self.assertEqual(control(driver, "單次").text, "單次")
        self.assertEqual(driver.find_element(By.ID, "link").text, "已連線")
        self.assertEqual(texts_shown(driver)[0], [])
        driver.refresh()
        wait_until(driver, lambda: driver.find_element(By.ID, "link").text == "已連線")
        self.assertEqual(driver.find_element(By.TAG_NAME, "html").get_attribute("lang"), "zh-TW")
        Select(control(driver, "語言")).select_by_visible_text("ENGLISH")
        self.assertEqual(driver.find_element(By.ID, "now-title").text, "Now")
        # Kept in this browser only: another starts from its Accept-Language.
        other = browser(languages="zh-CN")
        self.addCleanup(other.quit)
        other.get(self.url)
        self.assertEqual(other.find_element(By.ID, "now-title").text, "当前状态")


class TwoGeneratorsTest(WebServerTest):
    """One server for two simulators: the list names both, and each front
    panel reaches its own line alone."""

    server_args = ("--no-vxi11", "--port", "COM9", "--port", "COM8", "--http", "0")

    def start_server(self):
        self.sim2 = Simulator(self.env, com=8)
        self.addCleanup(self.sim2.stop)
        super().start_server()
        self.assertEqual(self.sim2.taken_over(), TAKEOVER)
        line = self.wait_for_log(", device COM8")
        self.assertIsNotNone(line, self.server_log)
        self.ports = [self.port, int(re.search(r"127\.0\.0\.1:(\d+)", line).group(1))]

    def test_list_and_each_panel_on_its_own_line(self):
        self.driver.get(self.url)
        wait_until(self.driver, lambda: self.driver.find_element(By.ID, "link").text == "Live",
                   message="the list's links did not open")
        self.assertEqual([h.text for h in self.driver.find_elements(By.CSS_SELECTOR, "main h2")],
                         ["COM9", "COM8", "Server"])
        for i in (0, 1):
            section = self.driver.find_element(By.CSS_SELECTOR,
                                               "section[data-live='/inst%d/ws']" % i)
            self.assertIn("TCPIP::127.0.0.1::%d::SOCKET" % self.ports[i], section.text)
        # A script on the second raw socket shows on the list, live.
        with socket.create_connection(("127.0.0.1", self.ports[1]), timeout=5) as script:
            self.assertEqual(ask(script, "OUTP ON;:FREQ 200 MHZ;*OPC?"), "1")
        rf = self.driver.find_element(By.ID, "inst1-rf")
        wait_until(self.driver, lambda: rf.text == "on", message="shows %r" % rf.text)
        self.assertEqual(self.driver.find_element(By.ID, "inst0-rf").text, "off")
        # The keyboard alone, from the list to the second one's panel.
        self.driver.find_element(By.LINK_TEXT, "Front panel of COM8").send_keys(Keys.ENTER)
        wait_until(self.driver, lambda: self.driver.current_url == self.url + "inst1/")
        wait_until(self.driver, lambda: self.driver.find_element(By.ID, "link").text == "Live")
        wait_until(self.driver, lambda: self.driver.title == "TALMIR-880 COM8")
        rf_field = control(self.driver, "RF frequency (MHz)")
        rf_field.clear()
        rf_field.send_keys("433.92", Keys.ENTER)
        self.sim2.read_lines(until="$F043392000")
        self.assertEqual(self.sim2.commands(), ["$F010000000", "$F020000000", "$F043392000"])
        self.assertEqual(self.sim.commands(), [])
        with self.connect() as first:
            self.assertEqual(ask(first, "FREQ?;:OUTP?"), "100000000;0")

    def test_the_list_on_a_phone_in_each_language(self):
        driver = browser(languages="zh-TW")
        self.addCleanup(driver.quit)
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 360, "height": 800, "deviceScaleFactor": 1,
                                "mobile": True})
        driver.get(self.url)
        wait_until(driver, lambda: driver.find_element(By.ID, "link").text == "已連線")
        self.assertEqual(driver.find_element(By.CSS_SELECTOR, "h1 .sub").text, "2 台射頻訊號產生器")
        self.assertEqual(driver.find_element(By.ID, "inst0-port").text, "串口打開")
        self.assertEqual(driver.find_element(By.LINK_TEXT, "COM8 的前面板").get_attribute("href"),
                         self.url + "inst1/")
        breaks = visa_breaks(driver)
        self.assertEqual([b[0] for b in breaks],
                         ["TCPIP::127.0.0.1::%d::SOCKET" % port for port in self.ports])
        for text, lines, whole_fields in breaks:
            self.assertGreater(lines, 1, "%s fits 360 pixels: nothing to see" % text)
            self.assertTrue(whole_fields, "%s broken inside a field" % text)
        for tag in ("zh-TW", "zh-CN", "en"):
            driver.execute_script("chooseLanguage(arguments[0])", tag)
            self.assertEqual(texts_shown(driver)[0], [], tag)
            self.assertEqual(axe_violations(driver), [], tag)


class WebSocketClient:
    """A page's WebSocket without a browser, for what no page of ours sends."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.ws = WSConnection(ConnectionType.CLIENT)
        host = "127.0.0.1:%d" % port
        self.socket.sendall(self.ws.send(Request(
            host=host, target="/ws", extra_headers=[(b"origin", b"http://" + host.encode())])))
        self.events = []
        self.read_until(AcceptConnection)

    def read_until(self, kind, timeout=5.0):
        """Events until one of `kind`; None when the server closed first."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for event in self.ws.events():
                self.events.append(event)
                if isinstance(event, kind):
                    return event
            try:
                data = self.socket.recv(65536)
            except ConnectionResetError:
                return None
            if not data:
                return None
            self.ws.receive_data(data)
        raise AssertionError("nothing of %s within %g s" % (kind.__name__, timeout))

    def send(self, text):
        self.socket.sendall(self.ws.send(TextMessage(data=text)))

    def send_until_closed(self, texts):
        """Sends each text until the server closes the connection, which
        it may do while they are still being written; how many went."""
        for sent, text in enumerate(texts):
            try:
                self.send(text)
            except (BrokenPipeError, ConnectionResetError):
                return sent
        return len(texts)

    def close(self):
        self.socket.close()


class BadClientTest(WebServerTest):
    """Each kind of bad client loses its own connection; the page beside it
    goes on."""

    def test_bad_clients_lose_only_their_own_connection(self):
        self.open_page()
        slow = socket.create_connection(("127.0.0.1", self.web_port), timeout=10)
        self.addCleanup(slow.close)
        slow.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % self.web_port)
        with socket.create_connection(("127.0.0.1", self.web_port), timeout=5) as bad:
            bad.sendall(b"GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n")
            self.assertTrue(bad.recv(100).startswith(b"HTTP/1.1 400 "))
        with socket.create_connection(("127.0.0.1", self.web_port), timeout=5) as big:
            big.sendall(b"GET / HTTP/1.1\r\nX: " + b"x" * 9000)
            self.assertTrue(big.recv(100).startswith(b"HTTP/1.1 431 "))

        long_frame = WebSocketClient(self.web_port)
        self.addCleanup(long_frame.close)
        long_frame.send("rf_mhz " + "1" * 1000)
        closed = long_frame.read_until(CloseConnection)
        self.assertTrue(closed is None or closed.code == 1009, closed)

        flood = WebSocketClient(self.web_port)
        self.addCleanup(flood.close)
        flood.send_until_closed(["points 100"] * 200)
        # The close frame may be lost to the reset of what was still being
        # sent; when it is read, it says why.
        closed = flood.read_until(CloseConnection)
        self.assertTrue(closed is None or closed.code == 1008, closed)

        ok = WebSocketClient(self.web_port)
        self.addCleanup(ok.close)
        ok.send("rf_on 1;:*RST")  # no action of the page's
        refused = ok.read_until(TextMessage)
        while '"refused"' not in refused.data:
            refused = ok.read_until(TextMessage)
        self.assertIn("not an action of this page", refused.data)

        # The page beside them still shows what a script does.
        with self.connect() as script:
            self.assertEqual(ask(script, "OUTP ON;:FREQ 250 MHZ;*OPC?"), "1")
        now = self.driver.find_element(By.ID, "rf-now")
        wait_until(self.driver, lambda: now.text == "250 MHz, output on")
        self.assertEqual(self.driver.find_element(By.ID, "link").text, "Live")
        # The slow one is closed once its request's time is up.
        slow.settimeout(8)
        self.assertEqual(slow.recv(100), b"")
        # Nothing of the bad clients reached the device.
        self.assertEqual(self.sim.commands(), ["$F010000000", "$F025000000"])


if __name__ == "__main__":
    unittest.main()
