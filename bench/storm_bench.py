#!/usr/bin/env python3
"""How soon a fresh client is served while others storm the server, figures
only (never a test). Loopback only, bounded in connections and time.

    bench/storm_bench.py [--build build] [--seconds 20] [--log-commands]

talmir880-scpi --http on talmir880-sim (57600 baud). For --seconds, worker
processes storm it:
  - raw clients that connect, ask, and close; that send 20 lines and reset
    the connection without reading; that hold a place and say nothing;
    connections opened at once every 0.3 s and closed unused, 4 on the raw
    socket, 150 on the web's;
  - long lines: 64 KiB of queries (FREQ?;FREQ?;...) read back, and of
    device commands (*SAV 0;*SAV 0;...);
  - web: 24 connections that send half a request head and wait (opened
    again when closed), page loads, pages sending 5 actions a second, and
    a flood of 200 actions every 2 s.
Meanwhile every 50 ms a fresh client connects and asks *IDN?, and every
200 ms a fresh page opens its WebSocket; the figures are the time from
connect to the answer, and to the page's first state message: p50, p99 and
the maximum, with how many were refused (the connection closed first) and
then tried again at once. Standard library only."""

import argparse
import base64
import multiprocessing
import os
import re
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))


def program(build, name):
    path = {"scpi": "src/programs/talmir880-scpi/talmir880-scpi", "sim": "sim/talmir880-sim"}[name]
    return os.path.join(build, path)


def read_line(connection):
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = connection.recv(65536)
        if not chunk:
            raise ConnectionError("closed")
        answer += chunk
    return answer


def ask(connection, line):
    connection.sendall(line + b"\n")
    return read_line(connection)


def upgrade_request(port, path=b"/ws"):
    host = b"127.0.0.1:%d" % port
    return (b"GET " + path + b" HTTP/1.1\r\nHost: " + host + b"\r\nOrigin: http://" + host +
            b"\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
            b"Sec-WebSocket-Key: " + base64.b64encode(os.urandom(16)) + b"\r\n\r\n")


def masked_text(text):
    key = os.urandom(4)
    payload = bytes(b ^ key[i % 4] for i, b in enumerate(text))
    return bytes([0x81, 0x80 | len(payload)]) + key + payload


def first_state(connection):
    """Reads the upgrade's answer and the first text frame after it."""
    got = b""
    while b"\r\n\r\n" not in got:
        chunk = connection.recv(4096)
        if not chunk:
            raise ConnectionError("closed")
        got += chunk
    if not got.startswith(b"HTTP/1.1 101 "):
        raise ConnectionError(got.split(b"\r\n")[0].decode())
    got = got[got.index(b"\r\n\r\n") + 4:]
    while True:
        if len(got) >= 2:
            length = got[1] & 0x7f
            start = 2 + (2 if length == 126 else 0)
            if length == 126 and len(got) >= 4:
                length = struct.unpack(">H", got[2:4])[0]
            if len(got) >= start + length and got[0] == 0x81:
                return got[start:start + length]
        chunk = connection.recv(4096)
        if not chunk:
            raise ConnectionError("closed")
        got += chunk


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=10)


# The storm's workers: each runs until its deadline, swallowing what the
# server does to it.
def churn(raw, deadline):
    while time.monotonic() < deadline:
        try:
            with connect(raw) as c:
                ask(c, b"*IDN?")
                ask(c, b"FREQ?;:POW?")
        except OSError:
            time.sleep(0.01)


def connect_burst(port, deadline, count=150):
    """Connections by the hundred at once, closed unused: what overflows a
    short accept queue. On the raw socket a few only, since each takes one
    of its 16 places while open, as it should."""
    while time.monotonic() < deadline:
        burst = []
        for _ in range(count):
            s = socket.socket()
            s.setblocking(False)
            try:
                s.connect(("127.0.0.1", port))
            except BlockingIOError:
                pass
            except OSError:
                s.close()
                continue
            burst.append(s)
        time.sleep(0.05)
        for s in burst:
            s.close()
        time.sleep(0.25)


def dying(raw, deadline):
    while time.monotonic() < deadline:
        try:
            c = connect(raw)
            c.sendall(b"FREQ?\n" * 19 + b"OUTP ON;*OPC?\n")
            # A reset, with answers unread: what a killed client leaves.
            c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            c.close()
        except OSError:
            pass
        time.sleep(0.02)


def holders(raw, deadline, count=2):
    held = []
    while time.monotonic() < deadline:
        held = [c for c in held if c.fileno() >= 0]
        while len(held) < count:
            try:
                held.append(connect(raw))
            except OSError:
                break
        time.sleep(0.5)
    for c in held:
        c.close()


def long_queries(raw, deadline):
    line = b";".join([b"FREQ?"] * (65000 // 6))
    while time.monotonic() < deadline:
        try:
            with connect(raw) as c:
                ask(c, line)
        except OSError:
            time.sleep(0.05)


def long_commands(raw, deadline):
    line = b";".join([b"*SAV 0"] * (65000 // 7))
    while time.monotonic() < deadline:
        try:
            with connect(raw) as c:
                c.sendall(line + b"\n")
                time.sleep(2)
        except OSError:
            time.sleep(0.05)


def half_open(web, deadline, count=24):
    head = b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % web
    held = []
    while time.monotonic() < deadline:
        alive = []
        for c in held:
            try:
                c.setblocking(False)
                closed = c.recv(1) == b""
            except BlockingIOError:
                closed = False
            except OSError:
                closed = True
            if closed:
                c.close()
            else:
                alive.append(c)
        held = alive
        while len(held) < count:
            try:
                c = connect(web)
                c.sendall(head)
                held.append(c)
            except OSError:
                break
        time.sleep(0.05)
    for c in held:
        c.close()


def page_loads(web, deadline):
    request = b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % web
    while time.monotonic() < deadline:
        try:
            with connect(web) as c:
                c.sendall(request)
                while c.recv(65536):
                    pass
        except OSError:
            pass
        time.sleep(0.02)


def acting_page(web, deadline):
    while time.monotonic() < deadline:
        try:
            with connect(web) as c:
                c.sendall(upgrade_request(web))
                first_state(c)
                c.setblocking(False)
                n = 0
                while time.monotonic() < deadline:
                    c.sendall(masked_text(b"points %d" % (100 + n % 900)))
                    n += 1
                    try:
                        while c.recv(65536):
                            pass
                    except BlockingIOError:
                        pass
                    time.sleep(0.2)
        except OSError:
            time.sleep(0.1)


def flood(web, deadline):
    while time.monotonic() < deadline:
        try:
            with connect(web) as c:
                c.sendall(upgrade_request(web))
                first_state(c)
                c.sendall(b"".join(masked_text(b"points 100") for _ in range(200)))
        except OSError:
            pass
        time.sleep(2)


def raw_burst(raw, deadline):
    connect_burst(raw, deadline, 4)


STORM = [(churn, "raw"), (churn, "raw"), (raw_burst, "raw"),
         (connect_burst, "web"),
         (dying, "raw"), (holders, "raw"),
         (long_queries, "raw"), (long_commands, "raw"), (half_open, "web"), (page_loads, "web"),
         (acting_page, "web"), (acting_page, "web"), (flood, "web")]


def measure(what, every, deadline, out):
    """Times `what` every `every` seconds until the deadline: (seconds,
    refusals) each."""
    while time.monotonic() < deadline:
        started = time.monotonic()
        refused = 0
        while True:
            try:
                what()
                break
            except OSError:
                refused += 1
                if time.monotonic() > deadline + 10:
                    break
        out.append((time.monotonic() - started, refused))
        time.sleep(max(0.0, every - (time.monotonic() - started)))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def figures(name, samples):
    times = sorted(t for t, _ in samples)
    refused = sum(r for _, r in samples)
    p99 = times[min(len(times) - 1, int(len(times) * 0.99))]
    print("%-28s %5d  p50 %7.1f ms  p99 %7.1f ms  max %7.1f ms  refused first %d" %
          (name, len(times), statistics.median(times) * 1000, p99 * 1000, times[-1] * 1000,
           refused))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(here, "..", "build"))
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--log-commands", action="store_true")
    parser.add_argument("--calm", action="store_true", help="the fresh clients alone")
    parser.add_argument("--without", action="append", default=[], metavar="WORKER",
                        help="leave a kind of stormer out (churn, dying, ...); repeatable")
    args = parser.parse_args()

    runtime = tempfile.mkdtemp(prefix="talmir880-bench-")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    sim = subprocess.Popen([program(args.build, "sim"), "--quiet", "--port", "9"], env=env,
                           stdout=subprocess.PIPE, text=True)
    sim.stdout.readline()
    server = subprocess.Popen(
        [program(args.build, "scpi"), "--listen", "127.0.0.1:0", "--no-vxi11", "--no-mdns",
         "--http", "0", *(["--log-commands"] if args.log_commands else [])],
        env=env, stderr=subprocess.PIPE, text=True)
    workers = []
    try:
        raw = web = None
        while raw is None or web is None:
            line = server.stderr.readline()
            if not line:
                raise SystemExit("storm_bench.py: the server did not start")
            found = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
            raw = int(found.group(1)) if found else raw
            found = re.search(r"web page on http://127\.0\.0\.1:(\d+)/", line)
            web = int(found.group(1)) if found else web
        # Its journal, read and counted, so that it never blocks on it.
        logged = [0]

        def journal():
            for line in server.stderr:
                logged[0] += len(line)
        threading.Thread(target=journal, daemon=True).start()
        with connect(raw) as c:
            ask(c, b"OUTP ON;*OPC?")

        deadline = time.monotonic() + args.seconds
        if not args.calm:
            for work, face in STORM:
                if work.__name__ in args.without:
                    continue
                p = multiprocessing.Process(target=work, args=(raw if face == "raw" else web,
                                                               deadline), daemon=True)
                p.start()
                workers.append(p)
            time.sleep(1)

        def fresh_client():
            with connect(raw) as c:
                if not ask(c, b"*IDN?").startswith(b"TALMIR"):
                    raise ConnectionError("no identity")

        def fresh_page():
            with connect(web) as c:
                c.sendall(upgrade_request(web))
                if b'"type":"state"' not in first_state(c):
                    raise ConnectionError("no state")

        cpu_before = cpu_seconds(server.pid)
        clients, pages = [], []
        threads = [threading.Thread(target=measure, args=(fresh_client, 0.05, deadline, clients)),
                   threading.Thread(target=measure, args=(fresh_page, 0.2, deadline, pages))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print("%s, %s for %.0f s%s" % (os.path.basename(os.path.normpath(args.build)),
                                       "calm" if args.calm else "storm", args.seconds,
                                       ", --log-commands" if args.log_commands else ""))
        figures("fresh client *IDN?", clients)
        figures("fresh page's first state", pages)
        print("server CPU: %.1f s of %.0f s" % (cpu_seconds(server.pid) - cpu_before,
                                                args.seconds))
        if args.log_commands:
            print("journal: %.1f MB" % (logged[0] / 1e6))
    finally:
        for p in workers:
            p.join(5)
            if p.is_alive():
                p.terminate()
        server.terminate()
        server.wait(10)
        sim.terminate()
        sim.wait(5)
        shutil.rmtree(runtime, ignore_errors=True)


if __name__ == "__main__":
    main()
