#!/usr/bin/env python3
"""Where the panel's resident memory goes, next to the empty Qt window.

  bench/memory_breakdown.py [--settle MS] [--build DIR] [PANEL [BASELINE]]

Under a private Xvfb (scripts/xvfb.sh) each program is started alone with a
fresh HOME, left SETTLE ms (default 2500, after panel_vs_peers.py's two
seconds past the first paint), and its /proc/PID/smaps summed by what each
mapping holds: Qt's libraries and plugins, the font libraries, font files
and fontconfig's caches, the program itself (its code, resources, own fonts
and icon), the window's pixels shared with the X server, the heap, stacks
and other private memory, and the rest (libc, libstdc++, X11 and xcb, ICU,
D-Bus, GL dispatch, ...). Programs: the empty window (talmir880-window-floor,
built in DIR, default the bench preset's), PANEL (default
build/src/programs/talmir880/talmir880) with and without
"--listen 127.0.0.1:0", and BASELINE likewise when given. Resident pages of
a file mapping include those the kernel mapped around each touched one
(fault-around), as they count in the peak that panel_vs_peers.py reports.
The columns "- floor" and "--listen adds" are differences of the columns.
Figures only.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# In order: the first that matches a mapping's name takes it.
PARTS = [
    ("Qt libraries", lambda n, p: "/libQt6" in n),
    ("Qt plugins", lambda n, p: "/qt6/plugins/" in n),
    ("font libraries: FreeType, HarfBuzz, fontconfig, expat, libpng, zlib",
     lambda n, p: any(k in n for k in ("libfreetype", "libharfbuzz", "libfontconfig", "libexpat",
                                       "libgraphite2", "libpng16", "/libz.so", "libbrotli"))),
    ("font files and fontconfig's caches",
     lambda n, p: n.startswith(("/usr/share/fonts", "/var/cache/fontconfig"))
     or n.endswith((".ttf", ".otf", ".ttc"))),
    ("the program: code, resources (its fonts, its icon)", lambda n, p: n == p),
    ("the window's pixels, shared with the X server",
     lambda n, p: n.startswith(("/memfd:", "/SYSV"))),
    ("heap, thread stacks, other private memory",
     lambda n, p: n == "" or n.startswith("[heap]") or n.startswith("[stack")
     or n.startswith("[anon")),
    ("the rest: libc, libstdc++, X11 and xcb, ICU, D-Bus, GL, ...", lambda n, p: True),
]


def smaps_parts(pid, program):
    parts = {name: 0 for name, _ in PARTS}
    name = None
    with open(f"/proc/{pid}/smaps") as smaps:
        for line in smaps:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5 and ":" not in fields[0]:
                name = " ".join(fields[5:]) if len(fields) > 5 else ""
                continue
            if fields[0] == "Rss:":
                for part, matches in PARTS:
                    if matches(name, program):
                        parts[part] += int(fields[1])
                        break
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                parts["peak (VmHWM)"] = int(line.split()[1])
    parts["resident in all"] = sum(parts[name] for name, _ in PARTS)
    return parts


def measure(program, arguments, settle_ms):
    process = subprocess.Popen([program, *arguments], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        time.sleep(settle_ms / 1000)
        if process.poll() is not None:
            sys.exit(f"memory_breakdown.py: {program} ended early")
        return smaps_parts(process.pid, os.path.realpath(program))
    finally:
        process.terminate()
        process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--settle", type=int, default=2500, metavar="MS")
    parser.add_argument("--build", type=Path, help="build folder of talmir880-window-floor")
    parser.add_argument("panel", nargs="?",
                        default=str(ROOT / "build/src/programs/talmir880/talmir880"))
    parser.add_argument("baseline", nargs="?")
    args = parser.parse_args()
    if os.environ.get("TALMIR_XVFB") != "1":
        xvfb = str(ROOT / "scripts/xvfb.sh")
        os.execv(xvfb, [xvfb, sys.executable, __file__, *sys.argv[1:]])
    build = args.build
    if build is None:
        subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        build = ROOT / "build-bench"
    subprocess.run(["cmake", "--build", str(build), "--target", "talmir880-window-floor"],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)

    runs = [("floor", str(build / "bench/talmir880-window-floor"), [])]
    for label, program in (("panel", args.panel), ("baseline", args.baseline)):
        if program:
            runs += [(label, program, []), (f"{label} --listen", program,
                                            ["--listen", "127.0.0.1:0"])]
    with tempfile.TemporaryDirectory() as tmp:
        home = Path(tmp, "home")
        runtime = Path(tmp, "runtime")
        for folder in (home / ".config", home / ".cache", runtime):
            folder.mkdir(parents=True)
        runtime.chmod(0o700)
        os.environ.update(HOME=str(home), XDG_CONFIG_HOME=str(home / ".config"),
                          XDG_CACHE_HOME=str(home / ".cache"), XDG_RUNTIME_DIR=str(runtime))
        results = {label: measure(program, arguments, args.settle)
                   for label, program, arguments in runs}

    columns = list(results)
    extra = [("panel - floor", "panel", "floor"), ("--listen adds", "panel --listen", "panel")]
    if args.baseline:
        extra.insert(1, ("panel - baseline", "panel", "baseline"))
    rows = [name for name, _ in PARTS] + ["resident in all", "peak (VmHWM)"]
    print(f"Resident memory {args.settle} ms after start, KiB; panel: "
          f"{os.path.realpath(args.panel)}"
          + (f", baseline: {os.path.realpath(args.baseline)}" if args.baseline else ""))
    print("| part | " + " | ".join(columns + [e[0] for e in extra]) + " |")
    print("|---|" + "---:|" * (len(columns) + len(extra)))
    for row in rows:
        cells = [f"{results[c][row]:,}" for c in columns]
        cells += [f"{results[a][row] - results[b][row]:+,}" for _, a, b in extra]
        print(f"| {row} | " + " | ".join(cells) + " |")
    print(f"peak / floor: " + ", ".join(
        f"{c} {results[c]['peak (VmHWM)'] / results['floor']['peak (VmHWM)']:.3f}"
        for c in columns if c != "floor"))


if __name__ == "__main__":
    main()
