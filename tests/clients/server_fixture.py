"""talmir880-scpi on talmir880-sim, as a user runs them, for the tests of the
real automation clients. Each test case gets a private ports folder, so the
simulator's COM9 is its own, and a server on a free loopback port. Every
process a test starts is ended with it, also when it fails halfway through
its setUp, and every wait on one is bounded."""

import os
import re
import select
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

SERVER = os.environ["TALMIR880_SCPI"]
SIMULATOR = os.environ["TALMIR880_SIM"]
# What a server writes first to a device it reaches: RF and modulation off.
TAKEOVER = ["$F000000001", "$M0000000"]


def end_process(process, timeout=5.0):
    """Ends a process the test started: SIGTERM, SIGKILL when it is still
    there after the timeout. Its exit status; None when it had ended before."""
    if process.poll() is not None:
        return None
    process.terminate()
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return "killed after %g s" % timeout


class Simulator:
    """talmir880-sim on COM9 (or COM<com>) of the given runtime folder, its
    lines kept."""

    def __init__(self, env, *args, timeout=5.0, com=9):
        self.process = subprocess.Popen(
            [SIMULATOR, "--port", str(com), *args], env=env, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, text=True, bufsize=1)
        # Nothing is buffered yet, so the descriptor tells whether a line came.
        ready = select.select([self.process.stdout], [], [], timeout)[0]
        first = self.process.stdout.readline() if ready else ""
        if "COM%d " % com not in first:
            self.stop()
            raise RuntimeError("the simulator did not start: %r" % first)
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

    def taken_over(self, timeout=5.0):
        """Waits for the switch-off a server writes when it reaches the
        device (TAKEOVER), and forgets it and everything before: the
        commands the test's clients cause come after. The commands from
        the last RF switch-off on."""
        self.read_lines(until=TAKEOVER[-1], timeout=timeout)
        seen = self.commands()
        last = max((i for i, c in enumerate(seen) if c == TAKEOVER[0]), default=len(seen))
        self.lines = []
        return seen[last:]

    def stop(self):
        end_process(self.process)
        self.process.stdout.close()


class ServerTest(unittest.TestCase):
    """A simulator and a server for each test."""

    sim_args = ()
    # The machine's rpcbind is not the tests' to register with; the VXI-11
    # tests run their own, in a namespace.
    server_args = ("--no-vxi11",)
    # Nor is the machine's Avahi theirs to announce on: the DNS-SD tests
    # set this and run a daemon of their own, in a namespace.
    announce = False
    # Whether the simulator is there to be reached at once, and switched
    # off, when the server starts.
    reached_at_start = True

    def setUp(self):
        self.runtime = tempfile.mkdtemp(prefix="talmir880-clients-")
        self.addCleanup(shutil.rmtree, self.runtime, ignore_errors=True)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.sim = Simulator(self.env, *self.sim_args)
        # The one running at the end, after any restart.
        self.addCleanup(lambda: self.sim.stop())
        self.server = None
        self.start_server()

    def start_server(self):
        """Starts the server on a free loopback port; its standard error is
        kept in self.server_log."""
        self.server, self.server_log, self.log_reader = self.run_server(self.env,
                                                                        *self.server_args)
        line = self.wait_for_log("listening on 127.0.0.1:", timeout=10)
        if line is None:
            raise RuntimeError("the server did not start: %s" % self.server_log)
        self.port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", line).group(1))
        self.resource = "TCPIP::127.0.0.1::%d::SOCKET" % self.port
        if self.reached_at_start and "--leave-running" not in self.server_args:
            self.assertEqual(self.sim.taken_over(), TAKEOVER)

    def run_server(self, env, *args):
        """A server on a free loopback port, ended with the test: the
        process, the list its standard error goes to as it comes, and the
        thread that reads it (so the server never blocks on a full pipe)."""
        quiet = () if self.announce else ("--no-mdns",)
        server = subprocess.Popen([SERVER, "--listen", "127.0.0.1:0", *quiet, *args], env=env,
                                  stderr=subprocess.PIPE, text=True)
        log = []
        reader = threading.Thread(target=self._keep_log, args=(server, log), daemon=True)
        reader.start()
        self.addCleanup(self.stop_server, server, reader)
        return server, log, reader

    def wait_for_log(self, *texts, timeout=5.0, log=None, reader=None, since=0):
        """The first line of a server's standard error (this test's server
        unless `log` and its `reader` are given), from its line `since` on,
        that holds one of the texts, waiting for it up to the timeout or the
        end of the output; None when none came."""
        log = self.server_log if log is None else log
        reader = self.log_reader if reader is None else reader
        deadline = time.monotonic() + timeout
        while True:
            ended = not reader.is_alive()
            for line in list(log)[since:]:
                if any(text in line for text in texts):
                    return line
            if ended or time.monotonic() > deadline:
                return None
            time.sleep(0.01)

    @staticmethod
    def _keep_log(server, log):
        for line in server.stderr:
            log.append(line.rstrip("\n"))

    def stop_server(self, server=None, reader=None):
        """Ends this test's server, or the one given with its reader."""
        server = server or self.server
        status = end_process(server)
        (reader or self.log_reader).join(5)
        server.stderr.close()
        if status is not None:
            self.assertEqual(status, 0, "SIGTERM ends the server cleanly")

    def restart_simulator(self, *args):
        self.sim.stop()
        self.sim = Simulator(self.env, *args)

    def connect(self):
        """A plain socket to the server, as any client has it."""
        return socket.create_connection(("127.0.0.1", self.port), timeout=5)


def settles_to(query, expected, timeout=5.0):
    """Asks `query()` until it answers `expected` or the timeout: what the
    server has not heard yet (the R of a switch-off the simulator already
    printed) comes a moment later. The last answer."""
    deadline = time.monotonic() + timeout
    answer = query()
    while answer != expected and time.monotonic() < deadline:
        time.sleep(0.02)
        answer = query()
    return answer


def ask(connection, line):
    """Sends a line and reads its one answer line."""
    connection.sendall(line.encode() + b"\n")
    return read_line(connection)


def read_line(connection):
    """One answer line; the caller has no other answer pending."""
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = connection.recv(4096)
        if not chunk:
            raise ConnectionError("closed")
        answer += chunk
    return answer.decode().rstrip("\n")
