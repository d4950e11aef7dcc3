"""Addresses that cannot play: one notice captioned with the application title, a window that
stays usable, and a status line that names the cause."""

import unittest

from velmora_e2e.case import PLAYING_ROW, ProgramCase
from velmora_rig.program import APP_TITLE, WARNING_TEXT
from velmora_rig.waiting import wait_until

NOTICE_TIMEOUT_S = 10.0
CLOSE_TIMEOUT_S = 5.0

# (what, URL maker, a fragment of the status line that names the cause)
BAD_ADDRESSES = [
    ("connection refused", lambda streams: streams.closed_port_url(), "拒绝"),
    ("404 answer", lambda streams: streams.url("/status/404"), "404"),
    ("HTML page", lambda streams: streams.url("/page.html"), "不是音频"),
]


class BadAddresses(ProgramCase):
    def test_each_bad_address_gives_one_notice_and_leaves_the_window_usable(self):
        p = self.program
        for what, make_url, cause in BAD_ADDRESSES:
            with self.subTest(what):
                p.open_url(make_url(self.session.streams))
                boxes = wait_until(p.alerts, NOTICE_TIMEOUT_S, f"a notice for {what}")
                self.assertEqual(boxes, [(APP_TITLE, [WARNING_TEXT])])
                p.close_alert()
                wait_until(lambda: not p.alerts(), CLOSE_TIMEOUT_S, "the notice to close")
                p.wait_for_status(cause)
                # Usable: the box takes keys again and the rules answer them.
                with self.subTest(f"{what}: typing again"):
                    p.click_url_box()
                    p.type("x")
                    p.wait_for_buttons(PLAYING_ROW)
                self.assertEqual(p.alerts(), [], "a second notice")

        before = self.sound.position()
        p.open_url(self.session.streams.url("/tone.mp3"))
        self.assert_tone_starts(before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
