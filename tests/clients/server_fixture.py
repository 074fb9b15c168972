"""talmir880-scpi on talmir880-sim, as a user runs them, for the tests of the
real automation clients. Each test case gets a private ports folder, so the
simulator's COM9 is its own, and a server on a free loopback port."""

import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

SERVER = os.environ["TALMIR880_SCPI"]
SIMULATOR = os.environ["TALMIR880_SIM"]


class Simulator:
    """talmir880-sim on COM9 of the given runtime folder, its lines kept."""

    def __init__(self, env, *args):
        self.process = subprocess.Popen(
            [SIMULATOR, "--port", "9", *args], env=env, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, text=True, bufsize=1)
        first = self.process.stdout.readline()
        if "COM9" not in first:
            raise RuntimeError("the simulator did not start: " + first)
        self.lines = []

    def read_lines(self, until=None, timeout=5.0):
        """Reads the traffic lines until one starts with `until`, or the
        timeout; returns every line read so far."""
        os.set_blocking(self.process.stdout.fileno(), False)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if line:
                self.lines.append(line.strip())
                if until is not None and line.startswith(until):
                    break
            elif until is None:
                break
            else:
                time.sleep(0.01)
        return self.lines

    def commands(self):
        """The commands the device took, as it printed them."""
        self.read_lines()
        return [line.split()[0] for line in self.lines if line.startswith("$")]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(5)
        self.process.stdout.close()


class ServerTest(unittest.TestCase):
    """A simulator and a server for each test."""

    sim_args = ()
    server_args = ()

    def setUp(self):
        self.runtime = tempfile.mkdtemp(prefix="talmir880-clients-")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.sim = Simulator(self.env, *self.sim_args)
        self.server = None
        self.start_server()

    def start_server(self):
        """Starts the server on a free loopback port; its standard error is
        kept in self.server_log."""
        self.server = subprocess.Popen(
            [SERVER, "--listen", "127.0.0.1:0", *self.server_args], env=self.env, stderr=subprocess.PIPE, text=True)
        self.server_log = []
        found = None
        while not found and len(self.server_log) < 10:
            line = self.server.stderr.readline()
            if not line:
                break
            self.server_log.append(line.rstrip("\n"))
            found = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
        if not found:
            raise RuntimeError("the server did not start: %s" % self.server_log)
        # Read on, so the server never blocks on a full pipe.
        self.log_reader = threading.Thread(target=self._keep_log,
                                           args=(self.server, self.server_log), daemon=True)
        self.log_reader.start()
        self.port = int(found.group(1))
        self.resource = "TCPIP::127.0.0.1::%d::SOCKET" % self.port

    def wait_for_log(self, *texts, timeout=5.0):
        """The first line of the server's standard error that holds one of
        the texts, waiting for it up to the timeout; None when none came."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for line in list(self.server_log):
                if any(text in line for text in texts):
                    return line
            time.sleep(0.01)
        return None

    @staticmethod
    def _keep_log(server, log):
        for line in server.stderr:
            log.append(line.rstrip("\n"))

    def stop_server(self):
        if self.server.poll() is None:
            self.server.terminate()
            self.assertEqual(self.server.wait(5), 0, "SIGTERM ends the server cleanly")
        self.log_reader.join(5)
        self.server.stderr.close()

    def tearDown(self):
        self.stop_server()
        self.sim.stop()
        shutil.rmtree(self.runtime, ignore_errors=True)

    def restart_simulator(self, *args):
        self.sim.stop()
        self.sim = Simulator(self.env, *args)

    def connect(self):
        """A plain socket to the server, as any client has it."""
        return socket.create_connection(("127.0.0.1", self.port), timeout=5)
