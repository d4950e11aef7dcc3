"""Soak: more than a gigabyte of audio through the engine, whose peak memory must level off
after its first minute.

The headless probe plays an endless high-rate WAV stream from the loopback into a null sink
that keeps real time; the stream's byte rate makes a gigabyte take under a minute and a half.
SOAK_SECONDS sets the length. The default stays below 2 GiB on the one connection: the WAV
parser (wavparse) ends a stream there, and the player would rightly reconnect.

At this byte rate the player's few seconds of buffered sound are tens of megabytes, allocated on
one thread and freed on another; glibc's per-thread arenas then add tens of megabytes of noise
to the peak. The probe runs with one arena: a leak grows the peak with any number of arenas.
"""

import json
import os
import sys
import tempfile
import time
import unittest
import urllib.request

from velmora_rig.memory import status_kib
from velmora_rig.processes import Processes
from velmora_rig.session import Paths
from velmora_rig.streams import StreamServer

sys.path.insert(0, os.path.dirname(Paths.from_environment().stream_server))
from endless_wav import FAST_RATE_HZ, byte_rate  # noqa: E402

WARM_UP_S = 60.0
SOAK_S = float(os.environ.get("SOAK_SECONDS", 130))
MIN_BYTES = 10 ** 9
MAX_PEAK_GROWTH_KIB = 5 * 1024
SAMPLE_INTERVAL_S = 1.0
EXIT_MARGIN_S = 30.0
SENT_QUERY_TIMEOUT_S = 10.0
PLAYING = 3


class Soak(unittest.TestCase):
    def test_a_gigabyte_through_the_engine_with_level_memory(self):
        self.assertGreaterEqual(byte_rate(FAST_RATE_HZ) * (SOAK_S - 5), MIN_BYTES,
                                "the soak is too short to stream a gigabyte")
        paths = Paths.from_environment()
        probe = paths.probe
        self.assertTrue(probe and os.access(probe, os.X_OK), "the engine probe is not built")
        with tempfile.TemporaryDirectory() as work_dir, tempfile.TemporaryFile("w+") as out:
            processes = Processes(work_dir)
            try:
                stream = StreamServer(processes, work_dir, paths.stream_server, paths.media_dir)
                stream.start(os.environ.copy())
                child = processes.start("probe", [
                    probe, stream.url("/endless.wav"), "--seconds", str(int(SOAK_S)),
                    "--null-sink"], stdout=out, env=dict(os.environ, MALLOC_ARENA_MAX="1"))
                peak_at_warm_up, peak_at_end = self.watch(child)
                child.wait(timeout=EXIT_MARGIN_S)
                with urllib.request.urlopen(stream.url("/endless.wav/sent"),
                                            timeout=SENT_QUERY_TIMEOUT_S) as answer:
                    streamed = int(answer.read())
            finally:
                processes.stop_all()
            out.seek(0)
            events = [json.loads(line) for line in out if line.strip()]

        self.assertEqual(child.returncode, 0, events[-3:])
        self.assertEqual([e for e in events if e["event"] != "status"], [], "a notice")
        self.assertEqual(events[-1].get("state"), PLAYING, events[-1])
        self.assertGreaterEqual(streamed, MIN_BYTES)
        growth = peak_at_end - peak_at_warm_up
        print(f"soak: {streamed / 1e9:.2f} GB in {SOAK_S:.0f} s; peak RSS "
              f"{peak_at_warm_up / 1024:.1f} MiB after {WARM_UP_S:.0f} s, "
              f"{peak_at_end / 1024:.1f} MiB at the end (+{growth} KiB)")
        self.assertLess(growth, MAX_PEAK_GROWTH_KIB)

    def watch(self, child):
        """Peak RSS (KiB) once warmed up and at the last sample before the probe ends."""
        start = time.monotonic()
        at_warm_up = None
        last = None
        while child.poll() is None and time.monotonic() - start < SOAK_S + EXIT_MARGIN_S:
            figures = status_kib(child.pid)
            if figures:
                last = figures["VmHWM"]
                if at_warm_up is None and time.monotonic() - start >= WARM_UP_S:
                    at_warm_up = last
            time.sleep(SAMPLE_INTERVAL_S)
        self.assertIsNotNone(at_warm_up, "the probe ended within its first minute")
        return at_warm_up, last


if __name__ == "__main__":
    unittest.main(verbosity=2)
