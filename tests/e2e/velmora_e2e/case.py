"""A unittest case with a private world and the player running in it, for the whole class."""

import unittest

from velmora_rig import tone
from velmora_rig.program import Program
from velmora_rig.session import Paths, Session

# Loopback playback starts within a few hundred milliseconds; the margin is for a loaded CI box.
TONE_TIMEOUT_S = 8.0
SILENCE_TIMEOUT_S = 3.0
# Pause, Stop and closing the window must bring silence within this much recorded time.
SILENCE_WITHIN_S = 1.0
TONE_LISTEN_S = 0.4
TONE_TOLERANCE_HZ = 5.0

PLAYING_ROW = ["播放", "暂停", "停止"]
PAUSED_ROW = ["播放", "继续", "停止"]
STOPPED_ROW = ["播放"]


class ProgramCase(unittest.TestCase):
    """setUpClass starts the world and the player; tests share them, in name order. The
    program's and the stream server's logs are printed at the end, which ctest shows for a
    failed run only."""

    @classmethod
    def setUpClass(cls):
        cls.session = Session(Paths.from_environment()).__enter__()
        # Class cleanups run last in, first out, also when setUpClass fails.
        cls.addClassCleanup(cls.session.__exit__, None, None, None)
        cls.addClassCleanup(cls._dump_logs)
        cls.program = Program(cls.session).launch()

    @classmethod
    def _dump_logs(cls):
        for name in ("velmora", "stream-server"):
            print(f"--- {name} log ---\n{cls.session.log_tail(name)}")

    # --- sound ---------------------------------------------------------------------------
    @property
    def sound(self):
        return self.session.sound

    def assert_tone_starts(self, after_s, timeout_s=TONE_TIMEOUT_S):
        """Waits for the 440 Hz tone after a recording position and checks its pitch."""
        start = self.sound.wait_for_tone(after_s, timeout_s)
        end = start + TONE_LISTEN_S
        self.sound.wait_position(end)
        pitch = tone.dominant_frequency(self.sound.samples(start, end))
        self.assertAlmostEqual(pitch, tone.TONE_HZ, delta=TONE_TOLERANCE_HZ,
                               msg="the tone heard is not the 440 Hz test tone")
        return start

    def assert_stream_named(self):
        """The playing stream as a mixer shows it: who plays and what kind of sound."""
        sink_inputs = self.sound.sink_inputs()
        for line in ('application.name = "Velmora"', 'media.role = "music"'):
            self.assertIn(line, sink_inputs)

    def assert_silence_within(self, after_s, within_s=SILENCE_WITHIN_S):
        start = self.sound.wait_for_silence(after_s, SILENCE_TIMEOUT_S)
        self.assertLessEqual(start - after_s, within_s, "the sound went on too long")
        return start
