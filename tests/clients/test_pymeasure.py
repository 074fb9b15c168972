"""The project's PyMeasure class, as a user imports it."""

import time
import unittest

from pymeasure.adapters import VISAAdapter

from server_fixture import ServerTest
from talmir880 import Talmir880


class PymeasureTest(ServerTest):

    def setUp(self):
        super().setUp()
        adapter = VISAAdapter(self.resource, visa_library="@py", read_termination="\n",
                              write_termination="\n", timeout=5000)
        self.addCleanup(adapter.connection.close)
        self.generator = Talmir880(adapter)

    def test_properties_read_back_what_the_device_took(self):
        g = self.generator
        self.assertIn("TALMIR-880", g.id)
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

    def test_a_value_the_device_cannot_take_is_refused_before_it_is_sent(self):
        with self.assertRaises(ValueError):
            self.generator.power = -5
        self.generator.write("POW -5")  # past the class, the server refuses it too
        self.assertEqual(self.generator.check_errors(), [(-224, "Illegal parameter value")])
        self.assertEqual(self.sim.commands(), [])

    def test_sweep_returns_when_the_device_has_reported_every_point(self):
        g = self.generator
        g.start_frequency = 100e6
        g.stop_frequency = 200e6
        g.sweep_points = 1000
        started = time.monotonic()
        g.sweep()
        took = time.monotonic() - started
        self.sim.read_lines()
        # 1000 points from 100 to 200 MHz, both included.
        self.assertIn("$W010000000000100101000", self.sim.commands())
        self.assertTrue(any(line.startswith("SWEEP DONE") for line in self.sim.lines))
        # 1000 points of 4 characters at 57600 baud take 0.69 s on the line.
        self.assertGreater(took, 0.6)
        self.assertEqual(g.check_errors(), [])


if __name__ == "__main__":
    unittest.main()
