"""Chained Ogg, as an Icecast Ogg station sends it: every song is a new logical bitstream.

One encoded tone is cut into links of the asked length; each link gets its own serial number
and a comment header carrying its own title, so a player meets a real chain boundary (new
serial, new headers, new tags) at every link, however many titles rotate.
"""

import struct

SERIAL_BASE = 0x56454C00
ARTIST = "Velmora test radio"
_EOS_FLAG = 4
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


def _granule(page: bytes) -> int:
    return struct.unpack_from("<q", page, 6)[0]


def _ends_open(page: bytes) -> bool:
    return page[26] > 0 and page[_HEADER.size + page[26] - 1] == 255


def _packets(page: bytes) -> list:
    """The packets of a page that holds whole packets only, as oggmux writes the headers."""
    lacing = page[_HEADER.size:_HEADER.size + page[26]]
    packets, start, size = [], _HEADER.size + len(lacing), 0
    for value in lacing:
        size += value
        if value < 255:
            packets.append(page[start:start + size])
            start, size = start + size, 0
    return packets


def _header_page(serial: int, seq: int, packets: list) -> bytes:
    lacing = bytearray()
    for packet in packets:
        lacing += b"\xff" * (len(packet) // 255) + bytes([len(packet) % 255])
    page = bytearray(_HEADER.pack(b"OggS", 0, 0, 0, serial, seq, 0, len(lacing)))
    return _sealed(page + lacing + b"".join(packets))


def _retitled(packet: bytes, title: str) -> bytes:
    """The comment header (Vorbis or Opus) with the encoder's vendor and this title."""
    magic = b"\x03vorbis" if packet.startswith(b"\x03vorbis") else b"OpusTags"
    vendor_end = len(magic) + 4 + struct.unpack_from("<I", packet, len(magic))[0]
    comments = [f"TITLE={title}".encode(), f"ARTIST={ARTIST}".encode()]
    body = b"".join(struct.pack("<I", len(text)) + text for text in comments)
    framing = b"\x01" if magic == b"\x03vorbis" else b""
    return packet[:vendor_end] + struct.pack("<I", len(comments)) + body + framing


class ChainReader:
    """An endless chain of links of link_s seconds, titles rotating; read() as files do."""

    HEADER_PAGES = 2  # identification, then comments (with Vorbis's setup header)

    def __init__(self, data: bytes, link_s: int, titles: list):
        pages = split_pages(data)
        ident = _packets(pages[0])[0]
        # Opus counts its granules at 48 kHz whatever the source's rate.
        rate_hz = struct.unpack_from("<I", ident, 12)[0] if ident[:1] == b"\x01" else 48000
        # Pages hold half a second or so: the cut is the page that ends nearest link_s and
        # closes its last packet, with one page of sound at least.
        end = link_s * rate_hz + rate_hz // 4
        last = max([self.HEADER_PAGES] + [i for i, page in enumerate(pages)
                                          if 0 <= _granule(page) <= end
                                          and not _ends_open(page)])
        self._pages = pages[:last + 1]
        self._titles = titles
        self._links = 0
        first = self._next_link()
        self.header_bytes = sum(len(page) for page in first[:self.HEADER_PAGES])
        link_ms = _granule(self._pages[-1]) * 1000 // rate_hz
        # Rounded up: a server a little ahead of real time is harmless, one behind starves.
        self.kbps = -(-sum(map(len, first)) * 8 // max(1, link_ms))
        self._buffer = memoryview(b"".join(first))

    def _next_link(self) -> list:
        title = self._titles[self._links % len(self._titles)]
        serial = (SERIAL_BASE + self._links) & 0xFFFFFFFF
        self._links += 1
        comments, *setup = _packets(self._pages[1])
        out = []
        for seq, page in enumerate(self._pages):
            if seq == 1:
                out.append(_header_page(serial, seq, [_retitled(comments, title), *setup]))
                continue
            page = bytearray(page)
            struct.pack_into("<I", page, 14, serial)
            if seq == len(self._pages) - 1:
                page[5] |= _EOS_FLAG
            out.append(_sealed(page))
        return out

    def read(self, size: int):
        if not self._buffer:
            self._buffer = memoryview(b"".join(self._next_link()))
        chunk, self._buffer = self._buffer[:size], self._buffer[size:]
        return chunk
