#!/usr/bin/env python3
"""Several generators behind one talmir880-scpi, figures only (never a test).

    bench/generators_bench.py [--build build] [--commands 2000] [--generators 4]

1. Each line's limit: FREQ commands written straight to each simulator's
   pseudo-terminal (57600 baud both ways), each after the last one's
   acknowledgement.
2. One server for one generator, then one for --generators: a client on
   every raw socket sends --commands FREQ back to back, all at the same
   time. Each line's share of its limit, and the server's CPU per
   generator and per 1000 commands, against the one-generator server.
3. Resident memory per added generator: servers of 1 to 16 ports, idle, and
   the two servers above after their run.
Standard library only; loopback only."""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
from scpi_bench import ask, cpu_ms, direct_rate, freq_lines, proc_status, server_program  # noqa: E402


class Bench:
    """Simulators on COM1, COM2, ... and a server for all their ports, in a
    private ports folder."""

    def __init__(self, build, count, simulators=True):
        self.runtime = tempfile.mkdtemp(prefix="talmir880-bench-")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.sims = []
        if simulators:
            for i in range(count):
                sim = subprocess.Popen([os.path.join(build, "sim/talmir880-sim"), "--quiet",
                                        "--port", str(i + 1), "--baud", "57600"],
                                       env=env, stdout=subprocess.PIPE, text=True)
                sim.stdout.readline()
                self.sims.append(sim)
        # Ports past COM10 are device paths that are not there: served all
        # the same, for the memory figures.
        ports = ["COM%d" % (i + 1) if i < 10 else "/dev/talmir880-none-%d" % i
                 for i in range(count)]
        self.server = subprocess.Popen(
            [server_program(build), "--listen", "127.0.0.1:0", "--no-vxi11", "--no-mdns",
             *[arg for port in ports for arg in ("--port", port)]],
            env=env, stderr=subprocess.PIPE, text=True)
        self.ports = []
        while len(self.ports) < count:
            line = self.server.stderr.readline()
            found = re.search(r"listening on 127\.0\.0\.1:(\d+),", line)
            if found:
                self.ports.append(int(found.group(1)))
            elif not line:
                raise SystemExit("generators_bench.py: the server did not start")
        self.line_paths = [os.path.join(self.runtime, "talmir880", "COM%d" % (i + 1))
                           for i in range(len(self.sims))]
        # The rest of standard error, so that the server never blocks on it.
        threading.Thread(target=self.server.stderr.read, daemon=True).start()

    def close(self):
        for p in (self.server, *self.sims):
            p.terminate()
            p.wait(5)
        shutil.rmtree(self.runtime, ignore_errors=True)


class Line:
    """What direct_rate needs of a rig: the pseudo-terminal's path."""

    def __init__(self, path):
        self.line_path = path


def direct_together(bench, n):
    """The limit of each line while every line is busy: n commands written
    straight to every pseudo-terminal at once, as the clients do below."""
    rates = [0.0] * len(bench.line_paths)

    def writer(i):
        rates[i] = direct_rate(Line(bench.line_paths[i]), n)

    threads = [threading.Thread(target=writer, args=(i,)) for i in range(len(rates))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return rates


def run_together(bench, n):
    """Every generator's client sending n FREQ at once: the commands per
    second each got, and the server's CPU in ms over the run."""
    connections = []
    for port in bench.ports:
        s = socket.create_connection(("127.0.0.1", port))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # The output counts as off at start, and a frequency is only kept then.
        ask(s, "OUTP ON;*OPC?")
        connections.append(s)
    rates = [0.0] * len(connections)
    start_line = threading.Barrier(len(connections) + 1)

    def client(i):
        s = connections[i]
        start_line.wait()
        start = time.perf_counter()
        s.sendall(freq_lines(n))
        assert ask(s, "*OPC?") == "1"
        rates[i] = n / (time.perf_counter() - start)
        assert ask(s, "SYST:ERR?") == '0,"No error"'

    threads = [threading.Thread(target=client, args=(i,)) for i in range(len(connections))]
    for t in threads:
        t.start()
    cpu = cpu_ms(bench.server.pid)
    start_line.wait()
    for t in threads:
        t.join()
    cpu = cpu_ms(bench.server.pid) - cpu
    for s in connections:
        s.close()
    return rates, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "build"))
    parser.add_argument("--commands", type=int, default=2000)
    parser.add_argument("--generators", type=int, default=4)
    args = parser.parse_args()

    per_generator = {}
    after_run = {}
    for count in (1, args.generators):
        bench = Bench(args.build, count)
        try:
            alone = [direct_rate(Line(path), args.commands // 4) for path in bench.line_paths]
            limits = direct_together(bench, args.commands // 4)
            rates, cpu = run_together(bench, args.commands)
            time.sleep(0.2)
            after_run[count] = proc_status(bench.server.pid, "VmRSS")
        finally:
            bench.close()
        per_generator[count] = cpu / count / (args.commands / 1000)
        print("%d generator%s, %d FREQ each at once, paced 57600 baud:"
              % (count, "" if count == 1 else "s", args.commands))
        for i, (rate, limit, one) in enumerate(zip(rates, limits, alone)):
            print("  COM%d  %7.1f commands/s; its line's limit %7.1f with every line busy"
                  " (%.3f), %7.1f alone (%.3f)" % (i + 1, rate, limit, rate / limit, one,
                                                    rate / one))
        print("  lowest share %.3f of the limit with every line busy, %.3f of the line alone"
              " (goal at least 0.95)" % (min(r / l for r, l in zip(rates, limits)),
                                         min(r / l for r, l in zip(rates, alone))))
        print("  server CPU   %.0f ms, %.1f ms per generator and 1000 commands"
              % (cpu, per_generator[count]))
    print("CPU per generator with %d against 1: %.2f (goal at most 1)"
          % (args.generators, per_generator[args.generators] / per_generator[1]))

    print("resident memory, idle, ports absent:")
    idle = {}
    for count in (1, 2, 4, 8, 16):
        bench = Bench(args.build, count, simulators=False)
        try:
            time.sleep(0.3)
            idle[count] = proc_status(bench.server.pid, "VmRSS")
        finally:
            bench.close()
        print("  %2d port%s  %6d KiB" % (count, " " if count == 1 else "s", idle[count]))
    print("  per added generator  %.0f KiB (1 to 16 ports)" % ((idle[16] - idle[1]) / 15))
    print("  after the runs: 1 generator %d KiB, %d generators %d KiB: %.0f KiB per added one"
          % (after_run[1], args.generators, after_run[args.generators],
             (after_run[args.generators] - after_run[1]) / (args.generators - 1)))


if __name__ == "__main__":
    main()
