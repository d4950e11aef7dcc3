"""A station's "Listen" link is a playlist: typed in, its first live entry is heard, named."""

import unittest

from velmora_e2e.case import ProgramCase

# A PLS whose first entry is refused and whose second is the tone, titled by the playlist.
STATION_PLS = "/list/pls.pls"
STATION_TITLE = "Loopback Radio"


class StationPlaylist(ProgramCase):
    def test_a_typed_pls_address_is_heard_with_the_station_named(self):
        p = self.program
        p.replace_url(self.session.streams.url(STATION_PLS))
        before = self.sound.position()
        p.press_enter()
        self.assert_tone_starts(before)
        p.wait_for_status(STATION_TITLE)


if __name__ == "__main__":
    unittest.main(verbosity=2)
