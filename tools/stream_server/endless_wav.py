"""An endless WAV stream on the loopback, at a byte rate far above any compressed stream.

A player's sink paces playback to the clock; at 192 kHz, eight channels of 64-bit samples the
audio itself runs at about 12.3 MB/s, so a gigabyte passes through in under a minute and a half
of real playback. The bytes sent are counted for the soak's figure.
"""

import socket
import struct
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHANNELS = 8
SAMPLE_BYTES = 8  # IEEE float 64
FAST_RATE_HZ = 192000
CHUNK_FRAMES = 8192
WAVE_FORMAT_IEEE_FLOAT = 3
UNKNOWN_LENGTH = 0xFFFFFFFF  # what streaming WAV writers put in the size fields


def byte_rate(rate_hz):
    return rate_hz * CHANNELS * SAMPLE_BYTES


def wav_header(rate_hz):
    fmt = struct.pack("<HHIIHH", WAVE_FORMAT_IEEE_FLOAT, CHANNELS, rate_hz, byte_rate(rate_hz),
                      CHANNELS * SAMPLE_BYTES, SAMPLE_BYTES * 8)
    return (b"RIFF" + struct.pack("<I", UNKNOWN_LENGTH) + b"WAVE" + b"fmt " +
            struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", UNKNOWN_LENGTH))


def silent_chunk():
    # Silence: a leak does not care what the samples say, and zeros cost nothing to make.
    return bytes(CHUNK_FRAMES * CHANNELS * SAMPLE_BYTES)


class WavStream:
    """Serves GET /endless.wav until stopped; bytes_sent counts the body bytes of all answers."""

    def __init__(self, rate_hz=FAST_RATE_HZ):
        self.rate_hz = rate_hz
        self.bytes_sent = 0
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        stream = self

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "audio/x-wav")
                self.end_headers()
                self.wfile.write(wav_header(stream.rate_hz))
                chunk = silent_chunk()
                try:
                    while not stream._stopping.is_set():
                        self.wfile.write(chunk)
                        stream._count(len(chunk))
                except (BrokenPipeError, ConnectionResetError, socket.timeout):
                    pass

            def log_message(self, *args):
                pass

        self._server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    def _count(self, n):
        with self._lock:
            self.bytes_sent += n

    @property
    def url(self):
        return f"http://127.0.0.1:{self._server.server_address[1]}/endless.wav"

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stopping.set()
        self._server.shutdown()
        self._server.server_close()
