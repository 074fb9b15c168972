#!/usr/bin/env python3
"""talmir880-scpi through Debian's ser2net against the line's limit, figures
only (never a test).

    bench/ser2net_bench.py [--build build] [--commands 2000]

The simulator paces its line at 57600 baud. In one run: a client writing
FREQ's device commands straight to the line, each after the last one's
acknowledgement (the line's limit); back-to-back FREQ commands from one
client through the server on the line (--port COM9); and the same through
ser2net on loopback (--port tcp:127.0.0.1:PORT), with the documented
configuration (chardelay off) and with ser2net's default chardelay.
Loopback only."""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
from scpi_bench import direct_rate, server_rate  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Rig:
    """A simulator in a private ports folder, ser2net in front of it if
    asked, and a server on one or the other."""

    def __init__(self, build, chardelay=None):
        self.runtime = tempfile.mkdtemp(prefix="talmir880-bench-")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.processes = []
        self.sim = self.start([os.path.join(build, "sim/talmir880-sim"), "--quiet", "--baud",
                               "57600"], env, stdout=subprocess.PIPE, text=True)
        self.sim.stdout.readline()
        self.line_path = os.path.join(self.runtime, "talmir880", "COM9")
        port = "COM9"
        if chardelay is not None:
            relay = free_port()
            config = os.path.join(self.runtime, "ser2net.yaml")
            with open(config, "w") as f:
                f.write("connection: &generator\n"
                        "  accepter: tcp,127.0.0.1,%d\n"
                        "  connector: serialdev,%s,57600n81,local\n"
                        "  options:\n"
                        "    kickolduser: true\n" % (relay, os.path.realpath(self.line_path)))
                if not chardelay:
                    f.write("    chardelay: false\n")
            self.start(["ser2net", "-n", "-u", "-P", os.path.join(self.runtime, "pid"), "-c",
                        config], env, stderr=subprocess.DEVNULL)
            time.sleep(0.3)
            port = "tcp:127.0.0.1:%d" % relay
        self.server = self.start(
            [os.path.join(build, "src/programs/talmir880-scpi/talmir880-scpi"), "--no-vxi11",
             "--port", port, "--listen", "127.0.0.1:0"], env, stderr=subprocess.PIPE, text=True)
        line = self.server.stderr.readline()
        self.port = int(re.search(r":(\d+),", line).group(1))

    def start(self, args, env, **kwargs):
        process = subprocess.Popen(args, env=env, **kwargs)
        self.processes.append(process)
        return process

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.port))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return s

    def close(self):
        for p in reversed(self.processes):
            p.terminate()
            p.wait(5)
        shutil.rmtree(self.runtime, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "build"))
    parser.add_argument("--commands", type=int, default=2000)
    args = parser.parse_args()

    rig = Rig(args.build)
    try:
        limit = direct_rate(rig, args.commands)
        served = server_rate(rig, args.commands)
    finally:
        rig.close()
    print("paced 57600 baud, %d FREQ commands:" % args.commands)
    print("  straight to the line                        %7.1f commands/s" % limit)
    print("  server on the line (--port COM9)            %7.1f commands/s  (%.3f of the line)"
          % (served, served / limit))
    for chardelay, label in ((False, "chardelay: false"), (True, "ser2net's default")):
        rig = Rig(args.build, chardelay)
        try:
            relayed = server_rate(rig, args.commands)
        finally:
            rig.close()
        print("  server through ser2net, %-19s %7.1f commands/s  (%.3f of the line)"
              % (label, relayed, relayed / limit))


if __name__ == "__main__":
    main()
