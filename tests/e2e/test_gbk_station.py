"""A Chinese station sends its titles in GBK: the real program shows them in Chinese, not as the
Latin-1 letters GStreamer first makes of their bytes."""

import unittest
from urllib.parse import urlencode

from velmora_e2e.case import ProgramCase

TITLE = "周杰伦 - 晴天"
GBK_STATION = "/live?" + urlencode({"charset": "gbk", "title": TITLE})


class GbkStation(ProgramCase):
    def test_a_gbk_title_is_heard_and_shown_in_chinese(self):
        p = self.program
        before = self.sound.position()
        p.open_url(self.session.streams.url(GBK_STATION))
        self.assert_tone_starts(before)
        p.wait_for_status(TITLE)


if __name__ == "__main__":
    unittest.main(verbosity=2)
