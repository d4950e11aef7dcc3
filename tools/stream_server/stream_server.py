#!/usr/bin/env python3
"""Loopback HTTP server that plays the bad network for the player's tests and benchmarks.

It listens on 127.0.0.1 only and serves generated MP3 and Ogg media in every way a real
server can misbehave: slow, bursty, late, endless with ICY titles or Ogg chains, redirecting,
failing, silent, stalling or dropping. Python 3 standard library only; GStreamer's
gst-launch-1.0 encodes the media and openssl makes the certificate of the optional TLS
listener. It is ready as soon as the demo's media is: everything else is made on its first
request.
"""

import argparse
import functools
import json
import os
import signal
import ssl
import sys
import tempfile
import threading
import time
from collections import OrderedDict
from dataclasses import dataclass
from http.server import ThreadingHTTPServer

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import certificate  # noqa: E402
import hls  # noqa: E402
import media_cache  # noqa: E402
from stream_handler import LOOPBACK, ROUTES_HELP, StreamHandler, find_closed_port  # noqa: E402


@dataclass(frozen=True)
class Limits:
    max_connections: int = 64
    max_response_s: float = 900.0
    max_stall_s: float = 300.0
    max_delay_ms: int = 60_000
    max_sessions: int = 1024


class SessionBook:
    """Counts connections per session key, so a fault can hit only the first few of them, and
    keeps when a key's mount is back after its source went away (CLOCK_MONOTONIC, in ns)."""

    def __init__(self, capacity: int):
        self._capacity = capacity
        self._counts = OrderedDict()
        self._back_ns = OrderedDict()
        self._lock = threading.Lock()

    def gone_for(self, key: str, gone_ms: int) -> None:
        """The key's mount answers "not found" from now on for gone_ms."""
        with self._lock:
            self._back_ns.pop(key, None)
            self._back_ns[key] = time.monotonic_ns() + gone_ms * 1_000_000
            while len(self._back_ns) > self._capacity:
                self._back_ns.popitem(last=False)

    def back_ns(self, key: str):
        """When the key's mount is (or was) back; None when its source never went away."""
        with self._lock:
            return self._back_ns.get(key)

    def visit(self, key: str) -> int:
        """Records one more connection for key; returns how many it has had, this one included."""
        with self._lock:
            count = self._counts.pop(key, 0) + 1
            self._counts[key] = count
            while len(self._counts) > self._capacity:
                self._counts.popitem(last=False)
            return count


RECIPES = {"tone": media_cache.ToneRecipe(440, 128, 30),
           "tone320": media_cache.ToneRecipe(440, 320, 30),
           "melody": media_cache.MelodyRecipe(128, 4),
           "aac": media_cache.AacToneRecipe(440, 128, 30)}
RECIPES.update({f"{codec}-song{song}": media_cache.OggChainRecipe(codec, song)
                for codec in ("vorbis", "opus", "flac") for song in (1, 2)})
RECIPES["vorbis-song3"] = media_cache.OggChainRecipe("vorbis", 3, rate_hz=44100)
RECIPES["flac-song4"] = media_cache.OggChainRecipe("flac", 4, channels=1)
DEMO_MEDIA = "melody"


def _read_media(media_dir: str, recipe) -> bytes:
    with open(media_cache.ensure(media_dir, recipe), "rb") as file:
        return file.read()


class MediaStore:
    """The media by name (the MP3 files' bytes, and "hls", the HLS folder), each made on its
    first request and kept; any connection's thread may ask. A failure is not kept: the next
    request tries again. Raises media_cache.MediaError."""

    def __init__(self, media_dir: str):
        self._makers = {name: functools.partial(_read_media, media_dir, recipe)
                        for name, recipe in RECIPES.items()}
        self._makers["hls"] = functools.partial(hls.ensure_hls, media_dir)
        self._locks = {name: threading.Lock() for name in self._makers}
        self._made = {}

    def __getitem__(self, name: str):
        with self._locks[name]:
            if name not in self._made:
                try:
                    self._made[name] = self._makers[name]()
                except OSError as exc:
                    raise media_cache.MediaError(str(exc)) from exc
            return self._made[name]

    def names(self) -> list:
        return list(self._makers)


class RequestLog:
    """The Range header of each request tagged log=K, per key, for a test to read back."""

    def __init__(self, capacity: int):
        self._capacity = capacity
        self._lines = OrderedDict()
        self._lock = threading.Lock()

    def add(self, key: str, line: str) -> None:
        with self._lock:
            lines = self._lines.pop(key, [])
            self._lines[key] = (lines + [line])[-self._capacity:]
            while len(self._lines) > self._capacity:
                self._lines.popitem(last=False)

    def lines(self, key: str) -> list:
        with self._lock:
            return list(self._lines.get(key, []))


class StreamServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, port: int, media: MediaStore, limits: Limits, stopping: threading.Event,
                 verbose: bool = False, tls_context: ssl.SSLContext = None):
        super().__init__((LOOPBACK, port), StreamHandler)
        self.media = media
        self.limits = limits
        self.verbose = verbose
        self.stopping = stopping
        self.sessions = SessionBook(limits.max_sessions)
        self.requests = RequestLog(limits.max_sessions)
        self.hls_clock = hls.RollingClock()
        self.slots = threading.BoundedSemaphore(limits.max_connections)
        self.scheme = "http"
        if tls_context is not None:
            # The handshake happens in the connection's own thread: a client that never
            # completes it must not hold up the accepting loop.
            self.socket = tls_context.wrap_socket(self.socket, server_side=True,
                                                  do_handshake_on_connect=False)
            self.scheme = "https"

    @property
    def port(self) -> int:
        return self.server_address[1]

    def handle_error(self, request, client_address):
        # Clients that reject the certificate or hang up early are what the tests are about.
        if self.verbose:
            super().handle_error(request, client_address)


def _write_port_file(path: str, port: int) -> None:
    folder = os.path.dirname(os.path.abspath(path))
    with tempfile.NamedTemporaryFile("w", dir=folder, delete=False) as file:
        file.write(f"{port}\n")
    # Readers poll for the file: it must appear complete or not at all.
    os.replace(file.name, path)


def _default_media_dir() -> str:
    cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(cache, "velmora-test-media")


def _parse_args(argv):
    parser = argparse.ArgumentParser(
        description="Loopback HTTP server (127.0.0.1 only) serving generated MP3 and Ogg streams "
                    "with pacing and faults, for tests and benchmarks.",
        epilog=ROUTES_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0, help="port to listen on; 0 picks a free one")
    parser.add_argument("--port-file", help="write the port here (atomically) once ready")
    parser.add_argument("--tls-port", type=int,
                        help="also serve every route over TLS on this port (0: a free one), "
                             "with a self-signed certificate no client trusts")
    parser.add_argument("--tls-port-file", help="write the TLS port here once ready")
    parser.add_argument("--media-dir", default=_default_media_dir(),
                        help="cache folder for the generated media files and the certificate "
                             "(default: %(default)s)")
    parser.add_argument("--max-connections", type=int, default=Limits.max_connections)
    parser.add_argument("--max-response-s", type=float, default=Limits.max_response_s,
                        help="longest any one answer lasts, live streams included")
    parser.add_argument("--max-stall-s", type=float, default=Limits.max_stall_s)
    parser.add_argument("--closed-port", action="store_true",
                        help="print a loopback port on which nothing listens, and exit")
    parser.add_argument("--make-media", action="store_true",
                        help="make all the media in --media-dir, print their sizes, and exit")
    parser.add_argument("--verbose", action="store_true", help="log every request to stderr")
    return parser.parse_args(argv)


def main(argv=None) -> int:
    # A test that crashes or is killed never stops its server: the server ends with its parent.
    parent = os.getppid()
    args = _parse_args(argv)
    if args.closed_port:
        print(find_closed_port(), flush=True)
        return 0
    media = MediaStore(args.media_dir)
    try:
        made = {name: media[name] for name in (media.names() if args.make_media else [DEMO_MEDIA])}
    except media_cache.MediaError as exc:
        print(f"stream_server: cannot make the media: {exc}", file=sys.stderr)
        return 1
    if args.make_media:
        print(json.dumps({"media_dir": os.path.abspath(args.media_dir),
                          "sizes": {name: len(data) for name, data in made.items()
                                    if isinstance(data, bytes)}}))
        return 0

    limits = Limits(max_connections=args.max_connections, max_response_s=args.max_response_s,
                    max_stall_s=args.max_stall_s)
    stopping = threading.Event()
    servers = []
    try:
        servers.append(StreamServer(args.port, media, limits, stopping, verbose=args.verbose))
        if args.tls_port is not None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(certificate.ensure(args.media_dir))
            servers.append(StreamServer(args.tls_port, media, limits, stopping,
                                        verbose=args.verbose, tls_context=context))
    except (OSError, certificate.CertificateError) as exc:
        print(f"stream_server: cannot listen: {exc}", file=sys.stderr)
        for server in servers:
            server.server_close()
        return 1

    stop_requested = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: stop_requested.set())
    for server in servers:
        threading.Thread(target=server.serve_forever, name="serve", daemon=True).start()
    ready = {"port": servers[0].port}
    if args.port_file:
        _write_port_file(args.port_file, servers[0].port)
    if args.tls_port is not None:
        ready["tls_port"] = servers[1].port
        if args.tls_port_file:
            _write_port_file(args.tls_port_file, servers[1].port)
    print(json.dumps(ready), flush=True)

    while not stop_requested.wait(0.5) and os.getppid() == parent:
        pass
    stopping.set()  # wakes paced, delayed and stalled answers so they end now
    for server in servers:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
