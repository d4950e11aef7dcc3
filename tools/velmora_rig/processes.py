"""Child processes of one test run, each in a session of its own and stopped by its id."""

import ctypes
import os
import select
import signal
import subprocess
import time

STOP_GRACE_S = 3.0
PR_SET_PDEATHSIG = 1


def _die_with_parent():
    """Runs in the child before exec: should the test runner be killed outright, its helpers
    go with it instead of keeping a display or sound server alive."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Processes:
    """Starts helper processes and stops them, newest first, when the run ends."""

    def __init__(self, log_dir):
        self._log_dir = log_dir
        self._children = []  # (name, Popen)

    def start(self, name, argv, env=None, pass_fds=(), stdout=None, stdin=subprocess.DEVNULL,
              own_session=True):
        """Starts argv with its stderr (and stdout unless given) in <log_dir>/<name>.log. A
        session of its own is a scheduling group of its own too, which takes a core's share
        from the tests beside it however busy it is: a child that works flat out shares the
        test's (own_session=False)."""
        log = open(os.path.join(self._log_dir, f"{name}.log"), "ab")
        try:
            child = subprocess.Popen(argv, env=env, pass_fds=pass_fds, stdin=stdin,
                                     stdout=stdout if stdout is not None else log,
                                     stderr=log, start_new_session=own_session,
                                     preexec_fn=_die_with_parent)
        finally:
            log.close()
        self._children.append((name, child))
        return child

    def stop(self, child):
        """Stops one child (and what it started in its session): TERM, then KILL."""
        stop(child)
        self._children = [(n, c) for n, c in self._children if c is not child]

    def stop_all(self):
        for _, child in reversed(list(self._children)):
            self.stop(child)

    def log_path(self, name):
        return os.path.join(self._log_dir, f"{name}.log")


def stop(child, grace_s=STOP_GRACE_S):
    """Stops a child, and what it started when it leads a session of its own: TERM, then KILL
    after grace_s."""
    if child.poll() is None:
        _signal(child, signal.SIGTERM)
        try:
            child.wait(timeout=grace_s)
        except subprocess.TimeoutExpired:
            _signal(child, signal.SIGKILL)
            child.wait(timeout=grace_s)
    else:
        # The leader has gone; anything it left in its session goes too.
        _signal(child, signal.SIGKILL)


def _signal(child, sig):
    try:
        os.killpg(child.pid, sig)
    except ProcessLookupError:
        # No group of that id: the child shares ours, and only it gets the signal.
        if child.poll() is None:
            child.send_signal(sig)
    except PermissionError:
        pass


def clean_env():
    """This process's environment without the desktop and sound server it runs in."""
    env = os.environ.copy()
    for name in ("AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "DISPLAY",
                 "SESSION_MANAGER", "XAUTHORITY", "PULSE_SERVER"):
        env.pop(name, None)
    return env


def start_reporting(processes, name, argv, env, timeout_s):
    """Starts a server that writes where it listens to the file descriptor written {fd} in
    argv; returns that line."""
    read_end, write_end = os.pipe()
    try:
        processes.start(name, [a.replace("{fd}", str(write_end)) for a in argv], env=env,
                        pass_fds=(write_end,))
        os.close(write_end)
        write_end = None
        deadline = time.monotonic() + timeout_s
        data = b""
        while b"\n" not in data:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError(f"{name} did not report within {timeout_s:.1f} s")
            if select.select([read_end], [], [], left)[0]:
                chunk = os.read(read_end, 4096)
                if not chunk:
                    raise RuntimeError(f"{name} exited before reporting")
                data += chunk
        return data.split(b"\n", 1)[0].decode().strip()
    finally:
        os.close(read_end)
        if write_end is not None:
            os.close(write_end)


def start_session_bus(processes, name, runtime_dir, env, timeout_s):
    """A private D-Bus session bus listening in runtime_dir; returns its address."""
    return start_reporting(processes, name, [
        "dbus-daemon", "--session", "--nofork", f"--address=unix:dir={runtime_dir}",
        "--print-address={fd}"], env, timeout_s)
