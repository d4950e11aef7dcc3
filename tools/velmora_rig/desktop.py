"""A private X display with a session bus and the accessibility bus and registry on it."""

import os

from .processes import read_fd_line
from .waiting import wait_until

START_TIMEOUT_S = 10.0
SCREEN = "1280x800x24"
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
REGISTRY = "/usr/libexec/at-spi2-registryd"


class Desktop:
    """Xvfb on a free display, a D-Bus session bus and the AT-SPI bus with its registry.

    `env` is the environment a client of this desktop needs; it carries no AT_SPI_BUS_ADDRESS,
    because a Qt program given one joins the bus without ever registering.
    """

    def __init__(self, processes, runtime_dir):
        self._processes = processes
        self.runtime_dir = runtime_dir
        self.display = None
        self.session_bus = None
        self.a11y_bus = None
        self.env = None

    def start(self):
        self.display = ":" + self._start_reporting(
            "xvfb", ["Xvfb", "-displayfd", "{fd}", "-screen", "0", SCREEN,
                     "-nolisten", "tcp", "-noreset"], os.environ.copy())
        base = os.environ.copy()
        for name in ("AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY",
                     "SESSION_MANAGER", "XAUTHORITY"):
            base.pop(name, None)
        base.update(DISPLAY=self.display, XDG_RUNTIME_DIR=self.runtime_dir)
        self.session_bus = self._start_reporting(
            "dbus", ["dbus-daemon", "--session", "--nofork",
                     f"--address=unix:dir={self.runtime_dir}", "--print-address={fd}"], base)
        base["DBUS_SESSION_BUS_ADDRESS"] = self.session_bus
        self.env = base
        self._processes.start("at-spi-bus", [BUS_LAUNCHER, "--launch-immediately", "--a11y=1"],
                              env=base)
        self.a11y_bus = wait_until(self._ask_a11y_address, START_TIMEOUT_S,
                                   "the accessibility bus address")
        registry_env = dict(base, AT_SPI_BUS_ADDRESS=self.a11y_bus)
        self._processes.start("at-spi-registry", [REGISTRY], env=registry_env)
        wait_until(self._registry_is_up, START_TIMEOUT_S, "the accessibility registry")

    def adopt(self):
        """Makes this process a client of the desktop (needed before importing pyatspi)."""
        for name in ("AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY"):
            os.environ.pop(name, None)
        os.environ.update(DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=self.session_bus,
                          XDG_RUNTIME_DIR=self.runtime_dir)

    def _start_reporting(self, name, argv, env):
        """Starts a server that writes where it listens to a file descriptor; returns that."""
        read_end, write_end = os.pipe()
        try:
            argv = [a.replace("{fd}", str(write_end)) for a in argv]
            self._processes.start(name, argv, env=env, pass_fds=(write_end,))
            os.close(write_end)
            write_end = None
            return read_fd_line(read_end, START_TIMEOUT_S, name)
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)

    def _ask_a11y_address(self):
        from gi.repository import Gio, GLib
        try:
            bus = Gio.DBusConnection.new_for_address_sync(
                self.session_bus, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
            reply = bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                  None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NO_AUTO_START,
                                  1000, None)
            bus.close_sync(None)
            return reply.unpack()[0]
        except GLib.Error:
            return None

    def _registry_is_up(self):
        from gi.repository import Gio, GLib
        try:
            bus = Gio.DBusConnection.new_for_address_sync(
                self.a11y_bus, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
            reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "NameHasOwner",
                                  GLib.Variant("(s)", ("org.a11y.atspi.Registry",)),
                                  GLib.VariantType("(b)"), Gio.DBusCallFlags.NONE, 1000, None)
            bus.close_sync(None)
            return reply.unpack()[0]
        except GLib.Error:
            return False
