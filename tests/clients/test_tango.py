"""talmir880-tango as a Tango client reaches it: python3-tango (PyTango)
against the server started without a database (-file=), on the simulator,
over loopback; the raw SCPI socket beside it (ScpiListen)."""

import os
import socket
import subprocess
import threading
import time
import unittest

import tango

from server_fixture import TAKEOVER, ServerTest, ask

TANGO_SERVER = os.environ["TALMIR880_TANGO"]
DEVICE = "lab/talmir880/1"
COMMANDS = {"On", "Off", "Reset", "StartSweep", "Abort", "SaveSettings"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def waits_for(condition, timeout=5.0):
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.02)
    return condition()


class TangoServerTest(ServerTest):
    """A simulator and talmir880-tango for each test, its device's
    properties in a file."""

    properties = {"OffAtExit": "true"}
    serial_port = "COM9"

    def start_server(self):
        super().start_server()
        # Its device is exported once every device is made.
        self.assertIsNotNone(self.wait_for_log("serving", timeout=10), self.server_log)

    def run_server(self, env, *args):
        self.orb_port = getattr(self, "orb_port", None) or free_port()
        self.database = os.path.join(self.runtime, "devices.db")
        if not os.path.exists(self.database):
            self.write_database(self.database, DEVICE, dict(
                SerialPort=self.serial_port, ScpiListen="127.0.0.1:0", **self.properties))
        return self.launch(env, "test", "-file=" + self.database, "-ORBendPoint",
                           "giop:tcp:127.0.0.1:%d" % self.orb_port)

    def launch(self, env, *args):
        """talmir880-tango with `args`, ended with the test: the process,
        its standard error as it comes, and the thread that reads it."""
        server = subprocess.Popen([TANGO_SERVER, *args], env=env, stderr=subprocess.PIPE,
                                  text=True)
        log = []
        reader = threading.Thread(target=self._keep_log, args=(server, log), daemon=True)
        reader.start()
        self.addCleanup(self.stop_server, server, reader)
        return server, log, reader

    def restarted(self):
        """The device again, once its server stopped and started anew and
        the device is OFF."""
        self.stop_server()
        self.sim.taken_over()
        self.server, self.server_log, self.log_reader = self.run_server(self.env)
        self.assertIsNotNone(self.wait_for_log("serving", timeout=10), self.server_log)
        gen = self.device()
        self.assertTrue(waits_for(lambda: gen.state() == tango.DevState.OFF), gen.status())
        return gen

    @staticmethod
    def write_database(path, device, properties):
        lines = ["talmir880-tango/test/DEVICE/Talmir880: " + device]
        lines += ["%s->%s: %s" % (device, k, v) for k, v in properties.items()]
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")

    def device(self, orb_port=None, name=DEVICE):
        proxy = tango.DeviceProxy("tango://127.0.0.1:%d/%s#dbase=no"
                                  % (orb_port or self.orb_port, name))
        proxy.set_timeout_millis(3000)
        return proxy



class TangoTest(TangoServerTest):

    def test_its_attributes_are_the_description(self):
        gen = self.device()
        attributes = set(gen.get_attribute_list())
        for s in server_fixture_settings():
            name = s["control"]
            self.assertIn(name, attributes)
            config = gen.get_attribute_config(name)
            self.assertEqual(config.unit, s["unit"], name)
            if s["kind"] in ("frequency", "count", "level"):
                self.assertEqual((float(config.min_value), float(config.max_value)),
                                 (s["min"], s["max"]), name)
            self.assertTrue(config.label, name)
        self.assertIn("sweepProgress", attributes)
        self.assertLessEqual(COMMANDS, set(gen.get_command_list()))

    def test_a_write_with_rf_on_reaches_the_device(self):
        gen = self.device()
        gen.On()
        gen.frequency = 250e6
        self.assertEqual(self.sim.commands()[-1], "$F025000000")
        self.assertEqual(gen.frequency, 250e6)
        self.assertEqual(gen.state(), tango.DevState.ON)

    def test_a_change_on_the_raw_socket_arrives_as_a_change_event(self):
        gen = self.device()
        seen = []
        gen.subscribe_event("frequency", tango.EventType.CHANGE_EVENT,
                            lambda e: seen.append(None if e.err else e.attr_value.value))
        with self.connect() as script:
            self.assertEqual(ask(script, "OUTP ON;:FREQ 300 MHZ;*OPC?"), "1")
        self.assertTrue(waits_for(lambda: 300e6 in seen), seen)

    def test_a_level_the_device_lacks_is_refused_and_nothing_written(self):
        gen = self.device()
        with self.assertRaises(tango.DevFailed) as refused:
            gen.powerLevel = -5
        self.assertIn("only the device's levels: -3, -6, -9, -12 dBm", refused.exception.args[0].desc)
        self.assertEqual(self.sim.commands(), [])
        gen.powerLevel = -9
        self.assertEqual(self.sim.commands(), ["$P1"])

    def test_a_vanished_device_is_a_fault_with_its_cause_and_comes_back(self):
        gen = self.device()
        gen.On()
        self.sim.stop()
        with self.assertRaises(tango.DevFailed):
            gen.Off()
        self.assertEqual(gen.state(), tango.DevState.FAULT)
        self.assertIn("device gone", gen.status())
        self.assertEqual(gen.read_attribute("rfOutput").quality, tango.AttrQuality.ATTR_INVALID)
        self.restart_simulator()
        self.assertTrue(waits_for(lambda: gen.state() == tango.DevState.OFF), gen.status())
        self.assertEqual(self.sim.taken_over(), TAKEOVER)

    def test_a_stop_signal_writes_the_switch_off_before_the_end(self):
        gen = self.device()
        gen.On()
        self.sim.taken_over()
        self.server.terminate()
        self.assertEqual(self.server.wait(10), 0)
        self.assertEqual(self.sim.commands(), TAKEOVER)

    def test_a_restart_keeps_the_setpoints_and_switches_nothing_on(self):
        gen = self.device()
        gen.frequency = 250e6
        gen.powerLevel = -9
        gen = self.restarted()
        self.assertEqual((gen.frequency, gen.powerLevel), (250e6, -9))
        self.assertFalse(gen.rfOutput)
        # The level goes to the device again; the RF stays off.
        self.assertEqual(self.sim.taken_over(), TAKEOVER + ["$P1"])


    def test_tango_writes_beside_a_storm_on_the_raw_socket_never_time_out(self):
        gen = self.device()
        gen.On()
        stop = threading.Event()
        answered = []

        def storm():
            with self.connect() as script:
                lines = script.makefile("rb")
                while not stop.is_set():
                    script.sendall(b"FREQ 100 MHZ;:FREQ?\n" * 10)
                    answered.extend(lines.readline() for _ in range(10))

        storming = threading.Thread(target=storm)
        storming.start()
        try:
            # A timeout or a refusal is a DevFailed.
            for i in range(20):
                gen.frequency = 200e6 + i * 1e6
                gen.powerLevel = (-3, -6)[i % 2]
        finally:
            stop.set()
            storming.join(10)
        self.assertGreater(len(answered), 20)
        # Each answered, with what the frequency was then (a Tango write may
        # come between a line's two commands).
        self.assertTrue(all(line.rstrip(b"\n").isdigit() for line in answered), answered[-3:])
        self.assertEqual(gen.powerLevel, -6)
        self.assertIn("$F021900000", self.sim.commands())

    def test_a_second_server_on_the_same_ports_is_a_fault_and_the_first_serves_on(self):
        gen = self.device()
        self.sim.taken_over()
        second = os.path.join(self.runtime, "second.db")
        self.write_database(second, "lab/talmir880/2",
                            dict(SerialPort="COM9", ScpiListen="127.0.0.1:%d" % self.port))
        orb_port = free_port()
        _, log, reader = self.launch(self.env, "test", "-file=" + second, "-ORBendPoint",
                                     "giop:tcp:127.0.0.1:%d" % orb_port)
        self.assertIsNotNone(self.wait_for_log("serving", log=log, reader=reader, timeout=10), log)
        other = self.device(orb_port, "lab/talmir880/2")
        self.assertTrue(waits_for(lambda: other.state() == tango.DevState.FAULT, 10))
        self.assertIn("%d" % self.port, other.status())
        with self.assertRaises(tango.DevFailed):
            other.On()
        self.assertEqual(self.sim.commands(), [])
        gen.powerLevel = -12
        self.assertEqual(self.sim.commands(), ["$P0"])


class PortNamingNothingTest(TangoServerTest):
    """A SerialPort property that names no port."""

    serial_port = "/dev/talmir880-nothing-here"
    reached_at_start = False

    def start_server(self):
        self.server, self.server_log, self.log_reader = self.run_server(self.env)
        self.assertIsNotNone(self.wait_for_log("serving", timeout=10), self.server_log)

    def test_the_device_is_a_fault_saying_so_and_the_server_serves_on(self):
        gen = self.device()
        self.assertTrue(waits_for(lambda: gen.state() == tango.DevState.FAULT), gen.status())
        self.assertEqual(gen.status(), "The generator on /dev/talmir880-nothing-here cannot be "
                                       "used: no such port.")
        # A setpoint is kept for when the port is there; the output is refused.
        gen.frequency = 250e6
        with self.assertRaises(tango.DevFailed) as refused:
            gen.On()
        self.assertIn("no such port", refused.exception.args[0].desc)
        self.assertEqual(gen.state(), tango.DevState.FAULT)
        self.assertEqual(self.sim.commands(), [])

class SilentDeviceTest(TangoServerTest):
    """A device that takes commands and never answers."""

    sim_args = ("--silent",)
    reached_at_start = False
    # Its switch-offs at exit would go unanswered, and be tried again.
    properties = {}

    def test_a_silent_device_leaves_the_output_invalid_and_the_state_unknown(self):
        gen = self.device()
        # The switch-off of the takeover went unanswered: the RF may be on.
        self.assertTrue(waits_for(lambda: gen.state() == tango.DevState.UNKNOWN), gen.status())
        self.assertEqual(gen.read_attribute("rfOutput").quality, tango.AttrQuality.ATTR_INVALID)
        self.assertIn("not confirmed", gen.status())
        # Refused, or not done within the wait: either way not confirmed.
        with self.assertRaises(tango.DevFailed):
            gen.On()
        self.assertEqual(gen.state(), tango.DevState.UNKNOWN)


def server_fixture_settings():
    from talmir880 import _settings
    return _settings.SETTINGS


if __name__ == "__main__":
    unittest.main()
