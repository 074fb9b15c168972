// talmir880-start-probe TIME_FILE SETTLE_MS PROGRAM [ARGS...]
//
// Times one start-up of an uninstrumented X program from outside, for
// panel_vs_peers.py; prints "mapped_ms painted_ms cpu_ms". It takes a copy of
// the empty screen, notes the clock and forks `/usr/bin/time -v -o TIME_FILE
// PROGRAM`. "mapped" is when the server reports the first top-level window
// mapped (MapNotify on the root; there is no window manager). From then on
// the probe copies the screen once a millisecond (MIT-SHM) and "painted" is
// the first copy that differs from the empty screen: Qt maps its windows with
// no background, so the screen changes only once the program has drawn its
// first frame. "cpu" is the CPU time all the program's threads have run by
// then. The program is ended with SIGTERM SETTLE_MS after its first paint,
// so that TIME_FILE's peak memory is that of a settled window.
//
// Screenshot tools (import, xwd) take 50-150 ms per capture, too coarse for
// start-ups of a few hundred milliseconds, and polling the screen from the
// start would take CPU from the program being timed; the probe sleeps until
// the map and resolves the paint to 1-3 ms.
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
static int ignore_errors(Display* d, XErrorEvent* e) {
  (void)d;
  (void)e;
  return 0;
}

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
    fprintf(stderr, "usage: talmir880-start-probe TIME_FILE SETTLE_MS PROGRAM [ARGS...]\n");
    return 2;
  }
  // While other X servers come and go on the machine, a connection is now
  // and then refused; nothing has been started yet, so trying again for up
  // to 2 s costs the measurement nothing.
  Display* d = NULL;
  int tries = 0;
  while (!d && tries < 40) {
    if (tries++ > 0) sleep_ms(50);
    d = XOpenDisplay(NULL);
  }
  if (!d) {
    fprintf(stderr, "probe: no display\n");
    return 2;
  }
  if (tries > 1) fprintf(stderr, "probe: the display answered at try %d\n", tries);
  XSetErrorHandler(ignore_errors);
  Window root = DefaultRootWindow(d);
  int screen = DefaultScreen(d);
  int w = DisplayWidth(d, screen), h = DisplayHeight(d, screen);

  // The previous program's windows must be gone before the empty screen is taken.
  for (double until = now_ms() + 5000; viewable_windows(d, root) > 0 && now_ms() < until;)
    sleep_ms(5);

  XShmSegmentInfo shm;
  XImage* img = XShmCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap, NULL,
                                &shm, w, h);
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
