"""Debian's lxi-tools, the usual LXI command-line client, against a server of
two generators on a bench network: `lxi discover` from a peer across a veth
pair finds it by the VXI-11 broadcast, `lxi discover -m` by DNS-SD through
Avahi, and `lxi scpi` reaches each generator over VXI-11 and the raw
socket. The module runs in namespaces of its own with its own D-Bus,
avahi-daemon and rpcbind (private_network); needs root and unshare(1)."""

import os

from private_network import Daemons, Peer, loopback, run_inside

INSIDE = "TALMIR880_LXI_NAMESPACE"
REFUSED = run_inside(INSIDE)

import re  # noqa: E402
import shutil  # noqa: E402
import socket  # noqa: E402
import subprocess  # noqa: E402
import unittest  # noqa: E402

from server_fixture import TAKEOVER, ServerTest, Simulator, ask  # noqa: E402

HOST = "bench-pc"
PEER = None


def setUpModule():
    if REFUSED is not None or os.getpid() != 1:
        raise RuntimeError("these tests need root and unshare(1): they run in namespaces of "
                           "their own, with their own daemons and a peer across a veth pair")
    if shutil.which("lxi") is None:
        raise RuntimeError("lxi is missing: scripts/deps.sh installs lxi-tools")
    socket.setdefaulttimeout(10)
    subprocess.run(["hostname", HOST], check=True, timeout=5)
    loopback()
    global PEER
    PEER = Peer()
    unittest.addModuleCleanup(PEER.close)
    daemons = Daemons()
    unittest.addModuleCleanup(daemons.stop_all)
    daemons.bus()
    daemons.rpcbind()
    daemons.avahi("[server]\nhost-name=%s\nallow-interfaces=lo,bench0\nuse-ipv6=no\n"
                  "enable-dbus=yes\n[publish]\npublish-workstation=no\npublish-hinfo=no\n"
                  % HOST)


def lxi(*args, peer=True):
    """lxi's standard output, run on the peer or on this machine."""
    command = (PEER.prefix() if peer else []) + ["lxi", *args]
    run = subprocess.run(command, capture_output=True, text=True, timeout=30)
    if run.returncode != 0:
        raise AssertionError("%s: %s%s" % (" ".join(args), run.stdout, run.stderr))
    return run.stdout


class LxiToolsTest(ServerTest):
    """Two generators, every face on every interface, announced."""

    announce = True

    def start_server(self):
        self.sim2 = Simulator(self.env, com=8)
        self.addCleanup(self.sim2.stop)
        self.server, self.server_log, self.log_reader = self.run_server(
            self.env, "--listen", "0.0.0.0:0", "--vxi11", "0.0.0.0:0", "--port", "COM9",
            "--port", "COM8", "--http", "0.0.0.0:0")
        for sim in (self.sim, self.sim2):
            self.assertEqual(sim.taken_over(), TAKEOVER)
        announced = self.wait_for_log('DNS-SD: "TALMIR-880 on %s" announced' % HOST, timeout=10)
        self.assertIsNotNone(announced, self.server_log)
        self.ports = [int(re.search(r"listening on 0\.0\.0\.0:(\d+), device %s" % com,
                                    "\n".join(self.server_log)).group(1))
                      for com in ("COM9", "COM8")]
        self.port = self.ports[0]
        self.web_port = int(re.search(r"_http\._tcp on port (\d+)", announced).group(1))
        with socket.create_connection(("127.0.0.1", self.ports[0])) as connection:
            self.firmware = ask(connection, "*IDN?").split(",")[3]

    def idn(self, com):
        return "TALMIR,TALMIR-880,%s,%s" % (com, self.firmware)

    def test_discover_finds_it_by_the_vxi11_broadcast(self):
        found = lxi("discover", "-t", "2")
        self.assertIn('Found "%s" on address %s' % (self.idn("COM9"), PEER.here), found)
        self.assertIn("Found 1 device", found)

    def test_discover_by_dns_sd_finds_each_service(self):
        found = set(re.findall(r'Found "([^"]+)" on address (\S+)\n\s+(\S+) service on port (\d+)',
                               lxi("discover", "-m", "-t", "3", peer=False)))
        for name, service, port in (("TALMIR-880 COM9 on " + HOST, "scpi-raw", self.ports[0]),
                                    ("TALMIR-880 COM8 on " + HOST, "scpi-raw", self.ports[1]),
                                    ("TALMIR-880 on " + HOST, "vxi-11", 111),
                                    ("TALMIR-880 on " + HOST, "lxi", self.web_port)):
            self.assertIn((name, PEER.here, service, str(port)), found)

    def test_scpi_over_vxi11_and_raw_reaches_each_generator(self):
        address = ("-a", PEER.here)
        self.assertEqual(lxi("scpi", *address, "*IDN?").strip(), self.idn("COM9"))
        for port, com in zip(self.ports, ("COM9", "COM8")):
            self.assertEqual(lxi("scpi", "-r", "-p", str(port), *address, "*IDN?").strip(),
                             self.idn(com))
        lxi("scpi", *address, "OUTP ON")
        self.assertEqual(lxi("scpi", *address, "FREQ 433.92 MHZ;*OPC?").strip(), "1")
        self.assertEqual(lxi("scpi", "-r", "-p", str(self.ports[1]), *address,
                             "OUTP ON;:FREQ 200 MHZ;*OPC?").strip(), "1")
        self.assertEqual(self.sim.commands(), ["$F010000000", "$F043392000"])
        self.assertEqual(self.sim2.commands(), ["$F010000000", "$F020000000"])


if __name__ == "__main__":
    unittest.main()
