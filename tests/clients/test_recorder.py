"""The page's SCPI strip and its recorder in headless Chromium: a session of
page actions recorded, its three exports taken from the page as a user
downloads them, and the two Python scripts run against a fresh server on a
fresh simulator, whose device must receive what the recorded session's did."""

import os
import subprocess
import sys
import time

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from server_fixture import TAKEOVER
from test_web import (CHROMEDRIVER, WebServerTest, axe_violations, browser_options, control,
                      wait_until)


class RecorderTest(WebServerTest):

    def set_field(self, name, value):
        field = control(self.driver, name)
        field.clear()
        field.send_keys(value, Keys.ENTER)

    def strip(self):
        # Read at once: each line that runs redraws the list.
        return self.driver.execute_script(
            "return [...document.querySelectorAll('#scpi li')].map((li) => li.innerText);")

    def wait_for_strip(self, count):
        wait_until(self.driver, lambda: len(self.strip()) >= count, timeout=10,
                   message="the strip shows %r" % self.strip())

    def setUp(self):
        super().setUp()
        # A browser that downloads into a folder of the test's.
        self.driver.quit()
        self.downloads = os.path.join(self.runtime, "downloads")
        os.mkdir(self.downloads)
        options = browser_options()
        options.add_experimental_option("prefs", {"download.default_directory": self.downloads,
                                                  "download.prompt_for_download": False,
                                                  "safebrowsing.enabled": True})
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.addCleanup(self.driver.quit)

    def export(self, link_id):
        """A download's text, as a user gets it by clicking its link."""
        link = self.driver.find_element(By.ID, link_id)
        path = os.path.join(self.downloads, link.get_attribute("download"))
        link.click()
        try:
            wait_until(self.driver, lambda: os.path.exists(path))
        except TimeoutException:
            self.fail("no %s: %r" % (path, os.listdir(self.downloads)))
        with open(path) as file:
            return file.read()

    def replay(self, script, resource):
        """Runs a script against a fresh server on a fresh simulator; the
        commands that device received after the switch-off of its takeover."""
        self.stop_server()
        self.restart_simulator()
        self.start_server()
        self.assertIn(resource, script, "the script reaches the server as the page did")
        path = os.path.join(self.runtime, "session.py")
        with open(path, "w") as file:
            file.write(script.replace(resource, self.resource))
        run = subprocess.run([sys.executable, path], env=self.env, capture_output=True, text=True,
                             timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        # The last command's R may still be on its way.
        time.sleep(0.2)
        return self.sim.commands()

    def test_a_recorded_session_replays_the_same_commands(self):
        self.open_page()
        self.driver.find_element(By.CSS_SELECTOR, "#scpi-strip summary").click()
        self.assertEqual(control(self.driver, "SCPI of this page's actions").aria_role, "log")
        control(self.driver, "Record").click()
        Select(control(self.driver, "Level (dBm)")).select_by_value("-9")
        self.wait_for_strip(1)
        control(self.driver, "RF output").click()
        self.wait_for_strip(2)
        self.set_field("RF frequency (MHz)", "433.92")
        self.wait_for_strip(3)
        control(self.driver, "Step up").click()
        self.wait_for_strip(4)
        # Refused: shown with its error, and no part of the recording.
        self.set_field("RF frequency (MHz)", "20000")
        self.wait_for_strip(5)
        for name, value in (("Sweep start (MHz)", "100"), ("Sweep stop (MHz)", "101"),
                            ("Sweep points", "20")):
            self.set_field(name, value)
        self.wait_for_strip(8)
        control(self.driver, "Single sweep").click()
        self.wait_for_strip(9)
        self.sim.read_lines(until="$W")
        # As a user does, the pass is waited for before the output goes off.
        pass_now = self.driver.find_element(By.ID, "pass-now")
        wait_until(self.driver, lambda: pass_now.text == "No pass running", timeout=10,
                   message="the pass shows %r" % pass_now.text)
        control(self.driver, "RF output").click()
        self.wait_for_strip(10)
        self.sim.read_lines(until="$F000000001")
        recorded = self.sim.commands()
        self.assertEqual(self.strip()[4],
                         'FREQ 20000 MHZ;:FREQ:MODE CW \u2192 -222,"Data out of range"')
        self.assertEqual(self.strip()[0], "POW -9 \u2192 done")
        self.assertEqual(axe_violations(self.driver), [], "the strip open")
        control(self.driver, "Stop").click()
        self.assertEqual(self.driver.find_element(By.ID, "recording").text, "9 actions recorded")

        self.assertEqual(self.export("export-scpi").splitlines(), [
            "POW -9", "OUTP ON", "FREQ 433.92 MHZ;:FREQ:MODE CW", "FREQ UP;:FREQ:MODE CW",
            "FREQ:STAR 100 MHZ", "FREQ:STOP 101 MHZ", "SWE:POIN 20", "FREQ:MODE SWE;:INIT",
            "OUTP OFF"])
        pyvisa_script, pymeasure_script = (self.export("export-pyvisa"),
                                           self.export("export-pymeasure"))
        self.assertIn("gen.power = -9\ngen.output_enabled = True\n", pymeasure_script)
        page_resource = self.resource
        self.assertTrue(any(c.startswith("$W") for c in recorded), recorded)
        self.assertEqual(recorded[-1], TAKEOVER[0], recorded)
        self.assertEqual(self.replay(pyvisa_script, page_resource), recorded)
        self.assertEqual(self.replay(pymeasure_script, page_resource), recorded)
