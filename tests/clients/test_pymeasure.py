"""The project's PyMeasure class, as a user imports it."""

import threading
import time
import unittest

from server_fixture import ServerTest
from talmir880 import ServerError, SweepError, Talmir880
from talmir880 import generator as ranges


class PymeasureTest(ServerTest):

    def setUp(self):
        super().setUp()
        # The resource name alone, as PyMeasure users write it.
        self.generator = Talmir880(self.resource)
        self.addCleanup(self.generator.adapter.connection.close)

    def test_properties_read_back_what_the_device_took(self):
        g = self.generator
        self.assertIn("TALMIR-880", g.id)
        self.assertTrue(g.output_confirmed, "switched off when the server took it over")
        g.output_enabled = True
        g.modulation_enabled = True
        g.frequency = 433.92e6
        g.power = -6
        g.modulation_frequency = 400
        g.modulation_enabled = False
        g.output_enabled = False
        self.assertEqual(g.frequency, 433.92e6)
        self.assertEqual(g.power, -6)
        self.assertEqual(g.modulation_frequency, 400)
        self.assertFalse(g.modulation_enabled)
        self.assertFalse(g.output_enabled)
        self.assertEqual(self.sim.commands(),
                         ["$F010000000", "$M0001000", "$F043392000", "$P2", "$M0000400",
                          "$M0000000", "$F000000001"])
        self.assertEqual(g.check_errors(), [])

    def test_frequencies_are_kept_while_their_outputs_are_off(self):
        g = self.generator
        self.assertFalse(g.output_enabled)
        self.assertFalse(g.modulation_enabled)
        g.frequency = 433.92e6
        g.modulation_frequency = 400
        self.assertEqual((g.frequency, g.modulation_frequency), (433.92e6, 400))
        self.assertEqual(self.sim.commands(), [])
        g.enable()
        g.enable_modulation()
        self.assertEqual(g.ask("*OPC?").strip(), "1")
        self.assertEqual(self.sim.commands(), ["$F043392000", "$M0000400"])

    def test_a_caller_may_choose_other_line_ends(self):
        g = Talmir880(self.resource, write_termination="\r\n", timeout=3000)
        self.addCleanup(g.adapter.connection.close)
        self.assertEqual(g.adapter.connection.write_termination, "\r\n")
        self.assertEqual(g.adapter.connection.read_termination, "\n")
        g.sweep_points = 77
        self.assertEqual(g.sweep_points, 77)

    def test_a_value_the_device_cannot_take_is_refused_before_it_is_sent(self):
        g = self.generator
        for refused in (lambda: setattr(g, "power", -5),
                        lambda: setattr(g, "sweep_points", 500.5),
                        lambda: setattr(g, "frequency", 15),
                        lambda: g.sweep(200e6, 100e6),
                        lambda: g.sweep(points=4)):
            with self.assertRaises(ValueError):
                refused()
        g.write("POW -5")  # past the class, the server refuses it too
        self.assertEqual(g.check_errors(), [(-224, "Illegal parameter value")])
        self.assertEqual(self.sim.commands(), [])

    def test_the_class_takes_what_the_server_takes(self):
        g = self.generator
        for query, expected in (("FREQ?", ranges.CW_RANGE),
                                ("FREQ:STAR?", ranges.FREQUENCY_RANGE),
                                ("FREQ:CENT?", ranges.FREQUENCY_RANGE),
                                ("FREQ:SPAN?", ranges.SPAN_RANGE),
                                ("FREQ:STEP?", ranges.STEP_RANGE),
                                ("LFO:FREQ?", ranges.MODULATION_RANGE),
                                ("SWE:POIN?", ranges.POINTS_RANGE),
                                ("POW?", [min(ranges.LEVELS_DBM), max(ranges.LEVELS_DBM)])):
            served = [float(g.ask("%s %s" % (query, limit))) for limit in ("MIN", "MAX")]
            self.assertEqual(served, [float(v) for v in expected], query)
        self.assertEqual(g.check_errors(), [])

    def test_shutdown_switches_the_modulation_and_the_output_off(self):
        g = self.generator
        g.enable_modulation()
        g.enable()
        self.assertEqual(g.ask("*OPC?").strip(), "1")
        g.shutdown()
        self.assertTrue(g.isShutdown)
        self.sim.read_lines(until="$F000000001")
        self.assertEqual(self.sim.commands(),
                         ["$M0001000", "$F010000000", "$M0000000", "$F000000001"])

    def test_sweep_returns_when_the_device_has_reported_every_point(self):
        g = self.generator
        g.enable()  # a pass is RF on
        started = time.monotonic()
        g.sweep(100e6, 200e6, 1000)
        took = time.monotonic() - started
        self.sim.read_lines()
        # 1000 points from 100 to 200 MHz, both included: 100100.1 Hz a step.
        self.assertIn("$W010000000000100101000", self.sim.commands())
        self.assertTrue(any(line.startswith("SWEEP DONE") for line in self.sim.lines))
        # 1000 points of 4 characters at 57600 baud take 0.69 s on the line.
        self.assertGreater(took, 0.6)
        self.assertEqual(g.check_errors(), [])

    def test_sweep_raises_when_the_pass_cannot_run(self):
        g = self.generator
        g.enable()
        self.sim.stop()  # the device is gone: only the server can tell
        deadline = time.monotonic() + 5
        while g.ask("SYST:ERR:COUN?").strip() == "0" and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertEqual(g.check_errors(), [(-241, "Hardware missing;device gone")])
        # Gone, it may still be on: read as on, not confirmed.
        self.assertEqual((g.output_enabled, g.output_confirmed), (True, False))
        with self.assertRaises(SweepError) as raised:
            g.sweep(100e6, 200e6, 100)
        # Tried again at most once a second: gone until then.
        self.assertEqual(str(raised.exception),
                         'the sweep pass did not run: -241,"Hardware missing;device gone"')
        self.assertEqual(raised.exception.errors, [(-241, "Hardware missing;device gone")])
        self.assertEqual(g.check_errors(), [])

    def test_a_setting_the_server_refuses_raises_its_code_and_text(self):
        g = self.generator
        g.write("POW -5")  # an error left unread is not held against what follows
        g.sweep_points = 77
        g.frequency = ranges.CW_RANGE[1]
        read = []
        for refused, text in (
                # The span of 400 MHz around 9.9 GHz ends above the top.
                (lambda: setattr(g, "center_frequency", 9.9e9), "FREQ:CENT 9900000000"),
                (g.frequency_up, "FREQ UP")):
            with self.assertRaises(ServerError) as raised:
                refused()
            self.assertEqual(str(raised.exception), text + ': -222,"Data out of range"')
            self.assertEqual((raised.exception.code, raised.exception.text),
                             (-222, "Data out of range"))
            read.append(raised.exception.errors)
        self.assertEqual(read, [[(-224, "Illegal parameter value"), (-222, "Data out of range")],
                                [(-222, "Data out of range")]])
        self.assertEqual((g.center_frequency, g.frequency), (300e6, ranges.CW_RANGE[1]))
        self.sim.stop()
        with self.assertRaises(ServerError) as raised:
            g.power = -6
        self.assertRegex(str(raised.exception),
                         r'^POW -6: -241,"Hardware missing;(device gone|no such port)"$')
        self.assertEqual(g.check_errors(), [])

    def test_sweep_checks_the_step_before_it_changes_anything(self):
        g = self.generator
        g.enable()  # a pass is RF on
        before = (g.start_frequency, g.stop_frequency, g.sweep_points)
        for args, message in (
                ((100e6, 100e6 + 20, 9999),
                 "the step, 0.0020004 Hz (20 Hz in 9998 steps), rounds to nothing in the "
                 "device's 10 Hz units; at most 5 points fit that span"),
                # 4.75 Hz rounds to 0 of the device's units, as the server rounds it.
                ((100e6, 100e6 + 19, 5),
                 "the step, 4.75 Hz (19 Hz in 4 steps), rounds to nothing in the device's "
                 "10 Hz units; no pass of 5 points or more fits that span"),
                ((10, 9.99999999e9, 5),
                 "the step, 2.5 GHz (9.99999998 GHz in 4 steps), is wider than the device's "
                 "999.99999 MHz; take at least 12 points"),
                ((200e6, 100e6, 5), "the start, 200 MHz, is not below the stop, 100 MHz"),
                ((100e6, 1e10, 5), "10 GHz is outside 10 Hz to 9.99999999 GHz"),
                ((None, 100e6 - 10, None),
                 "the start, 100 MHz, is not below the stop, 99.99999 MHz")):
            with self.subTest(args=args):
                with self.assertRaises(ValueError) as raised:
                    g.sweep(*args)
                self.assertEqual(str(raised.exception), message)
        self.assertEqual((g.start_frequency, g.stop_frequency, g.sweep_points), before)
        self.assertEqual(g.check_errors(), [])
        # 5 Hz a step is one of the device's units: the server runs it.
        g.sweep(100e6, 100e6 + 20, 5)
        self.assertIn("$W010000000000000010005", self.sim.commands())
        self.assertEqual(g.check_errors(), [])

    def test_messages_name_the_limits_in_readable_units(self):
        g = self.generator
        for name, value, message in (
                ("frequency", 15, "15 Hz is outside 20 Hz to 9.99999999 GHz"),
                ("frequency", 1e10, "10 GHz is outside 20 Hz to 9.99999999 GHz"),
                ("modulation_frequency", 12.5e6, "12.5 MHz is outside 1 Hz to 9.999999 MHz"),
                ("frequency_step", 2e9, "2 GHz is outside 10 Hz to 1 GHz"),
                ("span", -1, "-1 Hz is outside 0 Hz to 9.99999998 GHz"),
                ("power", -5, "-5 dBm is not a level of the device: -3, -6, -9 or -12 dBm"),
                ("power", "loud", "'loud' is not a number of dBm"),
                ("power", True, "True is not a number of dBm"),
                ("sweep_points", 4, "4 points is outside 5 to 9999")):
            with self.subTest(name=name, value=value):
                with self.assertRaises(ValueError) as raised:
                    setattr(g, name, value)
                self.assertEqual(str(raised.exception), message)
        self.assertEqual(self.sim.commands(), [])
        self.assertEqual(g.check_errors(), [])

    def test_a_level_is_taken_as_a_number_or_as_its_text(self):
        g = self.generator
        for value, level, command in (("-6", -6, "$P2"), (-9.0, -9, "$P1"),
                                      (" -12 ", -12, "$P0"), (-3, -3, "$P3")):
            g.power = value
            self.assertEqual(g.power, level)
            self.assertEqual(self.sim.commands()[-1], command)
        self.assertEqual(g.check_errors(), [])

class TwoClientsTest(ServerTest):
    """Another client's errors are not the sweep's."""

    def setUp(self):
        super().setUp()
        self.generator = Talmir880(self.resource)
        self.addCleanup(self.generator.adapter.connection.close)

    def test_another_clients_error_during_a_sweep_stays_its_own(self):
        outcome = []

        def sweep():
            try:
                self.generator.enable()
                self.generator.sweep(100e6, 500e6, 2000)
                outcome.append(None)
            except Exception as error:  # pylint: disable=broad-except
                outcome.append(error)

        sweeper = threading.Thread(target=sweep)
        sweeper.start()
        self.sim.read_lines(until="$W")
        other = self.connect()
        self.addCleanup(other.close)
        other.sendall(b"FREQ 5\n*IDN?\n")
        answer = b""
        while not answer.endswith(b"\n"):
            answer += other.recv(4096)
        self.assertIn(b"TALMIR-880", answer)
        self.assertTrue(sweeper.is_alive(), "FREQ 5 ran during the pass")
        sweeper.join(30)
        self.assertEqual(outcome, [None], "the sweep did not raise")
        self.assertTrue(any(line.startswith("SWEEP DONE") for line in self.sim.read_lines()))
        other.sendall(b"SYST:ERR?;ERR?\n")
        answer = b""
        while not answer.endswith(b"\n"):
            answer += other.recv(4096)
        self.assertEqual(answer, b'-222,"Data out of range";0,"No error"\n')
        self.assertEqual(self.generator.check_errors(), [])


if __name__ == "__main__":
    unittest.main()
