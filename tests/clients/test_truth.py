"""One story from every face while the line fails, one case per fault: the
script's queries (pyvisa, raw sockets), the web page and the list page in
headless Chromium, beside the simulator and Debian's ser2net. No face may say
"off" while the device's last command may have left it on, and nothing the
server writes may land in a pass the device may still run."""

import os
import re
import signal
import subprocess
import threading
import time
import unittest

import pyvisa
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from server_fixture import TAKEOVER, Simulator, ask, end_process, read_line
from test_ser2net import Ser2netRig, free_port
from test_web import WebServerTest, browser, control, wait_until

NO_ACKNOWLEDGE = '-240,"Hardware error;no acknowledge"'
LINK_LOST = '-241,"Hardware missing;network link lost"'
# What OUTP? answers and the class a Now line has, for each state an output
# is shown in.
SAYS = {"on": ("1", "on"), "off": ("0", "off"), "not confirmed": ("1", "bad")}
NOT_CONFIRMED = 1024  # STATus:QUEStionable
BAUD = 57600

# Keeps every text the Now lines show from here on, for the test to read.
RECORD_NOW = """
window.nowSeen = {};
for (const id of ["rf-now", "mod-now"]) {
  const element = document.getElementById(id);
  const seen = window.nowSeen[id] = [element.textContent];
  new MutationObserver(() => {
    if (seen[seen.length - 1] !== element.textContent) seen.push(element.textContent);
  }).observe(element, {childList: true, characterData: true, subtree: true});
}
"""


def once_each(commands):
    """The commands, a switch-off written again right after it (its R was
    late: under load it may be) counted once."""
    return [c for i, c in enumerate(commands)
            if i == 0 or c != commands[i - 1] or c not in TAKEOVER]


def now_text(form, shown):
    """A Now line's text: an output not confirmed has no known frequency."""
    return form.split(", ")[1] % shown[1] if shown[1] == "not confirmed" else form % shown


def pass_seconds(points):
    """How long the device sweeps a pass at the line's rate: 4 characters a point."""
    return points * 4 * 10 / BAUD


class Faces:
    """A script (pyvisa), the generator's page and, where the server lists
    several, the list page: what each says of the RF output and the
    modulation."""

    page_path = ""
    listed = None  # the generator's number on the list page

    def open_faces(self):
        manager = pyvisa.ResourceManager("@py")
        self.addCleanup(manager.close)
        self.script = manager.open_resource(self.resource, read_termination="\n",
                                            write_termination="\n", timeout=5000)
        self.driver.get(self.url + self.page_path)
        now = self.driver.find_element(By.ID, "rf-now")
        wait_until(self.driver, lambda: now.text not in ("", "–"), message="no state came")
        self.driver.execute_script(RECORD_NOW)
        if self.listed is not None:
            self.list_driver = browser()
            self.addCleanup(self.list_driver.quit)
            self.list_driver.get(self.url)

    def assert_went(self, now_id, *texts):
        """From the first of the texts on, the Now line showed only these,
        the last one last, and "off" nowhere before it. Between the others
        it may go back and forth, as an R comes late."""
        seen = self.driver.execute_script("return window.nowSeen[arguments[0]]", now_id)
        went = seen[seen.index(texts[0]):] if texts[0] in seen else []
        self.assertEqual((set(went), went[-1:], [t for t in went[:-1] if t.endswith("off")]),
                         (set(texts), [texts[-1]], []), seen)

    def assert_story(self, rf, mod):
        """Every face tells the same of the RF output, `rf` (MHz, state), and
        of the modulation, `mod` (kHz, state), each state a key of SAYS."""
        for now_id, text, state in (("rf-now", now_text("%s MHz, output %s", rf), rf[1]),
                                    ("mod-now", now_text("%s kHz, %s", mod), mod[1])):
            now = self.driver.find_element(By.ID, now_id)
            wait_until(self.driver, lambda: now.text == text,
                       message="#%s is not %r" % (now_id, text))
            self.assertEqual(now.get_attribute("class"), SAYS[state][1], now_id)
        self.assertEqual([control(self.driver, name).is_selected()
                          for name in ("RF output", "Modulation")],
                         [rf[1] != "off", mod[1] != "off"], "the switches are what OUTP? answers")
        outp, outp_mod, questionable = self.script.query(
            "OUTP?;:OUTP:MOD?;:STAT:QUES:COND?").split(";")
        self.assertEqual([outp, outp_mod], [SAYS[rf[1]][0], SAYS[mod[1]][0]])
        self.assertEqual(bool(int(questionable) & NOT_CONFIRMED),
                         "not confirmed" in (rf[1], mod[1]))
        if self.listed is not None:
            listed = self.list_driver.find_element(By.ID, "inst%d-rf" % self.listed)
            wait_until(self.list_driver, lambda: listed.text == rf[1],
                       message="the list page does not say %r" % rf[1])
            self.assertEqual(listed.get_attribute("class"), SAYS[rf[1]][1])

    def switch_on(self):
        """RF on at 433.92 MHz, modulated at 1 kHz, acknowledged."""
        self.script.write("FREQ 433.92 MHZ;:OUTP ON;:OUTP:MOD ON")
        self.assertEqual(self.script.query("*OPC?"), "1")
        self.assertEqual(self.sim.commands(), ["$F043392000", "$M0001000"])
        self.assert_story(("433.92", "on"), ("1", "on"))
        self.script.write("*CLS")  # a late R's -240 is not the case's


class BesideTheSimulator(Faces, WebServerTest):
    """The server on the simulator, with its page."""

    server_args = WebServerTest.server_args + ("--log-commands",)
    # The device's faults, by case.
    SIM_ARGS = {
        # Pulled on the fourth command: the switch-off after the server's own
        # two and the switch-on.
        "test_2_a_pulled_adapter_takes_the_switch_off_with_it": ("--vanish-after", "4"),
        "test_4_a_device_that_takes_commands_without_r": ("--silent",),
    }

    def setUp(self):
        self.sim_args = self.SIM_ARGS.get(self._testMethodName, ())
        self.reached_at_start = "--silent" not in self.sim_args
        super().setUp()
        self.open_faces()

    def test_1_a_stalled_device_keeps_its_output_on(self):
        self.switch_on()
        pid = self.sim.process.pid
        os.kill(pid, signal.SIGSTOP)
        self.addCleanup(os.kill, pid, signal.SIGCONT)
        self.assertEqual(self.script.query("OUTP OFF;*OPC?"), "1")
        self.assertEqual(self.script.query("SYST:ERR?"), NO_ACKNOWLEDGE)
        self.assert_story(("433.92", "not confirmed"), ("1", "on"))
        # Written again by itself until the device answers.
        self.assertIsNotNone(self.wait_for_log(
            "server $F000000001 <- switch-off: a switch-off went unanswered"), self.server_log)
        self.assertIsNotNone(
            self.wait_for_log("RF off again: a switch-off went unanswered"))
        self.assert_story(("433.92", "not confirmed"), ("1", "on"))
        os.kill(pid, signal.SIGCONT)
        self.sim.read_lines(until="$F000000001")
        self.assert_story(("433.92", "off"), ("1", "on"))
        self.assertEqual(set(self.sim.commands()[2:]), {"$F000000001"})
        self.assert_went("rf-now", "433.92 MHz, output on", "output not confirmed",
                         "433.92 MHz, output off")

    def test_2_a_pulled_adapter_takes_the_switch_off_with_it(self):
        self.script.write("FREQ 433.92 MHZ;:OUTP ON")
        self.assertEqual(self.script.query("*OPC?"), "1")
        self.sim.read_lines(until="$F043392000")
        self.assertEqual(self.sim.commands(), ["$F043392000"])
        self.assert_story(("433.92", "on"), ("1", "off"))
        self.assertEqual(self.script.query("OUTP OFF;*OPC?"), "1")
        self.sim.read_lines(until="VANISHED")
        self.assertRegex(self.script.query("SYST:ERR:ALL?"),
                         r'^-241,"Hardware missing;device gone"')
        self.assert_story(("433.92", "not confirmed"), ("1", "not confirmed"))
        # Gone, then absent when the server tries it again.
        self.assertIn(self.driver.find_element(By.ID, "port-now").text, ("gone", "absent"))
        self.assert_went("rf-now", "433.92 MHz, output on", "output not confirmed")

    def test_4_a_device_that_takes_commands_without_r(self):
        # It takes the server's switch-off, and no R ever says so.
        self.sim.read_lines(until=TAKEOVER[-1])
        self.assert_story(("100", "not confirmed"), ("1", "not confirmed"))
        field = control(self.driver, "RF frequency (MHz)")
        field.clear()
        field.send_keys("123", Keys.ENTER)
        wait_until(self.driver, lambda: self.script.query("FREQ?") == "123000000")
        # Each command waits for the switch-offs owed to go ahead of it.
        self.script.write("OUTP ON")
        self.sim.read_lines(until="$F012300000", timeout=10)
        self.assertEqual(self.script.query("*OPC?;:SYST:ERR?"), "1;" + NO_ACKNOWLEDGE)
        self.assert_story(("100", "not confirmed"), ("1", "not confirmed"))
        # The page's own switch-off, taken without R either.
        control(self.driver, "RF output").click()
        errors = control(self.driver, "Errors")
        wait_until(self.driver, lambda: "no acknowledge" in errors.text, timeout=10,
                   message="the page's switch-off: %r" % errors.text)
        self.assert_story(("100", "not confirmed"), ("1", "not confirmed"))
        commands = self.sim.commands()
        after = commands[commands.index("$F012300000") + 1:]
        self.assertIn("$F000000001", after)
        self.assertEqual(commands.count("$F012300000"), 1, "a lost switch-on is never repeated")
        self.assert_went("rf-now", "output not confirmed")
        self.assert_went("mod-now", "not confirmed")

    def test_5_the_fields_are_the_instruments_settings(self):
        field = control(self.driver, "RF frequency (MHz)")
        field.clear()
        field.send_keys("777.7", Keys.ENTER, Keys.TAB)
        wait_until(self.driver, lambda: self.script.query("FREQ?") == "777700000")
        self.assertNotEqual(self.driver.switch_to.active_element, field)
        # Another client's change leaves the field as the instrument holds it.
        with self.connect() as other:
            self.assertEqual(ask(other, "POW -6;*OPC?"), "1")
        level = self.driver.find_element(By.ID, "level-now")
        wait_until(self.driver, lambda: level.text == "-6 dBm")
        self.assertEqual(field.get_attribute("value"), "777.7")
        self.script.write("OUTP ON")
        self.assert_story(("777.7", "on"), ("1", "off"))
        # Kept while off, shown as what a switch-on or a pass will send.
        self.script.write("OUTP OFF;:FREQ 433.92 MHZ;:LFO:FREQ 2.5 KHZ;:FREQ:STAR 200 MHZ")
        self.assertEqual(self.script.query("*OPC?"), "1")
        for name, value in (("RF frequency (MHz)", "433.92"), ("Modulation frequency (kHz)", "2.5"),
                            ("Sweep start (MHz)", "200")):
            shown = control(self.driver, name)
            wait_until(self.driver, lambda: shown.get_attribute("value") == value,
                       message="%s shows %r" % (name, shown.get_attribute("value")))
        self.assert_story(("777.7", "off"), ("1", "off"))
        self.assertEqual(self.sim.commands(), ["$P2", "$F077770000", "$F000000001"])


class ThroughSer2net(Faces, Ser2netRig, WebServerTest):
    """The generator through ser2net as the server's first of two, so that
    the list page shows it too; COM8's simulator is the second."""

    more_server_args = ("--http", "0", "--log-commands", "--port", "COM8")
    page_path = "inst0/"
    listed = 0

    def start_server(self):
        self.sim2 = Simulator(self.env, com=8)
        self.addCleanup(self.sim2.stop)
        super().start_server()
        self.assertEqual(self.sim2.taken_over(), TAKEOVER)

    def setUp(self):
        super().setUp()
        self.assertEqual(self.sim.taken_over(), TAKEOVER)
        self.open_faces()

    def lose_link(self):
        mark = len(self.server_log)
        self.stop_ser2net()
        self.assertIsNotNone(self.wait_for_log("network link lost", since=mark), self.server_log)
        return len(self.server_log)

    def back(self, mark):
        """ser2net again: the server switches the device off by itself."""
        self.start_ser2net()
        for text in ("RF and modulation off: the device is back",
                     "server $F000000001 <- switch-off: the device is back"):
            self.assertIsNotNone(self.wait_for_log(text, since=mark, timeout=10), self.server_log)

    def test_2_a_switch_off_into_a_lost_link(self):
        self.switch_on()
        self.lose_link()
        self.assertEqual(self.script.query("OUTP OFF;*OPC?"), "1")
        self.assertEqual(self.script.query("SYST:ERR:ALL?"), ",".join([LINK_LOST] * 2))
        self.assert_story(("433.92", "not confirmed"), ("1", "not confirmed"))
        # Gone, then absent when the server tries it again.
        self.assertIn(self.driver.find_element(By.ID, "port-now").text, ("gone", "absent"))
        self.assertEqual(self.sim.commands(), ["$F043392000", "$M0001000"], "nothing since")

    def test_3_back_it_is_switched_off_before_any_face_says_off(self):
        self.switch_on()
        mark = self.lose_link()
        self.assert_story(("433.92", "not confirmed"), ("1", "not confirmed"))
        self.back(mark)
        self.assertEqual(self.sim.taken_over(), TAKEOVER)
        self.assert_story(("433.92", "off"), ("1", "off"))
        self.assert_went("rf-now", "433.92 MHz, output on", "output not confirmed",
                         "433.92 MHz, output off")
        self.assert_went("mod-now", "1 kHz, on", "not confirmed", "1 kHz, off")

    def test_6_repeated_passes_the_link_cut_off(self):
        self.script.write("OUTP ON;:FREQ:STAR 100 MHZ;STOP 110 MHZ;:SWE:POIN 1000;"
                          ":FREQ:MODE SWE;:INIT:CONT ON")
        self.sim.read_lines(until="SWEEP DONE")
        self.sim.read_lines(until="$W")  # the next pass of the repetition
        self.assertEqual(self.script.query("INIT:CONT?"), "1")
        pass_now = self.driver.find_element(By.ID, "pass-now")

        def assert_passes_story(state):
            self.assert_story(("100", state), ("1", state))
            self.assertEqual(self.script.query("INIT:CONT?"), "0")
            wait_until(self.driver, lambda: pass_now.text == "No pass running",
                       message="the page says %r" % pass_now.text)

        mark = self.lose_link()
        assert_passes_story("not confirmed")
        self.back(mark)
        self.sim.read_lines(until=TAKEOVER[-1])
        assert_passes_story("off")
        # The pass the link cut off ran to its end, and the switch-off came after.
        lines = self.sim.lines
        last = max(i for i, line in enumerate(lines) if line.startswith("$W"))
        self.assertEqual(once_each([line.split()[0] for line in lines[last + 1:]]),
                         ["SWEEP", *TAKEOVER], lines)

    def test_7_a_pass_the_link_cut_off_under_load(self):
        points = 5000
        self.script.write("OUTP ON;:FREQ:STAR 100 MHZ;STOP 500 MHZ;:SWE:POIN %d;"
                          ":FREQ:MODE SWE;:INIT" % points)
        stamped = []  # (time read, line) of each line the simulator printed

        def read_until(prefix, timeout):
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                lines = self.sim.read_lines()
                stamped.extend((time.monotonic(), line) for line in lines[len(stamped):])
                if any(line.startswith(prefix) for _, line in stamped):
                    return
                time.sleep(0.005)
            self.fail("no %s within %g s: %s" % (prefix, timeout, stamped))

        read_until("$W", 5)
        # Load: commands queued behind the pass, and a client asking all along.
        queued = self.connect()
        self.addCleanup(queued.close)
        queued.sendall(b"LFO:FREQ 9.1 KHZ;:OUTP:MOD ON\n*RST\nPOW -6\n")
        done = threading.Event()
        answers = []

        def ask_all_along():
            with self.connect() as asker:
                while not done.is_set():
                    answers.append(ask(asker, "FREQ?;:SYST:ERR?"))

        asker = threading.Thread(target=ask_all_along, daemon=True)
        asker.start()
        self.addCleanup(asker.join, 5)
        self.addCleanup(done.set)
        mark = self.lose_link()
        self.start_ser2net()
        read_until("$P2", 15)
        done.set()
        self.assertIsNotNone(self.wait_for_log(
            "server $F000000001 <- switch-off: the device is back", since=mark), self.server_log)
        lines = [line for _, line in stamped]
        began = next(i for i, line in enumerate(lines) if line.startswith("$W"))
        ended = lines.index("SWEEP DONE points=%d" % points)
        self.assertEqual([line for line in lines[began + 1:ended] if line.startswith("$")], [],
                         "nothing is written into the running pass")
        said = ["%.3f %s" % (t - stamped[0][0], line) for t, line in stamped] + self.server_log
        self.assertEqual(once_each([line.split()[0] for line in lines[ended + 1:]]),
                         [*TAKEOVER, "$M0009100", *TAKEOVER, "$P3", "$P2"], "\n".join(said))
        # Not before the pass must have ended: each line is read at most a
        # poll after the simulator printed it.
        self.assertGreater(stamped[ended + 1][0] - stamped[began][0],
                           pass_seconds(points) - 0.25, stamped)
        self.assertTrue(answers)

    def test_8_a_link_that_accepts_and_closes_is_tried_once_a_second(self):
        mark = len(self.server_log)
        self.stop_ser2net()
        # ser2net without its device, behind socat, which logs each connection.
        device_port = free_port()
        with open(self.config) as f:
            config = f.read()
        with open(self.config, "w") as f:
            f.write(re.sub(r"serialdev,[^,]+,", "serialdev,%s," % os.path.join(
                self.runtime, "no-such-tty"), config.replace(
                    "tcp,127.0.0.1,%d" % self.relay_port, "tcp,127.0.0.1,%d" % device_port)))
        self.start_ser2net(device_port)
        relay_log = os.path.join(self.runtime, "socat.log")
        with open(relay_log, "w") as log:
            relay = subprocess.Popen(
                ["socat", "-d", "-d", "TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" %
                 self.relay_port, "TCP:127.0.0.1:%d" % device_port], stderr=log)
        self.addCleanup(end_process, relay)
        start = time.monotonic()
        with self.connect() as script:
            script.sendall(b"POW -6\n" * 200 + b"*OPC?\n")
            self.assertEqual(read_line(script), "1")
            while time.monotonic() - start < 3:
                self.assertEqual(ask(script, "POW -6;*OPC?"), "1")
            self.assertIn(LINK_LOST, ask(script, "SYST:ERR?"))
        end_process(relay)
        elapsed = time.monotonic() - start
        with open(relay_log) as log:
            tries = log.read().count("accepting connection")
        self.assertGreaterEqual(tries, 1, "the link is tried again")
        self.assertLessEqual(tries, elapsed + 2, "at most about once a second")
        journal = self.server_log[mark:]
        self.assertEqual(len([line for line in journal if "network link lost" in line]), 1, journal)
        self.assertEqual([line for line in journal if "device back" in line], [],
                         "what ser2net says of its device is not the device")
        self.assertEqual(self.sim.commands(), [])


if __name__ == "__main__":
    unittest.main()
