#!/usr/bin/python3
"""Pictures of the web page in headless Chromium, at a phone's 360 pixels and
at desktop width, with the generator on the simulator doing something worth
seeing: for reviewing the layout and for docs/.

    scripts/web_screenshots.py BUILD_DIR OUT_DIR

Builds nothing; needs chromium-driver and python3-selenium (scripts/deps.sh)."""

import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "clients"))
os.environ.setdefault("TALMIR880_SCPI", "")
os.environ.setdefault("TALMIR880_SIM", "")


def main(build, out):
    scpi = os.path.join(build, "src/programs/talmir880-scpi/talmir880-scpi")
    sim_path = os.path.join(build, "sim/talmir880-sim")
    os.environ["TALMIR880_SCPI"], os.environ["TALMIR880_SIM"] = scpi, sim_path
    from server_fixture import Simulator, ask, end_process  # noqa: E402
    from test_web import browser  # noqa: E402
    import socket  # noqa: E402

    runtime = tempfile.mkdtemp(prefix="talmir880-shots-")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    sim = Simulator(env, "--quiet")
    server = subprocess.Popen([scpi, "--no-vxi11", "--no-mdns", "--listen", "127.0.0.1:0",
                               "--http", "0"],
                              env=env, stderr=subprocess.PIPE, text=True)
    try:
        lines = [server.stderr.readline(), server.stderr.readline()]
        raw = int(re.search(r"127\.0\.0\.1:(\d+)", lines[0]).group(1))
        url = re.search(r"(http://\S+)", lines[1]).group(1)
        with socket.create_connection(("127.0.0.1", raw), timeout=5) as script:
            ask(script, "OUTP ON;:FREQ 433.92 MHZ;:LFO:FREQ 1 KHZ;:OUTP:MOD ON;:POW -6;*OPC?")
            ask(script, "FREQ:STAR 430 MHZ;:FREQ:STOP 440 MHZ;:SWE:POIN 2000;*OPC?")
        for width, mobile, name in ((360, True, "web-phone.png"), (1280, False, "web-desktop.png")):
            driver = browser(width, 800)
            try:
                # The page's own width, and its whole height in one picture.
                metrics = {"width": width, "height": 800, "deviceScaleFactor": 1, "mobile": mobile}
                driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
                driver.get(url)
                time.sleep(1.0)
                driver.find_element("id", "single").click()  # a pass in progress
                time.sleep(0.6)
                metrics["height"] = driver.execute_script(
                    "return document.documentElement.scrollHeight")
                driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
                time.sleep(0.2)
                driver.save_screenshot(os.path.join(out, name))
                print(os.path.join(out, name))
            finally:
                driver.quit()
            time.sleep(3)  # the pass ends before the next picture's
    finally:
        end_process(server)
        sim.stop()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(sys.argv[1], sys.argv[2])
