"""Checks the loopback stream server through a real running server process, where a fault of its
own would let the engine's tests pass without proving anything: ranges, pacing, faults by
session, and its end with streams open. A route that misbehaves otherwise (errors, quiet
servers, TLS, titles, HLS) fails the engine's tests that play it."""

import http.client
import json
import os
import select
import signal
import subprocess
import sys
import time
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "stream_server",
                      "stream_server.py")
START_TIMEOUT_S = 10  # a fresh start makes only the demo media
REQUEST_TIMEOUT_S = 10
STOP_TIMEOUT_S = 5
STALL_NOTICED_S = 0.5  # how long a read waits before a stall counts as seen
TONE_BYTES = 480653  # 30 s at 128 kbit/s, as lamemp3enc frames it


class StreamServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        media_dir = os.environ.get("VELMORA_TEST_MEDIA_DIR")
        media_args = ["--media-dir", media_dir] if media_dir else []
        cls.proc = subprocess.Popen([sys.executable, SERVER, "--port", "0", *media_args],
                                    stdout=subprocess.PIPE, text=True)
        ready = json.loads(_read_line(cls.proc, START_TIMEOUT_S))
        cls.base = f"http://127.0.0.1:{ready['port']}"

    @classmethod
    def tearDownClass(cls):
        if cls.proc.poll() is None:
            cls.proc.kill()
            cls.proc.wait(STOP_TIMEOUT_S)

    def get(self, path, headers=None, timeout_s=REQUEST_TIMEOUT_S):
        request = urllib.request.Request(self.base + path, headers=headers or {})
        return urllib.request.urlopen(request, timeout=timeout_s)

    def test_file_answers_whole_and_by_range(self):
        with self.get("/tone.mp3") as answer:
            whole = answer.read()
            self.assertEqual(answer.headers["Accept-Ranges"], "bytes")
        self.assertEqual(len(whole), TONE_BYTES)
        self.assertEqual(whole[0], 0xFF, "starts on an MP3 frame sync")
        rows = [("bytes=100-199", 206, whole[100:200]), ("bytes=480000-", 206, whole[480000:]),
                ("bytes=-53", 206, whole[-53:]), ("bytes=0-999999999", 206, whole)]
        for header, code, body in rows:
            with self.subTest(header), self.get("/tone.mp3", {"Range": header}) as answer:
                self.assertEqual((answer.status, answer.read()), (code, body))
        for header in ("bytes=480653-", "bytes=9-5", "lines=1-2"):
            with self.subTest(header), self.assertRaises(urllib.error.HTTPError) as caught:
                self.get("/tone.mp3", {"Range": header})
            self.assertEqual(caught.exception.code, 416)
        with self.get("/tone.mp3?range=0", {"Range": "bytes=100-"}) as answer:
            self.assertEqual((answer.status, len(answer.read())), (200, TONE_BYTES))
            self.assertIsNone(answer.headers["Accept-Ranges"])

    def test_pacing_holds_the_body_back_but_not_the_burst(self):
        started = time.monotonic()
        with self.get("/tone.mp3?kbps=800&burst=50000&range=0") as answer:
            answer.read(50000)
            self.assertEqual(len(answer.read(100000)), 100000)
        # 100000 bytes at 100000 bytes/s after the burst: only a lower bound is safe to check.
        self.assertGreater(time.monotonic() - started, 0.9)

    def test_faults_hit_only_the_first_connections_of_a_session(self):
        rows = [("file drop", "/tone.mp3?drop_after=1000", http.client.IncompleteRead),
                ("file stall", "/tone.mp3?stall_after=1000", TimeoutError),
                ("live drop", "/live?burst=9000&drop_after=1000", None),
                ("live stall", "/live?burst=9000&stall_after=1000", TimeoutError)]
        for name, path, failure in rows:
            faulty = f"{path}&session={name.replace(' ', '-')}&drops=2"
            with self.subTest(name):
                for _ in range(2):
                    with self.get(faulty, timeout_s=STALL_NOTICED_S) as answer:
                        self.assertEqual(len(answer.read(1000)), 1000)
                        if failure is None:
                            self.assertEqual(answer.read(), b"", "a live stream just ends")
                        else:
                            self.assertRaises(failure, answer.read)
                with self.get(faulty) as answer:
                    self.assertEqual(len(answer.read(9000)), 9000, "the third one is clean")

    def test_zz_sigterm_ends_the_server_with_streams_open(self):
        # Named to run last in this class: it stops the shared server.
        stalled = self.get("/stall")
        live = self.get("/live")
        live.read(100)
        self.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.proc.wait(STOP_TIMEOUT_S), 0)
        stalled.close()
        live.close()


def _read_line(proc, timeout_s):
    ready, _, _ = select.select([proc.stdout], [], [], timeout_s)
    if not ready:
        raise TimeoutError(f"stream server not ready within {timeout_s} s")
    line = proc.stdout.readline()
    if not line:
        raise RuntimeError(f"stream server exited with {proc.wait(STOP_TIMEOUT_S)}")
    return line


if __name__ == "__main__":
    unittest.main()
