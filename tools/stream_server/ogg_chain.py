"""Chained Ogg, as an Icecast Ogg station sends it: every song is a new logical bitstream.

The songs are whole Ogg files, each with its own headers and tags; they follow one another
round and round, each link under a serial number of its own (a song that comes back is a
new bitstream too), handed out page by page with the time at which each page ends.
"""

import struct

ROUTES_HELP = """\
  /live.ogg              endless chained Ogg stream, as Icecast sends an Ogg station: every
                         second a new song in a new logical bitstream (new serial number,
                         headers and TITLE/ARTIST tags, its own pitch); codec=vorbis|opus|
                         flac (two songs, default vorbis), mixed (the codec changes at
                         every song) or rates (songs at 44.1 and 48 kHz, and a mono one);
                         paced by the pages' times unless kbps=N, after a burst of the
                         first song (burst=B to change it); no ICY
"""

# The songs of each station, by codec= (stream_server.RECIPES names them).
STATIONS = {codec: [f"{codec}-song{song}" for song in (1, 2)]
            for codec in ("vorbis", "opus", "flac")}
STATIONS["mixed"] = ["vorbis-song1", "opus-song1", "flac-song1",
                     "vorbis-song2", "opus-song2", "flac-song2"]
# The sample rate or channel count changes at every song but one, the codec at some.
STATIONS["rates"] = ["vorbis-song1", "vorbis-song3", "opus-song1", "flac-song1", "flac-song4"]
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


def granule_hz(song: bytes) -> int:
    """The rate a song's granule positions count, read from its first header as Icecast does:
    Vorbis and FLAC count at the song's own rate, Opus at 48 kHz whatever the rate."""
    packet = song[_HEADER.size + song[_HEADER.size - 1]:]
    if packet.startswith(b"OpusHead"):
        return 48000
    if packet.startswith(b"\x01vorbis"):
        return struct.unpack_from("<I", packet, 12)[0]
    if packet.startswith(b"\x7fFLAC"):
        return int.from_bytes(packet[27:30], "big") >> 4  # STREAMINFO's 20 bits
    raise ValueError("not a Vorbis, Opus or FLAC song")


def _granule(page: bytes) -> int:
    return max(0, struct.unpack_from("<q", page, 6)[0])


class ChainReader:
    """An endless chain of the songs, in order; read() as files do.

    media_s is where the sound of the pages begun so far ends, each song's granule positions
    counted at its own rate: a reader paced by it sends each page as its sound is due to begin.
    """

    def __init__(self, songs: list):
        self._songs = [(split_pages(data), granule_hz(data)) for data in songs]
        self.first_song_bytes = len(songs[0])
        self._link_hz = 1
        self._links = 0
        self._link_start_s = 0.0
        self._pages = []
        self._page = memoryview(b"")
        self.media_s = 0.0

    def _next_link(self) -> None:
        pages, self._link_hz = self._songs[self._links % len(self._songs)]
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
                               self._link_start_s + _granule(page) / self._link_hz)
            self._page = memoryview(page)
        chunk, self._page = self._page[:size], self._page[size:]
        return chunk
