#!/usr/bin/env python3
"""What --log-commands costs a long line, figures only (never a test).

    bench/command_log_bench.py [--build build] [--runs 3]

talmir880-scpi on an unpaced talmir880-sim (--baud 0), in a private ports
folder, loopback only. One client sends one line of 64 KiB, 9 362 times
*SAV 0 (a device command each), then *OPC?; the figures are the time from
sending the line to *OPC?'s answer and the bytes the server wrote to its
standard error (the journal under systemd), with and without
--log-commands, each --runs times. Standard library only."""

import argparse
import os
import re
import shutil
import socket
import statistics
import subprocess
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
LINE = b";".join([b"*SAV 0"] * 9362)


def one_run(build, log):
    runtime = tempfile.mkdtemp(prefix="talmir880-bench-")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    sim = subprocess.Popen([os.path.join(build, "sim/talmir880-sim"), "--quiet", "--baud", "0"],
                           env=env, stdout=subprocess.PIPE, text=True)
    sim.stdout.readline()
    server = subprocess.Popen(
        [os.path.join(build, "src/programs/talmir880-scpi/talmir880-scpi"), "--listen",
         "127.0.0.1:0", "--no-vxi11", "--no-mdns", *(["--log-commands"] if log else [])],
        env=env, stderr=subprocess.PIPE)
    try:
        line = server.stderr.readline().decode()
        port = int(re.search(r"127\.0\.0\.1:(\d+)", line).group(1))
        written = [0]

        def journal():
            while True:
                chunk = server.stderr.read1(1 << 16)
                if not chunk:
                    return
                written[0] += len(chunk)
        reader = threading.Thread(target=journal, daemon=True)
        reader.start()
        with socket.create_connection(("127.0.0.1", port), timeout=120) as client:
            started = time.monotonic()
            client.sendall(LINE + b"\n*OPC?\n")
            answer = b""
            while not answer.endswith(b"\n"):
                answer += client.recv(64)
            seconds = time.monotonic() - started
        time.sleep(0.2)  # the last log lines
        return seconds, written[0]
    finally:
        server.terminate()
        server.wait(10)
        sim.terminate()
        sim.wait(5)
        shutil.rmtree(runtime, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(here, "..", "build"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    print("%s: one line of 64 KiB, 9 362 *SAV 0, unpaced" % os.path.normpath(args.build))
    for log in (False, True):
        runs = [one_run(args.build, log) for _ in range(args.runs)]
        print("%-18s line runs in %s s (median %.2f), journal %s" % (
            "--log-commands" if log else "without the log",
            " / ".join("%.2f" % s for s, _ in runs), statistics.median(s for s, _ in runs),
            " / ".join("%.1f MB" % (b / 1e6) for _, b in runs)))


if __name__ == "__main__":
    main()
