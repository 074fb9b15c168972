"""A generator on another machine: Debian's ser2net offers the simulator's
serial port on a loopback TCP port, and the server reaches it with
--port tcp:127.0.0.1:PORT. A restarted ser2net is a device that went and
came back: -241 with the network named, the output not confirmed, then
switched off and served again by the same server."""

import os
import socket
import subprocess
import time
import unittest

import pyvisa

from server_fixture import TAKEOVER, ServerTest, end_process, settles_to

REMOTE_PORT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                           "remote-port.sh")

LINK_LOST = '-241,"Hardware missing;network link lost"'


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    """Whether something listens on 127.0.0.1:port, read from the kernel's
    table rather than by connecting, which ser2net would take for a user."""
    wanted = "0100007F:%04X" % port
    with open("/proc/net/tcp") as table:
        return any(fields[1] == wanted and fields[3] == "0A"
                   for fields in (line.split() for line in table))


class Ser2netRig(ServerTest):
    """The simulator, ser2net in front of it, and the server on server_port()."""

    # The server starts before ser2net: it reaches the device, by itself,
    # once ser2net is there.
    reached_at_start = False
    # What a subclass adds to the server's command line.
    more_server_args = ()

    def server_port(self):
        return "tcp:127.0.0.1:%d" % self.relay_port

    def setUp(self):
        self.relay_port = free_port()
        self.server_args = ("--no-vxi11", "--port", self.server_port()) + self.more_server_args
        self.ser2net = None
        super().setUp()
        device = os.path.realpath(os.path.join(self.runtime, "talmir880", "COM9"))
        self.config = os.path.join(self.runtime, "ser2net.yaml")
        with open(self.config, "w") as f:
            f.write("connection: &generator\n"
                    "  accepter: tcp,127.0.0.1,%d\n"
                    "  connector: serialdev,%s,57600n81,local\n"
                    "  options:\n"
                    "    kickolduser: true\n"
                    "    chardelay: false\n" % (self.relay_port, device))
        self.start_ser2net()
        self.addCleanup(lambda: self.ser2net and end_process(self.ser2net))

    def start_ser2net(self, port=None):
        """ser2net on its configuration, listening on `port` (the relay port
        unless the configuration was changed)."""
        port = port or self.relay_port
        # -n: in the foreground; -u: no UUCP lock in /var/lock.
        self.ser2net = subprocess.Popen(
            ["ser2net", "-n", "-u", "-P", os.path.join(self.runtime, "ser2net.pid"),
             "-c", self.config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 5
        while not listening(port):
            if time.monotonic() > deadline or self.ser2net.poll() is not None:
                raise RuntimeError("ser2net did not start on port %d" % port)
            time.sleep(0.02)

    def stop_ser2net(self):
        end_process(self.ser2net)
        self.ser2net = None

    def open(self):
        manager = pyvisa.ResourceManager("@py")
        instrument = manager.open_resource(self.resource, read_termination="\n",
                                           write_termination="\n", timeout=5000)
        self.addCleanup(manager.close)
        return instrument



class Ser2netTest(Ser2netRig):

    def setUp(self):
        super().setUp()
        self.assertEqual(self.sim.taken_over(), TAKEOVER)

    def test_the_five_line_script_through_ser2net(self):
        generator = self.open()
        self.assertIn("TALMIR-880", generator.query("*IDN?"))
        generator.write("FREQ 433.92 MHZ")
        self.assertEqual(generator.query("FREQ?"), "433920000")
        generator.write("OUTP ON;:POW -6 DBM")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertEqual(generator.query("SYST:ERR?"), '0,"No error"')
        self.assertEqual(self.sim.commands(), ["$F043392000", "$P2"])

    def test_a_restarted_ser2net_is_a_device_that_went_and_came_back(self):
        generator = self.open()
        generator.write("OUTP ON;:FREQ 200 MHZ")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertEqual(self.sim.commands(), ["$F010000000", "$F020000000"])
        server_pid = self.server.pid

        self.stop_ser2net()
        self.assertIsNotNone(self.wait_for_log("network link lost"), self.server_log)
        # The device may go on emitting: never "off" while it may be on, and
        # nothing is built on that.
        self.assertEqual(generator.query("OUTP?;:STAT:QUES:COND?"), "1;1536")
        generator.write("FREQ 300 MHZ;:OUTP OFF")
        self.assertEqual(generator.query("FREQ?;:OUTP?"), "300000000;1")
        # The loss while idle reaches every client; the refused switch-off
        # is the command's own.
        self.assertEqual(generator.query("SYST:ERR:ALL?"), ",".join([LINK_LOST] * 2))

        self.start_ser2net()
        # Back, the device cannot be asked: switched off by the server first,
        # which tries the link at most once a second.
        self.assertEqual(self.sim.taken_over(), TAKEOVER)
        self.assertIsNotNone(self.wait_for_log("device back"), self.server_log)
        self.assertEqual(settles_to(lambda: generator.query("FREQ?;:OUTP?;:STAT:QUES:COND?"),
                                    "300000000;0;0"), "300000000;0;0")
        generator.write("OUTP ON")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertEqual(self.sim.commands(), ["$F030000000"], "nothing else after the switch-off")
        self.assertEqual(self.server.pid, server_pid)
        self.assertIsNone(self.server.poll(), "served without a restart")


class RemotePortTest(Ser2netRig):
    """The panel's way: scripts/remote-port.sh links COM5 to ser2net, and
    the server opens COM5 as a panel would."""

    def server_port(self):
        return "COM5"

    def setUp(self):
        super().setUp()
        self.link = os.path.join(self.runtime, "talmir880", "COM5")
        self.remote_port = subprocess.Popen(
            [REMOTE_PORT, "127.0.0.1:%d" % self.relay_port, "COM5"], env=self.env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(end_process, self.remote_port)
        self.assertTrue(self.wait_for_link(True), "remote-port.sh links COM5")
        self.assertEqual(self.sim.taken_over(), TAKEOVER)

    def wait_for_link(self, present, timeout=5.0):
        deadline = time.monotonic() + timeout
        while os.path.islink(self.link) != present:
            if time.monotonic() > deadline:
                return False
            time.sleep(0.02)
        return True

    def test_the_link_is_made_again_when_ser2net_is_back(self):
        generator = self.open()
        generator.write("OUTP ON;:FREQ 200 MHZ")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.stop_ser2net()
        self.assertTrue(self.wait_for_link(False), "the link goes with the connection")
        self.assertIsNotNone(self.wait_for_log("COM5: device gone"), self.server_log)
        self.start_ser2net()
        self.assertTrue(self.wait_for_link(True), "and comes back with ser2net")
        self.assertEqual(self.sim.taken_over(), TAKEOVER, "the port is tried at most once a second")
        generator.write("FREQ 300 MHZ")
        self.assertEqual(generator.query("FREQ?;:OUTP?"), "300000000;0")
        generator.write("OUTP ON")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertEqual(self.sim.commands(), ["$F030000000"])
        self.assertRegex(generator.query("SYST:ERR:ALL?"), r'^-241,"Hardware missing;device gone"')


if __name__ == "__main__":
    unittest.main()
