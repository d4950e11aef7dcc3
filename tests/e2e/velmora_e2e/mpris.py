"""The desktop's side of the session bus: the program's MPRIS2 player as media keys and
widgets see it, and a stand-in inhibit service recording what the program asks of it."""

import os
import sys

from gi.repository import Gio, GLib

from velmora_rig.desktop import call, connect_bus
from velmora_rig.waiting import wait_until

NAME_PREFIX = "org.mpris.MediaPlayer2.velmora"
PATH = "/org/mpris/MediaPlayer2"
ROOT = "org.mpris.MediaPlayer2"
PLAYER = "org.mpris.MediaPlayer2.Player"
NAME_TIMEOUT_S = 10.0
_STAND_IN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "inhibit_service.py")


class MediaPlayer:
    """The program's player object, with every PropertiesChanged it sent since `listen()`."""

    def __init__(self, bus_address):
        self.bus = connect_bus(bus_address)
        self.changes = []  # the changed-properties dicts, in order
        self.bus.signal_subscribe(None, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                  PATH, PLAYER, Gio.DBusSignalFlags.NONE, self._on_changed)
        self.name = wait_until(self._find_name, NAME_TIMEOUT_S, f"a {NAME_PREFIX} bus name")

    def close(self):
        self.bus.close_sync(None)

    def _on_changed(self, _bus, _sender, _path, _interface, _signal, args):
        self.changes.append(args.unpack()[1])

    def pump(self):
        """Delivers the signals that have arrived (no main loop runs in the test)."""
        context = GLib.MainContext.default()
        while context.pending():
            context.iteration(False)

    def names(self):
        return call(self.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                    "org.freedesktop.DBus", "ListNames")[0]

    def _find_name(self):
        return next((n for n in self.names() if n.startswith(NAME_PREFIX)), None)

    def call(self, method, args=None, interface=PLAYER):
        return call(self.bus, self.name, PATH, interface, method, args)

    def open_uri(self, url):
        self.call("OpenUri", GLib.Variant("(s)", (url,)))

    def get(self, prop, interface=PLAYER):
        return call(self.bus, self.name, PATH, "org.freedesktop.DBus.Properties", "Get",
                    GLib.Variant("(ss)", (interface, prop)))[0]

    def set(self, prop, value):
        call(self.bus, self.name, PATH, "org.freedesktop.DBus.Properties", "Set",
             GLib.Variant("(ssv)", (PLAYER, prop, value)))

    def changed(self, prop):
        """Every value that signals announced for prop, in order."""
        self.pump()
        return [c[prop] for c in self.changes if prop in c]

    def wait_status(self, status, timeout_s):
        wait_until(lambda: self.changed("PlaybackStatus")[-1:] == [status], timeout_s,
                   f"PlaybackStatus {status} announced", describe=lambda: self.changed(
                       "PlaybackStatus"))


class InhibitStandIn:
    """The stand-in service as a helper process of the session; `lines()` reads its record."""

    def __init__(self, session, kind):
        self._session = session
        self._name = f"inhibit-{kind}"
        self.process = session.processes.start(self._name, [sys.executable, _STAND_IN, kind],
                                               env=session.env)
        wait_until(lambda: "ready" in self.lines(), NAME_TIMEOUT_S, f"the {kind} stand-in")

    def lines(self):
        with open(self._session.processes.log_path(self._name)) as f:
            return [line.strip() for line in f if line.strip()]

    def record(self):
        """The inhibit and release lines, in order."""
        return [line for line in self.lines() if line.split(" ")[0] in ("inhibit", "release")]

    def stop(self):
        self._session.processes.stop(self.process)
