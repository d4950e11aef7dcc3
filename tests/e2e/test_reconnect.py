"""A server that drops the stream mid-way: the player says it reconnects and the tone returns."""

import unittest

from velmora_e2e.case import ProgramCase

RECONNECT_TIMEOUT_S = 15.0
# A live stream, paced at its bitrate, whose first connection drops a few seconds in, and whose
# mount then answers "not found" once, as a station's does while its source restarts: the player
# joins a stream that merely closed again unseen. (A file would not do: it resumes by itself.)
DROPPING_TONE = "/live?drop_after=64000&session=e2e-reconnect&gone=1"
HEARD_AFTER_RETURN_S = 2.0


class Reconnect(ProgramCase):
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
