"""The page over HTTPS with real clients: Python's ssl with wsproto's
WebSocket, pinning the certificate made at first start by its fingerprint or
verifying a test CA's; headless Chromium trusting only that key; half
handshakes beside page loads; plain HTTP where TLS is spoken; and each bad
certificate or key refused before anything listens."""

import base64
import hashlib
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select
from wsproto import ConnectionType, WSConnection
from wsproto.events import AcceptConnection, Request, TextMessage

from server_fixture import SERVER, ServerTest
from test_web import CHROMEDRIVER, browser_options, control, wait_until
from test_web_attacks import HalfOpenRequests


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def test_ca(folder):
    """A CA of the test's and a certificate it signed for 127.0.0.1: the
    paths of the CA's certificate, the server's chain and its key."""
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Test CA", cwd=folder)
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=bench", cwd=folder)
    with open(os.path.join(folder, "san.ext"), "w") as ext:
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "1", "-extfile", "san.ext", "-out", "server.pem", cwd=folder)
    with open(os.path.join(folder, "chain.pem"), "w") as chain:
        for name in ("server.pem", "ca.pem"):
            with open(os.path.join(folder, name)) as part:
                chain.write(part.read())
    os.chmod(os.path.join(folder, "server.key"), 0o600)
    return [os.path.join(folder, n) for n in ("ca.pem", "chain.pem", "server.key")]


def spki_pin(certificate):
    """What Chromium's --ignore-certificate-errors-spki-list takes."""
    der = subprocess.run(
        "openssl x509 -in '%s' -pubkey -noout | openssl pkey -pubin -outform der" % certificate,
        shell=True, check=True, capture_output=True).stdout
    return base64.b64encode(hashlib.sha256(der).digest()).decode()


class HalfHandshakes(HalfOpenRequests):
    """Connections from another peer (127.0.0.2) that each send a TLS record
    header promising a ClientHello that never comes, opened again when
    closed."""

    def open(self):
        connection = socket.create_connection(("127.0.0.1", self.port), timeout=5,
                                              source_address=("127.0.0.2", 0))
        connection.sendall(b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03")
        return connection


def fingerprint_of(der):
    return ":".join("%02X" % b for b in hashlib.sha256(der).digest())


class HttpsServerTest(ServerTest):
    """A server with the page over TLS (and plain HTTP beside it); its
    state folder is the test's."""

    server_args = ("--no-vxi11", "--https", "0", "--http", "0")

    def run_server(self, env, *args):
        return super().run_server(dict(env, XDG_STATE_HOME=self.runtime), *args)

    def start_server(self):
        super().start_server()
        line = self.wait_for_log("web page on https://")
        self.assertIsNotNone(line, self.server_log)
        found = re.search(r"https://127\.0\.0\.1:(\d+)/ \(certificate SHA-256 ([0-9A-F:]{95})\)",
                          line)
        self.tls_port, self.fingerprint = int(found.group(1)), found.group(2)
        redirected = self.wait_for_log("web page redirected from http://")
        self.http_port = int(re.search(r":(\d+)/$", redirected).group(1)) if redirected else 0

    def tls(self, context=None):
        """A TLS connection to the page's port; without a context, one that
        pins the certificate by the fingerprint the server said."""
        if context is None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
        connection = context.wrap_socket(
            socket.create_connection(("127.0.0.1", self.tls_port), timeout=5),
            server_hostname="127.0.0.1")
        if context.verify_mode == ssl.CERT_NONE:
            self.assertEqual(fingerprint_of(connection.getpeercert(binary_form=True)),
                             self.fingerprint)
        return connection

    def request(self, connection, head):
        """One request's answer: its head and body, as bytes."""
        connection.sendall(head)
        answer = b""
        while True:
            data = connection.recv(65536)
            if not data:
                break
            answer += data
        head, _, body = answer.partition(b"\r\n\r\n")
        return head.decode(), body

    def get(self, path, connection=None, extra=b""):
        connection = connection or self.tls()
        with connection:
            return self.request(connection, b"GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n%s\r\n" %
                                (path.encode(), self.tls_port, extra))


class MadeCertificateTest(HttpsServerTest):

    def test_pinned_page_live_websocket_and_a_setting(self):
        head, body = self.get("/")
        self.assertTrue(head.startswith("HTTP/1.1 200 OK"), head)
        self.assertIn(b"/page.js", body)
        with self.tls() as connection:
            self.assertIn(connection.version(), ("TLSv1.2", "TLSv1.3"))
        # The page's live link over wss://, from this machine: it may act.
        connection = self.tls()
        self.addCleanup(connection.close)
        ws = WSConnection(ConnectionType.CLIENT)
        host = "127.0.0.1:%d" % self.tls_port
        connection.sendall(ws.send(Request(host=host, target="/ws", extra_headers=[
            (b"origin", b"https://" + host.encode())])))
        events = []
        deadline = time.monotonic() + 5
        while not any(isinstance(e, TextMessage) for e in events):
            self.assertLess(time.monotonic(), deadline, events)
            ws.receive_data(connection.recv(65536))
            events.extend(ws.events())
        self.assertIsInstance(events[0], AcceptConnection)
        state = json.loads(next(e for e in events if isinstance(e, TextMessage)).data)
        self.assertEqual(state["type"], "state")
        connection.sendall(ws.send(TextMessage(data="rf_on 1")))
        self.sim.read_lines(until="$F")
        self.assertEqual(self.sim.commands(), ["$F010000000"])
        # The same certificate at the next start; its fingerprint on the page's
        # identification.
        self.stop_server()
        first = self.fingerprint
        self.start_server()
        self.assertEqual(self.fingerprint, first)
        head, body = self.get("/lxi/identification")
        self.assertIn(b">%s</CertificateSha256>" % first.encode(), body)
        self.assertIn(b"<HomepageURL>https://127.0.0.1:%d/</HomepageURL>" % self.tls_port, body)

    def test_plain_http_carries_nothing_but_the_identification(self):
        def plain(path):
            with socket.create_connection(("127.0.0.1", self.http_port), timeout=5) as c:
                return self.request(c, b"GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" %
                                    (path.encode(), self.http_port))
        for path in ("/", "/ws", "/login", "/page.js?v=1"):
            head, _ = plain(path)
            self.assertTrue(head.startswith("HTTP/1.1 308 Permanent Redirect"), head)
            self.assertIn("\r\nLocation: https://127.0.0.1:%d%s\r\n" % (self.tls_port, path), head)
        head, body = plain("/lxi/identification")
        self.assertTrue(head.startswith("HTTP/1.1 200 OK"), head)
        self.assertIn(b"<HomepageURL>", body)

    def test_half_handshakes_beside_page_loads_and_plain_http_to_tls(self):
        attack = HalfHandshakes(self.tls_port, 40)
        self.addCleanup(attack.stop)
        time.sleep(0.5)
        self.assertEqual(len(attack.still_open()), 8, "one peer keeps its newest eight")
        attack.start()
        for _ in range(5):
            started = time.monotonic()
            head, _ = self.get("/page.js")
            self.assertTrue(head.startswith("HTTP/1.1 200 OK"), head)
            # Starved, a load would wait for the 5 s drop of a half handshake;
            # under a loaded CI machine a served one still takes a second or two.
            self.assertLess(time.monotonic() - started, 4.0)
        # Plain HTTP to the TLS port: that connection closed, said once, the
        # server serving on.
        with socket.create_connection(("127.0.0.1", self.tls_port), timeout=5) as c:
            c.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            c.settimeout(5)
            try:
                self.assertIn(c.recv(4096)[:1], (b"\x15", b""), "a TLS alert, or nothing")
            except ConnectionResetError:
                pass
        self.assertIsNotNone(self.wait_for_log("http request"), self.server_log)
        # TLS 1.1 and older are not spoken.
        old = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        old.check_hostname, old.verify_mode = False, ssl.CERT_NONE
        old.set_ciphers("DEFAULT:@SECLEVEL=0")
        old.minimum_version = old.maximum_version = ssl.TLSVersion.TLSv1_1
        with self.assertRaises(ssl.SSLError):
            self.tls(old).close()
        self.assertIsNotNone(self.wait_for_log("unsupported protocol"), self.server_log)
        # The request's deadline drops a handshake that stopped.
        deadline = time.monotonic() + 8
        while attack.reopened == 0 and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertGreater(attack.reopened, 0, "the half handshakes were dropped in time")
        attack.stop()
        head, _ = self.get("/")
        self.assertTrue(head.startswith("HTTP/1.1 200 OK"), head)

    def test_chromium_trusting_only_this_key(self):
        certificate = os.path.join(self.runtime, "talmir880", "tls-certificate.pem")
        options = browser_options(1200, 900, "--ignore-certificate-errors-spki-list=" +
                                  spki_pin(certificate))
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.addCleanup(driver.quit)
        driver.set_page_load_timeout(10)
        driver.get("https://127.0.0.1:%d/" % self.tls_port)
        wait_until(driver, lambda: driver.find_element(By.ID, "link").get_attribute("class") ==
                   "live", timeout=10, message="the page's wss:// link did not open")
        wait_until(driver, lambda: driver.find_element(By.ID, "lxi-certificate").text ==
                   self.fingerprint, message="the page shows no fingerprint")
        Select(control(driver, "Level (dBm)")).select_by_value("-9")
        control(driver, "RF output").click()
        self.sim.read_lines(until="$F")
        self.assertEqual(self.sim.commands()[-1], "$F010000000")
        self.assertEqual(len(self.sim.commands()), 2, "the level, then the output")


class TestCaTest(HttpsServerTest):
    """The lab's own certificate, signed by its CA, and a password."""

    def setUp(self):
        folder = tempfile.mkdtemp(prefix="talmir880-ca-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        self.ca, chain, key = test_ca(folder)
        password = os.path.join(folder, "password")
        with open(password, "w") as file:
            file.write("s3cret\n")
        os.chmod(password, 0o600)
        self.server_args = HttpsServerTest.server_args + (
            "--tls-certificate", chain, "--tls-key", key, "--http-password-file", password)
        super().setUp()

    def test_verified_by_the_ca_login_cookie_is_secure(self):
        context = ssl.create_default_context(cafile=self.ca)
        with self.tls(context) as connection:
            self.assertEqual(connection.getpeercert()["subject"], ((("commonName", "bench"),),))
            origin = b"https://127.0.0.1:%d" % self.tls_port
            head, _ = self.request(connection, (
                b"POST /login HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nOrigin: %s\r\n"
                b"Content-Length: 6\r\n\r\ns3cret") % (self.tls_port, origin))
        self.assertTrue(head.startswith("HTTP/1.1 204"), head)
        self.assertRegex(head, r"\r\nSet-Cookie: talmir880_session=[0-9a-f]{64}; Path=/; "
                               r"HttpOnly; SameSite=Strict; Secure(\r\n|$)")
        # urllib, as scripts fetch it, verifying by the CA.
        with urllib.request.urlopen("https://127.0.0.1:%d/lxi/identification" % self.tls_port,
                                    context=context, timeout=5) as reply:
            self.assertIn(b"<CertificateSha256", reply.read())


class RefusedBeforeListeningTest(ServerTest):
    """Each bad certificate or key: one line naming the file and its fault,
    status 1, nothing listening."""

    reached_at_start = False

    def start_server(self):
        pass

    def test_each_fault_stops_the_start(self):
        folder = self.runtime
        _, chain, key = test_ca(folder)
        openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                "-keyout", "other.key", "-out", "other.pem", "-days", "1", "-subj", "/CN=other",
                cwd=folder)
        os.chmod(os.path.join(folder, "other.key"), 0o600)
        text = os.path.join(folder, "text.pem")
        with open(text, "w") as file:
            file.write("not a certificate\n")
        open_key = os.path.join(folder, "open.key")
        with open(key) as source, open(open_key, "w") as file:
            file.write(source.read())
        os.chmod(open_key, 0o644)
        missing = os.path.join(folder, "missing.pem")
        other_key = os.path.join(folder, "other.key")
        for certificate, key_file, line in (
                (missing, key, missing + ": no such file"),
                (text, key, text + ": not a PEM certificate"),
                (chain, other_key, other_key + ": not the key of the certificate in " + chain),
                (chain, open_key, open_key + " is open to group or others (mode 0644); "
                                             "run chmod 600 " + open_key)):
            run = subprocess.run([SERVER, "--listen", "127.0.0.1:0", "--no-mdns", "--no-vxi11",
                                  "--https", "0", "--tls-certificate", certificate,
                                  "--tls-key", key_file], env=self.env, capture_output=True,
                                 text=True, timeout=10)
            self.assertEqual(run.returncode, 1, run.stderr)
            self.assertEqual(run.stderr, "talmir880-scpi: --https: %s\n" % line)
