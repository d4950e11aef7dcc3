"""The loopback stream server's routes: what each URL answers (delivery.py sends the bodies)."""

import math
import socket
import ssl
import time
from http.server import BaseHTTPRequestHandler
from urllib.parse import quote, urlsplit

from delivery import (BadRequest, Delivery, FileReader, LoopReader, Query, parse_range,
                      pump)
import hls
import icy
import ogg_chain
import media_cache
import playlists

LOOPBACK = "127.0.0.1"
AAC_SECONDS = 30  # the length of the aac source, as the server makes it
ROUTES_HELP = """\
routes (GET; HEAD too for files):
  /                      this list, as text/plain
  /tone.mp3              440 Hz tone, 30 s, 128 kbit/s CBR, 44.1 kHz stereo
  /tone320.mp3           the same tone at 320 kbit/s
  /melody.mp3            a short generated tune (the demo stream), 128 kbit/s
  /demo                  endless live stream of the melody, with an ICY title (for people)
  /live                  endless live stream (loops a file, no Content-Length), paced at
                         its bitrate; ICY metadata when the request has Icy-MetaData: 1
  /truncated.mp3         the tone cut mid-frame (bytes=N, default 24200), as a whole response
  /garbage.mp3           random bytes with no MP3 frame sync, as audio/mpeg (bytes=N)
  /page.html             an HTML page
  /stall                 the tone's headers, then no byte at all (any stream: stall_after=0)
  /no-answer             reads the request, never answers; closes after the stall limit
                         (delay_ms=N is the milder kind: it answers in the end)
  /requests?log=K        what requests tagged log=K asked for (see log=K)
  /mount?session=K       when session K's mount is back after gone_ms, as CLOCK_MONOTONIC ns
                         ("back_ns N"), empty before its drop
  /status/CODE           an error answer, CODE 400..599 (e.g. /status/404, /status/500)
  /redirect?hops=N&to=P  a chain of N redirects (code=301|302|303|307|308) ending at path P
  /redirect-loop         redirects that never end: /redirect-loop <-> /redirect-loop?back=1
  /refused               redirect to a port on which nothing listens
  anything else          404
  with --tls-port, every route is also served over https behind a self-signed certificate

query parameters (files, /live and /live.ogg):
  kbps=N        pace the body at N kbit/s (/live: default its source's bitrate; /live.ogg:
                default its pages' times), also slower than the bitrate (a trickle)
  burst=B       first B bytes at full speed, then paced (as Icecast does)
  jitter_ms=N   each paced chunk sent up to N ms late, the next one due on time again (a
                network between the station and the listener)
  delay_ms=N    wait N ms before the first byte of the answer (any route)
  drop_after=N  close the connection after N bytes of body
  session=K     with drop_after or stall_after: only the first `drops` connections of key
                K get these faults (drops=1), later ones are served cleanly
  stall_after=N stop sending after N bytes of body but keep the connection open; without
                session=K on every connection (range=0&stall_after=N: the whole file's
                length announced, N bytes, then silence)
  range=0       ignore Range requests (no Accept-Ranges), as some servers do: with
                drop_after and session=K the file is resent whole after the drop
  log=K         record the request's Range header ("-" without) under K; /requests?log=K
                lists them, one a line
  gone=N        with session=K: the N connections after the faulty ones answer 404, as
                Icecast does while a mount has no source, then it streams again
  gone_ms=N     with session=K and drop_after: the mount answers 404 for N ms from the drop,
                then streams again; /mount?session=K tells when it is back
files only:
  repeat=N      the file N times over as one body (a long file, e.g. for full speed)
/live only:
  source=tone|tone320|melody|aac   what it loops (default tone; aac: the tone in ADTS)
  metaint=N     ICY metadata interval in bytes (default 16000)
  title=T       StreamTitle; repeat the parameter to rotate titles every title_every=N
                metadata blocks (default 4)
  charset=C     encoding of the titles and of name: utf-8 (default), latin1, cp1252, gbk,
                gb18030, big5, shift_jis, cp1251, koi8-r, euc-kr (latin1 default title: a Latin-1
                sample)
  name=N        icy-name, the station's name (default "Velmora test radio")
  br=0          no icy-br header: a station that announces no bitrate
  meta_repeat=1 send the title in every block, not only when it changes
"""

DEFAULT_LIVE_TITLE = "Velmora test tone 440 Hz"
DEMO_TITLE = "Velmora 演示旋律 (demo melody)"
DEFAULT_LATIN1_TITLE = "Café Müller - Größe à l'été"
# Charsets stations send titles in, by their name without dashes or underscores.
TITLE_CHARSETS = {"utf8": "utf-8", "latin1": "latin-1", "cp1252": "cp1252", "gbk": "gbk",
                  "gb18030": "gb18030", "big5": "big5", "shiftjis": "shift_jis",
                  "cp1251": "cp1251", "koi8r": "koi8-r", "euckr": "euc-kr"}
REQUEST_READ_TIMEOUT_S = 30


class MountGone(Exception):
    pass


def find_closed_port() -> int:
    """A loopback port on which nothing listens right now (connecting to it is refused)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind((LOOPBACK, 0))
        return probe.getsockname()[1]


class StreamHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VelmoraTestServer/1"
    # A client that connects and never sends its request must not hold a thread for ever.
    timeout = REQUEST_READ_TIMEOUT_S
    # (session, ms): this connection's drop takes the session's mount away for that long.
    _gone_after_drop = None

    def setup(self):
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(self.timeout)
            self.request.do_handshake()
        super().setup()
        # Paced chunks are small: without this, Nagle and delayed ACKs add tens of ms.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def log_message(self, format, *args):  # noqa: A002 - the base class names it so
        if self.server.verbose:
            super().log_message(format, *args)

    def do_HEAD(self):
        self._serve(head=True)

    def do_GET(self):
        self._serve(head=False)

    # --- dispatch -------------------------------------------------------------------------

    def _serve(self, head: bool):
        self.close_connection = True
        if not self.server.slots.acquire(blocking=False):
            self._plain(503, "too many connections\n", head)
            return
        try:
            # A paused player stops reading: its writes may block that long before giving up.
            self.connection.settimeout(self.server.limits.max_stall_s)
            parts = urlsplit(self.path)
            query = Query(parts.query)
            try:
                delay_ms = query.number("delay_ms", 0, high=self.server.limits.max_delay_ms)
                if delay_ms and self.server.stopping.wait(delay_ms / 1000):
                    return
                self._route(parts.path, query, head)
            except BadRequest as exc:
                self._plain(400, f"{exc}\n", head)
            except MountGone:
                self._plain(404, "no source on this mount\n", head)
            except media_cache.MediaError as exc:
                self._plain(503, f"the media could not be made: {exc}\n", head)
        except (BrokenPipeError, ConnectionResetError, TimeoutError):
            pass  # The client went away or stopped reading: nothing left to answer.
        finally:
            self.server.slots.release()

    def _route(self, path: str, query: Query, head: bool):
        log = query.text("log")
        if log is not None and path != "/requests":
            self.server.requests.add(log, self.headers.get("Range") or "-")
        files = {"/tone.mp3": "tone", "/tone320.mp3": "tone320", "/melody.mp3": "melody"}
        if path in files:
            repeat = query.number("repeat", 1, low=1, high=64)
            self._file(self.server.media[files[path]] * repeat, query, head)
        elif path in ("/live", "/live.mp3"):
            self._live(query, head)
        elif path == "/live.ogg":
            self._live_ogg(query, head)
        elif path == "/no-answer":
            self.server.stopping.wait(self.server.limits.max_stall_s)
        elif path == "/demo":
            self._live(Query(f"source=melody&title={quote(DEMO_TITLE)}"), head)
        elif path == "/truncated.mp3":
            tone = self.server.media["tone"]
            cut = query.number("bytes", 24200, low=1, high=len(tone))
            self._file(tone[:cut], query, head)
        elif path == "/garbage.mp3":
            size = query.number("bytes", 256 * 1024, low=1, high=16 << 20)
            self._file(media_cache.garbage(size), query, head)
        elif path == "/page.html":
            self._body(200, "text/html; charset=utf-8", _HTML_PAGE, head)
        elif path == "/stall":
            self._stall_after_headers(self.server.media["tone"], head)
        elif path.startswith("/status/"):
            self._status(path[len("/status/"):], head)
        elif path == "/redirect":
            self._redirect_chain(query, head)
        elif path == "/redirect-loop":
            back = query.text("back") is None
            self._redirect(302, "/redirect-loop?back=1" if back else "/redirect-loop", head)
        elif path == "/refused":
            self._redirect(302, f"http://{LOOPBACK}:{find_closed_port()}/tone.mp3", head)
        elif path == "/requests":
            self._plain(200, "".join(f"{line}\n" for line in self.server.requests.lines(log)), head)
        elif path == "/mount":
            back_ns = self.server.sessions.back_ns(query.text("session", ""))
            self._plain(200, "" if back_ns is None else f"back_ns {back_ns}\n", head)
        elif path == "/":
            self._plain(200, ROUTES_HELP + ogg_chain.ROUTES_HELP + playlists.ROUTES_HELP
                        + hls.ROUTES_HELP, head)
        elif not (playlists.serve(self, path, query, head, find_closed_port)
                  or hls.serve(self, path, query, head)):
            self._plain(404, "not found\n", head)

    # --- simple answers ---------------------------------------------------------------------

    def _body(self, code: int, content_type: str, body: bytes, head: bool, extra=()):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if not head:
            self.wfile.write(body)

    def _plain(self, code: int, text: str, head: bool):
        self._body(code, "text/plain; charset=utf-8", text.encode(), head)

    def _status(self, code_text: str, head: bool):
        if not code_text.isdigit() or not 400 <= int(code_text) <= 599:
            raise BadRequest("status code must lie in 400..599")
        code = int(code_text)
        page = f"<html><body><h1>{code}</h1></body></html>\n".encode()
        self._body(code, "text/html; charset=utf-8", page, head)

    def _redirect(self, code: int, target: str, head: bool):
        if target.startswith("/"):
            target = f"{self.server.scheme}://{LOOPBACK}:{self.server.port}{target}"
        self._body(code, "text/plain; charset=utf-8", b"moved\n", head,
                   extra=[("Location", target)])

    def _redirect_chain(self, query: Query, head: bool):
        hops = query.number("hops", 1, low=1, high=100)
        code = query.number("code", 302, low=301, high=308)
        target = query.text("to", "/tone.mp3")
        if not target.startswith("/"):
            raise BadRequest("to must be a path on this server")
        if hops > 1:
            target = f"/redirect?hops={hops - 1}&code={code}&to={quote(target, safe='')}"
        self._redirect(code, target, head)

    # --- media ------------------------------------------------------------------------------

    def _delivery(self, query: Query, default_kbps: int) -> Delivery:
        delivery = Delivery(kbps=query.number("kbps", default_kbps, high=100_000),
                            burst_bytes=query.number("burst", 0),
                            jitter_ms=query.number("jitter_ms", 0, high=1000),
                            drop_after=query.number("drop_after", None),
                            stall_after=query.number("stall_after", None))
        session = query.text("session")
        faulty = delivery.drop_after is not None or delivery.stall_after is not None
        if faulty and session is not None:
            visit = self.server.sessions.visit(session)
            drops = query.number("drops", 1)
            if visit > drops:
                delivery.drop_after = delivery.stall_after = None
            if drops < visit <= drops + query.number("gone", 0):
                raise MountGone()
            gone_ms = query.number("gone_ms", 0, high=self.server.limits.max_delay_ms)
            if visit <= drops and gone_ms:
                self._gone_after_drop = (session, gone_ms)
            back_ns = self.server.sessions.back_ns(session)
            if visit > drops and back_ns is not None and time.monotonic_ns() < back_ns:
                raise MountGone()
        return delivery

    def _file(self, data: bytes, query: Query, head: bool):
        delivery = self._delivery(query, default_kbps=0)
        ranges = query.text("range", "1") != "0"
        start, end = 0, len(data)
        requested = self.headers.get("Range") if ranges else None
        if requested:
            span = parse_range(requested, len(data))
            if span is None:
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{len(data)}")
                self.send_header("Content-Length", "0")
                self.send_header("Connection", "close")
                self.end_headers()
                return
            start, end = span
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {start}-{end - 1}/{len(data)}")
        else:
            self.send_response(200)
        self.send_header("Content-Type", "audio/mpeg")
        self.send_header("Content-Length", str(end - start))
        if ranges:
            self.send_header("Accept-Ranges", "bytes")
        self.send_header("Connection", "close")
        self.end_headers()
        if not head:
            view = memoryview(data)[start:end]
            self._pump(FileReader(view), self.wfile, delivery)

    def _live(self, query: Query, head: bool):
        bitrates_kbps = {"tone": 128, "tone320": 320, "melody": 128, "aac": 128}
        source = query.text("source", "tone")
        if source not in bitrates_kbps:
            raise BadRequest(f"source must be one of {', '.join(bitrates_kbps)}")
        data, bitrate_kbps = self.server.media[source], bitrates_kbps[source]
        if source == "aac":
            # ADTS headers ride on top of the encoder's bitrate: pace by the file's own.
            bitrate_kbps = math.ceil(len(data) * 8 / AAC_SECONDS / 1000)
        delivery = self._delivery(query, default_kbps=bitrate_kbps)
        charset = TITLE_CHARSETS.get(
            query.text("charset", "utf-8").lower().replace("-", "").replace("_", ""))
        if charset is None:
            raise BadRequest(f"charset must be one of {', '.join(TITLE_CHARSETS)}")
        default_title = DEFAULT_LATIN1_TITLE if charset == "latin-1" else DEFAULT_LIVE_TITLE
        titles = query.texts("title") or [default_title]
        metaint = query.number("metaint", 16000, low=1, high=1 << 20)
        wants_metadata = self.headers.get("Icy-MetaData", "").strip() == "1"

        self.send_response(200)
        self.send_header("Content-Type", "audio/aac" if source == "aac" else "audio/mpeg")
        self.send_header("Cache-Control", "no-cache, no-store")
        self.send_header("Connection", "close")
        # http.server writes headers in Latin-1: this way the name's bytes go out as they are.
        name = query.text("name", "Velmora test radio")
        self.send_header("icy-name", name.encode(charset, errors="replace").decode("latin-1"))
        if query.text("br") != "0":
            self.send_header("icy-br", str(bitrate_kbps))
        self.send_header("icy-pub", "0")
        if wants_metadata:
            self.send_header("icy-metaint", str(metaint))
        self.end_headers()
        if head:
            return
        out = self.wfile
        if wants_metadata:
            out = icy.IcyWriter(self.wfile, metaint, titles, charset,
                                title_every=query.number("title_every", 4, low=1),
                                repeat=query.text("meta_repeat") == "1")
        self._pump(LoopReader(memoryview(data)), out, delivery)

    def _live_ogg(self, query: Query, head: bool):
        codec = query.text("codec", "vorbis")
        if codec not in ogg_chain.STATIONS:
            raise BadRequest(f"codec must be one of {', '.join(ogg_chain.STATIONS)}")
        songs = [self.server.media[name] for name in ogg_chain.STATIONS[codec]]
        reader = ogg_chain.ChainReader(songs)
        # Paced by the pages' own times unless kbps says otherwise: the codecs' bitrates differ.
        delivery = self._delivery(query, default_kbps=0)
        if query.text("kbps") is None:
            delivery.media_clock = reader
        if query.text("burst") is None:
            # As Icecast's burst-on-connect: the listener starts a song behind the live edge.
            delivery.burst_bytes = reader.first_song_bytes
        self.send_response(200)
        self.send_header("Content-Type", "audio/ogg")
        self.send_header("Cache-Control", "no-cache, no-store")
        self.send_header("Connection", "close")
        self.send_header("icy-name", "Velmora test radio")
        self.end_headers()
        if not head:
            self._pump(reader, self.wfile, delivery)

    def _stall_after_headers(self, data: bytes, head: bool):
        self.send_response(200)
        self.send_header("Content-Type", "audio/mpeg")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        if not head:
            self._stall()

    def _stall(self):
        self.wfile.flush()
        self.server.stopping.wait(self.server.limits.max_stall_s)

    def _pump(self, reader, out, delivery: Delivery):
        pump(reader, out, delivery, self.server.stopping, self.server.limits.max_response_s,
             self._stall, self._drop)

    def _drop(self):
        self.wfile.flush()
        if self._gone_after_drop is not None:
            self.server.sessions.gone_for(*self._gone_after_drop)
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass  # Already gone: that is the effect wanted anyway.

_HTML_PAGE = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Not audio</title></head>"
              "<body><h1>This is a web page, not a stream</h1></body></html>\n").encode()
