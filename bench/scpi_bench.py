#!/usr/bin/env python3
"""talmir880-scpi against talmir880-sim, figures only (never a test).

    bench/scpi_bench.py [--build build] [--commands 2000] [--soak 100000]

1. Paced line (57600 baud, both directions): back-to-back FREQ commands from
   one client through the server, against a client writing the same
   commands straight to the line (the simulator's pseudo-terminal) and
   waiting for each acknowledgement, in the same run: the line's limit.
2. Unpaced line (--baud 0): acknowledged FREQ commands per second, and the
   FREQ? round trip (median and 99th percentile).
3. The server's resident memory idle, and after --soak commands; its CPU
   and wake-ups over 10 s idle.
Standard library only; loopback only."""

import argparse
import os
import re
import shutil
import socket
import statistics
import subprocess
import tempfile
import time
import tty

here = os.path.dirname(os.path.abspath(__file__))


def server_program(build):
    """The server where the build puts it; trees before the programs folder
    built it beside the SCPI core."""
    for place in ("src/programs/talmir880-scpi", "src/scpi/qt"):
        path = os.path.join(build, place, "talmir880-scpi")
        if os.access(path, os.X_OK):
            return path
    raise SystemExit("scpi_bench.py: no talmir880-scpi in %s" % build)


class Rig:
    """A simulator and a server in a private ports folder."""

    def __init__(self, build, *sim_args):
        self.runtime = tempfile.mkdtemp(prefix="talmir880-bench-")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.sim = subprocess.Popen([os.path.join(build, "sim/talmir880-sim"), "--quiet",
                                     *sim_args], env=env, stdout=subprocess.PIPE, text=True)
        self.sim.stdout.readline()
        self.build, self.env, self.server = build, env, None
        self.line_path = os.path.join(self.runtime, "talmir880", "COM9")

    def start_server(self):
        # The server holds the line from its start and would read the R's
        # meant for a client writing straight to it: that one goes first.
        self.server = subprocess.Popen(
            [server_program(self.build), "--listen", "127.0.0.1:0"],
            env=self.env, stderr=subprocess.PIPE, text=True)
        line = self.server.stderr.readline()
        self.port = int(re.search(r":(\d+),", line).group(1))

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.port))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return s

    def close(self):
        for p in (self.server, self.sim):
            if p is None:
                continue
            p.terminate()
            p.wait(5)
        shutil.rmtree(self.runtime, ignore_errors=True)


def ask(s, line):
    s.sendall(line.encode() + b"\n")
    answer = b""
    while not answer.endswith(b"\n"):
        answer += s.recv(65536)
    return answer.decode().strip()


def freq_lines(n, first=100_000_000):
    return b"".join(b"FREQ %d\n" % (first + 10 * i) for i in range(n))


def server_rate(rig, n):
    s = rig.connect()
    # The output counts as off at start, and a frequency is only kept then.
    ask(s, "OUTP ON;*OPC?")
    start = time.perf_counter()
    s.sendall(freq_lines(n))
    assert ask(s, "*OPC?") == "1"
    rate = n / (time.perf_counter() - start)
    assert ask(s, "SYST:ERR?") == '0,"No error"'
    s.close()
    return rate


def direct_rate(rig, n):
    """What a client gets writing straight to the line, one command at a
    time, each after the last one's acknowledgement."""
    fd = os.open(os.path.realpath(rig.line_path), os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    start = time.perf_counter()
    for i in range(n):
        os.write(fd, b"$F%09d" % (10_000_000 + i))
        got = b""
        while b"R" not in got:
            got += os.read(fd, 64)
    rate = n / (time.perf_counter() - start)
    os.close(fd)
    return rate


def round_trips(rig, n):
    s = rig.connect()
    times = []
    for _ in range(n):
        start = time.perf_counter()
        ask(s, "FREQ?")
        times.append((time.perf_counter() - start) * 1000)
    s.close()
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.99) - 1]


def proc_status(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def cpu_ms(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])
    return ticks * 1000 / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "build"))
    parser.add_argument("--commands", type=int, default=2000)
    parser.add_argument("--soak", type=int, default=100_000)
    args = parser.parse_args()

    rig = Rig(args.build, "--baud", "57600")
    try:
        direct = direct_rate(rig, args.commands)
        rig.start_server()
        served = server_rate(rig, args.commands)
        print("paced 57600 baud, %d FREQ commands:" % args.commands)
        print("  straight to the line  %7.1f commands/s" % direct)
        print("  through the server    %7.1f commands/s  (%.1f %% of the line)"
              % (served, 100 * served / direct))
    finally:
        rig.close()

    rig = Rig(args.build, "--baud", "0")
    try:
        rig.start_server()
        time.sleep(0.2)
        fresh_rss = proc_status(rig.server.pid, "VmRSS")
        print("unpaced:")
        print("  acknowledged          %7.0f commands/s" % server_rate(rig, args.commands * 5))
        median, p99 = round_trips(rig, 2000)
        print("  FREQ? round trip      median %.3f ms, 99th percentile %.3f ms" % (median, p99))
        pid = rig.server.pid
        idle_rss = proc_status(pid, "VmRSS")
        s = rig.connect()
        done = 0
        while done < args.soak:
            chunk = min(1000, args.soak - done)
            s.sendall(freq_lines(chunk, 100_000_000 + 10 * (done % 1000)))
            ask(s, "*OPC?")
            done += chunk
        s.close()
        time.sleep(0.2)
        print("  resident memory       at start %d KiB, before the soak %d KiB, after %d more"
              " commands %d KiB (peak %d KiB)" % (fresh_rss, idle_rss, args.soak,
                                                  proc_status(pid, "VmRSS"),
                                                  proc_status(pid, "VmHWM")))
        cpu, switches = cpu_ms(pid), proc_status(pid, "voluntary_ctxt_switches")
        time.sleep(10)
        print("  idle 10 s             %.0f ms CPU, %d wake-ups"
              % (cpu_ms(pid) - cpu, proc_status(pid, "voluntary_ctxt_switches") - switches))
    finally:
        rig.close()


if __name__ == "__main__":
    main()
