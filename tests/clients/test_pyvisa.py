"""pyvisa with its pure-Python backend drives the generator as any SCPI
instrument on a raw socket."""

import time
import unittest

import pyvisa

from server_fixture import TAKEOVER, ServerTest, settles_to


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
        deadline = time.monotonic() + 5
        errors = ""
        while "device gone" not in errors and time.monotonic() < deadline:
            errors += generator.query("SYST:ERR?")
        self.assertIn('-241,"Hardware missing;device gone"', errors)
        # Gone, it may still be on: nothing is built on that.
        self.assertEqual(generator.query("OUTP?;:STAT:QUES:COND?"), "1;1536")
        generator.write("FREQ 300 MHZ")
        self.assertEqual(generator.query("FREQ?;:SYST:ERR?"), '300000000;0,"No error"')
        self.restart_simulator()
        # Back, the device cannot be asked: the server switches it off first,
        # by itself, trying the port at most once a second.
        self.assertEqual(self.sim.taken_over(timeout=5), TAKEOVER)
        self.assertEqual(settles_to(lambda: generator.query("FREQ?;:OUTP?;:STAT:QUES:COND?"),
                                    "300000000;0;0"), "300000000;0;0")
        self.assertEqual(self.sim.commands(), [])
        generator.write("OUTP ON")
        self.assertEqual(generator.query("*OPC?"), "1")
        self.assertEqual(self.sim.commands(), ["$F030000000"])


if __name__ == "__main__":
    unittest.main()
