"""talmir880-tango as a facility runs it: registered in a real Tango
database (MariaDB and DataBaseds, started by scripts/tango-db.sh, which
names them in TANGO_HOST), started by its instance name alone, found by
clients by the device's name."""

import os
import subprocess
import unittest

import tango

from test_tango import TangoServerTest, waits_for

INSTANCE = "db"
DEVICE = "lab/talmir880/db"


def admin(*args):
    done = subprocess.run(["tango_admin", *args], capture_output=True, text=True, timeout=20)
    if done.returncode != 0:
        raise RuntimeError("tango_admin %s: %s%s" % (" ".join(args), done.stdout, done.stderr))


# Run under scripts/tango-db.sh, which names the database.
if "TANGO_HOST" not in os.environ:
    raise SystemExit("test_tango_db runs under scripts/tango-db.sh")


class DatabaseTest(TangoServerTest):

    def run_server(self, env, *args):
        admin("--add-server", "talmir880-tango/" + INSTANCE, "Talmir880", DEVICE)
        for name, value in {"SerialPort": "COM9", "ScpiListen": "127.0.0.1:0",
                            "OffAtExit": "true"}.items():
            admin("--add-property", DEVICE, name, value)
        # With no -ORBendPoint it listens on loopback, and says nothing.
        return self.launch(env, INSTANCE)

    def device(self):
        proxy = tango.DeviceProxy(DEVICE)
        proxy.set_timeout_millis(3000)
        return proxy

    def test_found_by_name_read_written_and_heard(self):
        gen = self.device()
        self.assertTrue(waits_for(lambda: gen.state() == tango.DevState.OFF), gen.status())
        seen = []
        gen.subscribe_event("frequency", tango.EventType.CHANGE_EVENT,
                            lambda e: seen.append(None if e.err else e.attr_value.value))
        gen.On()
        gen.frequency = 250e6
        self.assertEqual(self.sim.commands()[-1], "$F025000000")
        self.assertTrue(waits_for(lambda: 250e6 in seen), seen)
        self.assertFalse(any("beyond" in line for line in self.server_log), self.server_log)
        exported = tango.Database().get_device_info(DEVICE)
        self.assertEqual(exported.exported, 1)

    def test_a_memorized_setpoint_is_kept_in_the_database(self):
        gen = self.device()
        gen.frequency = 125e6
        kept = tango.Database().get_device_attribute_property(DEVICE, ["frequency"])
        self.assertEqual(list(kept["frequency"]["__value"]), ["125000000"])
        gen = self.restarted()
        self.assertEqual(gen.frequency, 125e6)
        self.assertFalse(gen.rfOutput)


if __name__ == "__main__":
    unittest.main()
