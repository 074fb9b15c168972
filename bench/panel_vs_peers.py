#!/usr/bin/env python3
"""Start-up time and peak memory of the panel next to other windows.

In one run under a private Xvfb (scripts/xvfb.sh), taking turns run by run:
  panel     the TALMIR-880 panel (default build/src/programs/talmir880/talmir880)
  baseline  another build of the panel, when given (before/after)
  floor     one empty Qt 6 Widgets window (talmir880-window-floor)
  label     the same with one Latin label (talmir880-window-label)
  CJK       the same with two labels of the panel's Chinese captions in the
            system's CJK font (talmir880-window-cjk)
  CuteCom   a serial terminal of the same kind (Qt 5), when installed

  bench/panel_vs_peers.py [--runs N] [--settle MS] [--build DIR] [--listen]
                          [PANEL [BASELINE]]

talmir880-start-probe (bench/start_probe.c says how) starts each program
under /usr/bin/time -v and reports when its first window is mapped, when it
first painted and the CPU its threads ran until then; peak memory is time's
maximum resident set size, SETTLE ms after the first paint. Every program
gets the same fresh HOME and XDG folders; round 0 is an unmeasured warm-up.
The table gives medians; ratios of start-up and CPU are medians of the
run-by-run ratios, which hold when the machine's load drifts, and of memory
the ratio of the medians. The probe and the windows are built in DIR (the
bench preset's folder unless given). With --listen the panel and the
baseline start with "--listen 127.0.0.1:0", serving SCPI on a port of the
system's choosing, as the panel does for scripts. It reports figures only.
"""
import argparse
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BENCH_TARGETS = ["talmir880-start-probe", "talmir880-window-floor", "talmir880-window-label",
                 "talmir880-window-cjk"]
FIGURES = ("mapped", "painted", "cpu", "rss")


def median(values):
    return statistics.median(values) if values else math.nan


def paired_ratio(a, b):
    """The median of a's figure over b's, run by run."""
    if not a or len(a) != len(b):
        return "-"
    return f"{statistics.median(x / y for x, y in zip(a, b)):.2f}x"


def ratio(a, b):
    return "-" if math.isnan(a) or math.isnan(b) or b == 0 else f"{a / b:.2f}x"


def version(command):
    try:
        return subprocess.run(command, capture_output=True, text=True).stdout.strip() or "?"
    except OSError:
        return "?"


def build_tools(build, given):
    if not given:
        subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build), "--target", *BENCH_TARGETS], cwd=ROOT,
                   check=True, stdout=subprocess.DEVNULL)


def run_once(probe, work, settle_ms, program, arguments):
    """One probe run: (mapped ms, painted ms, CPU ms, peak RSS KiB), or None."""
    time_file = work / "time.txt"
    with open(work / "probe.log", "a") as log:
        done = subprocess.run([probe, str(time_file), str(settle_ms), program, *arguments],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    if done.returncode != 0:
        return None
    mapped, painted, cpu = (float(v) for v in done.stdout.split())
    rss = math.nan
    for line in time_file.read_text().splitlines():
        if "Maximum resident set size" in line:
            rss = float(line.split(":")[1])
    return mapped, painted, cpu, rss


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5, help="measured runs per program")
    parser.add_argument("--settle", type=int, default=2000, metavar="MS",
                        help="how long a program stays up after its first paint")
    parser.add_argument("--build", type=Path, help="build folder of the probe and the windows")
    parser.add_argument("--listen", action="store_true",
                        help="start the panel and the baseline serving SCPI on 127.0.0.1:0")
    parser.add_argument("panel", nargs="?",
                        default=str(ROOT / "build/src/programs/talmir880/talmir880"))
    parser.add_argument("baseline", nargs="?")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs takes a positive number")
    if os.environ.get("TALMIR_XVFB") != "1":
        xvfb = str(ROOT / "scripts/xvfb.sh")
        os.execv(xvfb, [xvfb, sys.executable, __file__, *sys.argv[1:]])
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("panel_vs_peers.py: needs /usr/bin/time (scripts/deps.sh installs it)")

    build = args.build or ROOT / "build-bench"
    build_tools(build, args.build is not None)
    probe = str(build / "bench/talmir880-start-probe")

    programs = {"panel": os.path.realpath(args.panel)}
    if args.baseline:
        programs["baseline"] = os.path.realpath(args.baseline)
    for name in ("floor", "label", "cjk"):
        programs["CJK" if name == "cjk" else name] = str(build / f"bench/talmir880-window-{name}")
    programs["CuteCom"] = shutil.which("cutecom") or ""

    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        home = work / "home"
        for folder in (home / ".config", home / ".cache", work / "runtime"):
            folder.mkdir(parents=True)
        (work / "runtime").chmod(0o700)
        os.environ.update(HOME=str(home), XDG_CONFIG_HOME=str(home / ".config"),
                          XDG_CACHE_HOME=str(home / ".cache"),
                          XDG_RUNTIME_DIR=str(work / "runtime"))
        os.environ.pop("SESSION_MANAGER", None)

        results = {name: {f: [] for f in FIGURES} for name in programs}
        failed = set()
        for name, program in programs.items():
            if not program or not os.access(program, os.X_OK):
                print(f"{name}: {program or 'not installed'} not found; skipped", file=sys.stderr)
                failed.add(name)

        # Round by round, each program once a round, so that a busy spell of
        # the machine weighs on all of them alike; round 0 is the warm-up.
        for i in range(args.runs + 1):
            for name, program in programs.items():
                if name in failed:
                    continue
                served = args.listen and name in ("panel", "baseline")
                run = run_once(probe, work, args.settle, program,
                               ["--listen", "127.0.0.1:0"] if served else [])
                if run is None:
                    print(f"{name}: a run failed:", file=sys.stderr)
                    log = (work / "probe.log").read_text().splitlines()
                    print("\n".join(log[-5:]), file=sys.stderr)
                    failed.add(name)
                    continue
                if i > 0:
                    for figure, value in zip(FIGURES, run):
                        results[name][figure].append(value)
                print(f"  {name:<8} run {i}/{args.runs}: mapped {run[0]} ms, painted {run[1]} ms, "
                      f"CPU {run[2]} ms, peak RSS {run[3]:.0f} KiB"
                      f"{'' if i else ' (warm-up, not counted)'}", file=sys.stderr, flush=True)
        for name in failed:
            results[name] = {f: [] for f in FIGURES}

    med = {name: {f: median(v) for f, v in r.items()} for name, r in results.items()}
    load = " ".join(Path("/proc/loadavg").read_text().split()[:3])
    print(f"\nMedian of {args.runs} runs each, {os.cpu_count()} CPUs, load average {load}")
    listening = " --listen 127.0.0.1:0" if args.listen else ""
    print(f"panel: {programs['panel']}{listening}")
    if args.baseline:
        print(f"baseline: {programs['baseline']}{listening}")
    qt = version(["pkg-config", "--modversion", "Qt6Widgets"])
    cutecom = version(["dpkg-query", "-W", "-f=${Version}", "cutecom"])
    print(f"Qt {qt} (panel, floor); CuteCom {cutecom} (Qt 5)\n")
    print(f"| {'program':<8} | {'to mapped (ms)':>15} | {'to painted (ms)':>16} | "
          f"{'CPU to paint (ms)':>17} | {'peak RSS (MiB)':>15} |")
    print(f"|{'-' * 10}|{'-' * 17}|{'-' * 18}|{'-' * 19}|{'-' * 17}|")
    for name, m in med.items():
        print(f"| {name:<8} | {m['mapped']:>15.1f} | {m['painted']:>16.1f} | {m['cpu']:>17.1f} | "
              f"{m['rss'] / 1024:>15.1f} |")
    print("\nRatios of start-up and CPU are medians of run-by-run ratios; of memory, of the medians.")
    pairs = [("panel", "baseline")] if args.baseline else []
    pairs += [("panel", "floor"), ("label", "floor"), ("CJK", "floor"), ("panel", "CJK"),
              ("panel", "CuteCom")]
    for a, b in pairs:
        print(f"{a + ' / ' + b + ':':<17} "
              f"start-up {paired_ratio(results[a]['painted'], results[b]['painted'])}, "
              f"CPU {paired_ratio(results[a]['cpu'], results[b]['cpu'])}, "
              f"memory {ratio(med[a]['rss'], med[b]['rss'])}")


if __name__ == "__main__":
    main()
