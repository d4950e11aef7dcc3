"""The faults whose harm would lie in the window, through the real program.

Each kind of bad address or bad server is the engine's tests' to tell apart; here, for the rows
that reach the window in their own way (a notice, an ending with none, a huge paste, a held key,
an opening that could block), the program lives, its user-interface thread never stops answering
for longer than MAX_UI_FREEZE_S, exactly the notices that are due appear, and a good URL plays
afterwards.
"""

import os
import unittest
from dataclasses import dataclass

from velmora_rig import accessibility as a11y
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


def named_pipe(session):
    """A file whose opening waits for a writer that never comes."""
    path = os.path.join(session.work_dir, "never-written.mp3")
    if not os.path.exists(path):
        os.mkfifo(path)
    return "file://" + path


FAULTS = [
    Fault("refused", lambda session: session.streams.closed_port_url(), True, "拒绝"),
    Fault("truncated MP3", lambda session: session.streams.url("/truncated.mp3"), False, "结束"),
    Fault("10 MB of text", "x" * TEN_MB, True, "不支持", paste=True),
    Fault("Enter held down", lambda session: session.streams.url("/tone.mp3"), False, "播放",
          enter_presses=40),
    # Last: should opening it ever block the user-interface thread, every later row would fail.
    Fault("named pipe", named_pipe, True, "不支持", timeout_s=STALL_TIMEOUT_S + 10),
]


class FaultMatrix(ProgramCase):
    """One test per fault, in table order, all against one running program."""

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
            p.press_enter(fault.enter_presses, KEY_REPEAT_INTERVAL_MS)
            if fault.notice:
                boxes = wait_until(p.alerts, fault.timeout_s, "the notice")
                self.assertTrue(stays_false(lambda: len(p.alerts()) > 1, QUIET_S),
                                "more than one notice")
                self.assertEqual(boxes, [(APP_TITLE, [WARNING_TEXT])])
                p.close_alert()
                p.wait_for_status(fault.status)
            else:
                wait_until(lambda: p.alerts() or fault.status in p.status(), fault.timeout_s,
                           f"a status line with {fault.status!r}",
                           describe=lambda: (p.status(), p.alerts()))
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


for _number, _fault in enumerate(FAULTS, start=1):
    _name = "test_%02d_%s" % (_number, "_".join(_fault.name.lower().split()))
    setattr(FaultMatrix, _name, _fault_test(_fault))


if __name__ == "__main__":
    unittest.main(verbosity=2)
