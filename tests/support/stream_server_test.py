"""Checks the loopback stream server's main routes through a real running server process."""

import http.client
import json
import os
import select
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "stream_server",
                      "stream_server.py")
START_TIMEOUT_S = 10  # a fresh start makes only the demo media
REQUEST_TIMEOUT_S = 10
STOP_TIMEOUT_S = 5
STALL_NOTICED_S = 0.5  # how long a read waits before a stall counts as seen
DECODE_TIMEOUT_S = 30
BEGINNING_PAGE = b"OggS\0\2"  # capture pattern, version, the flag of a bitstream's first page
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

    def test_requests_tagged_with_a_log_key_are_listed_by_their_range(self):
        for headers in ({}, {"Range": "bytes=100-"}):
            with self.get("/tone.mp3?log=listed", headers) as answer:
                answer.read(10)
        with self.get("/tone.mp3?log=other", {"Range": "bytes=5-"}) as answer:
            answer.read(10)
        with self.get("/requests?log=listed") as answer:
            self.assertEqual(answer.read().decode(), "-\nbytes=100-\n")

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

    def test_a_file_without_ranges_is_resent_whole_after_a_drop(self):
        path = "/tone.mp3?range=0&drop_after=10000&session=resent"
        with self.get(path) as answer:
            self.assertRaises(http.client.IncompleteRead, answer.read)
        with self.get(path, {"Range": "bytes=10000-"}) as answer:
            self.assertEqual((answer.status, len(answer.read())), (200, TONE_BYTES))

    def test_live_trickles_slower_than_its_bitrate(self):
        started = time.monotonic()
        with self.get("/live?kbps=32") as answer:
            self.assertEqual(len(answer.read(4000)), 4000)
        # 4000 bytes at 4000 bytes/s; the 128 kbit/s source alone would take a quarter of it.
        self.assertGreater(time.monotonic() - started, 0.8)

    def test_chained_ogg_starts_a_new_bitstream_with_its_own_tags_at_every_song(self):
        rows = [("vorbis", ["Vorbis song 1", "Vorbis song 2"] * 2),
                ("opus", ["Opus song 1", "Opus song 2"] * 2),
                ("flac", ["FLAC song 1", "FLAC song 2"] * 2),
                ("mixed", ["Vorbis song 1", "Opus song 1", "FLAC song 1", "Vorbis song 2"]),
                ("rates", ["Vorbis song 1", "Vorbis song 3, 44.1 kHz", "Opus song 1",
                           "FLAC song 1", "FLAC song 4, mono"])]
        for codec, titles in rows:
            with self.subTest(codec), self.get(f"/live.ogg?codec={codec}&kbps=0") as answer:
                self.assertEqual(answer.headers["Content-Type"], "audio/ogg")
                self.assertIsNone(answer.headers["Content-Length"])
                starts = _song_starts(answer, len(titles) + 1)
                songs = starts.data[:starts.offsets[-1]]
                serials = [struct.unpack_from("<I", songs, i + 14)[0] for i in starts.offsets[:-1]]
                self.assertEqual(len(set(serials)), len(titles), "a new serial each song")
                self.assertEqual(_decoded_titles(songs), titles)
        # The first song comes at once, as Icecast's burst; the next ones each in its second.
        started = time.monotonic()
        with self.get("/live.ogg?codec=opus") as answer:
            arrivals = _song_starts(answer, 4).arrivals
        self.assertLess(arrivals[1] - started, 0.5)
        for earlier, later in zip(arrivals[1:], arrivals[2:]):
            self.assertAlmostEqual(later - earlier, 1.0, delta=0.3)

    def test_a_mount_answers_not_found_while_its_source_is_gone_then_streams(self):
        path = "/live?burst=9000&drop_after=1000&session=gone&gone=2"
        with self.get(path) as answer:
            self.assertEqual(len(answer.read()), 1000)
        for _ in range(2):
            with self.assertRaises(urllib.error.HTTPError) as caught:
                self.get(path)
            self.assertEqual(caught.exception.code, 404)
        with self.get(path) as answer:
            self.assertEqual(len(answer.read(9000)), 9000)
        # Gone for a time from the drop, and the server says when it is back.
        path = "/live?burst=9000&drop_after=1000&session=gone-ms&gone_ms=400"
        with self.get(path) as answer:
            self.assertEqual(len(answer.read()), 1000)
        with self.get("/mount?session=gone-ms") as answer:
            back_ns = int(answer.read().decode().split()[1])
        with self.assertRaises(urllib.error.HTTPError) as caught:
            self.get(path)
        self.assertEqual(caught.exception.code, 404)
        time.sleep(max(0, back_ns - time.monotonic_ns()) / 1e9)
        with self.get(path) as answer:
            self.assertEqual(len(answer.read(9000)), 9000)
        with self.get("/tone.mp3?repeat=3") as answer:
            self.assertEqual(int(answer.headers["Content-Length"]), 3 * TONE_BYTES)

    def test_live_sends_icy_titles_only_when_asked(self):
        with self.get("/live?burst=4000&metaint=1000") as answer:
            self.assertIsNone(answer.headers["icy-metaint"])
            self.assertIsNone(answer.headers["Content-Length"])
        rows = [("", "utf-8", "Velmora test tone 440 Hz"),
                ("&title=%E9%9F%B3%E4%B9%90", "utf-8", "音乐"),
                ("&charset=latin1", "latin-1", "Café Müller - Größe à l'été"),
                ("&charset=GBK&title=%E6%99%B4%E5%A4%A9&name=%E4%B8%AD", "gbk", "晴天")]
        for query, charset, title in rows:
            path = f"/live?burst=4000&metaint=1000{query}"
            with self.subTest(query), self.get(path, {"Icy-MetaData": "1"}) as answer:
                self.assertEqual(answer.headers["icy-metaint"], "1000")
                name = "中" if "name=" in query else "Velmora test radio"
                self.assertEqual(answer.headers["icy-name"].encode("latin-1").decode(charset), name)
                answer.read(1000)
                block = answer.read(answer.read(1)[0] * 16).rstrip(b"\0").decode(charset)
                self.assertEqual(block, f"StreamTitle='{title}';StreamUrl='';")
                answer.read(1000)
                self.assertEqual(answer.read(1), b"\0", "an unchanged title is not resent")

    def test_rolling_hls_slides_on_with_the_clock_unless_frozen(self):
        def playlist(query):
            with self.get("/hls/rolling.m3u8?" + query) as answer:
                lines = answer.read().decode().splitlines()
            self.assertNotIn("#EXT-X-ENDLIST", lines, "live: no end")
            tags = [line.split(":", 1) for line in lines if line.startswith("#") and ":" in line]
            target_s = next(int(value) for tag, value in tags if tag == "#EXT-X-TARGETDURATION")
            self.assertTrue(all(round(float(value.rstrip(","))) <= target_s
                                for tag, value in tags if tag == "#EXTINF"), lines)
            sequence = next(int(value) for tag, value in tags if tag == "#EXT-X-MEDIA-SEQUENCE")
            return sequence, [line for line in lines if not line.startswith("#")]

        first, frozen = playlist("segment=1"), playlist("segment=1&freeze_after=0")
        time.sleep(1.5)  # longer than any one segment
        self.assertEqual(playlist("segment=1&freeze_after=0"), frozen)
        sequence, uris = playlist("segment=1")
        self.assertGreater(sequence, first[0])
        self.assertEqual(uris, [f"rolling/{n}.ts?segment=1" for n in range(sequence, sequence + 4)])
        with self.get(f"/hls/{uris[-1]}") as answer:
            segment = answer.read()
        self.assertEqual((segment[0], segment[1] & 0x1F, segment[2]), (0x47, 0, 0), "PAT first")
        with self.assertRaises(urllib.error.HTTPError) as caught:
            self.get(f"/hls/rolling/{sequence + 5}.ts?segment=1")
        self.assertEqual(caught.exception.code, 404, "not published yet")

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

    def test_closed_port_refuses(self):
        port = int(subprocess.check_output([sys.executable, SERVER, "--closed-port"], text=True))
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=REQUEST_TIMEOUT_S)

    def test_zz_sigterm_ends_the_server_with_streams_open(self):
        # Named to run last in this class: it stops the shared server.
        stalled = self.get("/stall")
        live = self.get("/live")
        live.read(100)
        self.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.proc.wait(STOP_TIMEOUT_S), 0)
        stalled.close()
        live.close()


@dataclass
class _SongStarts:
    data: bytes
    offsets: list  # where each logical bitstream begins (its page flagged "beginning")
    arrivals: list  # when each of them was read, by time.monotonic()


def _song_starts(answer, count: int) -> _SongStarts:
    """Reads until count songs have begun."""
    starts = _SongStarts(b"", [], [])
    while len(starts.offsets) < count:
        chunk = answer.read1(65536)
        if not chunk:
            raise AssertionError(f"the stream ended after {len(starts.offsets)} songs")
        # A capture pattern may straddle two reads: search again from a little before.
        at = max(0, len(starts.data) - len(BEGINNING_PAGE))
        starts.data += chunk
        while (at := starts.data.find(BEGINNING_PAGE, at)) >= 0:
            starts.offsets.append(at)
            starts.arrivals.append(time.monotonic())
            at += len(BEGINNING_PAGE)
    # One read may bring several songs: only the first count are asked for.
    del starts.offsets[count:], starts.arrivals[count:]
    return starts


def _decoded_titles(chain: bytes) -> list:
    """The titles GStreamer finds in a saved chain, in order: proof the chain plays."""
    with tempfile.NamedTemporaryFile(suffix=".ogg") as file:
        file.write(chain)
        file.flush()
        done = subprocess.run(["gst-launch-1.0", "-t", "playbin", f"uri=file://{file.name}",
                               "audio-sink=fakesink sync=false"], capture_output=True,
                              text=True, timeout=DECODE_TIMEOUT_S, check=False)
    titles = [line.split("title: ", 1)[1] for line in done.stdout.splitlines()
              if line.strip().startswith("title: ")]
    return [t for i, t in enumerate(titles) if i == 0 or titles[i - 1] != t]


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
