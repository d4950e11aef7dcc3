"""Checks the loopback stream server's routes through a real running server process: those the
engine's tests take for granted without proving (ranges, pacing, faults by session, error
routes, quiet servers, TLS, stopping). The routes whose whole point is what the player makes of
them (ICY titles, chained Ogg, rolling HLS, the request log, a mount that is gone for a while)
are proved by the engine's tests playing them."""

import http.client
import json
import os
import select
import signal
import ssl
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
        cls.proc = subprocess.Popen([sys.executable, SERVER, "--port", "0", "--tls-port", "0",
                                     *media_args], stdout=subprocess.PIPE, text=True)
        ready = json.loads(_read_line(cls.proc, START_TIMEOUT_S))
        cls.base = f"http://127.0.0.1:{ready['port']}"
        cls.tls_base = f"https://127.0.0.1:{ready['tls_port']}"

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

    def test_error_and_odd_content_routes(self):
        rows = [("/status/404", 404), ("/status/500", 500), ("/nowhere", 404),
                ("/redirect-loop", 302), ("/tone.mp3?kbps=fast", 400)]
        for path, code in rows:
            with self.subTest(path), self.assertRaises(urllib.error.HTTPError) as caught:
                self.get(path)
            self.assertEqual(caught.exception.code, code)
        with self.get("/redirect?hops=4&to=/truncated.mp3") as answer:
            self.assertEqual(len(answer.read()), 24200)
        with self.get("/page.html") as answer:
            self.assertTrue(answer.headers["Content-Type"].startswith("text/html"))
        with self.get("/garbage.mp3") as answer:
            self.assertEqual(answer.headers["Content-Type"], "audio/mpeg")
            self.assertNotIn(b"\xff", answer.read())

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

    def test_servers_that_go_quiet_before_or_after_their_headers(self):
        connection = http.client.HTTPConnection("127.0.0.1", int(self.base.split(":")[-1]),
                                                timeout=STALL_NOTICED_S)
        connection.request("GET", "/no-answer")
        self.assertRaises(TimeoutError, connection.getresponse)
        connection.close()
        for path in ("/live?stall_after=0", "/live.ogg?stall_after=0"):
            with self.subTest(path), self.get(path, timeout_s=STALL_NOTICED_S) as answer:
                self.assertIsNone(answer.headers["Content-Length"])
                self.assertRaises(TimeoutError, answer.read, 1)
        with self.get("/tone.mp3") as answer:
            head = answer.read(8192)
        for attempt in range(2):  # no session: every connection stalls alike
            with self.subTest(attempt), self.get("/tone.mp3?range=0&stall_after=8192",
                                                 {"Range": "bytes=8192-"},
                                                 timeout_s=STALL_NOTICED_S) as answer:
                self.assertEqual((answer.status, answer.headers["Content-Length"]),
                                 (200, str(TONE_BYTES)))
                self.assertEqual(answer.read(8192), head)
                self.assertRaises(TimeoutError, answer.read, 1)

    def test_live_trickles_slower_than_its_bitrate(self):
        started = time.monotonic()
        with self.get("/live?kbps=32") as answer:
            self.assertEqual(len(answer.read(4000)), 4000)
        # 4000 bytes at 4000 bytes/s; the 128 kbit/s source alone would take a quarter of it.
        self.assertGreater(time.monotonic() - started, 0.8)

    def test_tls_listener_serves_the_routes_behind_an_untrusted_certificate(self):
        with self.assertRaises(urllib.error.URLError) as caught:
            urllib.request.urlopen(self.tls_base + "/tone.mp3", timeout=REQUEST_TIMEOUT_S)
        self.assertIsInstance(caught.exception.reason, ssl.SSLCertVerificationError)
        trusting = ssl.create_default_context()
        trusting.check_hostname = False
        trusting.verify_mode = ssl.CERT_NONE
        with urllib.request.urlopen(self.tls_base + "/redirect?to=/truncated.mp3",
                                    timeout=REQUEST_TIMEOUT_S, context=trusting) as answer:
            self.assertEqual((answer.url.split(":")[0], len(answer.read())), ("https", 24200))

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
