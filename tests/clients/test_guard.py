"""What the network faces refuse before a line runs: a web request, sent by
curl or by a page in a real browser, to the server and to the panel; and
peers outside --allow, in a network namespace with addresses of its own."""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from server_fixture import SERVER, TAKEOVER, ServerTest, Simulator, ask

PANEL = os.environ.get("TALMIR880_PANEL")
CLOSED = "closed a connection from 127.0.0.1: it sent HTTP, and no line of a web request runs"

# The form any page can post to a port on this machine: text/plain sends the
# field as written, so each of its lines would be a command.
FORM = """<!DOCTYPE html>
<html><body>
<form id="f" method="POST" enctype="text/plain" action="http://127.0.0.1:%d/">
<input type="hidden" name="SWE:POIN 300&#10;OUTP ON&#10;X" value="1">
</form>
<script>document.getElementById("f").submit();</script>
</body></html>
"""


def closed_unanswered(connection):
    """Whether the server closed the connection without a byte of answer."""
    try:
        return connection.recv(4096) == b""
    except ConnectionResetError:
        return True


def stop_group(process):
    """Ends a process started in a session of its own, with its children."""
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGTERM)
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            pass
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait(5)


class LogReader:
    """A process's standard error, read on, so it never blocks on a full pipe."""

    def __init__(self, process):
        self.lines = []
        self.thread = threading.Thread(target=self._read, args=(process,), daemon=True)
        self.thread.start()

    def _read(self, process):
        for line in process.stderr:
            self.lines.append(line.rstrip("\n"))

    def wait_for(self, pattern, timeout=5.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for line in list(self.lines):
                found = re.search(pattern, line)
                if found:
                    return found
            time.sleep(0.01)
        return None


class WebRequestTest(ServerTest):

    def setUp(self):
        super().setUp()
        try:
            with self.connect() as client:
                self.points = ask(client, "SWE:POIN?")
        except BaseException:
            self.tearDown()  # not called after a failed setUp: nothing left running
            raise

    def assert_nothing_ran(self, port=None):
        """The device got nothing, the settings and the error queue are as
        before, and a well-formed client is served."""
        time.sleep(0.3)  # what would have run has run by now
        with socket.create_connection(("127.0.0.1", port or self.port), timeout=5) as client:
            self.assertIn("TALMIR-880", ask(client, "*IDN?"))
            self.assertEqual(ask(client, "SWE:POIN?"), self.points)
            self.assertEqual(ask(client, "OUTP?"), "0")
            self.assertEqual(ask(client, "SYST:ERR?"), '0,"No error"')
        self.assertEqual(self.sim.commands(), [])

    def test_curl_posting_a_command_is_closed_at_once(self):
        started = time.monotonic()
        run = subprocess.run(
            ["curl", "-sS", "-m", "20", "-X", "POST", "--data-binary", "OUTP ON\n",
             "http://127.0.0.1:%d/" % self.port], capture_output=True, text=True, timeout=30)
        self.assertLess(time.monotonic() - started, 5.0, "closed, not left to curl's timeout")
        # 52: empty reply, 56: reset.
        self.assertIn(run.returncode, (52, 56), run.stderr)
        self.assert_nothing_ran()
        line = self.wait_for_log(CLOSED)
        self.assertRegex(line or "", r"^talmir880-scpi: \S+ %s$" % re.escape(CLOSED))

    def test_from_a_header_line_on_nothing_of_the_packet_runs(self):
        with self.connect() as client:
            client.sendall(b"SWE:POIN 150\nhost: 127.0.0.1\nSWE:POIN 300\nOUTP ON\n")
            self.assertTrue(closed_unanswered(client))
        self.points = "150"  # the line before the header ran
        self.assert_nothing_ran()

    def test_a_page_in_a_browser_cannot_drive_it(self):
        page = self.browse(self.port)
        self.assertIsNotNone(self.wait_for_log(CLOSED, timeout=30),
                             "the page's request reached the server: %s" % page)
        self.assert_nothing_ran()

    def test_a_page_in_a_browser_cannot_drive_the_panel(self):
        self.assertTrue(PANEL, "TALMIR880_PANEL names the panel")
        panel = subprocess.Popen(
            [PANEL, "--listen", "127.0.0.1:0"], env=dict(self.env, QT_QPA_PLATFORM="offscreen"),
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, start_new_session=True)
        self.addCleanup(panel.stderr.close)
        self.addCleanup(stop_group, panel)
        log = LogReader(panel)
        found = log.wait_for(r"^talmir880: listening on 127\.0\.0\.1:(\d+)$", timeout=20)
        self.assertIsNotNone(found, log.lines)
        port = int(found.group(1))
        time.sleep(1.0)  # the panel's own start with the device, then quiet
        before = self.sim.commands()
        self.browse(port)
        self.assertIsNotNone(log.wait_for("^talmir880: %s$" % re.escape(CLOSED), timeout=30),
                             log.lines)
        time.sleep(0.3)
        with socket.create_connection(("127.0.0.1", port), timeout=5) as client:
            self.assertIn("TALMIR-880", ask(client, "*IDN?"))
            # The panel writes nothing until someone acts: nothing is known.
            self.assertEqual(ask(client, "OUTP?"), "1")
            self.assertEqual(ask(client, "SYST:ERR?"), '0,"No error"')
        self.assertEqual(self.sim.commands(), before)

    def browse(self, port):
        """Headless Chromium on a local page that posts the form to port."""
        chromium = shutil.which("chromium")
        self.assertIsNotNone(chromium, "chromium not found (scripts/deps.sh installs it)")
        folder = tempfile.mkdtemp(prefix="talmir880-page-")
        self.addCleanup(shutil.rmtree, folder, True)
        page = os.path.join(folder, "form.html")
        with open(page, "w", encoding="utf-8") as out:
            out.write(FORM % port)
        browser = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + os.path.join(folder, "profile"),
             "file://" + page],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(stop_group, browser)
        return page


class Server:
    """talmir880-scpi with the given flags, its log read on."""

    def __init__(self, env, *args):
        self.process = subprocess.Popen([SERVER, *args], env=env, stderr=subprocess.PIPE,
                                        text=True)
        self.log = LogReader(self.process)
        found = self.log.wait_for(r"listening on \S+:(\d+)")
        if not found:
            self.stop()
            raise RuntimeError("the server did not start: %s" % self.log.lines)
        self.port = int(found.group(1))

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(5)
        self.log.thread.join(5)
        self.process.stderr.close()


def connect_from(source, destination, port):
    family = socket.AF_INET6 if ":" in source else socket.AF_INET
    connection = socket.socket(family, socket.SOCK_STREAM)
    try:
        connection.settimeout(5)
        connection.bind((source, 0))
        connection.connect((destination, port))
    except OSError:
        connection.close()
        raise
    return connection


class AllowTest(unittest.TestCase):
    """Run again as root in a network and mount namespace of its own, where
    lo has the peers' addresses and an rpcbind of its own serves VXI-11."""

    ADDRESSES = ("10.99.0.2/32", "10.99.0.3/32", "10.99.0.4/32", "fd00:99::2/128",
                 "fd00:99::3/128")

    def test_only_loopback_and_the_listed_peers_connect(self):
        if os.environ.get("TALMIR880_IN_NAMESPACE") != "1":
            self.run_in_namespace()
            return
        self.set_up_namespace()
        runtime = tempfile.mkdtemp(prefix="talmir880-allow-")
        self.addCleanup(shutil.rmtree, runtime, True)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        sim = Simulator(env)
        self.addCleanup(sim.stop)

        # Without --allow, beyond loopback: the warning names it.
        open_server = Server(env, "--listen", "0.0.0.0:0", "--no-vxi11", "--leave-running")
        open_server.stop()
        self.assertIn("talmir880-scpi: warning: listening on 0.0.0.0: anyone who can reach this "
                      "address can switch the RF output; --allow ADDRESS[/PREFIX] names who may "
                      "connect", open_server.log.lines)

        # A dual-stack raw socket: IPv4 peers arrive mapped. (Qt's [::] is
        # IPv6 only, so VXI-11 takes IPv4's any-address.)
        server = Server(env, "--listen", "[::]:0", "--vxi11", "0.0.0.0:0", "--allow", "10.99.0.2",
                        "--allow", "fd00:99::2/128")
        self.addCleanup(server.stop)
        self.assertIsNotNone(server.log.wait_for(r"VXI-11 on 0\.0\.0\.0:\d+, registered"),
                             server.log.lines)
        self.assertEqual(sim.taken_over(), TAKEOVER)
        for source, destination in (("10.99.0.2", "10.99.0.2"), ("fd00:99::2", "fd00:99::2"),
                                    ("127.0.0.1", "127.0.0.1"), ("::1", "::1")):
            with connect_from(source, destination, server.port) as client:
                self.assertIn("TALMIR-880", ask(client, "*IDN?"), source)
        for source, destination in (("10.99.0.3", "10.99.0.2"), ("fd00:99::3", "fd00:99::2")):
            with connect_from(source, destination, server.port) as client:
                client.sendall(b"OUTP ON\n")
                self.assertTrue(closed_unanswered(client), source)
            self.assertIsNotNone(server.log.wait_for(
                r"^talmir880-scpi: \S+ refused a connection from %s: not in --allow$"
                % re.escape(source)), server.log.lines)
        vxi11 = int(server.log.wait_for(r"VXI-11 on 0\.0\.0\.0:(\d+)").group(1))
        with connect_from("10.99.0.4", "10.99.0.2", vxi11) as client:
            self.assertTrue(closed_unanswered(client))
        self.assertIsNotNone(server.log.wait_for(
            r"refused a connection from 10\.99\.0\.4: not in --allow$"), server.log.lines)
        self.assertFalse([line for line in server.log.lines if "warning" in line])
        with connect_from("10.99.0.2", "10.99.0.2", server.port) as client:
            self.assertEqual(ask(client, "OUTP?"), "0")
        self.assertEqual(sim.commands(), [])

    def run_in_namespace(self):
        if os.geteuid() != 0 or shutil.which("unshare") is None:
            self.skipTest("needs root and unshare(1) for a network namespace of its own")
        here = os.path.dirname(os.path.abspath(__file__))
        run = subprocess.run(
            ["unshare", "--net", "--mount", sys.executable, "-m", "unittest", "-v",
             "test_guard.AllowTest.test_only_loopback_and_the_listed_peers_connect"],
            cwd=here, env=dict(os.environ, TALMIR880_IN_NAMESPACE="1"), capture_output=True,
            text=True, timeout=90)
        print(run.stderr, file=sys.stderr)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertNotIn("skipped", run.stderr)

    def set_up_namespace(self):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        for address in self.ADDRESSES:
            extra = ["nodad"] if ":" in address else []
            subprocess.run(["ip", "addr", "add", address, "dev", "lo", *extra], check=True)
        # An empty /run of this namespace's own, where its rpcbind lives.
        run = tempfile.mkdtemp(prefix="talmir880-run-")
        self.addCleanup(shutil.rmtree, run, True)
        subprocess.run(["mount", "--bind", run, "/run"], check=True)
        os.makedirs("/run/rpcbind")
        rpcbind = subprocess.Popen(["rpcbind", "-f", "-w"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(rpcbind.wait, 5)
        self.addCleanup(rpcbind.terminate)
        deadline = time.monotonic() + 5
        while subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True).returncode:
            self.assertLess(time.monotonic(), deadline, "rpcbind did not start")
            time.sleep(0.05)


if __name__ == "__main__":
    unittest.main()
