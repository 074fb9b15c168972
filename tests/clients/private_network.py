"""A private network for the client tests that need more than loopback: the
test module's whole run again inside network, mount and PID namespaces of
its own (as PID 1, which takes every process it started with it however
it ends), the daemons it needs there in the foreground (a D-Bus system
bus, avahi-daemon, rpcbind), and another machine across a veth pair: a
network namespace of its own with an address on the pair's far end.
Nothing leaves the namespaces; the machine's own daemons are none of the
tests' business. Needs root and unshare(1)."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from server_fixture import end_process

UNSHARE = ["unshare", "--net", "--mount", "--uts", "--pid", "--fork", "--kill-child",
           "--mount-proc"]


def namespaces_refused():
    """Why this machine cannot run a module in namespaces; None when it can."""
    if os.geteuid() != 0:
        return "needs root for namespaces of its own"
    if shutil.which("unshare") is None:
        return "needs unshare(1)"
    tried = subprocess.run(UNSHARE + ["true"], capture_output=True, text=True, timeout=10)
    return None if tried.returncode == 0 else "unshare failed: " + tried.stderr.strip()


def run_inside(marker):
    """Runs the whole module again inside namespaces of its own, unless the
    environment's `marker` says it is there already. Returns only inside
    (None) or where namespaces cannot be made (why)."""
    if os.environ.get(marker) == "1":
        return None
    refused = namespaces_refused()
    if refused is None:
        os.environ[marker] = "1"
        sys.stdout.flush()
        sys.stderr.flush()
        os.execvp("unshare", UNSHARE + [sys.executable, *sys.orig_argv[1:]])
    return refused


def wait_until(test, timeout, step=0.1):
    """test()'s first true value, or None after the timeout."""
    deadline = time.monotonic() + timeout
    while True:
        found = test()
        if found or time.monotonic() > deadline:
            return found
        time.sleep(step)


def loopback():
    """Loopback up, with multicast, as DNS-SD needs it."""
    subprocess.run(["ip", "link", "set", "lo", "up", "multicast", "on"], check=True, timeout=5)


class Daemons:
    """The namespace's daemons, each in the foreground, so that each is ours
    to end; an empty /run of their own for their sockets and pid files."""

    def __init__(self):
        self.running = {}
        self.folder = tempfile.mkdtemp(prefix="talmir880-daemons-")
        subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run"], check=True, timeout=5)
        for folder in ("dbus", "avahi-daemon", "rpcbind"):
            os.mkdir(os.path.join("/run", folder))

    def bus(self):
        self.running["dbus"] = subprocess.Popen(
            ["dbus-daemon", "--system", "--nofork", "--nopidfile"], stderr=subprocess.DEVNULL)
        if not wait_until(lambda: os.path.exists("/run/dbus/system_bus_socket"), 5):
            raise RuntimeError("dbus-daemon did not start in the namespace")

    def rpcbind(self):
        self.running["rpcbind"] = subprocess.Popen(["rpcbind", "-f", "-w"])
        if not wait_until(rpcbind_runs, 5, step=0.05):
            raise RuntimeError("rpcbind did not start in the namespace")

    def avahi(self, config):
        """avahi-daemon with this configuration, once it runs."""
        conf = os.path.join(self.folder, "avahi-daemon.conf")
        with open(conf, "w") as file:
            file.write(config)
        log_path = os.path.join(self.folder, "avahi.log")
        with open(log_path, "w") as log:
            self.running["avahi"] = subprocess.Popen(
                ["avahi-daemon", "-f", conf, "--no-drop-root", "--no-chroot", "--no-rlimits"],
                stdout=log, stderr=subprocess.STDOUT)
        with open(log_path) as log:
            if not wait_until(lambda: "Server startup complete" in log.read(), 10):
                raise RuntimeError("avahi-daemon did not start: " + open(log_path).read())

    def stop(self, name):
        end_process(self.running.pop(name))

    def stop_all(self):
        for name in reversed(list(self.running)):
            self.stop(name)
        shutil.rmtree(self.folder, ignore_errors=True)


def rpcbind_runs():
    return subprocess.run(["rpcinfo", "-p", "127.0.0.1"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=5).returncode == 0


class Peer:
    """Another machine on the bench network: a network namespace of its own
    across a veth pair, with `here` on this machine's end ("bench0", its MAC
    fixed) and `there` on the peer's, both /24; this machine's default route
    goes through the peer, so that it has a gateway to name."""

    MAC = "02:00:00:99:02:01"

    def __init__(self, here="10.99.2.1", there="10.99.2.2"):
        self.here, self.there = here, there
        # Holds the namespace open until close(); stdin's end ends it too.
        self.holder = subprocess.Popen(["unshare", "--net", "--", "sh", "-c", "read _"],
                                       stdin=subprocess.PIPE)
        ours = os.readlink("/proc/self/ns/net")
        if not wait_until(lambda: self._namespace() not in (None, ours), 5, step=0.01):
            self.close()
            raise RuntimeError("the peer's namespace did not come")
        for command in (["ip", "link", "add", "bench0", "address", self.MAC, "type", "veth",
                         "peer", "name", "peer0"],
                        ["ip", "link", "set", "peer0", "netns", str(self.holder.pid)],
                        ["ip", "addr", "add", here + "/24", "broadcast", "+", "dev", "bench0"],
                        ["ip", "link", "set", "bench0", "up"]):
            subprocess.run(command, check=True, timeout=5)
        for command in (["ip", "link", "set", "lo", "up"],
                        ["ip", "addr", "add", there + "/24", "broadcast", "+", "dev", "peer0"],
                        ["ip", "link", "set", "peer0", "up"]):
            self.run(command)
        subprocess.run(["ip", "route", "add", "default", "via", there, "dev", "bench0"],
                       check=True, timeout=5)
        # The pair carries once both ends have their carrier.
        def up():
            shown = subprocess.run(["ip", "-o", "link", "show", "bench0"], capture_output=True,
                                   text=True, timeout=5).stdout
            return "state UP" in shown
        if not wait_until(up, 10, step=0.05):
            self.close()
            raise RuntimeError("the veth pair does not carry")

    def _namespace(self):
        try:
            return os.readlink("/proc/%d/ns/net" % self.holder.pid)
        except OSError:
            return None

    def prefix(self):
        """A command line's start that runs it on the peer."""
        return ["nsenter", "--net=/proc/%d/ns/net" % self.holder.pid]

    def run(self, args, check=True, **kwargs):
        return subprocess.run(self.prefix() + args, check=check, timeout=30,
                              stdout=kwargs.pop("stdout", subprocess.DEVNULL), **kwargs)

    def popen(self, args, **kwargs):
        return subprocess.Popen(self.prefix() + args, **kwargs)

    def reachable(self, port):
        """Whether the peer's address takes connections on the port, seen from here."""
        try:
            socket.create_connection((self.there, port), timeout=1).close()
            return True
        except OSError:
            return False

    def close(self):
        # The pair goes with the peer's namespace.
        if self.holder.stdin:
            self.holder.stdin.close()
        end_process(self.holder)
