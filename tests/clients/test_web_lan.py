"""The web page on a bench network: this machine with an address on a veth
pair, and a visitor's machine on its far end (a network namespace of its
own, private_network.Peer), whose browser is headless Chromium driven
through a chromedriver there. What a remote visitor may do and is offered,
what this machine may do through its own LAN address, and the LXI
identification as each of them reads it. The module runs in namespaces of
its own; needs root and unshare(1)."""

import os

from private_network import Peer, loopback, run_inside, wait_until

INSIDE = "TALMIR880_WEB_LAN_NAMESPACE"
REFUSED = run_inside(INSIDE)

import re  # noqa: E402
import shutil  # noqa: E402
import subprocess  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402
import unittest  # noqa: E402
import urllib.request  # noqa: E402
import xml.etree.ElementTree as ElementTree  # noqa: E402

from selenium import webdriver  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

from server_fixture import end_process  # noqa: E402
from test_web import (LXI, WebServerTest, axe_violations, browser_options,  # noqa: E402
                      control, wait_until as wait_in)

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "lxi",
                      "LXIIdentification.xsd")
PEER = None
DRIVER = None  # chromedriver on the peer
DRIVER_PORT = 9515  # the peer's own namespace: nothing else listens there


def setUpModule():
    if REFUSED is not None or os.getpid() != 1:
        raise RuntimeError("these tests need root and unshare(1): they run in namespaces of "
                           "their own, with a peer across a veth pair")
    loopback()
    global PEER, DRIVER
    PEER = Peer()
    unittest.addModuleCleanup(PEER.close)
    DRIVER = PEER.popen(["/usr/bin/chromedriver", "--port=%d" % DRIVER_PORT,
                         "--allowed-ips=" + PEER.here], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL)
    unittest.addModuleCleanup(end_process, DRIVER)
    if not wait_until(lambda: PEER.reachable(DRIVER_PORT), 10):
        raise RuntimeError("chromedriver did not start on the peer")


def remote_browser(width=1200, height=900):
    """Chromium on the peer: its requests come from the peer's address."""
    driver = webdriver.Remote(command_executor="http://%s:%d" % (PEER.there, DRIVER_PORT),
                              options=browser_options(width, height))
    driver.set_page_load_timeout(10)
    driver.set_script_timeout(30)
    return driver


def fetched_on_peer(url):
    """What curl on the peer gets."""
    return PEER.run(["curl", "-sf", "--max-time", "5", url], stdout=subprocess.PIPE).stdout


def valid(document):
    """xmllint's verdict on a document against the LXI schema: None when valid."""
    run = subprocess.run(["xmllint", "--noout", "--schema", SCHEMA, "-"], input=document,
                         capture_output=True, timeout=10)
    return None if run.returncode == 0 else run.stderr.decode()


class LanTest(WebServerTest):
    """A server whose page listens everywhere, its other faces as each test
    asks; the fixture's browser is this machine's, `self.remote` the
    peer's."""

    PASSWORD = "correct horse"
    faces = ("--no-vxi11",)

    def setUp(self):
        self.server_args = self.faces + ("--http", "0.0.0.0:0")
        if "with_the_password" in self._testMethodName:
            folder = tempfile.mkdtemp(prefix="talmir880-web-")
            self.addCleanup(shutil.rmtree, folder, True)
            with open(os.path.join(folder, "password"), "w") as file:
                file.write(self.PASSWORD + "\n")
            os.chmod(os.path.join(folder, "password"), 0o600)
            self.server_args += ("--http-password-file", os.path.join(folder, "password"))
        super().setUp()
        self.url = "http://%s:%d/" % (PEER.here, self.web_port)
        self.remote = remote_browser()
        self.addCleanup(self.remote.quit)

    def try_to_switch_on(self, driver):
        """What the page's own script could send, disabled controls or not:
        the server's answer."""
        return driver.execute_async_script(
            "const done = arguments[0]; const s = new WebSocket('ws://' + location.host + '/ws');"
            "s.onmessage = (e) => { const m = JSON.parse(e.data);"
            "  if (m.type === 'state') s.send('rf_on 1'); else { done(m.text); s.close(); } };")


class RemoteVisitorTest(LanTest):

    def test_without_password_the_page_is_read_only_and_looks_it_in_each_language(self):
        self.assertIn("web page: visitors from other machines see it read-only",
                      "\n".join(self.server_log))
        self.open_page(self.remote)
        self.assertFalse(control(self.remote, "RF output").is_enabled())
        self.assertIn("Read-only", self.remote.find_element(By.ID, "access").text)
        self.assertEqual(self.try_to_switch_on(self.remote),
                         "read-only: only this machine may change settings")
        # Every control alike, "Stop sweep" too; none as they look live.
        looks = self.remote.execute_script(
            "return [...document.querySelectorAll('#controls button, #controls select,"
            " #controls input:not([type=checkbox])')].map((e) => { const s = getComputedStyle(e);"
            " return [e.id, e.matches(':disabled'), s.backgroundColor, s.color, s.borderStyle, s.cursor]; });")
        self.assertGreater(len(looks), 12)
        self.assertEqual({tuple(look[1:]) for look in looks},
                         {(True, "rgb(236, 238, 241)", "rgb(77, 85, 96)", "dashed", "not-allowed")},
                         looks)
        for tag, name in (("zh-CN", "简体中文"), ("zh-TW", "繁体中文"), ("en", "ENGLISH")):
            Select(self.remote.find_element(By.ID, "language")).select_by_visible_text(name)
            self.assertEqual(axe_violations(self.remote), [], "read-only, " + tag)
        time.sleep(0.3)
        self.assertEqual(self.sim.commands(), [])

    def test_with_the_password_a_session_controls(self):
        self.open_page(self.remote)
        self.assertFalse(control(self.remote, "RF output").is_enabled())
        password = self.remote.find_element(By.ID, "password")
        password.send_keys("wrong", Keys.ENTER)
        errors = control(self.remote, "Errors")
        wait_in(self.remote, lambda: "login refused" in errors.text)
        self.assertTrue(self.try_to_switch_on(self.remote).startswith("read-only"))
        time.sleep(1.1)  # a wrong password pauses logins for a second
        password.send_keys(self.PASSWORD, Keys.ENTER)
        rf_output = control(self.remote, "RF output")
        wait_in(self.remote, rf_output.is_enabled, message="no session after the login")
        self.assertEqual(self.remote.current_url, self.url, "the password is in no URL")
        [cookie] = self.remote.get_cookies()
        self.assertTrue(cookie["httpOnly"])
        self.assertEqual(cookie["sameSite"], "Strict")
        rf_output.click()
        self.sim.read_lines(until="$F")
        [command] = self.sim.commands()
        self.assertRegex(command, r"^\$F\d{9}$")
        self.assertNotEqual(command, "$F000000001")


class ThisMachineTest(LanTest):

    def test_this_machine_through_its_own_lan_address_may_control(self):
        self.open_page()  # this machine's browser, at http://10.99.2.1:port/
        self.assertTrue(self.driver.find_element(By.ID, "access").get_attribute("hidden"))
        rf_output = control(self.driver, "RF output")
        self.assertTrue(rf_output.is_enabled())
        rf_output.click()
        self.sim.read_lines(until="$F")
        self.assertEqual(self.sim.commands(), ["$F010000000"])


class HonestAddressesTest(LanTest):
    """Each visitor is offered only what reaches the server from where it
    is; every document valid against the LXI schema."""

    def document(self, text):
        self.assertIsNone(valid(text.encode()))
        return ElementTree.fromstring(text)

    def test_a_loopback_face_is_this_machine_only_for_a_remote_visitor(self):
        path = "lxi/identification"
        remote = self.document(fetched_on_peer(self.url + path).decode())
        self.assertEqual([a.text for a in remote.iter(LXI + "InstrumentAddressString")], [])
        [interface] = remote.iter(LXI + "Interface")
        self.assertEqual(interface.get("InterfaceName"), "bench0")
        self.assertEqual([interface.findtext(LXI + f) for f in
                          ("IPAddress", "SubnetMask", "MACAddress", "Gateway", "DHCPEnabled",
                           "AutoIPEnabled")],
                         [PEER.here, "255.255.255.0", Peer.MAC, PEER.there, "false", "false"])
        self.assertEqual([e.text for e in remote.iter("{urn:talmir880:lxi}ThisMachineOnly")],
                         ["SOCKET"])
        self.assertNotIn(b"127.0.0.1", fetched_on_peer(self.url + path))
        self.open_page(self.remote)
        shown = self.remote.find_element(By.ID, "lxi-socket")
        wait_in(self.remote, lambda: shown.text == "this machine only")
        self.assertEqual(self.remote.find_element(By.ID, "lxi-ip").text, PEER.here)
        self.assertEqual(self.remote.find_element(By.ID, "lxi-mac").text, Peer.MAC)
        self.assertNotIn("127.0.0.1", self.remote.find_element(By.TAG_NAME, "body").text)
        # This machine, at the same address, can use loopback.
        with urllib.request.urlopen(self.url + path, timeout=5) as reply:
            here = self.document(reply.read().decode())
        self.assertEqual([a.text for a in here.iter(LXI + "InstrumentAddressString")],
                         ["TCPIP::127.0.0.1::%d::SOCKET" % self.port])
        self.assertEqual(here.findtext(LXI + "Interface/" + LXI + "IPAddress"), "127.0.0.1")

    def test_a_face_on_every_interface_is_offered_at_the_address_reached(self):
        self.stop_server()  # the port is the next one's
        process, log, reader = self.run_server(
            self.env, "--listen", "0.0.0.0:0", "--no-vxi11", "--http", "0.0.0.0:0")
        listening = self.wait_for_log("web page on", log=log, reader=reader)
        raw = int(re.search(r"listening on 0\.0\.0\.0:(\d+)", "\n".join(log)).group(1))
        web = int(re.search(r":(\d+)/$", listening).group(1))
        url = "http://%s:%d/" % (PEER.here, web)
        remote = self.document(fetched_on_peer(url + "inst0/lxi/identification").decode())
        self.assertEqual([a.text for a in remote.iter(LXI + "InstrumentAddressString")],
                         ["TCPIP::%s::%d::SOCKET" % (PEER.here, raw)])
        self.assertEqual(list(remote.iter("{urn:talmir880:lxi}ThisMachineOnly")), [])
        self.remote.get(url)
        shown = self.remote.find_element(By.ID, "lxi-socket")
        wait_in(self.remote, lambda: shown.text == "TCPIP::%s::%d::SOCKET" % (PEER.here, raw))
        # The path takes the generator's name in any case, as VXI-11 does.
        self.assertIn(b"<SerialNumber>COM9</SerialNumber>",
                      fetched_on_peer(url + "INST0/lxi/identification"))
        self.stop_server(process, reader)


if __name__ == "__main__":
    unittest.main()
