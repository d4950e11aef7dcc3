"""Checks how the benchmarks read a recording: first sound, gaps and the timeline, on
synthetic audio fed as the recorder would feed it."""

import math
import struct
import unittest

from velmora_rig.recording import RATE_HZ, Recording

THRESHOLD = 300
LOUD = 8000
CHUNK_FRAMES = 441  # parec hands over about 10 ms at a time
START_S = 100.0
EARLIEST_DELAY_S = 0.002


def audio(*segments):
    """Stereo s16 bytes from (amplitude, frames) segments of a continuous 440 Hz sine."""
    out, frame = bytearray(), 0
    for amplitude, frames in segments:
        for _ in range(frames):
            value = int(amplitude * math.sin(2 * math.pi * 440 * frame / RATE_HZ))
            out += struct.pack("<hh", value, value)
            frame += 1
    return bytes(out)


def recorded(data):
    recording = Recording(THRESHOLD)
    chunk_bytes = CHUNK_FRAMES * 4
    for index, offset in enumerate(range(0, len(data), chunk_bytes)):
        chunk = data[offset:offset + chunk_bytes]
        delivered_frames = (offset + len(chunk)) // 4
        # Every chunk arrives late by a varying delay, the first one least late.
        delay_s = EARLIEST_DELAY_S + 0.001 * (index % 5)
        recording.add(chunk, START_S + delivered_frames / RATE_HZ + delay_s)
    return recording


def ms_frames(milliseconds):
    return milliseconds * RATE_HZ // 1000


class RecordingTest(unittest.TestCase):
    def test_first_sound_is_found_to_the_frame(self):
        rows = [("after quiet, mid-block", [(0, 4437), (LOUD, 4410)], 0, 4437),
                ("later sound after a gap", [(LOUD, 2000), (0, 5000), (LOUD, 3000)], 4000, 7000),
                ("already sounding", [(LOUD, 10000)], 5000, 5000),
                ("noise below the threshold", [(250, 5000), (LOUD, 2000)], 0, 5000),
                ("nothing loud yet", [(0, 5000)], 0, None)]
        for name, segments, since, expected in rows:
            with self.subTest(name):
                self.assertEqual(recorded(audio(*segments)).first_sound_after(since), expected)

    def test_gaps_are_quiet_runs_of_at_least_the_minimum(self):
        second = RATE_HZ
        rows = [("steady tone", [(LOUD, second)], []),
                ("30 ms hole", [(LOUD, second // 2), (0, ms_frames(30)), (LOUD, second // 2)],
                 [(500, 30)]),
                ("10 ms hole", [(LOUD, second // 2), (0, ms_frames(10)), (LOUD, second // 2)],
                 []),
                ("fell silent before the end", [(LOUD, second), (0, ms_frames(100))],
                 [(1000, 100)])]
        for name, segments, expected in rows:
            with self.subTest(name):
                total = sum(frames for _, frames in segments)
                found = recorded(audio(*segments)).gaps(0, total - 1, min_gap_ms=20)
                self.assertEqual(len(found), len(expected), found)
                for (at_ms, length_ms), (want_at, want_length) in zip(found, expected):
                    # Blocks are 5 ms: a quiet run is seen to within one block at each end.
                    self.assertAlmostEqual(at_ms, want_at, delta=5.5)
                    self.assertAlmostEqual(length_ms, want_length, delta=10.5)

    def test_timeline_starts_at_the_earliest_arrival(self):
        recording = recorded(audio((0, RATE_HZ)))
        self.assertAlmostEqual(recording.time_of(0), START_S + EARLIEST_DELAY_S, delta=1e-4)
        self.assertEqual(recording.frame_at(recording.time_of(RATE_HZ // 2)), RATE_HZ // 2)
        self.assertTrue(recording.is_quiet_since(recording.frame_at(START_S + 0.5)))
        self.assertEqual(recording.loud_seconds(0, RATE_HZ), 0)


if __name__ == "__main__":
    unittest.main()
