"""An endless WAV stream on the loopback, at a byte rate far above any compressed stream.

A player's sink paces playback to the clock; at 192 kHz, eight channels of 64-bit samples the
audio itself runs at about 12.3 MB/s, so a gigabyte passes through in under a minute and a half
of real playback. The bytes sent are counted for the soak's figure (GET /endless.wav/sent).
"""

import struct
import threading

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


class ByteCount:
    """Body bytes sent on /endless.wav, by every connection together."""

    def __init__(self):
        self._lock = threading.Lock()
        self._bytes = 0

    def add(self, count):
        with self._lock:
            self._bytes += count

    @property
    def value(self):
        with self._lock:
            return self._bytes


def serve(handler, rate_hz=FAST_RATE_HZ):
    """Answers one GET with the endless stream until the client or the server stops."""
    handler.send_response(200)
    handler.send_header("Content-Type", "audio/x-wav")
    handler.send_header("Connection", "close")
    handler.end_headers()
    handler.wfile.write(wav_header(rate_hz))
    chunk = silent_chunk()
    while not handler.server.stopping.is_set():
        handler.wfile.write(chunk)
        handler.server.endless_wav_bytes.add(len(chunk))
