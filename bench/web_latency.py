#!/usr/bin/python3
"""How soon a script's change shows on the web page, figures only (never a
test): talmir880-scpi --http on talmir880-sim, the page in headless Chromium
(chromium-driver, python3-selenium), a script on the raw socket.

    bench/web_latency.py [--build build] [--changes 50]

With the output on, for each change the script sends FREQ f MHZ and the page
notes the
wall-clock time its RF readout changes (a MutationObserver); the figure
is that time minus the send, so it holds the device's acknowledgement
(57600 baud) and the server's gathering of changes: the programmed value
goes out at once, the acknowledged one up to 50 ms after it. Loopback only."""

import argparse
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "clients"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(here, "..", "build"))
    parser.add_argument("--changes", type=int, default=50)
    args = parser.parse_args()
    os.environ["TALMIR880_SCPI"] = os.path.join(args.build,
                                                "src/programs/talmir880-scpi/talmir880-scpi")
    os.environ["TALMIR880_SIM"] = os.path.join(args.build, "sim/talmir880-sim")
    from server_fixture import Simulator, ask, end_process
    from test_web import browser

    env = dict(os.environ, XDG_RUNTIME_DIR=tempfile.mkdtemp(prefix="talmir880-bench-"))
    sim = Simulator(env, "--quiet")
    server = subprocess.Popen([os.environ["TALMIR880_SCPI"], "--no-vxi11", "--listen",
                               "127.0.0.1:0", "--http", "0"], env=env, stderr=subprocess.PIPE,
                              text=True)
    driver = None
    try:
        raw = int(re.search(r"127\.0\.0\.1:(\d+)", server.stderr.readline()).group(1))
        url = re.search(r"(http://\S+)", server.stderr.readline()).group(1)
        driver = browser()
        driver.get(url)
        time.sleep(1)
        driver.execute_script(
            "window.seen = []; new MutationObserver(() => window.seen.push("
            "[Date.now(), document.getElementById('rf-now').textContent])).observe("
            "document.getElementById('rf-now'), {childList: true, characterData: true,"
            " subtree: true});")
        latencies = []
        with socket.create_connection(("127.0.0.1", raw), timeout=5) as script:
            ask(script, "OUTP ON;*OPC?")
            time.sleep(0.2)
            for i in range(args.changes):
                mhz = "%.2f" % (100 + i)
                sent = time.time() * 1000
                ask(script, "FREQ %s MHZ;*OPC?" % mhz)
                deadline = time.monotonic() + 2
                shown = None
                while shown is None and time.monotonic() < deadline:
                    for at, text in driver.execute_script("return window.seen"):
                        if text.startswith(str(100 + i) + " MHz") and at >= sent:
                            shown = at
                    time.sleep(0.005)
                if shown is not None:
                    latencies.append(shown - sent)
                time.sleep(0.1)
            ask(script, "OUTP OFF;*OPC?")
        latencies.sort()
        print("script change to the page: %d of %d shown; median %.0f ms, 95th percentile "
              "%.0f ms, max %.0f ms" % (len(latencies), args.changes, statistics.median(latencies),
                                        latencies[int(len(latencies) * 0.95) - 1],
                                        latencies[-1]))
    finally:
        if driver:
            driver.quit()
        end_process(server)
        sim.stop()


if __name__ == "__main__":
    main()
