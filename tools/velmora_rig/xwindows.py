"""The X side of the desktop: finding a program's windows, focusing and closing them as a
window manager would, and real pointer and keyboard input through xdotool (XTEST)."""

import subprocess

from Xlib import X, XK, Xatom, display, protocol
from Xlib.ext import xtest

from .waiting import wait_until

XDOTOOL_TIMEOUT_S = 20.0


class XSession:
    def __init__(self, display_name, env):
        self._env = env
        self._display = display.Display(display_name)
        self._root = self._display.screen().root
        self._atom = self._display.intern_atom

    def close(self):
        self._display.close()

    def windows_of(self, pid):
        """Top-level windows of a process that are mapped (shown): {window id: title}."""
        pid_atom = self._atom("_NET_WM_PID")
        found = {}
        for window in self._root.query_tree().children:
            prop = window.get_full_property(pid_atom, Xatom.CARDINAL)
            if (prop is not None and len(prop.value) and prop.value[0] == pid
                    and window.get_attributes().map_state == X.IsViewable):
                title = window.get_full_property(self._atom("_NET_WM_NAME"),
                                                 self._atom("UTF8_STRING"))
                found[window.id] = title.value.decode("utf-8") if title is not None else None
        return found

    def wait_window(self, pid, title, timeout_s):
        """The id of the process's mapped window of that title, once it shows."""
        return wait_until(lambda: next((xid for xid, name in self.windows_of(pid).items()
                                        if name == title), None), timeout_s, f"{title!r} mapped")

    def icon_sizes(self, window_id):
        """The (width, height) of every image in the window's _NET_WM_ICON, as a taskbar sees it."""
        window = self._display.create_resource_object("window", window_id)
        prop = window.get_full_property(self._atom("_NET_WM_ICON"), Xatom.CARDINAL)
        values = list(prop.value) if prop is not None else []
        sizes = []
        while len(values) >= 2:
            sizes.append((values[0], values[1]))
            values = values[2 + values[0] * values[1]:]
        return sizes

    def distinct_colours(self, window_id, limit=16):
        """How many colours the window's pixels show, counted up to limit; 1 when unpainted."""
        window = self._display.create_resource_object("window", window_id)
        geometry = window.get_geometry()
        image = window.get_image(0, 0, geometry.width, geometry.height, X.ZPixmap, 0xFFFFFFFF)
        data = image.data
        colours = set()
        # Every 7th pixel of a 32-bit image: enough to see text on a background, and fast.
        for offset in range(0, len(data) - 3, 4 * 7):
            colours.add(data[offset:offset + 3])
            if len(colours) >= limit:
                break
        return len(colours)

    def focus(self, window_id):
        """Raises the window and gives it the input focus, as a window manager does on map."""
        window = self._display.create_resource_object("window", window_id)
        window.configure(stack_mode=X.Above)
        window.set_input_focus(X.RevertToParent, X.CurrentTime)
        self._display.sync()

    def request_close(self, window_id):
        """Sends WM_DELETE_WINDOW, what a title bar's close button sends."""
        window = self._display.create_resource_object("window", window_id)
        protocols = self._atom("WM_PROTOCOLS")
        event = protocol.event.ClientMessage(
            window=window, client_type=protocols,
            data=(32, [self._atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        self._display.sync()

    def tap_key_now(self, key_name):
        """Presses and releases one key at once, without starting a process: for timing."""
        keycode = self._display.keysym_to_keycode(XK.string_to_keysym(key_name))
        xtest.fake_input(self._display, X.KeyPress, keycode)
        xtest.fake_input(self._display, X.KeyRelease, keycode)
        self._display.sync()

    # Input goes through xdotool: it maps any text, Chinese included, to key events.
    def click(self, x, y):
        self._xdotool("mousemove", str(x), str(y), "click", "1")

    def type_text(self, text, delay_ms=2):
        self._xdotool("type", "--delay", str(delay_ms), "--", text)

    def key(self, *keys, repeat=1, delay_ms=2):
        self._xdotool("key", "--repeat", str(repeat), "--delay", str(delay_ms), *keys)

    def _xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self._env, check=True,
                       stdout=subprocess.DEVNULL, timeout=XDOTOOL_TIMEOUT_S)
