#!/usr/bin/env python3
"""Instructions the panel spends per sweep pass, and the server per 1000
acknowledged FREQ commands, counted by valgrind's cachegrind: figures only.

  bench/instructions.py [--build DIR [--build DIR2]] [--no-build] [--runs N]
                        [--commands N] [--scpi-baud B] [--points P] [--only sweep|scpi]

sweep  talmir880-sweep-harness (the real panel, offscreen) follows
       continuous 9999-point passes against talmir880-sim paced as behind a
       USB adapter (--baud 57600 --latency-ms 16, sweep_cpu.py's usb case),
       once for 1 pass and once for 3; per pass = (I(3) - I(1)) / 2, which
       leaves out start-up, the first CONT and the end.
scpi   talmir880-scpi --listen 127.0.0.1:0 against the simulator paced at
       57600 baud (--scpi-baud); one client switches the output on, sends N
       FREQ lines at once and waits for *OPC?, in one server, then 2N in
       another; per 1000 = (I(2N) - I(N)) * 1000 / N. Paced, each command
       waits for its R on the line, so the server reads one line, writes
       one command and reads one R per command however slow valgrind makes
       it; unpaced (0) the counts move more with how lines bunch up.

Instruction counts are whole-process (every thread). The server's barely
move. The sweep's move with the machine's load: under valgrind the harness
needs most of a core to keep up with the line, and when it falls behind it
reads the line in larger pieces, fewer events for the same pass. Compare two
builds with --build twice: they take turns run by run, and the script
prints the run-by-run ratios. DIR is a configured build tree with the bench
targets (default: the bench preset's, configured here); the script builds
what it needs there unless --no-build. Needs valgrind.
"""
import argparse
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TARGETS = ["talmir880-sweep-harness", "talmir880-sim", "talmir880-scpi"]
USB = ["--baud", "57600", "--latency-ms", "16"]


def valgrind(out, program):
    return ["valgrind", "--tool=cachegrind", "--cache-sim=no", f"--cachegrind-out-file={out}",
            f"--log-file={out}.log", *program]


def instructions(out):
    """The total of a cachegrind output file's summary line (Ir)."""
    for line in Path(out).read_text().splitlines():
        if line.startswith("summary:"):
            return int(line.split()[1])
    sys.exit(f"instructions.py: no summary in {out}; see {out}.log")


class Simulator:
    """talmir880-sim on COM9 in a private runtime folder."""

    def __init__(self, build, flags):
        self.runtime = tempfile.mkdtemp(prefix="talmir880-instr-")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.process = subprocess.Popen([str(build / "sim/talmir880-sim"), "--quiet", *flags],
                                        env=self.env, stdout=subprocess.DEVNULL)
        device = Path(self.runtime, "talmir880", "COM9")
        while not device.exists():
            if self.process.poll() is not None:
                sys.exit("instructions.py: the simulator ended at once")
            time.sleep(0.05)

    def close(self):
        self.process.terminate()
        self.process.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)


def sweep_run(build, work, points, passes):
    sim = Simulator(build, USB)
    try:
        out = work / f"sweep-{passes}.out"
        done = subprocess.run(
            valgrind(out, [str(build / "bench/talmir880-sweep-harness"), "--points",
                           str(points), "--passes", str(passes)]),
            env=sim.env, capture_output=True, text=True)
    finally:
        sim.close()
    if "every pass completed  yes" not in done.stdout:
        sys.exit(f"instructions.py: the harness did not complete {passes} passes:\n"
                 f"{done.stdout}{done.stderr}")
    return instructions(out)


def ask(s, line):
    s.sendall(line.encode() + b"\n")
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = s.recv(65536)
        if not chunk:
            sys.exit("instructions.py: the server closed the connection")
        answer += chunk
    return answer.decode().strip()


def scpi_run(build, work, n, baud):
    sim = Simulator(build, ["--baud", str(baud)])
    out = work / f"scpi-{n}.out"
    server = subprocess.Popen(
        valgrind(out, [str(build / "src/programs/talmir880-scpi/talmir880-scpi"), "--listen",
                       "127.0.0.1:0"]),
        env=sim.env, stderr=subprocess.PIPE, text=True)
    try:
        line = server.stderr.readline()
        match = re.search(r"127\.0\.0\.1:(\d+)", line)
        if not match:
            sys.exit(f"instructions.py: the server said {line!r}; see {out}.log")
        s = socket.create_connection(("127.0.0.1", int(match.group(1))))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # A frequency goes to the device only while the output is on.
        if ask(s, "OUTP ON;*OPC?") != "1":
            sys.exit("instructions.py: OUTP ON was not completed")
        s.sendall(b"".join(b"FREQ %d\n" % (100_000_000 + 10 * i) for i in range(n)))
        if ask(s, "*OPC?") != "1" or ask(s, "SYST:ERR?") != '0,"No error"':
            sys.exit("instructions.py: the FREQ commands were not all acknowledged")
        s.close()
        server.terminate()  # ends the loop as a close would; valgrind writes its file
        server.wait(120)
        server.stderr.close()
    finally:
        if server.poll() is None:
            server.kill()
            server.wait()
        sim.close()
    return instructions(out)


def spread(values):
    return (f"{statistics.median(values):,.0f} (runs: "
            + ", ".join(f"{v:,.0f}" for v in values) + ")")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, action="append",
                        help="configured build tree with the bench targets; give two "
                        "(before, after) to take turns run by run")
    parser.add_argument("--no-build", action="store_true",
                        help="run the programs in DIR as they are (a copied tree)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--commands", type=int, default=1000, help="N: the smaller batch")
    parser.add_argument("--scpi-baud", type=int, default=57600,
                        help="the simulator's pace for the server's count (0: unpaced)")
    parser.add_argument("--points", type=int, default=9999)
    parser.add_argument("--only", choices=["sweep", "scpi"])
    args = parser.parse_args()
    if shutil.which("valgrind") is None:
        sys.exit("instructions.py: needs valgrind (scripts/deps.sh installs it)")
    builds = args.build
    if not builds:
        subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        builds = [ROOT / "build-bench"]
    builds = [b.resolve() for b in builds]
    if not args.no_build:
        for build in builds:
            subprocess.run(["cmake", "--build", str(build), "--target", *TARGETS], cwd=ROOT,
                           check=True, stdout=subprocess.DEVNULL)
    load = " ".join(Path("/proc/loadavg").read_text().split()[:3])
    print(f"{args.runs} runs, builds taking turns run by run; load average {load}")
    for build in builds:
        print(f"  {build}")

    def measure(label, run_one):
        figures = {build: [] for build in builds}
        for i in range(args.runs):
            for build in builds:
                figures[build].append(run_one(build))
                print(f"  {label} run {i + 1} {build}: {figures[build][-1]:,.0f}",
                      file=sys.stderr, flush=True)
        return figures

    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        results = []
        if args.only in (None, "sweep"):
            def sweep(build):
                one = sweep_run(build, work, args.points, 1)
                three = sweep_run(build, work, args.points, 3)
                return (three - one) / 2
            results.append((f"instructions per sweep pass ({args.points} points, usb case)",
                            measure("sweep", sweep)))
        if args.only in (None, "scpi"):
            n = args.commands

            def scpi(build):
                single = scpi_run(build, work, n, args.scpi_baud)
                double = scpi_run(build, work, 2 * n, args.scpi_baud)
                return (double - single) * 1000 / n
            results.append((f"instructions per 1000 acknowledged FREQ through talmir880-scpi "
                            f"(N = {n}, simulator --baud {args.scpi_baud})", measure("scpi", scpi)))
    for title, figures in results:
        print(title)
        for build in builds:
            print(f"  {build}: {spread(figures[build])}")
        for build in builds[1:]:
            ratios = [b / a for a, b in zip(figures[builds[0]], figures[build])]
            print(f"  {build} / {builds[0]}, run by run: {statistics.median(ratios):.3f} "
                  f"({min(ratios):.3f} to {max(ratios):.3f})")


if __name__ == "__main__":
    main()
