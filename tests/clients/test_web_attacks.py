"""The web face keeps its bounds under attack, each attack beside a page in
a real browser that must go on working: half-open requests, a server that
stalls under a page's actions, a flood, and what RFC 6455 refuses. (A page
that never reads is dropped: tests/web/page_socket_test.cpp.)"""

import base64
import os
import select
import signal
import socket
import threading
import time

from selenium.webdriver.common.by import By
from wsproto.events import CloseConnection, Ping, Pong, TextMessage

from server_fixture import ask
from test_web import WebServerTest, WebSocketClient, control, wait_until


def received_within(client, seconds):
    """The events of a WebSocketClient that come within `seconds`; a closed
    connection ends them."""
    deadline = time.monotonic() + seconds
    client.socket.settimeout(0.05)
    try:
        while time.monotonic() < deadline:
            try:
                data = client.socket.recv(65536)
            except socket.timeout:
                continue
            except ConnectionResetError:
                break
            if not data:
                break
            client.ws.receive_data(data)
            client.events.extend(client.ws.events())
    finally:
        client.socket.settimeout(5)
    return client.events


def closed_by_server(connection):
    """Whether the server has closed a connection that sent it a partial head."""
    if not select.select([connection], [], [], 0)[0]:
        return False
    try:
        return connection.recv(1) == b""
    except ConnectionResetError:
        return True


class HalfOpenRequests:
    """Connections that each send part of a request head and wait; those
    the server closes are opened again, until stopped."""

    def __init__(self, port, count):
        self.port = port
        self.head = b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % port
        self.connections = [self.open() for _ in range(count)]
        self.reopened = 0
        self.stopping = threading.Event()
        self.thread = None

    def open(self):
        connection = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        connection.sendall(self.head)
        return connection

    def still_open(self):
        return [c for c in self.connections if not closed_by_server(c)]

    def keep_up(self):
        while not self.stopping.wait(0.05):
            for i, connection in enumerate(self.connections):
                if closed_by_server(connection):
                    connection.close()
                    self.connections[i] = self.open()
                    self.reopened += 1

    def start(self):
        self.thread = threading.Thread(target=self.keep_up, daemon=True)
        self.thread.start()

    def stop(self):
        self.stopping.set()
        if self.thread:
            self.thread.join(5)
        for connection in self.connections:
            connection.close()


class AttackTest(WebServerTest):

    def assert_page_shows_a_script(self, mhz):
        with self.connect() as script:
            self.assertEqual(ask(script, "OUTP ON;:FREQ %d MHZ;*OPC?" % mhz), "1")
        now = self.driver.find_element(By.ID, "rf-now")
        wait_until(self.driver, lambda: now.text == "%d MHz, output on" % mhz,
                   message="the page shows %r" % now.text)
        self.assertEqual(self.driver.find_element(By.ID, "link").text, "Live")

    def test_half_open_requests_leave_room_for_pages(self):
        self.open_page()
        attack = HalfOpenRequests(self.web_port, 40)
        self.addCleanup(attack.stop)
        # One peer keeps the newest eight; the older ones made room.
        time.sleep(0.5)
        self.assertEqual(len(attack.still_open()), 8)
        attack.start()
        for load in range(3):
            self.open_page()  # fresh: the page, its script and style, its WebSocket
            rf_output = control(self.driver, "RF output")
            rf_output.click()
            self.sim.read_lines(until="$F")
            self.assertEqual(len(self.sim.commands()), load + 1,
                             "load %d: its action reached the device" % load)
        self.assertGreater(attack.reopened, 0, "the attack went on meanwhile")
        attack.stop()
        self.assert_page_shows_a_script(250)

    def test_a_page_rides_out_a_stall_and_a_flood_is_closed(self):
        self.open_page()
        page = WebSocketClient(self.web_port)
        self.addCleanup(page.close)
        points = iter(range(100, 200))
        last = None

        def act_for(seconds):
            nonlocal last
            until = time.monotonic() + seconds
            while time.monotonic() < until:
                last = next(points)
                page.send("points %d" % last)
                time.sleep(0.2)

        act_for(1)
        # The server stops for 4 s while the page sends 5 actions a second.
        os.kill(self.server.pid, signal.SIGSTOP)
        try:
            act_for(4)
        finally:
            os.kill(self.server.pid, signal.SIGCONT)
        act_for(1)
        with self.connect() as script:
            deadline = time.monotonic() + 5
            while ask(script, "SWE:POIN?") != str(last) and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(ask(script, "SWE:POIN?"), str(last), "its last action ran")
        events = received_within(page, 0.5)
        self.assertFalse([e for e in events if isinstance(e, CloseConnection)], events)
        self.assertTrue([e for e in events if isinstance(e, TextMessage)], "still sent states")

        flood = WebSocketClient(self.web_port)
        self.addCleanup(flood.close)
        flood.send_until_closed(["points 100"] * 200)
        closed = flood.read_until(CloseConnection)
        self.assertTrue(closed is None or closed.code == 1008, closed)
        self.assert_page_shows_a_script(251)

    def test_rfc_6455_as_written(self):
        self.open_page()
        host = b"127.0.0.1:%d" % self.web_port

        def upgrade(key):
            connection = socket.create_connection(("127.0.0.1", self.web_port), timeout=5)
            connection.sendall(b"GET /ws HTTP/1.1\r\nHost: " + host + b"\r\nOrigin: http://" +
                               host + b"\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                               b"Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " + key +
                               b"\r\n\r\n")
            return connection

        def read_to_end(connection):
            got = b""
            while True:
                try:
                    chunk = connection.recv(4096)
                except ConnectionResetError:
                    return got
                if not chunk:
                    return got
                got += chunk

        with upgrade(b"not sixteen bytes") as refused:
            self.assertTrue(read_to_end(refused).startswith(b"HTTP/1.1 400 Bad Request\r\n"))

        key = base64.b64encode(os.urandom(16))
        with upgrade(key) as unmasked:
            head = b""
            while not head.endswith(b"\r\n\r\n"):
                head += unmasked.recv(1)
            self.assertTrue(head.startswith(b"HTTP/1.1 101 Switching Protocols\r\n"), head)
            unmasked.sendall(b"\x81\x07rf_on 1")  # a text frame without its mask
            got = read_to_end(unmasked)
            # The state it was sent on opening, then the close: a protocol error.
            self.assertTrue(got.endswith(b"\x88\x02\x03\xea"), got[-20:])

        pinged = WebSocketClient(self.web_port)
        self.addCleanup(pinged.close)
        pinged.socket.sendall(pinged.ws.send(Ping(payload=b"p" * 125)))
        pong = pinged.read_until(Pong)
        self.assertEqual(pong.payload, b"p" * 125)
        pinged.send("points 777")
        with self.connect() as script:
            deadline = time.monotonic() + 5
            while ask(script, "SWE:POIN?") != "777" and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(ask(script, "SWE:POIN?"), "777", "the pinged page acts on")

        def answer(method):
            with socket.create_connection(("127.0.0.1", self.web_port), timeout=5) as c:
                c.sendall(method + b" / HTTP/1.1\r\nHost: " + host + b"\r\n\r\n")
                return read_to_end(c)

        get, head = answer(b"GET"), answer(b"HEAD")
        self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"), head)
        self.assertEqual(head, get[:get.index(b"\r\n\r\n") + 4], "the head alone, the same")
        self.assertIn(b"Content-Length: %d\r\n" % (len(get) - len(head)), head)

        self.assertEqual(self.sim.commands(), [], "nothing of these reached the device")
        self.assert_page_shows_a_script(252)


if __name__ == "__main__":
    import unittest
    unittest.main()
