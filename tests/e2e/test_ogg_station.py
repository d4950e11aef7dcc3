"""An Ogg station changes song, and codec, sample rate or channel count, every second: the real
program plays through each change on the sound server without a gap worth hearing, and names
each song."""

import unittest

from velmora_e2e.case import STOPPED_ROW, TONE_TIMEOUT_S, ProgramCase
from velmora_rig import tone
from velmora_rig.program import STOP

# Vorbis, Opus and FLAC songs in turn, a second each: the sample format changes with the codec.
MIXED_STATION = ("/live.ogg?codec=mixed",
                 ["Vorbis song 1", "Opus song 1", "FLAC song 1", "Vorbis song 2", "Opus song 2"])
# 48 kHz, 44.1 kHz and mono songs in turn.
RATES_STATION = ("/live.ogg?codec=rates",
                 ["Vorbis song 1", "Vorbis song 3, 44.1 kHz", "Opus song 1", "FLAC song 1",
                  "FLAC song 4, mono", "Vorbis song 1"])
ARTIST = "Velmora test radio - "
SONG_TIMEOUT_S = 5.0
# A song's title shows as it is decoded, up to a second before it is heard.
HEARD_AFTER_TITLE_S = 1.5
MAX_GAP_MS = 50


class OggStation(ProgramCase):
    def test_every_codec_change_is_heard_without_a_gap_and_named(self):
        self.check_station(*MIXED_STATION)

    def test_every_rate_and_channel_change_is_heard_without_a_gap_and_named(self):
        self.check_station(*RATES_STATION)

    def check_station(self, path, songs):
        p = self.program
        before = self.sound.position()
        p.open_url(self.session.streams.url(path))
        # The next station starts from silence, even after a failure.
        self.addCleanup(p.wait_for_buttons, STOPPED_ROW)
        self.addCleanup(p.click_button, STOP)
        start = self.sound.wait_for_onset(before, TONE_TIMEOUT_S)
        for song in songs:
            p.wait_for_status(ARTIST + song, SONG_TIMEOUT_S)
        end = self.sound.position() + HEARD_AFTER_TITLE_S
        self.sound.wait_position(end)
        frames = [round(position * tone.RATE_HZ) for position in (start, end)]
        self.assertEqual(self.sound.recording.gaps(*frames, min_gap_ms=MAX_GAP_MS), [],
                         "silences (ms into the station, ms long)")


if __name__ == "__main__":
    unittest.main(verbosity=2)
