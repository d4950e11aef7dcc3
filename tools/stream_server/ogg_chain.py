"""Chained Ogg, as an Icecast Ogg station sends it: every song is a new logical bitstream.

The songs are whole Ogg files, each with its own headers and tags; they follow one another
round and round, each link under a serial number of its own (a song that comes back is a
new bitstream too), handed out page by page with the time at which each page ends.
"""

import struct

import media_cache

ROUTES_HELP = """\
  /live.ogg              endless chained Ogg stream, as Icecast sends an Ogg station: every
                         second a new song in a new logical bitstream (new serial number,
                         headers and TITLE/ARTIST tags, its own pitch); codec=vorbis|opus|
                         flac (two songs, default vorbis) or mixed (the codec changes at
                         every song); paced by the pages' times unless kbps=N, after a
                         burst of the first song (burst=B to change it); no ICY
"""

# The songs of each station, by codec= (stream_server.RECIPES names them).
STATIONS = {codec: [f"{codec}-song{song}" for song in (1, 2)]
            for codec in ("vorbis", "opus", "flac")}
STATIONS["mixed"] = ["vorbis-song1", "opus-song1", "flac-song1",
                     "vorbis-song2", "opus-song2", "flac-song2"]
GRANULE_HZ = media_cache.OggChainRecipe.RATE_HZ  # Opus counts at 48 kHz whatever the rate
SERIAL_BASE = 0x56454C00
_HEADER = struct.Struct("<4sBBqIIIB")  # capture, version, flags, granule, serial, seq, crc, nseg


def _crc_table():
    table = []
    for byte in range(256):
        value = byte << 24
        for _ in range(8):
            value = (value << 1) ^ 0x04C11DB7 if value & 0x80000000 else value << 1
        table.append(value & 0xFFFFFFFF)
    return table


_CRC_TABLE = _crc_table()


def _sealed(page: bytearray) -> bytes:
    # Ogg's CRC is unreflected and starts at zero, unlike zlib's: no stdlib function computes it.
    struct.pack_into("<I", page, 22, 0)
    crc = 0
    for byte in page:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ _CRC_TABLE[(crc >> 24) ^ byte]
    struct.pack_into("<I", page, 22, crc)
    return bytes(page)


def split_pages(data: bytes) -> list:
    pages, offset = [], 0
    while offset < len(data):
        capture, *_, count = _HEADER.unpack_from(data, offset)
        if capture != b"OggS":
            raise ValueError(f"no Ogg page at byte {offset}")
        lacing = data[offset + _HEADER.size:offset + _HEADER.size + count]
        end = offset + _HEADER.size + count + sum(lacing)
        pages.append(data[offset:end])
        offset = end
    return pages


def serial_of(page: bytes) -> int:
    return struct.unpack_from("<I", page, 14)[0]


def _granule(page: bytes) -> int:
    return max(0, struct.unpack_from("<q", page, 6)[0])


class ChainReader:
    """An endless chain of the songs, in order; read() as files do.

    granule_hz is the rate the songs' granule positions count (48000 for Opus, and for the
    Vorbis and FLAC made at that rate). media_s is where the sound of the pages begun so far
    ends: a reader paced by it sends each page as its sound is due to begin.
    """

    def __init__(self, songs: list, granule_hz: int):
        self._songs = [split_pages(data) for data in songs]
        self.first_song_bytes = len(songs[0])
        self._granule_hz = granule_hz
        self._links = 0
        self._link_start_s = 0.0
        self._pages = []
        self._page = memoryview(b"")
        self.media_s = 0.0

    def _next_link(self) -> None:
        pages = self._songs[self._links % len(self._songs)]
        serial = (SERIAL_BASE + self._links) & 0xFFFFFFFF
        self._links += 1
        self._link_start_s = self.media_s
        self._pages = []
        for page in reversed(pages):
            page = bytearray(page)
            struct.pack_into("<I", page, 14, serial)
            self._pages.append(_sealed(page))

    def read(self, size: int):
        if not self._page:
            if not self._pages:
                self._next_link()
            page = self._pages.pop()
            self.media_s = max(self.media_s,
                               self._link_start_s + _granule(page) / self._granule_hz)
            self._page = memoryview(page)
        chunk, self._page = self._page[:size], self._page[size:]
        return chunk
