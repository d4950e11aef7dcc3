"""The about window: one copy however often it is asked for, and it keeps the program alive
after the main window has closed."""

import unittest

from velmora_e2e.case import ProgramCase
from velmora_rig.program import ABOUT_TITLE, MAIN_TITLE
from velmora_rig.waiting import stays_false, wait_until

WINDOW_TIMEOUT_S = 5.0
# Long enough for a second window or an exit to show if it were coming.
QUIET_S = 1.0


class AboutWindow(ProgramCase):
    def about_count(self):
        return self.program.windows().count(ABOUT_TITLE)

    def test_1_two_requests_open_one_window(self):
        p = self.program
        p.open_about()
        wait_until(lambda: self.about_count() == 1, WINDOW_TIMEOUT_S, "the about window")
        p.open_about()
        self.assertTrue(stays_false(lambda: self.about_count() > 1, QUIET_S),
                        "a second about window")
        self.assertEqual(self.about_count(), 1)

    def test_2_closed_it_opens_again(self):
        p = self.program
        p.close_window(ABOUT_TITLE)
        wait_until(lambda: self.about_count() == 0, WINDOW_TIMEOUT_S, "the about window to close")
        p.open_about()
        wait_until(lambda: self.about_count() == 1, WINDOW_TIMEOUT_S, "the about window again")

    def test_3_the_about_window_outlives_the_main_window(self):
        p = self.program
        p.close_window(MAIN_TITLE)
        wait_until(lambda: MAIN_TITLE not in p.windows(), WINDOW_TIMEOUT_S,
                   "the main window to close")
        self.assertTrue(stays_false(lambda: not p.is_running(), QUIET_S),
                        "the program ended with the about window open")
        self.assertEqual(p.windows(), [ABOUT_TITLE])
        p.close_window(ABOUT_TITLE)
        self.assertEqual(p.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
