#!/usr/bin/python3
"""How soon a script's change shows on the web page, figures only (never a
test): talmir880-scpi --http on talmir880-sim, the page in headless Chromium
(chromium-driver, python3-selenium), a script on the raw socket.

    bench/web_latency.py [--build build] [--changes 50] [--https]

With the output on, for each change the script sends FREQ f MHZ and the page
notes the
wall-clock time its RF readout changes (a MutationObserver); the figure
is that time minus the send, so it holds the device's acknowledgement
(57600 baud) and the server's gathering of changes: the programmed value
goes out at once, the acknowledged one up to 50 ms after it. Loopback only.

With --https the page is served over TLS (a certificate made at first start,
the browser trusting its key alone) and its link is wss://. Then, for either:
a connection's set-up to the first byte of a small answer (TCP, and the TLS
handshake over HTTPS), the median of 50, and the server's resident memory
after the run."""

import argparse
import os
import ssl
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
    parser.add_argument("--https", action="store_true")
    args = parser.parse_args()
    os.environ["TALMIR880_SCPI"] = os.path.join(args.build,
                                                "src/programs/talmir880-scpi/talmir880-scpi")
    os.environ["TALMIR880_SIM"] = os.path.join(args.build, "sim/talmir880-sim")
    from server_fixture import Simulator, ask, end_process
    from test_web import browser
    from test_https import spki_pin

    folder = tempfile.mkdtemp(prefix="talmir880-bench-")
    env = dict(os.environ, XDG_RUNTIME_DIR=folder, XDG_STATE_HOME=folder)
    sim = Simulator(env, "--quiet")
    server = subprocess.Popen([os.environ["TALMIR880_SCPI"], "--no-vxi11", "--no-mdns", "--listen",
                               "127.0.0.1:0", "--https" if args.https else "--http", "0"],
                              env=env, stderr=subprocess.PIPE, text=True)
    driver = None
    try:
        raw = url = None
        while url is None:
            line = server.stderr.readline()
            found = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
            raw = raw or (found and int(found.group(1)))
            found = re.search(r"web page on (https?://\S+)", line)
            url = found and found.group(1)
        pin = ()
        if args.https:
            pin = ("--ignore-certificate-errors-spki-list=" +
                   spki_pin(os.path.join(folder, "talmir880", "tls-certificate.pem")),)
        driver = browser(1200, 900, *pin)
        # A visit's set-up: the page loaded and its live link open, its
        # connections new each time (TLS: each handshake in it).
        loads = []
        for _ in range(10):
            driver.execute_cdp_cmd("Network.clearBrowserCache", {})
            driver.get("about:blank")
            started = time.perf_counter()
            driver.get(url)
            while driver.execute_script("return document.getElementById('link').className") != \
                    "live":
                time.sleep(0.002)
            loads.append((time.perf_counter() - started) * 1000)
        print("%s: page opened to its link live, median of 10: %.0f ms" %
              ("HTTPS" if args.https else "HTTP", statistics.median(loads)))
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
        port = int(re.search(r":(\d+)/$", url).group(1))
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        set_ups = []
        for _ in range(50):
            started = time.perf_counter()
            connection = socket.create_connection(("127.0.0.1", port), timeout=5)
            if args.https:
                connection = context.wrap_socket(connection)
            connection.sendall(b"GET /lang.js HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
            connection.recv(1)
            set_ups.append((time.perf_counter() - started) * 1000)
            connection.close()
        with open("/proc/%d/status" % server.pid) as status:
            rss = next(line.split()[1] for line in status if line.startswith("VmRSS:"))
        print("%s: connection to first answer byte, median of 50: %.2f ms; server RSS %s kB" %
              ("HTTPS" if args.https else "HTTP", statistics.median(set_ups), rss))
    finally:
        if driver:
            driver.quit()
        end_process(server)
        sim.stop()


if __name__ == "__main__":
    main()
