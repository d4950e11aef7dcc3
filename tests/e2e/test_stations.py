"""Stations as people meet them, through the real program: a "Listen" link that is a playlist, a
Chinese station whose titles come in GBK, and a server that drops the stream mid-way. The engine's
tests prove each on its own; here the window shows what it heard."""

import unittest
from urllib.parse import urlencode

from velmora_e2e.case import ProgramCase

# A PLS whose first entry is refused and whose second is the tone, titled by the playlist.
STATION_PLS = "/list/pls.pls"
STATION_TITLE = "Loopback Radio"
GBK_TITLE = "周杰伦 - 晴天"
GBK_STATION = "/live?" + urlencode({"charset": "gbk", "title": GBK_TITLE})
RECONNECT_TIMEOUT_S = 15.0
# A live stream, paced at its bitrate, whose first connection drops a few seconds in, and whose
# mount then answers "not found" once, as a station's does while its source restarts: the player
# joins a stream that merely closed again unseen. (A file would not do: it resumes by itself.)
DROPPING_TONE = "/live?drop_after=64000&session=e2e-reconnect&gone=1"
HEARD_AFTER_RETURN_S = 2.0


class Stations(ProgramCase):
    def test_a_typed_pls_address_is_heard_with_the_station_named(self):
        p = self.program
        p.replace_url(self.session.streams.url(STATION_PLS))
        before = self.sound.position()
        p.press_enter()
        self.assert_tone_starts(before)
        p.wait_for_status(STATION_TITLE)

    def test_a_gbk_title_is_heard_and_shown_in_chinese(self):
        p = self.program
        before = self.sound.position()
        p.open_url(self.session.streams.url(GBK_STATION))
        self.assert_tone_starts(before)
        p.wait_for_status(GBK_TITLE)

    def test_drop_mid_stream_reconnects_and_the_tone_returns(self):
        p = self.program
        before = self.sound.position()
        p.open_url(self.session.streams.url(DROPPING_TONE))
        self.assert_tone_starts(before)
        p.wait_for_status("重连", RECONNECT_TIMEOUT_S)
        p.wait_for_status("播放", RECONNECT_TIMEOUT_S)
        back = self.sound.position()
        self.assert_tone_starts(back)
        # Still the tone well after everything sent before the drop has been played.
        self.sound.wait_position(back + HEARD_AFTER_RETURN_S)
        self.assert_tone_starts(back + HEARD_AFTER_RETURN_S - 0.5)


if __name__ == "__main__":
    unittest.main(verbosity=2)
