"""The fault matrix, through the real program: every kind of bad address or bad server.

For each fault: the program lives, its user-interface thread never stops answering for longer
than MAX_UI_FREEZE_S, exactly the notices that are due appear, and a good URL plays afterwards.
"""

import os
import unittest
from dataclasses import dataclass

from velmora_rig import accessibility as a11y
from velmora_rig import tone
from velmora_e2e.case import STOPPED_ROW, ProgramCase
from velmora_rig.program import APP_TITLE, WARNING_TEXT
from velmora_e2e.responsiveness import UiHeartbeat
from velmora_rig.waiting import stays_false, wait_until

MAX_UI_FREEZE_S = 0.100
# Long enough for a second notice, or a late first one, to show if it were coming.
QUIET_S = 1.0
STALL_TIMEOUT_S = 15.0  # the engine's wait for a first byte before it gives up
TEN_MB = 10 * 1024 * 1024
# A held key repeats at X's default rate, 25 presses a second.
KEY_REPEAT_INTERVAL_MS = 40


@dataclass(frozen=True)
class Fault:
    name: str
    url: object  # str, or a function of the session giving the URL
    notice: bool  # whether one Warning notice is due
    status: str  # a fragment of the status line once the fault has played out
    timeout_s: float = 10.0
    paste: bool = False  # put into the box as one paste instead of typed keys
    enter_presses: int = 1
    plays_on_s: float = 0.0  # the tone must still play this long after Enter
    never: str = ""  # a fragment the status line must not show meanwhile


def route(path):
    return lambda session: session.streams.url(path)


def named_pipe(session):
    """A file whose opening waits for a writer that never comes."""
    path = os.path.join(session.work_dir, "never-written.mp3")
    if not os.path.exists(path):
        os.mkfifo(path)
    return "file://" + path


FAULTS = [
    Fault("refused", lambda session: session.streams.closed_port_url(), True, "拒绝"),
    # The empty label makes the resolver fail at once, before any query leaves the machine.
    Fault("no such host", "http://no-such-host..invalid/tone.mp3", True, "主机"),
    Fault("404", route("/status/404"), True, "404"),
    Fault("500", route("/status/500"), True, "500"),
    Fault("HTML page", route("/page.html"), True, "不是音频"),
    Fault("garbage as audio/mpeg", route("/garbage.mp3"), True, "不是音频"),
    Fault("truncated MP3", route("/truncated.mp3"), False, "结束"),
    Fault("stall after headers", route("/stall"), True, "超时", timeout_s=STALL_TIMEOUT_S + 10),
    # A file resumes where it broke off, unseen; a live stream reconnects (tested on its own).
    Fault("drop mid-stream", route("/tone.mp3?kbps=128&burst=32000&drop_after=48000"
                                   "&session=faults-drop&drops=2"), False, "播放", plays_on_s=6),
    # Every buffer full and the source waiting for room: no stall, no reconnect.
    Fault("endless stream at full speed", route("/live?kbps=0"), False, "播放", plays_on_s=40,
          never="重连"),
    # What arrived plays; the server cuts the file at the same byte again: one notice.
    Fault("cut short without Range", route("/truncated.mp3?bytes=160000&range=0&drop_after=48000"),
          True, "连接中断", timeout_s=20),
    # Icecast answers 404 while a mount has no source: ridden out as a restart.
    Fault("mount gone for a while", route("/live?drop_after=48000&session=faults-gone&gone=1"),
          False, "播放", plays_on_s=9),
    Fault("redirect loop", route("/redirect-loop"), True, "重定向"),
    Fault("10 MB of text", "x" * TEN_MB, True, "不支持", paste=True),
    Fault("fd scheme", "fd://0", True, "不支持"),
    Fault("file on a device", "file:///dev/zero", True, "不支持"),
    Fault("javascript scheme", "javascript:alert(1)", True, "不支持"),
    Fault("Enter held down", route("/tone.mp3"), False, "播放", enter_presses=40),
    # Last: should opening it ever block the user-interface thread, every later row would fail.
    Fault("named pipe", named_pipe, True, "不支持", timeout_s=STALL_TIMEOUT_S + 10),
]


class FaultMatrix(ProgramCase):
    """One test per fault, in table order, all against one running program (per shard)."""

    def play_out(self, fault):
        p = self.program
        url = fault.url(self.session) if callable(fault.url) else fault.url
        if fault.paste:
            p.click_url_box()
            a11y.set_text(p.url_box, url)
        else:
            p.replace_url(url)
        # Measured from Enter on: the fault, not the toolkit laying out what was typed or pasted.
        with UiHeartbeat(self.session.desktop.a11y_bus, a11y.bus_name(p.app)) as heartbeat:
            at_enter = self.sound.position()
            p.press_enter(fault.enter_presses, KEY_REPEAT_INTERVAL_MS)
            if fault.notice:
                boxes = wait_until(p.alerts, fault.timeout_s, "the notice")
                self.assertTrue(stays_false(lambda: len(p.alerts()) > 1, QUIET_S),
                                "more than one notice")
                self.assertEqual(boxes, [(APP_TITLE, [WARNING_TEXT])])
                p.close_alert()
                wait_until(lambda: not p.alerts(), QUIET_S * 5, "the notice to close")
                p.wait_for_status(fault.status)
            else:
                wait_until(lambda: p.alerts() or fault.status in p.status(), fault.timeout_s,
                           f"a status line with {fault.status!r}",
                           describe=lambda: (p.status(), p.alerts()))
            if fault.never:
                self.assertTrue(stays_false(lambda: fault.never in p.status(), fault.plays_on_s),
                                f"the status line showed {fault.never!r}")
            if fault.plays_on_s:
                self.sound.wait_position(at_enter + fault.plays_on_s)
                self.assert_tone_starts(at_enter + fault.plays_on_s - tone.WINDOW_S * 2)
            self.assertTrue(stays_false(p.alerts, QUIET_S), "an unexpected notice")
        self.assertIsNone(heartbeat.error, "the program stopped answering")
        # The bus thread answers even while the UI thread is blocked, so its own
        # longest wait is what a busy machine added to both.
        self.assertLessEqual(heartbeat.longest_ui_s - heartbeat.longest_bus_s, MAX_UI_FREEZE_S,
                             heartbeat.summary())

    def assert_good_url_plays(self):
        p = self.program
        before = self.sound.position()
        p.open_url(self.session.streams.url("/tone.mp3"))
        self.assert_tone_starts(before)
        at_stop = self.sound.position()
        p.click_button("停止")
        self.assert_silence_within(at_stop)
        p.wait_for_buttons(STOPPED_ROW)


def _fault_test(fault):
    def test(self):
        self.play_out(fault)
        self.assertTrue(self.program.is_running(), "the program ended")
        self.assert_good_url_plays()
    return test


def _shard():
    """VELMORA_FAULT_SHARD=k/n keeps every n-th row from the k-th on, in table order, so the
    matrix can run as n programs side by side; the rows of one shard share one program."""
    k, n = (int(part) for part in os.environ.get("VELMORA_FAULT_SHARD", "1/1").split("/"))
    if not 1 <= k <= n:
        raise ValueError(f"VELMORA_FAULT_SHARD={k}/{n}: the shard must lie within 1..{n}")
    return k, n


_SHARD, _SHARDS = _shard()
for _number, _fault in enumerate(FAULTS, start=1):
    if (_number - _SHARD) % _SHARDS == 0:
        _name = "test_%02d_%s" % (_number, "_".join(_fault.name.lower().split()))
        setattr(FaultMatrix, _name, _fault_test(_fault))


if __name__ == "__main__":
    unittest.main(verbosity=2)
