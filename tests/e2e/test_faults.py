"""The faults whose harm would lie in the window, through the real program.

Each kind of bad address or bad server is the engine's tests' to tell apart, and a bad address's
notice the user journey's; here, for the rows that reach the window in their own way (a huge
paste, a held key, an opening that could block), the program lives, its user-interface thread
never stops answering for longer than MAX_UI_FREEZE_S, exactly the notices that are due appear,
and a good URL plays afterwards.
"""

import os
import unittest

from velmora_rig import accessibility as a11y
from velmora_e2e.case import STOPPED_ROW, ProgramCase
from velmora_rig.program import APP_TITLE, WARNING_TEXT
from velmora_e2e.responsiveness import UiHeartbeat
from velmora_rig.waiting import stays_false, wait_until

MAX_UI_FREEZE_S = 0.100
# Long enough for a second notice, or a late first one, to show if it were coming.
QUIET_S = 1.0
NOTICE_TIMEOUT_S = 10.0
STALL_TIMEOUT_S = 15.0  # the engine's wait for a first byte before it gives up
TEN_MB = 10 * 1024 * 1024
# A held key repeats at X's default rate, 25 presses a second.
KEY_REPEAT_INTERVAL_MS = 40
HELD_ENTER_PRESSES = 40


class FaultMatrix(ProgramCase):
    def test_each_fault_leaves_the_window_answering_with_only_the_notices_due(self):
        # A file whose opening waits for a writer that never comes.
        pipe = os.path.join(self.session.work_dir, "never-written.mp3")
        os.mkfifo(pipe)
        # (what, URL, whether one notice is due, the status line's fragment, Enter presses,
        # how long it may take)
        rows = [
            ("10 MB of text", "x" * TEN_MB, True, "不支持", 1, NOTICE_TIMEOUT_S),
            ("Enter held down", self.session.streams.url("/tone.mp3"), False, "播放",
             HELD_ENTER_PRESSES, NOTICE_TIMEOUT_S),
            # Last: should opening it ever block the user-interface thread, every later row
            # would fail.
            ("named pipe", "file://" + pipe, True, "不支持", 1, STALL_TIMEOUT_S + 10),
        ]
        for what, url, notice, status, presses, timeout_s in rows:
            with self.subTest(what):
                self.play_out(url, notice, status, presses, timeout_s)
                self.assertTrue(self.program.is_running(), "the program ended")
                self.assert_good_url_plays()

    def play_out(self, url, notice, status, presses, timeout_s):
        p = self.program
        # Pasted: a person cannot type 10 MB.
        p.click_url_box()
        a11y.set_text(p.url_box, url)
        # Measured from Enter on: the fault, not the toolkit laying out what was pasted.
        with UiHeartbeat(self.session.desktop.a11y_bus, a11y.bus_name(p.app)) as heartbeat:
            p.press_enter(presses, KEY_REPEAT_INTERVAL_MS)
            if notice:
                boxes = wait_until(p.alerts, timeout_s, "the notice")
                self.assertTrue(stays_false(lambda: len(p.alerts()) > 1, QUIET_S),
                                "more than one notice")
                self.assertEqual(boxes, [(APP_TITLE, [WARNING_TEXT])])
                p.close_alert()
                p.wait_for_status(status)
            else:
                wait_until(lambda: p.alerts() or status in p.status(), timeout_s,
                           f"a status line with {status!r}",
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
