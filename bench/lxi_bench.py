#!/usr/bin/env python3
"""lxi-tools' own benchmark (`lxi benchmark`, *IDN? requests back to back)
over VXI-11 and the raw socket, from a peer across a veth pair, figures
only (never a test).

    /usr/bin/python3 bench/lxi_bench.py [--build build] [--count 5000] [--runs 3]

Runs itself in namespaces of its own (root, unshare(1)), with its own
rpcbind and the bench network of tests/clients/private_network.py: one
server on an unpaced simulator (--baud 0), every face on 0.0.0.0, and
`lxi benchmark` on the peer. Nothing leaves the namespaces."""

import argparse
import os
import re
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("--build", default=os.path.join(here, "..", "build"))
parser.add_argument("--count", type=int, default=5000)
parser.add_argument("--runs", type=int, default=3)
args = parser.parse_args()
build = os.path.abspath(args.build)
os.environ["TALMIR880_SCPI"] = os.path.join(build, "src/programs/talmir880-scpi/talmir880-scpi")
os.environ["TALMIR880_SIM"] = os.path.join(build, "sim/talmir880-sim")
sys.path.insert(0, os.path.join(here, "..", "tests", "clients"))
from private_network import Daemons, Peer, loopback, run_inside  # noqa: E402
from server_fixture import Simulator, end_process  # noqa: E402


def main():
    refused = run_inside("TALMIR880_LXI_BENCH_NAMESPACE")
    if refused:
        sys.exit("lxi_bench.py runs in namespaces of its own: " + refused)

    loopback()
    daemons = Daemons()
    daemons.rpcbind()
    peer = Peer()
    env = dict(os.environ, XDG_RUNTIME_DIR=tempfile.mkdtemp(prefix="talmir880-bench-"))
    sim = Simulator(env, "--quiet", "--baud", "0")
    server = subprocess.Popen([os.environ["TALMIR880_SCPI"], "--no-mdns", "--listen", "0.0.0.0:0",
                               "--vxi11", "0.0.0.0:0"], env=env, stderr=subprocess.PIPE,
                              text=True)
    try:
        lines = [server.stderr.readline() for _ in range(3)]
        raw = re.search(r"listening on 0\.0\.0\.0:(\d+)", "".join(lines))
        if raw is None or "VXI-11 on" not in "".join(lines):
            sys.exit("the server did not start: " + "".join(lines))
        ways = (("VXI-11", []), ("raw socket", ["-r", "-p", raw.group(1)]))
        print("lxi benchmark, %d *IDN? requests, from the peer at %s to %s, requests/second"
              % (args.count, peer.there, peer.here))
        for name, options in ways:
            figures = []
            for _ in range(args.runs):
                out = peer.run(["lxi", "benchmark", "-a", peer.here, "-c", str(args.count),
                                *options], stdout=subprocess.PIPE, text=True).stdout
                figures.append(re.search(r"Result: ([\d.]+) requests/second", out).group(1))
            print("  %-10s %s" % (name, "  ".join(figures)))
    finally:
        end_process(server)
        sim.stop()
        peer.close()
        daemons.stop_all()


if __name__ == "__main__":
    main()
