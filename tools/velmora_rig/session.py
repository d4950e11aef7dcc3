"""One test run's private world: display, accessibility, sound server, stream server."""

import os
import shutil
import signal
import tempfile
import unittest
from collections import namedtuple

from .desktop import Desktop, WaylandDesktop
from .processes import Processes, clean_env
from .sound import PipeWireServer, SoundServer
from .streams import StreamServer

# (display, sound server) by the name CTest hands in as VELMORA_E2E_BACKEND.
BACKENDS = {
    "x11-pulseaudio": (Desktop, SoundServer),
    # Debian's default desktop.
    "wayland-pipewire": (WaylandDesktop, PipeWireServer),
}
NO_SEAT = "the headless Wayland compositor has no seat: no pointer, keyboard or window manager"


class Paths(namedtuple("Paths", "program stream_server media_dir probe")):
    """Where the built program, the stream server, the media and the engine probe live."""

    @classmethod
    def from_environment(cls):
        """As CTest hands them in."""
        names = ("VELMORA_PROGRAM", "VELMORA_STREAM_SERVER", "VELMORA_TEST_MEDIA_DIR",
                 "VELMORA_PROBE")
        missing = [name for name in names if not os.environ.get(name)]
        if missing:
            raise RuntimeError(f"{', '.join(missing)} not set: run this through ctest")
        return cls(*(os.environ[name] for name in names))

    @classmethod
    def from_build(cls, source_dir, build_dir):
        """As a build tree lays them out, for tools run by hand."""
        return cls(os.path.join(build_dir, "app", "velmora"),
                   os.path.join(source_dir, "tools", "stream_server", "stream_server.py"),
                   os.path.join(build_dir, "test-media"),
                   os.path.join(build_dir, "bench", "velmora-probe"))


class Session:
    """Starts everything a test needs on enter and stops it, by process id, on exit.

    The work folder (logs, recording) is kept when KEEP_E2E_FILES is set, for a post-mortem.
    """

    def __init__(self, paths, with_desktop=True):
        self.paths = paths
        self._with_desktop = with_desktop
        self._backend = BACKENDS[os.environ.get("VELMORA_E2E_BACKEND", "x11-pulseaudio")]
        self.work_dir = None
        self.processes = None
        self.desktop = None
        self.sound = None
        self._x = None

    def __enter__(self):
        self.work_dir = tempfile.mkdtemp(prefix="velmora-e2e-")
        # Searchable, not readable: a player run as another user reaches the sound server.
        os.chmod(self.work_dir, 0o711)
        self.processes = Processes(self.work_dir)
        # Stopped from outside (a time limit, a Ctrl-C): helpers of helpers, such as the
        # accessibility bus's own daemon, only go when their session is stopped.
        self._previous_sigterm = signal.signal(signal.SIGTERM, self._stop_on_signal)
        try:
            self.sound = self._backend[1](self.processes, self.work_dir)
            self.sound.start(clean_env())
            self.streams = StreamServer(self.processes, self.work_dir, self.paths.stream_server,
                                        self.paths.media_dir)
            self.streams.start(clean_env())
            base_env = self._start_desktop() if self._with_desktop else clean_env()
            # The environment of a client of this world: display, buses and sound server.
            self.env = dict(base_env, PULSE_SERVER=self.sound.address)
            self.sound.wait_recording()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start_desktop(self):
        self.desktop = self._backend[0](self.processes, self.work_dir)
        self.desktop.start()
        self.desktop.adopt()
        if self.desktop.has_seat:
            from .xwindows import XSession
            self._x = XSession(self.desktop.display, self.desktop.env)
        return self.desktop.env

    @property
    def has_seat(self):
        return self._x is not None

    @property
    def x(self):
        """The X display's windows and input; a test step that needs them is skipped without."""
        self.require_seat()
        return self._x

    def require_seat(self, reason=NO_SEAT):
        if self._x is None:
            raise unittest.SkipTest(reason)

    def _stop_on_signal(self, signum, _frame):
        self.processes.stop_all()
        self._remove_files()
        os._exit(128 + signum)

    def __exit__(self, *exc):
        signal.signal(signal.SIGTERM, self._previous_sigterm)
        if self._x is not None:
            self._x.close()
        self.processes.stop_all()
        if self.sound is not None:
            self.sound.join_recorder()
        self._remove_files()

    def _remove_files(self):
        if os.environ.get("KEEP_E2E_FILES"):
            print(f"kept {self.work_dir}")
        else:
            shutil.rmtree(self.work_dir, ignore_errors=True)

    def log_tail(self, name, max_bytes=4000):
        try:
            with open(self.processes.log_path(name), "rb") as f:
                data = f.read()
            return data[-max_bytes:].decode(errors="replace")
        except FileNotFoundError:
            return ""

