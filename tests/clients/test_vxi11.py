"""VISA's usual LAN resource, TCPIP::host::INSTR: pyvisa-py and the PyMeasure
class over VXI-11, beside the raw socket. The module runs in network, mount
and PID namespaces of its own, with an rpcbind of its own: a server elsewhere
on the machine, registered with the system's rpcbind, is none of its
business, and everything it starts ends with it. Needs root and unshare(1)."""

import os

from private_network import Daemons, run_inside, rpcbind_runs

# Before anything else: the whole run again, inside the namespaces.
INSIDE = "TALMIR880_VXI11_NAMESPACE"
REFUSED = run_inside(INSIDE)

import shutil  # noqa: E402
import signal  # noqa: E402
import socket  # noqa: E402
import subprocess  # noqa: E402
import sys  # noqa: E402
import threading  # noqa: E402
import time  # noqa: E402
import unittest  # noqa: E402

import pyvisa  # noqa: E402
from pymeasure.adapters import VISAAdapter  # noqa: E402
from pyvisa_py.protocols import vxi11  # noqa: E402

from server_fixture import SERVER, TAKEOVER, ServerTest, Simulator  # noqa: E402
from talmir880 import Talmir880  # noqa: E402

RESOURCES = ("TCPIP::127.0.0.1::INSTR", "TCPIP0::127.0.0.1::inst0::INSTR")


def setUpModule():
    if REFUSED is not None or os.getpid() != 1:
        raise RuntimeError("these tests need root and unshare(1): they run in namespaces "
                           "of their own, with an rpcbind of their own")
    # A hung RPC call fails the test instead of waiting for CTest's timeout.
    socket.setdefaulttimeout(20)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=5)
    daemons = Daemons()
    unittest.addModuleCleanup(daemons.stop_all)
    daemons.rpcbind()


class Vxi11Fixture(ServerTest):

    server_args = ()

    def setUp(self):
        if not rpcbind_runs():
            self.fail("rpcbind is not running on 127.0.0.1 in the namespace")
        super().setUp()
        line = self.wait_for_log("VXI-11 on", "VXI-11 off")
        self.assertRegex(line or "", r"VXI-11 on 127\.0\.0\.1:\d+, registered with rpcbind")
        self.manager = pyvisa.ResourceManager("@py")
        self.addCleanup(self.manager.close)

    def open(self, resource=RESOURCES[0], timeout=5000):
        return self.manager.open_resource(resource, read_termination="\n",
                                          write_termination="\n", timeout=timeout)


class Vxi11Test(Vxi11Fixture):

    def test_both_resource_strings_reach_the_generator(self):
        for resource in RESOURCES:
            with self.subTest(resource=resource):
                generator = self.open(resource)
                self.assertIn("TALMIR-880", generator.query("*IDN?"))
                generator.close()

    def test_a_frequency_reaches_the_device(self):
        generator = self.open()
        generator.write("OUTP ON")
        generator.write("FREQ 100 MHZ")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertEqual(self.sim.commands()[-1], "$F010000000")
        self.assertEqual(generator.query("FREQ?;:SYST:ERR?"), '100000000;0,"No error"')

    def test_opc_waits_for_a_pass_but_no_longer_than_the_client_asked(self):
        generator = self.open()
        # 1000 points of 4 characters at 57600 baud: 0.69 s on the line.
        sweep = "OUTP ON;:FREQ:MODE SWE;:FREQ:STAR 100 MHZ;STOP 200 MHZ;:SWE:POIN 1000;:INIT"
        generator.write(sweep)
        generator.timeout = 200
        started = time.monotonic()
        with self.assertRaises(pyvisa.errors.VisaIOError) as raised:
            generator.query("*OPC?")
        self.assertEqual(raised.exception.error_code, pyvisa.constants.StatusCode.error_timeout)
        self.assertLess(time.monotonic() - started, 1.0, "the read gave up in its time")
        generator.timeout = 5000
        self.assertEqual(generator.read(), "1", "the answer came later and was kept")
        generator.write("INIT")
        started = time.monotonic()
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertGreater(time.monotonic() - started, 0.6)

    def test_read_stb_shows_a_message_and_an_event(self):
        generator = self.open()
        self.assertEqual(generator.read_stb() & 16, 0)
        generator.write("*IDN?")
        self.assertEqual(generator.read_stb() & 16, 16, "MAV")
        generator.read()
        self.assertEqual(generator.read_stb() & 16, 0)
        generator.write("*ESE 32;:NO:SUCH")
        self.assertEqual(generator.read_stb() & 32, 32, "ESB: a command error")

    def test_clear_drops_unread_answers_and_errors(self):
        generator = self.open()
        generator.write("NO:SUCH")
        generator.write("*IDN?")
        generator.clear()
        self.assertEqual(generator.query("SYST:ERR?"), '0,"No error"')

    def test_an_exclusive_lock_keeps_another_client_out_until_unlocked(self):
        holder = self.open()
        other = self.open()
        holder.lock_excl()
        with self.assertRaises(pyvisa.errors.VisaIOError) as raised:
            other.lock_excl()
        self.assertEqual(raised.exception.error_code,
                         pyvisa.constants.StatusCode.error_resource_locked)
        # pyvisa-py reports any refused write as an I/O error.
        with self.assertRaises(pyvisa.errors.VisaIOError):
            other.write("FREQ 200 MHZ")
        self.assertIn("TALMIR-880", holder.query("*IDN?"), "the holder goes on")
        holder.unlock()
        other.write("FREQ 200 MHZ")
        self.assertEqual(other.query("FREQ?"), "200000000")

    def test_a_write_waiting_for_the_lock_goes_on_at_unlock_or_times_out(self):
        holder = self.open()
        holder.lock_excl()
        client = vxi11.CoreClient("127.0.0.1")
        self.addCleanup(client.close)
        error, link, _, _ = client.create_link(1, 0, 0, "inst0")
        self.assertEqual(error, 0)
        flags = vxi11.OP_FLAG_WAIT_BLOCK | vxi11.OP_FLAG_END

        started = time.monotonic()
        self.assertEqual(client.device_write(link, 2000, 300, flags, b"*IDN?\n")[0], 11)
        self.assertGreater(time.monotonic() - started, 0.25, "it waited for the lock")

        threading.Timer(0.3, holder.unlock).start()
        started = time.monotonic()
        self.assertEqual(client.device_write(link, 2000, 3000, flags, b"*IDN?\n"), (0, 6))
        self.assertGreater(time.monotonic() - started, 0.25, "until the unlock")
        error, reason, data = client.device_read(link, 1024, 2000, 0, 0, 0)
        self.assertEqual((error, reason & vxi11.RX_END), (0, vxi11.RX_END))
        self.assertIn(b"TALMIR-880", data)
        self.assertEqual(client.destroy_link(link), 0)

    def test_the_pymeasure_class_over_vxi11(self):
        adapter = VISAAdapter(RESOURCES[0], visa_library="@py", read_termination="\n",
                              write_termination="\n", timeout=5000)
        self.addCleanup(adapter.connection.close)
        g = Talmir880(adapter)
        self.assertIn("TALMIR-880", g.id)
        g.output_enabled = True
        g.frequency = 433.92e6
        g.power = -6
        self.assertEqual(g.frequency, 433.92e6)
        self.assertEqual(g.power, -6)
        self.assertEqual(self.sim.commands()[-2:], ["$F043392000", "$P2"])
        self.assertEqual(g.check_errors(), [])

    def test_vxi11_and_raw_socket_clients_interleave_without_crossing_answers(self):
        generator = self.open()
        raw = self.connect()
        self.addCleanup(raw.close)
        replies = raw.makefile("r", encoding="ascii", newline="\n")
        for n in range(20):
            raw.sendall(b"*IDN?\n")
            generator.write("SYST:ERR?;*OPC?")
            raw.sendall(b"*ESE %d;*ESE?\n" % n)
            self.assertEqual(generator.read(), '0,"No error";1')
            self.assertIn("TALMIR-880", replies.readline())
            self.assertEqual(replies.readline().strip(), str(n))

    def other_server(self):
        """Another server on a free raw port: its process and reader, and its
        standard error from the line that says where it listens to the one
        that says where VXI-11 is or why it is off (what it says of its
        device comes before)."""
        process, log, reader = self.run_server(self.env)
        line = self.wait_for_log("VXI-11 on", "VXI-11 off", log=log, reader=reader)
        lines = log[:log.index(line) + 1] if line else list(log)
        return process, reader, lines[next((i for i, l in enumerate(lines)
                                            if "listening on" in l), 0):]

    def test_a_second_server_leaves_a_live_entry_alone(self):
        process, reader, lines = self.other_server()
        self.assertIn("listening on 127.0.0.1:", lines[0])
        self.assertRegex(lines[-1], r"VXI-11 off: another server on this machine \(port \d+\)")
        self.assertIn("TALMIR-880", self.open().query("*IDN?"), "the first still serves")
        self.stop_server(process, reader)
        self.assertIn("TALMIR-880", self.open().query("*IDN?"), "and keeps its entry")

    def test_the_entry_of_a_killed_server_is_replaced(self):
        self.server.send_signal(signal.SIGKILL)
        self.server.wait(5)
        _, _, lines = self.other_server()
        self.assertIn("VXI-11: replaced the rpcbind entry of a server that is gone", lines[1])
        self.assertIn("VXI-11 on 127.0.0.1:", lines[-1])
        self.assertIn("TALMIR-880", self.open().query("*IDN?"))


# Inside a network and mount namespace of its own: loopback up, no rpcbind
# on port 111 and none behind /run's socket. Prints the server's lines and
# the raw socket's answer.
WITHOUT_RPCBIND = r"""
import re, socket, subprocess, sys
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run"], check=True)
server = subprocess.Popen([sys.argv[1], "--listen", "127.0.0.1:0"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
try:
    lines = []
    while len(lines) < 5 and (not lines or "VXI-11" not in lines[-1]):
        lines.append(server.stderr.readline().strip())
    print("\n".join(lines))
    port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", "\n".join(lines)).group(1))
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(b"*IDN?\n")
        print("answer: " + s.makefile("r").readline().strip())
finally:
    server.terminate()
    sys.exit(server.wait(5))
"""


class TwoGeneratorsTest(Vxi11Fixture):
    """Generator i as device inst<i> on the one core channel."""

    server_args = ("--port", "COM9", "--port", "COM8", "--name", "second")

    def setUp(self):
        super().setUp()
        self.second = Simulator(self.env, com=8)
        self.addCleanup(self.second.stop)
        # Absent when the server started: tried once a second, and switched
        # off when found.
        self.assertEqual(self.second.taken_over(), TAKEOVER)

    def test_inst0_and_inst1_are_each_their_own_generator(self):
        self.assertTrue(self.wait_for_log("VXI-11 on").endswith(
            ", registered with rpcbind, devices inst0 to inst1"))
        first = self.open("TCPIP::127.0.0.1::inst0::INSTR")
        second = self.open("TCPIP::127.0.0.1::inst1::INSTR")
        self.assertEqual(first.query("*IDN?").split(",")[2], "COM9")
        self.assertEqual(second.query("*IDN?").split(",")[2], "second")
        second.write("OUTP ON;:FREQ 26 MHZ;POW -9")
        first.write("FREQ 40 MHZ")
        self.assertEqual(second.query("*OPC?;:FREQ?;:POW?;:SYST:ERR?"),
                         '1;26000000;-9;0,"No error"')
        self.assertEqual(first.query("FREQ?;:OUTP?"), "40000000;0")
        self.assertEqual(self.second.commands(), ["$F010000000", "$F002600000", "$P1"])
        self.assertEqual(self.sim.commands(), [], "the first's output is off: FREQ is kept")
        # A lock on one device leaves the other free.
        first.lock_excl()
        self.assertEqual(second.query("*OPC?"), "1")
        first.unlock()
        # pyvisa-py tells a refused link by its VXI-11 error: 3, device not accessible.
        with self.assertRaisesRegex(Exception, "error creating link: 3"):
            self.open("TCPIP::127.0.0.1::inst2::INSTR")
        first.close()
        second.close()


class WithoutRpcbindTest(unittest.TestCase):

    def test_the_raw_socket_serves_and_the_server_says_why_vxi11_is_off(self):
        if os.geteuid() != 0 or shutil.which("unshare") is None:
            self.fail("this test needs root and unshare(1) for a namespace without rpcbind")
        run = subprocess.run(["unshare", "--net", "--mount", sys.executable, "-c",
                              WITHOUT_RPCBIND, SERVER], capture_output=True, text=True,
                             timeout=30)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("listening on 127.0.0.1:", run.stdout)
        self.assertRegex(run.stdout, r"VXI-11 off: rpcbind is not running; start it")
        self.assertRegex(run.stdout, r"answer: TALMIR,TALMIR-880,")


if __name__ == "__main__":
    unittest.main()
