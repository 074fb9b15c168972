#!/usr/bin/python3
"""talmir880-tango against talmir880-sim, figures only (never a test).

    scripts/tango-db.sh bench/tango_bench.py [--build build] [--events 200] [--seconds 5]

1. A change made on the raw SCPI socket (ScpiListen) to its Tango change
   event at a PyTango client: median and 99th percentile, with the RF off
   (the setting alone) and on (the device's acknowledgement first).
2. Tango writes of `frequency` per second with the RF on, each one
   acknowledged by the device, against a client writing the same commands
   straight to the line: the line's limit.
3. Resident memory of talmir880-tango and of talmir880-scpi serving the
   same generator on the same raw socket (no VXI-11, no DNS-SD, no page),
   idle and after the same work.
Loopback only; PyTango from Debian's python3. With the database
scripts/tango-db.sh starts: without one, libtango 9.3's clients lose the
server's heartbeat after about 10 s."""

import argparse
import os
import re
import statistics
import subprocess
import sys
import threading
import time

import tango

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scpi_bench import Rig, ask, direct_rate, proc_status, server_program  # noqa: E402

DEVICE = "bench/talmir880/1"


class TangoRig(Rig):
    """The simulator, and talmir880-tango on it with the raw socket beside."""

    def start_tango(self):
        for args in (["--add-server", "talmir880-tango/bench", "Talmir880", DEVICE],
                     ["--add-property", DEVICE, "SerialPort", "COM9"],
                     ["--add-property", DEVICE, "ScpiListen", "127.0.0.1:0"]):
            subprocess.run(["tango_admin", *args], check=True)
        self.server = subprocess.Popen(
            [os.path.join(self.build, "src/programs/talmir880-tango/talmir880-tango"), "bench"],
            env=self.env, stderr=subprocess.PIPE, text=True)
        for line in self.server.stderr:
            found = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
            if found:
                self.port = int(found.group(1))
            if "serving" in line:
                break
        threading.Thread(target=lambda: [None for _ in self.server.stderr], daemon=True).start()
        self.device = tango.DeviceProxy(DEVICE)
        self.device.set_timeout_millis(3000)


class Heard:
    """When each frequency's change event came."""

    def __init__(self, device):
        self.at = {}
        self.arrived = threading.Condition()
        device.subscribe_event("frequency", tango.EventType.CHANGE_EVENT, self)

    def push_event(self, event):
        # Between a write and its R the value is CHANGING, and none while
        # the output is not confirmed.
        if event.err or event.attr_value.value is None:
            return
        with self.arrived:
            self.at[int(event.attr_value.value)] = time.perf_counter()
            self.arrived.notify_all()


def event_latency(rig, heard_events, n, rf_on):
    heard, arrived = heard_events.at, heard_events.arrived
    s = rig.connect()
    ask(s, "OUTP %s;*OPC?" % ("ON" if rf_on else "OFF"))
    times = []
    for i in range(n):
        hz = (200_000_000 if rf_on else 100_000_000) + 10 * i
        start = time.perf_counter()
        s.sendall(b"FREQ %d\n" % hz)
        with arrived:
            arrived.wait_for(lambda: hz in heard, timeout=2)
        if hz in heard:
            times.append((heard[hz] - start) * 1000)
        # Events of one attribute are spaced 50 ms apart.
        time.sleep(0.06)
    ask(s, "OUTP OFF;*OPC?")
    s.close()
    times.sort()
    return len(times), statistics.median(times), times[max(0, int(len(times) * 0.99) - 1)]


def tango_write_rate(rig, seconds):
    rig.device.On()
    count = 0
    start = time.perf_counter()
    while time.perf_counter() - start < seconds:
        rig.device.frequency = 100_000_000 + 10 * (count % 1000)
        count += 1
    rate = count / (time.perf_counter() - start)
    rig.device.Off()
    return rate


def scpi_rss(build, commands):
    rig = Rig(build)
    try:
        rig.server = subprocess.Popen(
            [server_program(build), "--listen", "127.0.0.1:0", "--no-vxi11", "--no-mdns"],
            env=rig.env, stderr=subprocess.PIPE, text=True)
        rig.port = int(re.search(r":(\d+),", rig.server.stderr.readline()).group(1))
        threading.Thread(target=lambda: [None for _ in rig.server.stderr], daemon=True).start()
        time.sleep(1)
        idle = proc_status(rig.server.pid, "VmRSS")
        s = rig.connect()
        ask(s, "OUTP ON;*OPC?")
        for i in range(commands):
            ask(s, "FREQ %d;*OPC?" % (100_000_000 + 10 * (i % 1000)))
        s.close()
        return idle, proc_status(rig.server.pid, "VmRSS"), proc_status(rig.server.pid, "VmHWM")
    finally:
        rig.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--events", type=int, default=200)
    parser.add_argument("--seconds", type=float, default=5)
    args = parser.parse_args()

    rig = TangoRig(args.build)
    try:
        line = direct_rate(rig, 300)
        rig.start_tango()
        time.sleep(1)
        idle = proc_status(rig.server.pid, "VmRSS")
        heard = Heard(rig.device)
        for rf_on in (False, True):
            got, median, p99 = event_latency(rig, heard, args.events, rf_on)
            print("raw-socket FREQ to Tango change event, RF %s: %d of %d heard, "
                  "median %.2f ms, p99 %.2f ms" % ("on" if rf_on else "off", got, args.events,
                                                   median, p99))
        rate = tango_write_rate(rig, args.seconds)
        print("Tango frequency writes, each acknowledged: %.0f/s; straight to the line: %.0f/s "
              "(%.0f %%)" % (rate, line, 100 * rate / line))
        done = int(rate * args.seconds)
        print("talmir880-tango RSS: %d KiB idle, %d KiB after the work above, peak %d KiB"
              % (idle, proc_status(rig.server.pid, "VmRSS"),
                 proc_status(rig.server.pid, "VmHWM")))
    finally:
        rig.close()
    idle, after, peak = scpi_rss(args.build, done)
    print("talmir880-scpi RSS, same raw socket: %d KiB idle, %d KiB after %d FREQ;*OPC?, "
          "peak %d KiB" % (idle, after, done, peak))


if __name__ == "__main__":
    main()
