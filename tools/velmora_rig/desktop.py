"""A private display (X or Wayland) with a session bus and the accessibility bus and registry
on it."""

import os
import re

from .processes import clean_env, start_reporting, start_session_bus
from .waiting import wait_until

START_TIMEOUT_S = 10.0
SCREEN = "1280x800x24"
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
REGISTRY = "/usr/libexec/at-spi2-registryd"
WAYLAND_SOCKET = "wayland-velmora"


class Desktop:
    """Xvfb on a free display, a D-Bus session bus and the AT-SPI bus with its registry.

    `env` is the environment a client of this desktop needs; it carries no AT_SPI_BUS_ADDRESS,
    because a Qt program given one joins the bus without ever registering.
    """

    qt_platform = "xcb"
    # Pointer and keyboard that a test can drive (XTEST).
    has_seat = True

    def __init__(self, processes, runtime_dir):
        self._processes = processes
        self.runtime_dir = runtime_dir
        self.display = None
        self.session_bus = None
        self.a11y_bus = None
        self.env = None

    def _start_display(self):
        """Starts the display server; returns what its clients add to their environment."""
        self.display = ":" + start_reporting(
            self._processes, "xvfb", ["Xvfb", "-displayfd", "{fd}", "-screen", "0", SCREEN,
                                      "-nolisten", "tcp", "-noreset"], os.environ.copy(),
            START_TIMEOUT_S)
        return {"DISPLAY": self.display}

    def start(self):
        from gi.repository import GLib
        base = clean_env()
        base.update(self._start_display(), XDG_RUNTIME_DIR=self.runtime_dir)
        self.session_bus = start_session_bus(self._processes, "dbus", self.runtime_dir, base,
                                             START_TIMEOUT_S)
        base["DBUS_SESSION_BUS_ADDRESS"] = self.session_bus
        self.env = base
        self._processes.start("at-spi-bus", [BUS_LAUNCHER, "--launch-immediately", "--a11y=1"],
                              env=base)
        self.a11y_bus = wait_until(
            lambda: _ask(self.session_bus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                         "GetAddress"),
            START_TIMEOUT_S, "the accessibility bus address")
        registry_env = dict(base, AT_SPI_BUS_ADDRESS=self.a11y_bus)
        self._processes.start("at-spi-registry", [REGISTRY], env=registry_env)
        wait_until(lambda: _ask(self.a11y_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameHasOwner",
                                GLib.Variant("(s)", ("org.a11y.atspi.Registry",))),
                   START_TIMEOUT_S, "the accessibility registry")

    def adopt(self):
        """Makes this process a client of the desktop (needed before importing pyatspi)."""
        for name in ("AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY"):
            os.environ.pop(name, None)
        os.environ.update(DBUS_SESSION_BUS_ADDRESS=self.session_bus,
                          XDG_RUNTIME_DIR=self.runtime_dir)
        if self.display is not None:
            os.environ["DISPLAY"] = self.display


def connect_bus(address):
    from gi.repository import Gio
    return Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)


def call(bus, name, path, interface, method, args=None, timeout_ms=5000):
    """The unpacked answer of one method call; args is a GLib.Variant tuple or None."""
    from gi.repository import Gio
    return bus.call_sync(name, path, interface, method, args, None,
                         Gio.DBusCallFlags.NO_AUTO_START, timeout_ms, None).unpack()


def _ask(address, name, path, interface, method, args=None):
    """The first value of one call on the bus at address; None while the bus or the name is not
    up."""
    from gi.repository import GLib
    try:
        bus = connect_bus(address)
        answer = call(bus, name, path, interface, method, args, 1000)
        bus.close_sync(None)
        return answer[0]
    except GLib.Error:
        return None


class WaylandDesktop(Desktop):
    """A headless Wayland compositor (weston) in place of Xvfb, as Debian's default desktop runs
    the player. It has no seat: input goes through the accessibility tree only."""

    qt_platform = "wayland"
    has_seat = False

    def _start_display(self):
        socket = os.path.join(self.runtime_dir, WAYLAND_SOCKET)
        self._processes.start("weston", [
            "weston", "--backend=headless-backend.so", f"--socket={WAYLAND_SOCKET}",
            # The protocol log is where the windows' app ids show.
            "--idle-time=0", "--logger-scopes=log,proto"],
            env=dict(os.environ, XDG_RUNTIME_DIR=self.runtime_dir))
        wait_until(lambda: os.path.exists(socket), START_TIMEOUT_S, "the Wayland compositor")
        return {"WAYLAND_DISPLAY": WAYLAND_SOCKET}

    def app_ids(self):
        """The app ids the windows have asked for: a shell finds their desktop files, and the
        icons in them, by these names."""
        with open(self._processes.log_path("weston"), encoding="utf-8", errors="replace") as log:
            return re.findall(r'xdg_toplevel@\d+\.set_app_id\("([^"]*)"\)', log.read())
