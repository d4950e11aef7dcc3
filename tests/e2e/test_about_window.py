"""The about window keeps the program alive after the main window has closed. That it opens once
however often it is asked for is the window tests' to prove."""

import unittest

from velmora_e2e.case import ProgramCase
from velmora_rig.program import ABOUT_TITLE, MAIN_TITLE
from velmora_rig.waiting import stays_false, wait_until

WINDOW_TIMEOUT_S = 5.0
# Long enough for an exit to show if it were coming.
QUIET_S = 1.0


class AboutWindow(ProgramCase):
    def test_the_about_window_outlives_the_main_window(self):
        p = self.program
        p.open_about()
        wait_until(lambda: ABOUT_TITLE in p.windows(), WINDOW_TIMEOUT_S, "the about window")
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
