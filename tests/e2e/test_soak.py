"""Soak: more than a gigabyte of MP3 through the engine's real MP3 path, with level memory.

The headless probe plays an endless 320 kbit/s MP3 stream with ICY metadata, sent at full speed,
into a sink that does not keep time, and reports once a second what it has allocated and not
freed. Spikes (a busy main loop) raise only the highest sample, a busy start lowers only the
median, while a leak of even a hundred bytes a buffer raises both by megabytes a minute: after
the warm-up, the second half may stand above the first by MAX_LEVEL_RISE_KIB in one of the two.
One malloc arena keeps buffers freed on another streaming thread from spreading the heap.
SOAK_SECONDS sets the length.
"""

import json
import os
import re
import statistics
import subprocess
import tempfile
import time
import unittest

from velmora_rig.session import Paths, Session

SOAK_S = float(os.environ.get("SOAK_SECONDS", 160))
WARM_UP_S = 45.0
MIN_BYTES = 10 ** 9
MAX_LEVEL_RISE_KIB = 4096
SAMPLE_INTERVAL_S = 1.0
EXIT_MARGIN_S = 30.0
# Titles change about a hundred times a second: each one crosses the bus and the status line.
STREAM = "/live?source=tone320&kbps=0&title=A&title=B&title_every=16"


class Soak(unittest.TestCase):
    def test_a_gigabyte_of_mp3_through_the_engine_with_level_memory(self):
        paths = Paths.from_environment()
        with Session(paths, with_desktop=False) as session, \
                tempfile.TemporaryFile("w+") as out:
            started = time.monotonic()
            child = session.processes.start("probe", [
                paths.probe, session.streams.url(STREAM), "--seconds", str(int(SOAK_S)),
                "--unpaced-sink", "--heap-every", str(SAMPLE_INTERVAL_S)], stdout=out,
                env=dict(session.env, MALLOC_ARENA_MAX="1"), own_session=False)
            received = 0
            while child.poll() is None and time.monotonic() - started < SOAK_S + EXIT_MARGIN_S:
                received = max(received, _bytes_received(child.pid, session.streams.port))
                time.sleep(SAMPLE_INTERVAL_S)
            child.wait(timeout=EXIT_MARGIN_S)
            out.seek(0)
            events = [json.loads(line) for line in out if line.strip()]

        self.assertEqual(child.returncode, 0, events[-3:])
        # A stream broken off, or given up, would not reach a gigabyte on one connection.
        self.assertGreaterEqual(received, MIN_BYTES, "less than a gigabyte went through")
        levels = [e["in_use_kib"] for e in events
                  if e["event"] == "heap" and e["t_ms"] >= WARM_UP_S * 1000]
        self.assertGreater(len(levels), 20, "the probe ended within its warm-up")
        first, second = levels[:len(levels) // 2], levels[len(levels) // 2:]
        rise = round(min(max(second) - max(first),
                         statistics.median(second) - statistics.median(first)))
        print(f"soak: {received / 1e9:.2f} GB in {SOAK_S:.0f} s; in use {levels[0] / 1024:.1f} MiB "
              f"after the warm-up, {levels[-1] / 1024:.1f} MiB at the end, highest "
              f"{max(levels) / 1024:.1f} MiB, level {rise:+d} KiB")
        self.assertLess(rise, MAX_LEVEL_RISE_KIB)


def _bytes_received(pid, port):
    """What the kernel counts as received on the process's connection to the server."""
    listing = subprocess.run(["ss", "-tinpH", "state", "established", f"( dport = :{port} )"],
                             capture_output=True, text=True, timeout=10).stdout
    total = 0
    for entry in re.split(r"\n(?=\S)", listing):
        if f"pid={pid}," in entry:
            total += sum(int(n) for n in re.findall(r"bytes_received:(\d+)", entry))
    return total


if __name__ == "__main__":
    unittest.main(verbosity=2)
