"""How long the program's user-interface thread goes without answering, measured from outside.

Qt answers accessibility property reads on its user-interface thread, so their round-trip
bounds how long that thread was busy; a D-Bus ping, answered on Qt's bus thread, tells a slow
machine from a frozen program.
"""

import threading
import time

from gi.repository import GLib

from velmora_rig.desktop import call, connect_bus

PING_INTERVAL_S = 0.005
CALL_TIMEOUT_MS = 10000
ROOT_PATH = "/org/a11y/atspi/accessible/root"


class UiHeartbeat:
    """Measures the longest unanswered stretch while running (a context manager)."""

    def __init__(self, a11y_bus_address, app_bus_name):
        self._address = a11y_bus_address
        self._name = app_bus_name
        self._stop = threading.Event()
        self._thread = None
        self.longest_ui_s = 0.0
        self.longest_bus_s = 0.0
        self.samples = 0
        self.error = None

    def __enter__(self):
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(timeout=CALL_TIMEOUT_MS / 1000 * 2 + 1)

    def summary(self):
        return (f"longest UI wait {self.longest_ui_s * 1000:.0f} ms over {self.samples} reads "
                f"(bus thread {self.longest_bus_s * 1000:.0f} ms)")

    def _run(self):
        try:
            bus = connect_bus(self._address)
        except GLib.Error as error:
            self.error = error
            return
        try:
            while not self._stop.is_set():
                self.longest_ui_s = max(self.longest_ui_s, self._time(
                    bus, ROOT_PATH, "org.freedesktop.DBus.Properties", "Get",
                    GLib.Variant("(ss)", ("org.a11y.atspi.Accessible", "ChildCount"))))
                self.longest_bus_s = max(self.longest_bus_s, self._time(
                    bus, "/", "org.freedesktop.DBus.Peer", "Ping", None))
                self.samples += 1
                time.sleep(PING_INTERVAL_S)
        except GLib.Error as error:
            # The program has gone (it may be exactly what the test expects); stop measuring.
            self.error = error
        finally:
            bus.close_sync(None)

    def _time(self, bus, path, interface, method, args):
        start = time.monotonic()
        call(bus, self._name, path, interface, method, args, CALL_TIMEOUT_MS)
        return time.monotonic() - start
