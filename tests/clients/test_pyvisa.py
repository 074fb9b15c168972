"""pyvisa with its pure-Python backend drives the generator as any SCPI
instrument on a raw socket."""

import time
import unittest

import pyvisa

from server_fixture import ServerTest


class PyvisaTest(ServerTest):

    def open(self):
        manager = pyvisa.ResourceManager("@py")
        instrument = manager.open_resource(self.resource, read_termination="\n",
                                           write_termination="\n", timeout=5000)
        self.addCleanup(manager.close)
        return instrument

    def test_the_five_line_script(self):
        generator = self.open()
        self.assertIn("TALMIR-880", generator.query("*IDN?"))
        generator.write("FREQ 433.92 MHZ")
        self.assertEqual(generator.query("FREQ?"), "433920000")
        self.assertEqual(self.sim.commands(), [], "the output is off at start: kept for later")
        generator.write("OUTP ON")
        self.assertEqual(generator.query("SYST:ERR?"), '0,"No error"')
        self.assertEqual(self.sim.commands(), ["$F043392000"])

    def test_every_command_reaches_the_device_as_the_panel_sends_it(self):
        generator = self.open()
        script = [
            ("POW -9", ["$P1"]),
            ("OUTP OFF", ["$F000000001"]),
            ("OUTP ON", ["$F010000000"]),
            ("OUTP:MOD ON", ["$M0001000"]),
            ("SOUR:LFO:FREQ 2.5 KHZ", ["$M0002500"]),
            ("OUTP:MOD OFF", ["$M0000000"]),
            # 500 points from 100 to 500 MHz, both included: 801603.2 Hz a step.
            ("FREQ:MODE SWE;:FREQ:STAR 100 MHZ;STOP 500 MHZ;:SWE:POIN 500;:INIT;*WAI",
             ["$W010000000000801600500"]),
            ("*SAV 0", ["$S1"]),
            ("*RST", ["$F000000001", "$M0000000", "$P3"]),
        ]
        for command, _ in script:
            generator.write(command)
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertEqual(self.sim.commands(), [c for _, sent in script for c in sent])
        self.assertEqual(generator.query("OUTP?;OUTP:MOD?;:FREQ?;:POW?"), "0;0;100000000;-3")
        self.assertEqual(generator.query("SYST:ERR?"), '0,"No error"')

    def test_unplugging_and_plugging_back_needs_no_restart(self):
        generator = self.open()
        generator.write("OUTP ON;:FREQ 200 MHZ")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.sim.stop()
        generator.write("FREQ 300 MHZ")
        self.assertEqual(generator.query("FREQ?"), "200000000", "refused: no device")
        errors = generator.query("SYST:ERR:ALL?")
        self.assertRegex(errors, r'^-241,"Hardware missing;(device gone|no such port)"')
        self.restart_simulator()
        time.sleep(1.2)  # the port is tried at most once a second
        generator.write("FREQ 300 MHZ")
        # Back, the device cannot be asked: its output counts as off, as at start.
        self.assertEqual(generator.query("FREQ?;:OUTP?"), "300000000;0")
        self.assertEqual(generator.query("SYST:ERR?"), '0,"No error"')
        self.assertEqual(self.sim.commands(), [])
        generator.write("OUTP ON")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertEqual(self.sim.commands(), ["$F030000000"])


if __name__ == "__main__":
    unittest.main()
