"""Several clients at once, clients that misbehave, one-shots from the
shell and long sweep passes, on loopback: none of them delays or breaks
another, and every line sent runs."""

import socket
import subprocess
import time
import unittest

from server_fixture import SERVER, ServerTest, ask, read_line


def read_to_end(connection):
    """Everything the server sends until it closes the connection."""
    received = b""
    while True:
        chunk = connection.recv(4096)
        if not chunk:
            return received.decode()
        received += chunk


class ClientsTest(ServerTest):

    def test_sixteen_clients_at_once_and_the_next_is_refused(self):
        clients = [self.connect() for _ in range(16)]
        for n, client in enumerate(clients):
            self.assertEqual(ask(client, "SWE:POIN %d;POIN?" % (100 + n)), str(100 + n))
        extra = self.connect()
        self.assertEqual(extra.recv(16), b"", "refused: closed at once")
        extra.close()
        clients.pop().close()
        time.sleep(0.2)
        again = self.connect()
        self.assertIn("TALMIR-880", ask(again, "*IDN?"))
        for client in clients + [again]:
            client.close()

    def test_a_dribbling_or_silent_client_does_not_delay_another(self):
        dribbler = self.connect()
        dribbler.sendall(b"FREQ 1")  # and never the rest of the line
        flooder = self.connect()
        flooder.sendall(b"*IDN?\n" * 20000)  # and never reads an answer
        other = self.connect()
        started = time.monotonic()
        for _ in range(20):
            self.assertEqual(ask(other, "POW?"), "-3")
        self.assertLess(time.monotonic() - started, 5.0, "served in turn, not after the others")
        for client in (dribbler, flooder, other):
            client.close()

    def test_a_line_over_64_kib_is_refused_and_the_connection_goes_on(self):
        client = self.connect()
        client.sendall(b"FREQ " + b"1" * 70000 + b"\n")
        self.assertEqual(ask(client, "SYST:ERR?"), '-363,"Input buffer overrun"')
        self.assertEqual(ask(client, "FREQ?"), "100000000")
        self.assertEqual(self.sim.commands(), [])
        client.close()

    def test_a_line_of_ten_thousand_queries_is_answered_whole_in_turns(self):
        long_line = self.connect()
        long_line.sendall(b";".join([b"FREQ?"] * 10000) + b"\n")
        with self.connect() as fresh:
            self.assertIn("TALMIR-880", ask(fresh, "*IDN?"))
        self.assertEqual(read_line(long_line), ";".join(["100000000"] * 10000))
        long_line.close()

    def test_leaving_in_the_middle_of_a_sweep_or_a_query(self):
        leaver = self.connect()
        leaver.sendall(b"OUTP ON;:FREQ:MODE SWE;:SWE:POIN 2000;:INIT;*OPC?\n")
        leaver.close()
        other = self.connect()
        self.assertEqual(ask(other, "*OPC?"), "1")
        self.assertEqual(ask(other, "SYST:ERR?"), '0,"No error"')
        # The leaver's INIT is queued once its OUTP ON was taken.
        self.sim.read_lines(until="$W")
        self.assertTrue(any(c.startswith("$W") for c in self.sim.commands()))
        other.close()


class OneShotTest(ServerTest):
    """A client that sends its lines and closes its side at once, as shell
    one-liners do: every line runs and is answered."""

    def test_socat_one_shot_reaches_the_device(self):
        done = subprocess.run("printf 'POW -12;:OUTP OFF\\n' | socat - TCP:127.0.0.1:%d" % self.port,
                              shell=True, capture_output=True, text=True, timeout=10)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.sim.read_lines(until="$F000000001")
        self.assertEqual(self.sim.commands(), ["$P0", "$F000000001"])

    def test_a_half_closed_connection_is_answered_to_its_last_line(self):
        client = self.connect()
        client.sendall(b"*IDN?\nSWE:POIN 7;POIN?")  # the last line without LF
        client.shutdown(socket.SHUT_WR)
        answers = read_to_end(client).splitlines()
        client.close()
        self.assertEqual(len(answers), 2, answers)
        self.assertIn("TALMIR-880", answers[0])
        self.assertEqual(answers[1], "7")

    def test_a_restarted_server_switches_the_device_off_before_anything_else(self):
        client = self.connect()
        self.assertEqual(ask(client, "OUTP ON;*OPC?"), "1")
        client.close()
        self.assertEqual(self.sim.commands(), ["$F010000000"])
        self.stop_server()
        self.start_server()  # which sees RF and modulation switched off first
        client = self.connect()
        self.assertEqual(ask(client, "FREQ 200 MHZ;*OPC?;:OUTP?;FREQ?"), "1;0;200000000")
        client.close()
        self.assertEqual(self.sim.commands(), [], "kept until OUTP ON")


class SlowSweepTest(ServerTest):
    """A client that waits for a pass holds up no other."""

    # 5 ms a point: 500 points take 2.5 s.
    sim_args = ("--dwell-ms", "5")

    def test_a_fresh_client_is_answered_while_another_waits_for_a_pass(self):
        sweeper = self.connect()
        sweeper.sendall(b"OUTP ON;:FREQ:MODE SWE;:INIT\nPOW -9\n*OPC?\n")
        self.sim.read_lines(until="$W")
        fresh = self.connect()
        started = time.monotonic()
        identity = ask(fresh, "*IDN?")
        took = time.monotonic() - started
        self.assertIn("TALMIR-880", identity)
        self.assertLess(took, 0.1, "a fresh client waits for nobody's pass")
        sweeper.settimeout(30)
        self.assertEqual(read_line(sweeper), "1", "*OPC?: the pass and POW -9 are done")
        lines = self.sim.read_lines(until="$P1")
        done = next(i for i, line in enumerate(lines) if line.startswith("SWEEP DONE"))
        self.assertEqual(lines[done + 1:][0].split()[0], "$P1", "sent after the pass")
        for client in (sweeper, fresh):
            client.close()


class NoisyLineTest(ServerTest):
    """Noise counted as reports must not end a pass early."""

    # 100 characters a second of noise: a 500-point pass of 0.85 s (1 ms a
    # point and the line) gets some 85 of them, 21 points' worth, counted
    # before the device's last 21 reports. (More noise widens the end of
    # the pass in which a simulator starved of CPU for 20 ms looks done.)
    sim_args = ("--noise", "100", "--dwell-ms", "1")

    def test_the_next_command_reaches_the_device_after_the_pass(self):
        client = self.connect()
        client.settimeout(30)
        for _ in range(3):
            client.sendall(b"OUTP ON;:FREQ:MODE SWE;:INIT\nPOW -9\nPOW -3\n")
            self.assertEqual(ask(client, "*OPC?"), "1")
        lines = [line for line in self.sim.read_lines(until=None)
                 if line.startswith(("SWEEP DONE", "$"))]
        for i, line in enumerate(lines):
            if line.startswith("$W"):
                self.assertTrue(lines[i + 1].startswith("SWEEP DONE"),
                                "a command reached the device mid-pass: %s" % lines[i + 1])
        client.close()


class ContinuousSweepTest(ServerTest):
    """Settings while passes repeat."""

    def test_a_setting_during_a_long_continuous_pass_answers_at_once(self):
        client = self.connect()
        client.settimeout(30)  # 9999 points of 4 characters at 57600 baud: 6.9 s
        self.assertEqual(ask(client, "OUTP ON;:SWE:POIN 9999;:FREQ:MODE SWE;:INIT:CONT ON;*IDN?")[:6],
                         "TALMIR")
        self.sim.read_lines(until="$W")
        started = time.monotonic()
        client.sendall(b"POW -9\n")
        level = ask(client, "POW?")
        took = time.monotonic() - started
        self.assertEqual(level, "-9")
        self.assertLess(took, 1.0, "a setting queued behind the pass holds nothing up")
        self.assertEqual(ask(client, "ABOR;:INIT:CONT?"), "0")
        self.assertEqual(ask(client, "*OPC?;:SYST:ERR?"), '1;0,"No error"')
        commands = self.sim.commands()
        self.assertEqual(commands[-1], "$P1", "after the pass, and no pass after it")
        self.assertEqual(sum(c.startswith("$W") for c in commands), 1)
        client.close()


class StdioTest(unittest.TestCase):
    """One session on standard input and output, as a shell script has it,
    on a port that does not exist."""

    def run_stdio(self, text):
        return subprocess.run([SERVER, "--stdio", "--port", "/dev/ttyTALMIR-absent"], input=text,
                              capture_output=True, text=True, timeout=10)

    def test_answers_and_the_status_tell_whether_an_error_was_queued(self):
        done = self.run_stdio("*IDN?\nSWE:POIN 7;POIN?\n*OPC?")
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stdout.splitlines()[1:], ["7", "1"])
        failed = self.run_stdio("OUTP ON;*OPC?\n")
        self.assertEqual(failed.returncode, 1, "no device: -241 was queued")
        self.assertEqual(failed.stdout, "1\n")
        self.assertIn('-241,"Hardware missing;no such port"', failed.stderr, "left unread")

    def test_a_device_never_reached_is_not_confirmed_and_fails_the_self_test(self):
        done = self.run_stdio("OUTP?;OUTP:MOD?;:FREQ 200 MHZ;:FREQ?\n*TST?\nSYST:ERR:ALL?")
        self.assertEqual(done.stdout.splitlines(),
                         ["1;1;200000000", "1", '-241,"Hardware missing;no such port"'])
        self.assertEqual(done.returncode, 1)


if __name__ == "__main__":
    unittest.main()
