"""ICY (Shoutcast/Icecast) in-band metadata, as radio servers interleave it with the audio."""

ICY_BLOCK_UNIT = 16
ICY_MAX_BLOCKS = 255


def metadata_block(title, charset: str) -> bytes:
    """One metadata block: a length byte in 16-byte units, then the padded text.

    None gives the empty block (a single zero byte) that means "no change". Like Icecast, the
    title goes out unescaped; a title that does not fit one block is cut.
    """
    if title is None:
        return b"\0"
    text = f"StreamTitle='{title}';StreamUrl='';".encode(charset, errors="replace")
    text = text[:ICY_BLOCK_UNIT * ICY_MAX_BLOCKS]
    units = -(-len(text) // ICY_BLOCK_UNIT)
    return bytes([units]) + text.ljust(units * ICY_BLOCK_UNIT, b"\0")


class IcyWriter:
    """Writes audio to out, with a metadata block after every metaint bytes of audio.

    titles rotate one step every title_every blocks; a title goes out only when it changes,
    unless repeat is set, in which case every block carries it.
    """

    def __init__(self, out, metaint: int, titles, charset: str, title_every: int, repeat: bool):
        self._out = out
        self._metaint = metaint
        self._until_block = metaint
        self._titles = list(titles)
        self._charset = charset
        self._title_every = title_every
        self._repeat = repeat
        self._blocks_sent = 0
        self._last_title = None

    def write(self, data: bytes) -> None:
        view = memoryview(data)
        while view:
            take = min(len(view), self._until_block)
            self._out.write(view[:take])
            view = view[take:]
            self._until_block -= take
            if self._until_block == 0:
                self._out.write(self._next_block())
                self._until_block = self._metaint

    def _next_block(self) -> bytes:
        title = self._titles[(self._blocks_sent // self._title_every) % len(self._titles)]
        self._blocks_sent += 1
        if title == self._last_title and not self._repeat:
            return metadata_block(None, self._charset)
        self._last_title = title
        return metadata_block(title, self._charset)
