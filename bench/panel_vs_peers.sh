#!/usr/bin/env bash
# Start-up time and peak memory of the panel next to its peers, in one run
# under a private Xvfb:
#   panel    the TALMIR-880 panel (default build/src/talmir880)
#   floor    a minimal Qt 6 Widgets program with one empty window, built here
#   label    the floor's window with one label of Latin text in the default
#            font: what the first line of text costs any window, built here
#   CJK      the floor's window with two labels of the panel's Chinese
#            captions, one bold and one regular, drawn as any program draws
#            them: from the system's CJK font (Noto Sans Mono CJK SC on
#            Debian, a file of its own per weight), built here. The panel
#            carries a subset of that font instead.
#   CuteCom  a serial terminal of the same kind (Debian package cutecom, Qt 5)
#
# Usage: bench/panel_vs_peers.sh [--runs N] [--settle MS] [PANEL [BASELINE]]
#   --runs N     measured runs per program, the median is reported (default 5)
#   --settle MS  how long a program stays up after its first paint (default 2000)
#   PANEL        the panel executable; when it is missing its row reads nan
#   BASELINE     another build of the panel, measured alongside (before/after)
#
# How a start-up is timed. None of the three programs is instrumented, so all
# are measured from outside in the same way, by a small Xlib probe this script
# builds: the probe takes a copy of the empty screen, notes the clock and forks
# `/usr/bin/time -v PROGRAM`. "mapped" is when the server reports the first
# top-level window mapped (MapNotify on the root; there is no window manager).
# From then on the probe copies the screen once a millisecond (MIT-SHM) and
# "painted" is the first copy that differs from the empty screen. Qt maps its
# windows with no background, so the screen changes only when the program
# has drawn its first frame: "painted" is the time to the first painted
# window. Screenshot tools (import, xwd) take 50-150 ms per capture, too
# coarse for start-ups of a few hundred milliseconds, and polling the screen
# from the start would take CPU from the program being timed; the probe sleeps
# until the map and resolves the paint to 1-3 ms.
#
# Peak memory is /usr/bin/time's "Maximum resident set size", read after the
# program has been up for --settle ms past its first paint and then ended with
# SIGTERM. Every program gets the same fresh HOME, XDG folders and display;
# each is started once unmeasured first, so that all are timed warm, and the
# programs take turns run by run, so that the ratios between them hold even
# when the machine's load drifts during the measurement.
#
# Missing tools (Xvfb, time, cutecom, g++, Qt 6 and X11 headers) are installed
# with apt-get when the script runs as root. It reports figures only.
set -euo pipefail

runs=5
settle_ms=2000
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
panel=$(realpath -m "$here/../build/src/talmir880")
panel_given=""
baseline=""

while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --settle) settle_ms=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0"; exit 0 ;;
    *) if [[ -z "$panel_given" ]]; then panel=$1; panel_given=1; else baseline=$1; fi; shift ;;
  esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "--runs takes a positive number" >&2; exit 2; }

# --- tools ---------------------------------------------------------------
need=()
command -v Xvfb >/dev/null || need+=(xvfb)
[[ -x /usr/bin/time ]] || need+=(time)
command -v cutecom >/dev/null || need+=(cutecom)
command -v g++ >/dev/null || need+=(g++)
command -v pkg-config >/dev/null || need+=(pkg-config)
pkg-config --exists Qt6Widgets 2>/dev/null || need+=(qt6-base-dev)
[[ -f /usr/include/X11/extensions/XShm.h ]] || need+=(libx11-dev libxext-dev)
if [[ ${#need[@]} -gt 0 ]]; then
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
    echo "installing: ${need[*]}" >&2
    apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >&2
  else
    echo "missing: ${need[*]} (install them, or run as root)" >&2
    exit 2
  fi
fi

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- the probe -----------------------------------------------------------
cat > "$work/probe.c" <<'EOF'
// probe TIME_FILE SETTLE_MS PROGRAM [ARGS...]: prints "mapped_ms painted_ms cpu_ms".
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <ctype.h>
#include <dirent.h>
#include <math.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static void sleep_ms(double ms) {
  struct timespec t = {(time_t)(ms / 1000), (long)((ms - (time_t)(ms / 1000) * 1000) * 1e6)};
  nanosleep(&t, NULL);
}

// Windows come and go while we look; a vanished one is simply not counted.
static int ignore_errors(Display* d, XErrorEvent* e) { (void)d; (void)e; return 0; }

static int viewable_windows(Display* d, Window root) {
  Window r, p, *kids = NULL;
  unsigned n = 0;
  int count = 0;
  if (!XQueryTree(d, root, &r, &p, &kids, &n)) return 0;
  for (unsigned i = 0; i < n; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, kids[i], &a) && a.map_state == IsViewable) ++count;
  }
  if (kids) XFree(kids);
  return count;
}

// The program is the child of /usr/bin/time; 0 while there is none.
static pid_t child_of(pid_t parent) {
  DIR* proc = opendir("/proc");
  struct dirent* e;
  pid_t child = 0;
  if (!proc) return 0;
  while (!child && (e = readdir(proc))) {
    if (!isdigit((unsigned char)e->d_name[0])) continue;
    char path[300], buf[512];
    snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
    FILE* f = fopen(path, "r");
    if (!f) continue;
    size_t len = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[len] = '\0';
    char* close_paren = strrchr(buf, ')');
    int ppid = 0;
    if (close_paren && sscanf(close_paren + 2, "%*c %d", &ppid) == 1 && ppid == parent) {
      child = atoi(e->d_name);
    }
  }
  closedir(proc);
  return child;
}

// CPU time all threads of a process have run, from the scheduler's own
// nanosecond count; NAN when it cannot be read.
static double cpu_ms(pid_t pid) {
  char path[300];
  snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
  DIR* tasks = pid ? opendir(path) : NULL;
  struct dirent* e;
  double ns = 0;
  if (!tasks) return NAN;
  while ((e = readdir(tasks))) {
    if (!isdigit((unsigned char)e->d_name[0])) continue;
    unsigned long long run = 0;
    snprintf(path, sizeof path, "/proc/%d/task/%s/schedstat", (int)pid, e->d_name);
    FILE* f = fopen(path, "r");
    if (f && fscanf(f, "%llu", &run) == 1) ns += (double)run;
    if (f) fclose(f);
  }
  closedir(tasks);
  return ns / 1e6;
}

// /usr/bin/time does not pass SIGTERM on, so the program, its child, is ended.
static void end_children(pid_t parent, int sig) {
  pid_t child = child_of(parent);
  if (child) kill(child, sig);
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: probe TIME_FILE SETTLE_MS PROGRAM [ARGS...]\n");
    return 2;
  }
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "probe: no display\n");
    return 2;
  }
  XSetErrorHandler(ignore_errors);
  Window root = DefaultRootWindow(d);
  int screen = DefaultScreen(d);
  int w = DisplayWidth(d, screen), h = DisplayHeight(d, screen);

  // The previous program's windows must be gone before the empty screen is taken.
  for (double until = now_ms() + 5000; viewable_windows(d, root) > 0 && now_ms() < until;)
    sleep_ms(5);

  XShmSegmentInfo shm;
  XImage* img = XShmCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap,
                                NULL, &shm, w, h);
  shm.shmid = shmget(IPC_PRIVATE, (size_t)img->bytes_per_line * h, IPC_CREAT | 0600);
  shm.shmaddr = img->data = shmat(shm.shmid, NULL, 0);
  shm.readOnly = False;
  XShmAttach(d, &shm);
  shmctl(shm.shmid, IPC_RMID, NULL);
  size_t size = (size_t)img->bytes_per_line * h;
  XShmGetImage(d, root, img, 0, 0, AllPlanes);
  char* empty = malloc(size);
  memcpy(empty, img->data, size);
  XSelectInput(d, root, SubstructureNotifyMask);
  XSync(d, False);

  double start = now_ms();
  pid_t pid = fork();
  if (pid == 0) {
    char** args = calloc((size_t)argc + 2, sizeof *args);
    int n = 0;
    args[n++] = "/usr/bin/time";
    args[n++] = "-v";
    args[n++] = "-o";
    args[n++] = argv[1];
    for (int i = 3; i < argc; ++i) args[n++] = argv[i];
    execv("/usr/bin/time", args);
    _exit(127);
  }

  // Until a window is mapped the probe sleeps on the X connection, so that it
  // takes no CPU from the program; only from the map to the first paint does
  // it copy the screen, once a millisecond.
  double mapped = -1, painted = -1, cpu = NAN;
  int status = 0;
  struct pollfd x = {ConnectionNumber(d), POLLIN, 0};
  while (painted < 0 && now_ms() - start < 30000) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      fprintf(stderr, "probe: %s ended before it painted a window\n", argv[3]);
      printf("nan nan nan\n");
      return 1;
    }
    while (mapped < 0 && XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type == MapNotify) mapped = now_ms() - start;
    }
    if (mapped < 0) {
      poll(&x, 1, 10);
      continue;
    }
    XShmGetImage(d, root, img, 0, 0, AllPlanes);
    if (memcmp(img->data, empty, size) != 0) {
      painted = now_ms() - start;
      cpu = cpu_ms(child_of(pid));
    } else {
      sleep_ms(1);
    }
  }

  sleep_ms(atof(argv[2]));
  end_children(pid, SIGTERM);
  for (double until = now_ms() + 3000; now_ms() < until;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    sleep_ms(10);
  }
  if (kill(pid, 0) == 0) {
    end_children(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  XShmDetach(d, &shm);
  shmdt(shm.shmaddr);
  XCloseDisplay(d);
  if (painted < 0) {
    fprintf(stderr, "probe: %s painted nothing within 30 s\n", argv[3]);
    printf("nan nan nan\n");
    return 1;
  }
  printf("%.1f %.1f %.1f\n", mapped, painted, cpu);
  return 0;
}
EOF
gcc -O2 -o "$work/probe" "$work/probe.c" -lX11 -lXext

# --- the floor: one empty Qt 6 window, and the same with one line of text --
cat > "$work/floor.cpp" <<'EOF'
#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
#ifdef WITH_LABEL
  QLabel label(QStringLiteral("PORT CLOSED"), &window);
  label.move(24, 16);
#endif
  window.show();
  return app.exec();
}
EOF
for variant in floor:-UWITH_LABEL label:-DWITH_LABEL; do
  # shellcheck disable=SC2046
  g++ -O2 -fPIC -std=c++17 "${variant#*:}" -o "$work/qt_${variant%%:*}" "$work/floor.cpp" \
    $(pkg-config --cflags --libs Qt6Widgets)
done

# --- the CJK floor: the same window with two Chinese labels -----------------
cat > "$work/cjk.cpp" <<'EOF'
#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QWidget>

// The system font the panel would draw 黑体 in without its own: the first of
// its substitutes installed.
static QString panel_family() {
  const QStringList installed = QFontDatabase::families();
  for (const char* family : {"SimHei", "Noto Sans Mono CJK SC", "Noto Sans CJK SC",
                             "Source Han Sans SC", "WenQuanYi Zen Hei", "WenQuanYi Micro Hei",
                             "Droid Sans Fallback"}) {
    if (installed.contains(QString::fromUtf8(family), Qt::CaseInsensitive)) return family;
  }
  return QString::fromUtf8("黑体");
}

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
  window.resize(824, 329);
  QFont font(panel_family());
  font.setPointSizeF(12);
  font.setBold(true);
  QLabel bold(QString::fromUtf8("串口关闭"), &window);
  bold.setFont(font);
  bold.move(24, 16);
  font.setPointSizeF(15);
  font.setBold(false);
  QLabel regular(QString::fromUtf8("结束扫描频率"), &window);
  regular.setFont(font);
  regular.move(24, 150);
  window.show();
  return app.exec();
}
EOF
# shellcheck disable=SC2046
g++ -O2 -fPIC -std=c++17 -o "$work/qt_cjk" "$work/cjk.cpp" $(pkg-config --cflags --libs Qt6Widgets)

# --- a private display and a fresh user ------------------------------------
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -br 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
[[ -s "$work/display" ]] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

mkdir -p "$work/home/.config" "$work/home/.cache" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER

median() {
  sort -g | awk '{v[NR] = $1}
    END {if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2];
         else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# run_once NAME PROGRAM: one probe run; sets out (mapped, painted and CPU to
# the paint) and kb.
run_once() {
  if ! out=$("$work/probe" "$work/time.txt" "$settle_ms" "$2" 2>>"$work/probe.log"); then
    echo "$1: a run failed; see below" >&2
    tail -n 5 "$work/probe.log" >&2
    return 1
  fi
  kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
}

declare -A program map paint cpu mem maps paints cpus rss failed
names=()
entries=("panel|$panel")
[[ -n "$baseline" ]] && entries+=("baseline|$baseline")
entries+=("floor|$work/qt_floor" "label|$work/qt_label" "CJK|$work/qt_cjk"
          "CuteCom|$(command -v cutecom || true)")
for entry in "${entries[@]}"; do
  name=${entry%%|*}; program[$name]=${entry#*|}
  names+=("$name")
  if [[ -z "${program[$name]}" || ! -x "${program[$name]}" ]]; then
    echo "$name: ${program[$name]:-not installed} not found; skipped" >&2
    failed[$name]=1
  fi
done

# Round by round, each program once a round, so that a busy spell of the
# machine weighs on all of them alike; round 0 is the unmeasured warm-up.
for ((i = 0; i <= runs; i++)); do
  for name in "${names[@]}"; do
    [[ -n "${failed[$name]:-}" ]] && continue
    if ! run_once "$name" "${program[$name]}"; then
      failed[$name]=1
      continue
    fi
    read -r m p c <<<"$out"
    note=""
    if ((i > 0)); then
      maps[$name]+="$m "; paints[$name]+="$p "; cpus[$name]+="$c "; rss[$name]+="$kb "
    else
      note=" (warm-up, not counted)"
    fi
    printf '  %-8s run %d/%d: mapped %s ms, painted %s ms, CPU %s ms, peak RSS %s KiB%s\n' \
      "$name" "$i" "$runs" "$m" "$p" "$c" "$kb" "$note" >&2
  done
done

for name in "${names[@]}"; do
  if [[ -n "${failed[$name]:-}" ]]; then
    map[$name]=nan; paint[$name]=nan; cpu[$name]=nan; mem[$name]=nan
    continue
  fi
  map[$name]=$(printf '%s\n' ${maps[$name]} | median)
  paint[$name]=$(printf '%s\n' ${paints[$name]} | median)
  cpu[$name]=$(printf '%s\n' ${cpus[$name]} | median)
  mem[$name]=$(printf '%s\n' ${rss[$name]} | median | awk '{printf "%.1f", $1 / 1024}')
done

ratio() {
  awk -v a="$1" -v b="$2" \
    'BEGIN {if (a == "nan" || b == "nan" || b == 0) print "-"; else printf "%.2fx", a / b}'
}

# paired LIST A B: the median of A's figure over B's, round by round, LIST
# naming the figures (paints or cpus). A drift in the machine's load moves
# both programs of a round alike, so this holds better than the ratio of the
# medians.
paired() {
  local -n list=$1
  local -a a b
  read -r -a a <<<"${list[$2]:-}"
  read -r -a b <<<"${list[$3]:-}"
  if ((${#a[@]} != runs || ${#b[@]} != runs)); then
    echo "-"
    return
  fi
  local k
  for ((k = 0; k < runs; k++)); do
    awk -v x="${a[k]}" -v y="${b[k]}" 'BEGIN {print x / y}'
  done | median | awk '{printf "%.2fx", $1}'
}

echo
echo "Median of $runs runs each, $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "panel: $panel"
[[ -n "$baseline" ]] && echo "baseline: $baseline"
cutecom_version=$(dpkg-query -W -f='${Version}' cutecom 2>/dev/null || echo '?')
echo "Qt $(pkg-config --modversion Qt6Widgets) (panel, floor); CuteCom $cutecom_version (Qt 5)"
echo
printf '| %-8s | %15s | %16s | %17s | %15s |\n' program "to mapped (ms)" "to painted (ms)" \
  "CPU to paint (ms)" "peak RSS (MiB)"
printf '|%s|%s|%s|%s|%s|\n' ---------- ----------------- ------------------ ------------------- \
  -----------------
for name in "${names[@]}"; do
  printf '| %-8s | %15s | %16s | %17s | %15s |\n' "$name" "${map[$name]}" "${paint[$name]}" \
    "${cpu[$name]}" "${mem[$name]}"
done
echo
echo "Ratios of start-up and CPU are medians of run-by-run ratios; of memory, of the medians."
compare() {  # A B
  printf '%-17s start-up %s, CPU %s, memory %s\n' "$1 / $2:" "$(paired paints "$1" "$2")" \
    "$(paired cpus "$1" "$2")" "$(ratio "${mem[$1]}" "${mem[$2]}")"
}
[[ -n "$baseline" ]] && compare panel baseline
compare panel floor
compare label floor
compare CJK floor
compare panel CJK
compare panel CuteCom
