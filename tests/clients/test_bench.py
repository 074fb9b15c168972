"""Several generators behind one talmir880-scpi: generator i on the raw
socket of its own, each with its own line, settings, errors and status, so
that what happens to one (an error, a pulled device, a long pass) leaves
the others as they were."""

import os
import re
import shutil
import socket
import tempfile
import unittest

from server_fixture import TAKEOVER, ServerTest, Simulator, ask, read_line


class BenchTest(ServerTest):
    """Simulators on COM3, COM4, ... and one server for all of them."""

    count = 2
    sim_args = ()

    def setUp(self):
        self.runtime = tempfile.mkdtemp(prefix="talmir880-bench-")
        self.addCleanup(shutil.rmtree, self.runtime, ignore_errors=True)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.sims = []
        for i in range(self.count):
            self.sims.append(Simulator(self.env, *self.sim_args, com=3 + i))
            self.addCleanup(self.sims[i].stop)
        ports = [arg for i in range(self.count) for arg in ("--port", "COM%d" % (3 + i))]
        self.server, self.server_log, self.log_reader = self.run_server(
            self.env, "--no-vxi11", "--log-commands", *ports, "--name", "last")
        self.ports = []
        for i in range(self.count):
            name = "COM%d" % (3 + i) + (", named last" if i == self.count - 1 else "")
            line = self.wait_for_log("device " + name, timeout=10)
            self.assertIsNotNone(line, self.server_log)
            self.ports.append(int(re.search(r"listening on 127\.0\.0\.1:(\d+)", line).group(1)))
        for sim in self.sims:
            self.assertEqual(sim.taken_over(), TAKEOVER)
        self.connections = [self.open(i) for i in range(self.count)]

    def open(self, i):
        connection = socket.create_connection(("127.0.0.1", self.ports[i]), timeout=5)
        self.addCleanup(connection.close)
        return connection


class TwoGeneratorsTest(BenchTest):

    def test_each_generator_names_itself_and_drives_only_its_own_line(self):
        first, second = self.connections
        self.assertEqual(ask(first, "*IDN?").split(",")[:3], ["TALMIR", "TALMIR-880", "COM3"])
        self.assertEqual(ask(second, "*IDN?").split(",")[:3], ["TALMIR", "TALMIR-880", "last"])
        self.assertEqual(ask(first, "OUTP ON;:FREQ 433.92 MHZ;*OPC?"), "1")
        self.assertEqual(ask(second, "OUTP ON;:POW -6;:FREQ 26 MHZ;*OPC?"), "1")
        self.assertEqual(ask(first, "FREQ?;:POW?"), "433920000;-3")
        self.assertEqual(ask(second, "FREQ?;:POW?"), "26000000;-6")
        self.assertEqual(self.sims[0].commands(), ["$F010000000", "$F043392000"])
        self.assertEqual(self.sims[1].commands(), ["$F010000000", "$P2", "$F002600000"])
        # The journal names the port of each command.
        self.assertRegex(self.wait_for_log(" $P2 <- ") or "",
                         r" COM4: 127\.0\.0\.1:\d+ \$P2 <- OUTP ON;:POW -6;:FREQ 26 MHZ;\*OPC\?$")

    def test_errors_and_status_are_each_generators_own(self):
        first, second = self.connections
        self.assertEqual(ask(second, "FREQ 99 GHZ;*ESR?"), "16")
        self.assertEqual(ask(first, "*ESR?;:SYST:ERR?"), '0;0,"No error"')
        self.assertTrue(ask(second, "SYST:ERR?").startswith("-222,"))


class PassTest(BenchTest):

    sim_args = ("--dwell-ms", "50")

    def test_a_long_pass_on_one_does_not_hold_the_other(self):
        # Twenty points of 50 ms on the first: its *OPC? answers after the
        # pass, the second's at once, and nothing of either crosses over.
        first, second = self.connections
        ask(first, "OUTP ON;*OPC?")
        first.sendall(b"FREQ:MODE SWE;:FREQ:STAR 100 MHZ;STOP 119 MHZ;:SWE:POIN 20;:INIT;*OPC?\n")
        self.sims[0].read_lines(until="$W", timeout=5)
        self.assertEqual(ask(second, "OUTP ON;:FREQ 1 GHZ;*OPC?"), "1")
        first.setblocking(False)
        with self.assertRaises(BlockingIOError, msg="the first pass had ended already"):
            first.recv(16)
        first.settimeout(10)
        self.assertEqual(read_line(first), "1")
        self.assertEqual(ask(first, "SYST:ERR?"), '0,"No error"')
        self.assertEqual(self.sims[1].commands(), ["$F010000000", "$F100000000"])


class FourGeneratorsTest(BenchTest):

    count = 4

    def test_a_pulled_device_leaves_the_others_serving(self):
        for connection in self.connections:
            self.assertEqual(ask(connection, "OUTP ON;*OPC?"), "1")
        self.sims[2].stop()
        self.assertEqual(ask(self.connections[2], "FREQ 30 MHZ;*OPC?;:SYST:ERR?"),
                         '1;-241,"Hardware missing;device gone"')
        for i in (0, 1, 3):
            self.assertEqual(ask(self.connections[i], "FREQ %d MHZ;*OPC?;:SYST:ERR?" % (40 + i)),
                             '1;0,"No error"')
            self.assertEqual(self.sims[i].commands()[-1], "$F%09d" % ((40 + i) * 100000))
        self.assertIn("COM5: device gone", "\n".join(self.server_log))


if __name__ == "__main__":
    unittest.main()
