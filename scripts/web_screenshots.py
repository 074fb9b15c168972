#!/usr/bin/python3
"""Pictures of the web page in headless Chromium, at a phone's 360 pixels and
at desktop width, in each of its languages, with the generator on the
simulator doing something worth seeing, and of the list a server of two
generators shows: for reviewing the layout and for docs/.

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

SIZES = ((360, True, "phone"), (1280, False, "desktop"))
# Accept-Language, and the pictures' names after the size.
LANGUAGES = (("en-GB", ""), ("zh-CN", "-zh-CN"), ("zh-TW", "-zh-TW"))


def serve(scpi, env, *args):
    """A server on free loopback ports: the process, its raw port and its
    page's address."""
    server = subprocess.Popen([scpi, "--no-vxi11", "--no-mdns", "--listen", "127.0.0.1:0",
                               "--http", "0", *args], env=env, stderr=subprocess.PIPE, text=True)
    raw = url = None
    for _ in range(20):
        line = server.stderr.readline()
        found = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
        raw = raw or (found and int(found.group(1)))
        found = re.search(r"web page on (http://\S+)", line)
        if found:
            url = found.group(1)
            break
    if raw is None or url is None:
        raise RuntimeError("the server did not start")
    return server, raw, url


def picture(url, width, mobile, path, before=None, languages=None):
    """The page's own width, and its whole height in one picture."""
    from test_web import browser  # noqa: E402
    driver = browser(width, 800, languages=languages)
    try:
        metrics = {"width": width, "height": 800, "deviceScaleFactor": 1, "mobile": mobile}
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
        driver.get(url)
        time.sleep(1.0)
        if before:
            before(driver)
        metrics["height"] = driver.execute_script("return document.documentElement.scrollHeight")
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
        time.sleep(0.2)
        driver.save_screenshot(path)
        print(path)
    finally:
        driver.quit()


def main(build, out):
    scpi = os.path.join(build, "src/programs/talmir880-scpi/talmir880-scpi")
    sim_path = os.path.join(build, "sim/talmir880-sim")
    os.environ["TALMIR880_SCPI"], os.environ["TALMIR880_SIM"] = scpi, sim_path
    from server_fixture import Simulator, ask, end_process  # noqa: E402
    import socket  # noqa: E402

    runtime = tempfile.mkdtemp(prefix="talmir880-shots-")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)

    sim = Simulator(env, "--quiet")
    server, raw, url = serve(scpi, env)
    try:
        with socket.create_connection(("127.0.0.1", raw), timeout=5) as script:
            ask(script, "OUTP ON;:FREQ 433.92 MHZ;:LFO:FREQ 1 KHZ;:OUTP:MOD ON;:POW -6;*OPC?")
            ask(script, "FREQ:STAR 430 MHZ;:FREQ:STOP 440 MHZ;:SWE:POIN 2000;*OPC?")

        def a_pass(driver):
            # The SCPI strip open, showing the line the click ran.
            driver.find_element("css selector", "#scpi-strip summary").click()
            driver.find_element("id", "single").click()
            time.sleep(0.6)

        for languages, suffix in LANGUAGES:
            for width, mobile, size in SIZES:
                picture(url, width, mobile, os.path.join(out, "web-%s%s.png" % (size, suffix)),
                        a_pass, languages)
                time.sleep(3)  # the pass ends before the next picture's
    finally:
        end_process(server)
        sim.stop()

    # Two generators behind one server, the first one's output on.
    sims = [Simulator(env, "--quiet"), Simulator(env, "--quiet", com=8)]
    server, raw, url = serve(scpi, env, "--port", "COM9", "--port", "COM8")
    try:
        with socket.create_connection(("127.0.0.1", raw), timeout=5) as script:
            ask(script, "OUTP ON;:FREQ 433.92 MHZ;*OPC?")
        for width, mobile, size in SIZES:
            picture(url, width, mobile, os.path.join(out, "web-list-%s.png" % size))
    finally:
        end_process(server)
        for one in sims:
            one.stop()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(sys.argv[1], sys.argv[2])
