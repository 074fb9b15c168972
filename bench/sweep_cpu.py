#!/usr/bin/env python3
"""CPU the panel spends following continuous sweeps against the simulator.

The real panel, offscreen (talmir880-sweep-harness), runs 9999-point passes
against talmir880-sim in three cases:
  per-point  --baud 57600: each point its own write, 1440 a second
  usb        --baud 57600 --latency-ms 16: the same pace handed over in 16 ms
             batches, as a USB adapter's latency timer does
  unpaced    --baud 0: as fast as the pseudo-terminal allows
and prints, per build and case, the CPU share of one core (the harness's
user + system time from CONT to the end of the last pass), wake-ups a second
and characters a second: the median over the runs and the spread (lowest to
highest).

The floor (talmir880-serial-floor) takes its turn in every run too: a bare
QSerialPort that writes the same sweep command, reads the same stream with
readAll on every readyRead and writes the command again as each pass ends.
Per build and case the script prints the panel's CPU over the floor's, the
median of the run-by-run ratios (each run's floor against the panel runs
beside it).

  bench/sweep_cpu.py [--runs N] [--passes P] [--unpaced-passes U]
                     [--case per-point|usb|unpaced]... [--no-floor] [BUILD...]

BUILD is a configured build folder (default: the bench preset's, built
here). Given several, they take turns run by run, so that a drift in the
machine's load weighs on all alike, and each later build is also compared
with the first run by run. The simulator is the first build's, so only the
panel differs; the floor is the first build's that has it (a tree older
than the floor has not).
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CASES = {
    "per-point": ["--baud", "57600"],
    "usb": ["--baud", "57600", "--latency-ms", "16"],
    "unpaced": ["--baud", "0"],
}
FIGURES = {  # name: pattern in the harness's report
    "cpu": r"CPU share of one core\s+([\d.]+) %",
    "wakeups": r"wake-ups per second\s+(\d+)",
    "chars": r"characters per second\s+(\d+)",
}


def load():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def spread(values, digits):
    return (f"{statistics.median(values):.{digits}f} "
            f"({min(values):.{digits}f} to {max(values):.{digits}f})")


def run_once(program, sim, simulator_flags, passes):
    """One run: a fresh simulator on COM9 in a private runtime folder."""
    with tempfile.TemporaryDirectory() as runtime:
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        device = Path(runtime, "talmir880", "COM9")
        simulator = subprocess.Popen([sim, "--quiet", *simulator_flags], env=env,
                                     stdout=subprocess.DEVNULL)
        try:
            while not device.exists():
                if simulator.poll() is not None:
                    sys.exit(f"sweep_cpu.py: {sim} ended at once")
                time.sleep(0.05)
            report = subprocess.run([program, "--points", "9999", "--passes", str(passes)],
                                    env=env, capture_output=True, text=True).stdout
        finally:
            simulator.terminate()
            simulator.wait()
    figures = {}
    for name, pattern in FIGURES.items():
        match = re.search(pattern, report)
        figures[name] = float(match.group(1)) if match else float("nan")
    figures["complete"] = "every pass completed  yes" in report
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--passes", type=int, default=3, help="passes a run at 57600 baud")
    parser.add_argument("--unpaced-passes", type=int, default=50)
    parser.add_argument("--case", action="append", choices=CASES)
    parser.add_argument("--no-floor", action="store_true", help="leave the bare reader out")
    parser.add_argument("builds", nargs="*")
    args = parser.parse_args()
    cases = args.case or list(CASES)
    builds = args.builds
    if not builds:
        subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        builds = [str(ROOT / "build-bench")]
    for build in builds:
        subprocess.run(["cmake", "--build", build, "--target", "talmir880-sweep-harness"],
                       cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", builds[0], "--target", "talmir880-sim"], cwd=ROOT,
                   check=True, stdout=subprocess.DEVNULL)
    sim = str(Path(builds[0], "sim", "talmir880-sim"))
    floor = None
    for build in [] if args.no_floor else builds:
        built = subprocess.run(["cmake", "--build", build, "--target", "talmir880-serial-floor"],
                               cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if built.returncode == 0:
            floor = str(Path(build, "bench", "talmir880-serial-floor"))
            break
    if floor:
        print(f"floor: {floor}")
    elif not args.no_floor:
        print("no build has talmir880-serial-floor; no floor", file=sys.stderr)

    for case in cases:
        passes = args.unpaced_passes if case == "unpaced" else args.passes
        print(f"== {case}: simulator {' '.join(CASES[case])}, {passes} passes of 9999 points a "
              f"run, {args.runs} runs; load average {load()}", flush=True)
        runs = {build: [] for build in builds}
        floor_runs = []
        for i in range(args.runs):
            if floor:
                figures = run_once(floor, sim, CASES[case], passes)
                floor_runs.append(figures)
                print(f"  run {i + 1}/{args.runs} floor: CPU {figures['cpu']:.2f} % of a core, "
                      f"{figures['wakeups']:.0f} wake-ups/s, {figures['chars']:.0f} characters/s"
                      f"{'' if figures['complete'] else ', NOT every pass completed'}",
                      file=sys.stderr, flush=True)
            for build in builds:
                harness = str(Path(build, "bench", "talmir880-sweep-harness"))
                figures = run_once(harness, sim, CASES[case], passes)
                runs[build].append(figures)
                print(f"  run {i + 1}/{args.runs} {build}: CPU {figures['cpu']:.2f} % of a core, "
                      f"{figures['wakeups']:.0f} wake-ups/s, {figures['chars']:.0f} characters/s"
                      f"{'' if figures['complete'] else ', NOT every pass completed'}",
                      file=sys.stderr, flush=True)
        print(f"  load average at the end {load()}")
        for build in builds:
            r = runs[build]
            done = sum(f["complete"] for f in r)
            print(f"  {build}\n    CPU % of one core {spread([f['cpu'] for f in r], 2)}; "
                  f"wake-ups/s {spread([f['wakeups'] for f in r], 0)}; "
                  f"characters/s {spread([f['chars'] for f in r], 0)}; "
                  f"every pass completed in {done} of {len(r)} runs")
        if floor_runs:
            done = sum(f["complete"] for f in floor_runs)
            print(f"  floor (bare QSerialPort)\n    CPU % of one core "
                  f"{spread([f['cpu'] for f in floor_runs], 2)}; "
                  f"wake-ups/s {spread([f['wakeups'] for f in floor_runs], 0)}; "
                  f"characters/s {spread([f['chars'] for f in floor_runs], 0)}; "
                  f"every pass completed in {done} of {len(floor_runs)} runs")
            for build in builds:
                ratios = [p["cpu"] / f["cpu"] for p, f in zip(runs[build], floor_runs)
                          if f["cpu"] > 0]
                if ratios:
                    print(f"  {build} / floor, run by run: CPU {spread(ratios, 2)}")
        for build in builds[1:]:
            differences = [b["cpu"] - a["cpu"] for a, b in zip(runs[builds[0]], runs[build])]
            print(f"  {build} minus {builds[0]}, run by run: CPU "
                  f"{statistics.median(differences):+.2f} ({min(differences):+.2f} to "
                  f"{max(differences):+.2f}) % of one core")


if __name__ == "__main__":
    main()
