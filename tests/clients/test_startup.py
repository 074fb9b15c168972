"""What talmir880-scpi says when it cannot start as asked: every refusal
comes before anything listens or is announced, byte for byte, with its exit
status; and a generator on a host name that does not resolve is said so at
start and at each try."""

import os
import re
import shutil
import socket
import stat
import subprocess
import tempfile
import unittest

from server_fixture import SERVER, ServerTest, ask

PREFIX = "talmir880-scpi: "
ABSENT = "/nonexistent/ttyTALMIR"
NO_SUCH_PORT = PREFIX + ABSENT + \
    ": no such port; commands that need the device get -241 until it is there\n"


def unresolved_reason(host):
    """The resolver's own words for a host name it does not know."""
    try:
        socket.getaddrinfo(host, None)
    except socket.gaierror as error:
        return error.strerror
    raise unittest.SkipTest("%s resolves on this machine" % host)


class RefusedStartTest(unittest.TestCase):
    """Each refused start: nothing but its reason on standard error."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="talmir880-startup-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.folder)

    def start(self, *args):
        """The exit status and standard error of a server that must not start."""
        run = subprocess.run([SERVER, "--no-mdns", "--port", ABSENT, "--listen", "127.0.0.1:0",
                              *args], env=self.env, capture_output=True, text=True, timeout=10)
        return run.returncode, run.stderr

    def password_file(self, text, mode):
        path = os.path.join(self.folder, "password")
        with open(path, "w") as file:
            file.write(text)
        os.chmod(path, mode)
        return path

    def busy_port(self):
        """A loopback port another socket listens on, for the test."""
        taken = socket.socket()
        self.addCleanup(taken.close)
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        return taken.getsockname()[1]

    def test_each_refusal_before_anything_listens(self):
        open_file = self.password_file("s3cret\n", 0o644)
        empty_file = os.path.join(self.folder, "empty")
        with open(empty_file, "w"):
            pass
        os.chmod(empty_file, 0o600)
        missing = os.path.join(self.folder, "missing")
        busy = self.busy_port()
        # VXI-11 stays on in each: it is bound before the refusal, and never
        # registered with rpcbind.
        cases = [
            (("--http", "0", "--http-password-file", open_file), 1,
             PREFIX + "--http-password-file: %s is open to group or others (mode 0644); "
             "run chmod 600 %s\n" % (open_file, open_file)),
            (("--http", "0", "--http-password-file", missing), 1,
             PREFIX + "--http-password-file: cannot read %s: No such file or directory\n"
             % missing),
            (("--http", "0", "--http-password-file", empty_file), 1,
             PREFIX + "--http-password-file: %s: the first line is empty; it must hold the "
             "password\n" % empty_file),
            (("--http", str(busy)), 1,
             NO_SUCH_PORT + PREFIX + "cannot serve the web page on 127.0.0.1:%d: "
             "Address already in use\n" % busy),
            (("--listen", "127.0.0.1:%d" % busy), 1,
             NO_SUCH_PORT + PREFIX + "cannot listen on 127.0.0.1:%d: Address already in use\n"
             % busy),
            (("--listen", "bench:5025"), 2,
             NO_SUCH_PORT + PREFIX + "--listen: bench is not an IP address\n"),
            (("--http", "0", "--bogus"), 2,
             PREFIX + "unknown option --bogus\nTry 'talmir880-scpi --help'.\n"),
        ]
        for args, status, said in cases:
            with self.subTest(args=args):
                self.assertEqual(self.start(*args), (status, said))

    def test_a_private_password_file_is_taken(self):
        private = self.password_file("s3cret\n", 0o600)
        server = subprocess.Popen([SERVER, "--no-mdns", "--no-vxi11", "--port", ABSENT,
                                   "--listen", "127.0.0.1:0", "--http", "0",
                                   "--http-password-file", private],
                                  env=self.env, stderr=subprocess.PIPE, text=True)
        self.addCleanup(server.wait, 5)
        self.addCleanup(server.terminate)
        said = [server.stderr.readline() for _ in range(3)]
        self.assertEqual(said[0], NO_SUCH_PORT)
        self.assertRegex(said[1], r"^talmir880-scpi: listening on 127\.0\.0\.1:\d+, device " +
                         re.escape(ABSENT) + "\n$")
        self.assertRegex(said[2], r"^talmir880-scpi: web page on http://127\.0\.0\.1:\d+/\n$")
        server.terminate()
        self.assertEqual(server.wait(5), 0)
        server.stderr.close()


class UnresolvedHostTest(ServerTest):
    """A generator behind a host name that does not resolve, beside one on
    the simulator."""

    HOST = "nohost.invalid"
    server_args = ("--no-vxi11", "--port", "tcp:%s:4001" % HOST, "--port", "COM9")

    def test_said_at_start_and_at_each_try(self):
        reason = unresolved_reason(self.HOST)
        self.assertEqual(
            self.server_log[0],
            PREFIX + "tcp:%s:4001: the host name %s does not resolve (%s); commands that need "
            "the device get -241 until it does" % (self.HOST, self.HOST, reason))
        with self.connect() as client:
            for _ in range(2):
                self.assertEqual(ask(client, "POW -6;:SYST:ERR?"),
                                 '-241,"Hardware missing;host name does not resolve"')
            self.assertEqual(ask(client, "*IDN?").split(",")[2], "tcp:%s:4001" % self.HOST)
        line = self.wait_for_log("device COM9")
        with socket.create_connection(
                ("127.0.0.1", int(re.search(r":(\d+),", line).group(1))), timeout=5) as other:
            self.assertEqual(ask(other, "OUTP ON;*OPC?"), "1", "the other generator serves")


if __name__ == "__main__":
    unittest.main()
