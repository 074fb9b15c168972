"""Several clients at once, and clients that misbehave, on loopback: none
of them delays or breaks another."""

import socket
import subprocess
import time
import unittest

from server_fixture import SERVER, ServerTest


def ask(connection, line):
    connection.sendall(line.encode() + b"\n")
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = connection.recv(4096)
        if not chunk:
            raise ConnectionError("closed")
        answer += chunk
    return answer.decode().rstrip("\n")


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

    def test_leaving_in_the_middle_of_a_sweep_or_a_query(self):
        leaver = self.connect()
        leaver.sendall(b"FREQ:MODE SWE;:SWE:POIN 2000;:INIT;*OPC?\n")
        leaver.close()
        other = self.connect()
        self.assertEqual(ask(other, "*OPC?"), "1")
        self.assertEqual(ask(other, "SYST:ERR?"), '0,"No error"')
        self.assertTrue(any(c.startswith("$W") for c in self.sim.commands()))
        other.close()


class StdioTest(unittest.TestCase):
    """One session on standard input and output, as a shell script has it."""

    def run_stdio(self, text):
        return subprocess.run([SERVER, "--stdio", "--port", "/dev/null/none"], input=text,
                              capture_output=True, text=True, timeout=10)

    def test_answers_and_the_status_tell_whether_an_error_was_queued(self):
        done = self.run_stdio("*IDN?\nSWE:POIN 7;POIN?\n*OPC?")
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stdout.splitlines()[1:], ["7", "1"])
        failed = self.run_stdio("OUTP ON;*OPC?\n")
        self.assertEqual(failed.returncode, 1, "no device: -241 was queued")
        self.assertEqual(failed.stdout, "1\n")


if __name__ == "__main__":
    unittest.main()
