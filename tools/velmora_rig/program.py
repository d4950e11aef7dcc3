"""The built player, launched with no arguments and driven as a person would drive it."""

import subprocess

from gi.repository import GLib

from . import accessibility as a11y
from .waiting import wait_until

LAUNCH_TIMEOUT_S = 20.0
UI_TIMEOUT_S = 5.0
EXIT_TIMEOUT_S = 10.0

MAIN_TITLE = "Velmora网络音乐播放器BY TELVARO"
ABOUT_TITLE = "关于。。"
APP_TITLE = "velmora"
READY_STATUS = "    准备就绪"
PLAY, PAUSE, CONTINUE, STOP = "播放", "暂停", "继续", "停止"
ABOUT_MENU = "关于"
WARNING_TEXT = "抱歉，URL地址出现错误，请更换地址！（非本程序错误）"
# A notice's only button, in the toolkit's own Chinese translation.
NOTICE_BUTTON = "确定"


class Program:
    """A running player. Controls are looked up once the main window shows and kept: the
    accessible objects live as long as their widgets."""

    def __init__(self, session):
        self._session = session
        self.process = None
        self.app = None
        self.main = None
        self.main_xid = None
        self.url_box = None
        self.buttons = {}
        self.status_label = None

    def launch(self):
        env = dict(self._session.env, QT_QPA_PLATFORM=self._session.desktop.qt_platform,
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.process = self._session.processes.start("velmora", [self._session.paths.program],
                                                     env=env)
        self.app = a11y.application(self.process.pid, LAUNCH_TIMEOUT_S)
        self.main = wait_until(lambda: self.window(MAIN_TITLE), LAUNCH_TIMEOUT_S, "Form1")
        if self._session.has_seat:
            self.main_xid = self.xid(MAIN_TITLE, LAUNCH_TIMEOUT_S)
            self._session.x.focus(self.main_xid)
        self.url_box = a11y.find_one(self.main, "text")
        for caption in (PLAY, PAUSE, CONTINUE, STOP):
            self.buttons[caption] = a11y.find_one(self.main, "push button", caption)
        self.status_label = a11y.find_one(self.main, "status bar", READY_STATUS)
        return self

    # --- windows -------------------------------------------------------------------------
    def windows(self):
        """Names of the open top-level windows, alerts included."""
        return [w.get_name() for w in a11y.children(self.app) if a11y.is_showing(w)]

    def window(self, title):
        return next((w for w in a11y.children(self.app)
                     if w.get_name() == title and a11y.is_showing(w)), None)

    def alerts(self):
        """Open message boxes: [(caption, text)]."""
        found = []
        for w in a11y.children(self.app):
            try:
                if w.get_role_name() == "alert" and a11y.is_showing(w):
                    # QMessageBox keeps an empty label for the icon it does not show.
                    labels = [label.get_name() for label in a11y.find_all(w, "label")
                              if label.get_name()]
                    found.append((w.get_name(), labels))
            except GLib.Error:
                pass  # a box deleted as it closes leaves the tree while it is read
        return found

    def close_alert(self):
        """Closes the one open message box with its button, as a person would, and waits until it
        has gone; fails when the button is not the Chinese one."""
        boxes = [w for w in a11y.children(self.app)
                 if w.get_role_name() == "alert" and a11y.is_showing(w)]
        if len(boxes) != 1:
            raise AssertionError(f"expected one message box, found {len(boxes)}")
        self.click(a11y.find_one(boxes[0], "push button", NOTICE_BUTTON))
        wait_until(lambda: not a11y.is_showing(boxes[0]), UI_TIMEOUT_S, "the notice to close")

    def xid(self, title, timeout_s=UI_TIMEOUT_S):
        return self._session.x.wait_window(self.process.pid, title, timeout_s)

    def close_window(self, title):
        self._session.x.request_close(self.xid(title))

    # --- reading -------------------------------------------------------------------------
    def status(self):
        return self.status_label.get_name()

    def enabled_buttons(self):
        return [c for c in (PLAY, PAUSE, CONTINUE, STOP) if a11y.is_enabled(self.buttons[c])]

    def url_text(self):
        return a11y.text_of(self.url_box)

    # --- acting --------------------------------------------------------------------------
    def click(self, node):
        """A real left click in the middle of the control; with no pointer, the control's own
        action, as a screen reader's user presses it."""
        if not self._session.has_seat:
            a11y.press(node)
            return
        x, y = a11y.centre(node)
        self._session.x.click(x, y)

    def click_button(self, caption):
        self.click(self.buttons[caption])

    def click_url_box(self):
        self._session.x.focus(self.main_xid)
        self.click(self.url_box)

    def press_enter(self, times=1, interval_ms=2):
        self._session.x.key("Return", repeat=times, delay_ms=interval_ms)

    def replace_url(self, url):
        """Clears the box and types url, one key at a time; with no keyboard, pastes it."""
        if self._session.has_seat:
            self.click_url_box()
            self._session.x.key("ctrl+a", "BackSpace")
            self._session.x.type_text(url)
        else:
            a11y.set_text(self.url_box, url)
        wait_until(lambda: self.url_text() == url, UI_TIMEOUT_S, f"the box to read {url!r}")

    def play_typed(self, times=1, interval_ms=2):
        """Presses Enter in the box; with no keyboard, the Play button."""
        if self._session.has_seat:
            self.press_enter(times, interval_ms)
        else:
            self.click_button(PLAY)

    def open_url(self, url):
        self.replace_url(url)
        self.play_typed()

    def open_about(self):
        self.click(a11y.find_one(self.main, "menu item", ABOUT_MENU))

    # --- lifetime ------------------------------------------------------------------------
    def wait_exit(self, timeout_s=EXIT_TIMEOUT_S):
        try:
            return self.process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the program still runs {timeout_s:.0f} s later") from None

    def is_running(self):
        return self.process.poll() is None

    def wait_for_status(self, fragment, timeout_s=UI_TIMEOUT_S):
        return wait_until(lambda: fragment in self.status() and self.status(), timeout_s,
                          f"a status line containing {fragment!r}", describe=self.status)

    def wait_for_buttons(self, expected, timeout_s=UI_TIMEOUT_S):
        return wait_until(lambda: self.enabled_buttons() == list(expected), timeout_s,
                          f"enabled buttons {list(expected)}", describe=self.enabled_buttons)
