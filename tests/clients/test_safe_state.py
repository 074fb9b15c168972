"""The safe state on the simulator: RF and modulation switched off when the
server stops, when its last client leaves, and when nobody sent a line for
too long; and the panel ending on SIGTERM as on a window close."""

import os
import re
import signal
import socket
import subprocess
import time
import unittest

from server_fixture import ServerTest

OFF = ["$F000000001", "$M0000000"]


def send(port, text):
    """A one-shot client: the lines, the answers, then the connection closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as connection:
        connection.sendall(text.encode())
        connection.shutdown(socket.SHUT_WR)
        received = b""
        while chunk := connection.recv(4096):
            received += chunk
        return received.decode()


class SafeTest(ServerTest):

    def commands_after(self, count, timeout=5.0):
        """The device's commands once there are `count`, or at the timeout."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and len(self.sim.commands()) < count:
            time.sleep(0.05)
        return self.sim.commands()


class SafeStateTest(SafeTest):
    server_args = ("--no-vxi11", "--off-at-exit", "--off-when-unused", "--off-after", "1")

    def test_the_last_client_leaving_switches_off(self):
        self.assertEqual(send(self.port, "OUTP ON;:OUTP:MOD ON;*OPC?\n"), "1\n")
        commands = self.commands_after(4)
        self.assertEqual(commands[2:], OFF)
        self.assertIsNotNone(self.wait_for_log("RF and modulation off: the last client has gone"))

    def test_no_line_for_too_long_switches_off_and_a_line_in_time_does_not(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as client:
            client.sendall(b"OUTP ON;*OPC?\n")
            self.assertEqual(client.recv(64), b"1\n")
            for _ in range(3):  # a live script: every half second
                time.sleep(0.5)
                client.sendall(b"*OPC?\n")
                self.assertEqual(client.recv(64), b"1\n")
            self.assertEqual(self.sim.commands(), ["$F010000000"])
            self.assertEqual(self.commands_after(3, timeout=3), ["$F010000000"] + OFF)
            self.assertIsNotNone(self.wait_for_log("RF and modulation off: no command for 1 s"))

class SafeAtExitTest(SafeTest):
    # A slow line, so that lines are still waiting when the signal comes.
    sim_args = ("--baud", "300")
    server_args = ("--no-vxi11", "--off-at-exit")

    def test_stopping_the_server_switches_off_after_the_lines_received(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as client:
            client.sendall(b"OUTP ON;*OPC?\n")
            self.assertEqual(client.recv(64), b"1\n")
            client.sendall(b"POW -6\nPOW -9\n")
            time.sleep(0.2)
            self.server.send_signal(signal.SIGTERM)
            self.assertEqual(self.server.wait(10), 0)
        self.assertEqual(self.commands_after(5), ["$F010000000", "$P2", "$P1"] + OFF)
        self.assertIsNotNone(self.wait_for_log("RF and modulation off: the server stops"))


class LogCommandsTest(SafeTest):
    server_args = ("--no-vxi11", "--log-commands", "--off-when-unused")

    def test_each_command_is_logged_with_its_client_and_line(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as client:
            me = "127.0.0.1:%d" % client.getsockname()[1]
            client.sendall(b"OUTP ON;:FREQ 433.92 MHZ;*OPC?\n")
            self.assertEqual(client.recv(64), b"1\n")
        for expected in (me + " $F010000000 <- OUTP ON;:FREQ 433.92 MHZ;*OPC?",
                         me + " $F043392000 <- OUTP ON;:FREQ 433.92 MHZ;*OPC?",
                         "server $F000000001 <- switch-off: the last client has gone"):
            line = self.wait_for_log(expected)
            self.assertIsNotNone(line, expected)
            self.assertRegex(line, r"^talmir880-scpi: \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d")


class WithoutSafeStateTest(ServerTest):
    server_args = ("--no-vxi11",)

    def test_the_output_stays_as_it_is(self):
        self.assertEqual(send(self.port, "OUTP ON;*OPC?\n"), "1\n")
        self.stop_server()
        self.sim.read_lines(timeout=0.5)
        self.assertEqual(self.sim.commands(), ["$F010000000"])


@unittest.skipUnless(os.environ.get("TALMIR880_PANEL"), "the panel is not built")
class PanelSignalsTest(ServerTest):
    server_args = ("--no-vxi11",)

    def test_the_panel_ends_on_sigterm_and_sigint_with_status_0_and_its_socket_shut(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            env = dict(self.env, QT_QPA_PLATFORM="offscreen")
            panel = subprocess.Popen([os.environ["TALMIR880_PANEL"], "--listen", "0"], env=env,
                                     stderr=subprocess.PIPE, text=True)
            self.addCleanup(lambda p=panel: p.poll() is None and p.kill())
            found = None
            while not found:
                line = panel.stderr.readline()
                self.assertTrue(line, "the panel did not start")
                found = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
            port = int(found.group(1))
            socket.create_connection(("127.0.0.1", port), timeout=5).close()
            panel.send_signal(sig)
            self.assertEqual(panel.wait(5), 0, signal.Signals(sig).name)
            panel.stderr.close()
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(("127.0.0.1", port), timeout=5)


if __name__ == "__main__":
    unittest.main()
