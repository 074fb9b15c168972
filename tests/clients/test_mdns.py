"""The generators announced by DNS-SD through a real Avahi daemon, as
avahi-browse finds them. The module runs in network, mount, PID and UTS
namespaces of its own, with its own D-Bus system bus, avahi-daemon (on
loopback only) and rpcbind: the machine's daemons, and what they announce,
are none of its business, and everything it starts ends with it. Needs root
and unshare(1); where the machine cannot make namespaces it says so and
skips, except in CI."""

import os
import shutil

from private_network import Daemons, loopback, run_inside, wait_until

INSIDE = "TALMIR880_MDNS_NAMESPACE"
# Before anything else: the whole run again, inside the namespaces.
REFUSED = run_inside(INSIDE)

import re  # noqa: E402
import socket  # noqa: E402
import subprocess  # noqa: E402
import time  # noqa: E402
import unittest  # noqa: E402

from server_fixture import ServerTest, Simulator, ask  # noqa: E402

HOST = "bench-pc"
CONFIG = """[server]
host-name=%s
allow-interfaces=lo
use-ipv6=no
enable-dbus=yes
[publish]
publish-workstation=no
publish-hinfo=no
""" % HOST
# The namespace's daemons, ended with the module.
DAEMONS = None


def start_avahi():
    DAEMONS.avahi(CONFIG)


def stop_avahi():
    DAEMONS.stop("avahi")


def setUpModule():
    if REFUSED is not None:
        if os.environ.get("TALMIR880_CI_RUN"):
            raise RuntimeError("CI must run the DNS-SD tests, but " + REFUSED)
        raise unittest.SkipTest("the DNS-SD tests run in namespaces of their own: " + REFUSED)
    if os.getpid() != 1:
        raise RuntimeError("not PID 1 of the namespace")
    for program in ("dbus-daemon", "avahi-daemon", "avahi-browse", "rpcbind"):
        if shutil.which(program) is None:
            raise RuntimeError(program + " is missing: scripts/deps.sh installs it")
    socket.setdefaulttimeout(10)
    subprocess.run(["hostname", HOST], check=True, timeout=5)
    loopback()
    global DAEMONS
    DAEMONS = Daemons()
    unittest.addModuleCleanup(DAEMONS.stop_all)
    DAEMONS.bus()
    DAEMONS.rpcbind()
    start_avahi()


def unescape(text):
    """A name as avahi-browse -p escapes it (\\032 for a space, \\. for a dot)."""
    raw = re.sub(r"\\(\d{3})|\\(.)",
                 lambda m: chr(int(m.group(1))) if m.group(1) else m.group(2), text)
    return raw.encode("latin-1").decode("utf-8")


def browse():
    """Every service resolved on the namespace's network:
    {(type, name): (interface, protocol, port, [TXT records])}."""
    run = subprocess.run(["avahi-browse", "-artp", "--no-db-lookup"], capture_output=True,
                         text=True, timeout=20)
    found = {}
    for line in run.stdout.splitlines():
        fields = line.split(";")
        if fields[0] != "=" or len(fields) < 10:
            continue
        txt = [unescape(t) for t in re.findall(r'"((?:[^"\\]|\\.)*)"', ";".join(fields[9:]))]
        found[(fields[4], unescape(fields[3]))] = (fields[1], fields[2], int(fields[8]), txt)
    return found


def browse_until(test, timeout=15):
    """What browsing found once test() held for it, or at the timeout."""
    last = {}

    def holds():
        last.clear()
        last.update(browse())
        return test(last)

    wait_until(holds, timeout, step=0.3)
    return last


class AnnouncedTest(ServerTest):
    """Servers on the simulator, announced."""

    announce = True

    def other_server(self, *args, env=None, take_over=False):
        """Another server on a free port: its process, log, reader and port.
        Unless it is to take its generators over, it leaves their ports to
        whoever holds them, as --leave-running does until a client acts."""
        leave = () if take_over else ("--leave-running",)
        process, log, reader = self.run_server(env or self.env, *leave, *args)
        line = self.wait_for_log("listening on", log=log, reader=reader)
        return process, log, reader, int(re.search(r"127\.0\.0\.1:(\d+)", line).group(1))

    def assert_answers_at_once(self, port):
        started = time.monotonic()
        with socket.create_connection(("127.0.0.1", port), timeout=5) as connection:
            self.assertIn("TALMIR-880", ask(connection, "*IDN?"))
        self.assertLess(time.monotonic() - started, 1.0)


def wait_for_services(expected):
    return browse_until(lambda found: all(found.get(k) == v for k, v in expected.items()))


class EveryFaceTest(AnnouncedTest):
    """A server with VXI-11 and the web page."""

    server_args = ("--http", "0")

    def setUp(self):
        super().setUp()
        connection = self.connect()
        self.addCleanup(connection.close)
        _, self.model, self.serial, self.firmware = ask(connection, "*IDN?").split(",")
        line = self.wait_for_log("web page on")
        self.web_port = int(re.search(r"127\.0\.0\.1:(\d+)/", line or "").group(1))
        self.name = "%s %s on %s" % (self.model, self.serial, HOST)

    def txt(self, path=False):
        return (["txtvers=1", "Manufacturer=TALMIR", "Model=" + self.model,
                 "SerialNumber=" + self.serial, "FirmwareVersion=" + self.firmware]
                + (["path=/"] if path else []))

    def expected(self, raw=True):
        """The services of this server, with its raw socket's or without."""
        services = {
            ("_vxi-11._tcp", self.name): ("lo", "IPv4", 111, self.txt()),
            ("_http._tcp", self.name): ("lo", "IPv4", self.web_port, self.txt(path=True)),
            ("_lxi._tcp", self.name): ("lo", "IPv4", self.web_port, self.txt(path=True)),
        }
        if raw:
            services[("_scpi-raw._tcp", self.name)] = ("lo", "IPv4", self.port, self.txt())
        return services

    def test_every_service_is_found_with_its_txt_records_and_goes_with_the_server(self):
        found = wait_for_services(self.expected())
        for key, value in self.expected().items():
            self.assertEqual(found.get(key), value, key[0])
        for line in ('DNS-SD: "%s" announced: _scpi-raw._tcp on port %d' % (self.name, self.port),
                     'DNS-SD: "%s" announced: _vxi-11._tcp on port 111, _http._tcp on port %d, '
                     '_lxi._tcp on port %d' % (self.name, self.web_port, self.web_port)):
            self.assertEqual(self.wait_for_log(line), "talmir880-scpi: " + line)
        self.stop_server()
        gone = wait_until(lambda: not set(self.expected()) & set(browse()), 10, step=0.3)
        self.assertTrue(gone, "withdrawn when the server stops")

    def test_the_page_over_tls_is_announced_as_https(self):
        self.stop_server()
        tls = self.run_server(dict(self.env, XDG_STATE_HOME=self.runtime), "--https", "0")
        line = self.wait_for_log("web page on https://", log=tls[1], reader=tls[2], timeout=10)
        port = int(re.search(r"127\.0\.0\.1:(\d+)/", line or "").group(1))
        expected = {("_https._tcp", self.name): ("lo", "IPv4", port, self.txt(path=True)),
                    ("_lxi._tcp", self.name): ("lo", "IPv4", port, self.txt(path=True))}
        found = wait_for_services(expected)
        for key, value in expected.items():
            self.assertEqual(found.get(key), value, key[0])
        self.assertNotIn(("_http._tcp", self.name), found, "no plain HTTP served")

    def test_a_second_server_with_the_same_names_is_renamed(self):
        wait_for_services(self.expected())
        process, log, reader, port = self.other_server("--http", "0")
        renamed = self.name + " #2"
        line = 'DNS-SD: "%s" is taken on the network; renamed "%s"' % (self.name, renamed)
        self.assertEqual(self.wait_for_log(line, log=log, reader=reader, timeout=10),
                         "talmir880-scpi: " + line)
        found = wait_for_services({("_scpi-raw._tcp", renamed): ("lo", "IPv4", port, self.txt())})
        self.assertEqual(found.get(("_scpi-raw._tcp", renamed)), ("lo", "IPv4", port, self.txt()))
        self.assertEqual(found.get(("_scpi-raw._tcp", self.name))[2], self.port,
                         "the first keeps its name")
        self.stop_server(process, reader)

    def test_a_restarted_daemon_gets_everything_again_and_none_blocks_a_server(self):
        wait_for_services(self.expected())
        stop_avahi()
        self.assertIsNotNone(self.wait_for_log(
            "DNS-SD: avahi-daemon went away; announcing again once it is back"))
        # A server started meanwhile answers at once and says why it is unannounced.
        process, log, reader, port = self.other_server("--no-vxi11")
        self.assert_answers_at_once(port)
        self.assertIsNotNone(self.wait_for_log(
            "DNS-SD off: avahi-daemon is not running; serving unannounced until it starts",
            log=log, reader=reader))
        start_avahi()

        def raw(found):
            return sorted((name, v[2]) for (kind, name), v in found.items()
                          if kind == "_scpi-raw._tcp")

        # Both come back at once, so either may get the name first.
        found = browse_until(lambda found: len(raw(found)) == 2 and all(
            found.get(k) == v for k, v in self.expected(raw=False).items()))
        self.assertEqual([name for name, _ in raw(found)], [self.name, self.name + " #2"])
        self.assertEqual(sorted(port for _, port in raw(found)), sorted([self.port, port]),
                         "the one started meanwhile is announced once the daemon is there")
        for key, value in self.expected(raw=False).items():
            self.assertEqual(found.get(key), value, key[0])
        self.stop_server(process, reader)


class QuietFixtureTest(AnnouncedTest):
    """The fixture's own server announces nothing; each test starts its own."""

    server_args = ("--no-vxi11", "--no-mdns", "--leave-running")

    def test_each_generator_has_its_raw_service_and_the_server_one_vxi11(self):
        second = Simulator(self.env, com=8)
        self.addCleanup(second.stop)
        process, log, reader, _ = self.other_server("--port", "COM9", "--port", "COM8",
                                                    take_over=True)
        ports = {}
        for com in ("COM9", "COM8"):
            line = self.wait_for_log("device " + com, log=log, reader=reader)
            ports[com] = int(re.search(r"127\.0\.0\.1:(\d+)", line or "").group(1))
        self.assertIsNotNone(self.wait_for_log("VXI-11 on", log=log, reader=reader))
        with socket.create_connection(("127.0.0.1", ports["COM9"]), timeout=5) as connection:
            firmware = "FirmwareVersion=" + ask(connection, "*IDN?").split(",")[3]
        identity = ["txtvers=1", "Manufacturer=TALMIR", "Model=TALMIR-880"]
        expected = {("_scpi-raw._tcp", "TALMIR-880 %s on %s" % (com, HOST)):
                    ("lo", "IPv4", port, identity + ["SerialNumber=" + com, firmware])
                    for com, port in ports.items()}
        # The server's own face names no generator.
        expected[("_vxi-11._tcp", "TALMIR-880 on " + HOST)] = ("lo", "IPv4", 111,
                                                               identity + [firmware])
        found = wait_for_services(expected)
        for key, value in expected.items():
            self.assertEqual(found.get(key), value, key)

        # Pulled while its port is open: withdrawn; plugged back: found
        # again, with no client asking, and the journal says so.
        with socket.create_connection(("127.0.0.1", ports["COM8"]), timeout=5) as connection:
            self.assertEqual(ask(connection, "*TST?"), "0")
        second.stop()
        com8 = ("_scpi-raw._tcp", "TALMIR-880 COM8 on " + HOST)
        found = browse_until(lambda found: com8 not in found)
        self.assertNotIn(com8, found)
        self.assertIn(("_scpi-raw._tcp", "TALMIR-880 COM9 on " + HOST), found)
        second = Simulator(self.env, com=8)
        self.addCleanup(second.stop)
        self.assertEqual(wait_for_services({com8: expected[com8]}).get(com8), expected[com8])
        self.assertIsNotNone(self.wait_for_log("COM8: device back", log=log, reader=reader))
        self.stop_server(process, reader)

    def test_a_generator_whose_host_name_does_not_resolve_is_not_announced(self):
        process, log, reader, _ = self.other_server(
            "--no-vxi11", "--port", "tcp:nohost.invalid:4001", "--port", "COM9")
        ports = {}
        for device in ("tcp:nohost.invalid:4001", "COM9"):
            line = self.wait_for_log("device " + device, log=log, reader=reader)
            ports[device] = int(re.search(r"127\.0\.0\.1:(\d+)", line or "").group(1))
        com9 = ("_scpi-raw._tcp", "TALMIR-880 COM9 on " + HOST)
        self.assertIn(com9, browse_until(lambda found: com9 in found))
        # A presence check later, it is still not there.
        time.sleep(2.5)
        self.assertEqual([k for k, v in browse().items() if v[2] == ports["tcp:nohost.invalid:4001"]],
                         [])
        self.stop_server(process, reader)

    def test_no_mdns_announces_nothing(self):
        process, log, reader, port = self.other_server("--no-mdns", "--no-vxi11")
        announced, _, announced_reader, announced_port = self.other_server("--no-vxi11")
        # The other one found shows the quiet one would have been by now.
        self.assertTrue(wait_until(
            lambda: any(v[2] == announced_port for v in browse().values()), 15, step=0.3))
        self.assertEqual([k for k, v in browse().items() if v[2] == port], [])
        self.assertEqual([line for line in log if "DNS-SD" in line], [])
        self.stop_server(announced, announced_reader)
        self.stop_server(process, reader)

    def test_without_a_bus_one_line_says_so_and_the_server_answers_at_once(self):
        env = dict(self.env, DBUS_SYSTEM_BUS_ADDRESS="unix:path=/run/dbus/no-such-socket")
        process, log, reader, port = self.other_server("--no-vxi11", env=env)
        self.assert_answers_at_once(port)
        self.assertEqual(self.wait_for_log("DNS-SD", log=log, reader=reader),
                         "talmir880-scpi: DNS-SD off: the system's D-Bus is not running, so "
                         "avahi-daemon cannot be reached; serving unannounced until it is")
        self.stop_server(process, reader)


if __name__ == "__main__":
    unittest.main()
