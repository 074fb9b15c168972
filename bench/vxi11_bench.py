#!/usr/bin/env python3
"""The FREQ? round trip over VXI-11 next to the raw socket, figures only
(never a test).

    bench/vxi11_bench.py [--build build] [--queries 2000]

One server on an unpaced simulator (--baud 0), asked FREQ? back to back by
one client at a time: a plain socket on the raw port, pyvisa-py on the same
port (TCPIP::...::SOCKET), and pyvisa-py over VXI-11 (TCPIP::...::INSTR,
found through rpcbind, which must run). Median and 99th percentile.
Loopback only."""

import argparse
import os
import statistics
import sys
import time

import pyvisa

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
from scpi_bench import Rig, ask  # noqa: E402


def timed(query, n):
    query()  # the first one opens the port
    times = []
    for _ in range(n):
        started = time.perf_counter()
        query()
        times.append((time.perf_counter() - started) * 1000)
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.99)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "build"))
    parser.add_argument("--queries", type=int, default=2000)
    args = parser.parse_args()

    rig = Rig(args.build, "--baud", "0")
    manager = pyvisa.ResourceManager("@py")
    try:
        vxi11_line = rig.server.stderr.readline().strip()
        if vxi11_line.startswith("talmir880-scpi: VXI-11: replaced"):
            vxi11_line = rig.server.stderr.readline().strip()
        if "VXI-11 on" not in vxi11_line:
            sys.exit("VXI-11 is not on: " + vxi11_line)
        plain = rig.connect()
        socket_resource = manager.open_resource(
            "TCPIP::127.0.0.1::%d::SOCKET" % rig.port, read_termination="\n",
            write_termination="\n")
        instr = manager.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n",
                                      write_termination="\n")
        rows = [
            ("raw socket, plain Python socket", lambda: ask(plain, "FREQ?")),
            ("raw socket, pyvisa-py SOCKET", lambda: socket_resource.query("FREQ?")),
            ("VXI-11, pyvisa-py INSTR", lambda: instr.query("FREQ?")),
        ]
        print("FREQ? round trip, %d queries each, ms" % args.queries)
        for name, query in rows:
            median, p99 = timed(query, args.queries)
            print("  %-34s median %.3f, 99th percentile %.3f" % (name, median, p99))
    finally:
        manager.close()
        rig.close()


if __name__ == "__main__":
    main()
