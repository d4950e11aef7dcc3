"""Fresh starts of the loopback stream server, each with an empty media folder: the demo is
served within a few seconds every time, and the HLS stream, made on its first request, too;
a media step that never ends fails the start within seconds. GStreamer's own HLS sink hung at
the end of its stream in about a third of such starts."""

import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from stream_server_test import SERVER, _read_line

STARTS = 50
READY_LIMIT_S = 5
HLS_LIMIT_S = 5
GIVE_UP_LIMIT_S = 8  # the server's own limit on one media step, and a margin
HANGING_ENCODER = "#!/bin/sh\nexec sleep 30\n"
HLS_SECONDS = 8
TS_PACKET_BYTES = 188


class FreshStartTest(unittest.TestCase):
    def test_every_fresh_start_serves_the_demo_and_hls_at_once(self):
        ready_times, hls_times = [], []
        for attempt in range(STARTS):
            with self.subTest(attempt), tempfile.TemporaryDirectory() as media_dir:
                started = time.monotonic()
                with subprocess.Popen([sys.executable, SERVER, "--port", "0", "--media-dir",
                                       media_dir], stdout=subprocess.PIPE, text=True) as proc:
                    try:
                        port = json.loads(_read_line(proc, READY_LIMIT_S))["port"]
                        ready_times.append(time.monotonic() - started)
                        if attempt == 0:
                            self.assertEqual([name[:6] for name in os.listdir(media_dir)],
                                             ["melody"], "ready with the demo's media only")
                        base = f"http://127.0.0.1:{port}"
                        with urllib.request.urlopen(base + "/demo", timeout=READY_LIMIT_S) as demo:
                            self.assertEqual(demo.read(2), b"\xff\xfb", "an MP3 frame")
                        started = time.monotonic()
                        self.check_hls(base)
                        hls_times.append(time.monotonic() - started)
                    finally:
                        proc.kill()  # how it stops is the self-test's concern
        print(f"ready: median {statistics.median(ready_times):.2f} s, max "
              f"{max(ready_times):.2f} s; HLS: max {max(hls_times):.2f} s", file=sys.stderr)
        self.assertEqual(len(ready_times), STARTS)
        self.assertLess(max(ready_times), READY_LIMIT_S)
        self.assertLess(max(hls_times), HLS_LIMIT_S)

    def test_an_encoder_that_never_ends_fails_the_start_in_seconds(self):
        with tempfile.TemporaryDirectory() as scratch:
            encoder = os.path.join(scratch, "gst-launch-1.0")
            with open(encoder, "w") as file:
                file.write(HANGING_ENCODER)
            os.chmod(encoder, 0o755)
            env = dict(os.environ, PATH=scratch + os.pathsep + os.environ["PATH"])
            started = time.monotonic()
            ended = subprocess.run([sys.executable, SERVER, "--port", "0", "--media-dir",
                                    os.path.join(scratch, "media")], env=env,
                                   capture_output=True, text=True, timeout=GIVE_UP_LIMIT_S * 2)
            self.assertLess(time.monotonic() - started, GIVE_UP_LIMIT_S)
            self.assertEqual((ended.returncode, ended.stdout), (1, ""))
            self.assertIn("cannot make the media", ended.stderr)

    def check_hls(self, base):
        with urllib.request.urlopen(base + "/hls/live.m3u8", timeout=HLS_LIMIT_S) as answer:
            lines = answer.read().decode().splitlines()
        self.assertEqual((lines[0], lines[-1]), ("#EXTM3U", "#EXT-X-ENDLIST"))
        target_s = int(next(line for line in lines if line.startswith("#EXT-X-TARGETDURATION:"))
                       .split(":")[1])
        lengths_s = [float(line[len("#EXTINF:"):].rstrip(",")) for line in lines
                     if line.startswith("#EXTINF:")]
        self.assertGreater(len(lengths_s), 1)
        self.assertTrue(all(round(length) <= target_s for length in lengths_s), lines)
        self.assertAlmostEqual(sum(lengths_s), HLS_SECONDS, delta=0.2)
        for name in (line for line in lines if line and not line.startswith("#")):
            with urllib.request.urlopen(f"{base}/hls/{name}", timeout=HLS_LIMIT_S) as answer:
                segment = answer.read()
            self.assertEqual(len(segment) % TS_PACKET_BYTES, 0, name)
            # A player may join at any segment: each opens with the program table (PID 0).
            self.assertEqual((segment[0], segment[1] & 0x1F, segment[2]), (0x47, 0, 0), name)


if __name__ == "__main__":
    unittest.main()
