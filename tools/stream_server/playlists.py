"""Playlist routes of the loopback stream server, as radio stations publish them.

Every kind is served under a name with no extension and, unless mime= says otherwise, with a
wrong type (text/plain): a player has to know a playlist by its content. HLS has a module
of its own, hls.py.
"""

import random

ROUTES_HELP = """\
  /list/KIND             a playlist, text/plain unless mime=TYPE; KIND is one of
                         pls (first entry refused, then /tone.mp3), m3u (a relative entry),
                         xspf, asx (a bare & in an href), asxini, urilist, local (only local
                         paths, devices and fd://), station (a PLS naming
                         /tone.mp3 alone), nested (a PLS naming /list/m3u), relative
                         (an M3U naming m3u: right only against /list/), self (a PLS
                         naming itself), empty, dead (count=N entries, all 404), huge
                         (a 10 MiB PLS), garbage (random bytes), rotating (a PLS
                         whose entry is refused on the first fetch of session=K only);
                         any extension may follow KIND; xspf and asx take title=T and
                         encoding=E (declared in the XML; utf-16: with a byte-order mark)
"""

STATION_TITLE = "Loopback Radio"
MAX_DEAD_ENTRIES = 100_000
HUGE_BYTES = 10 << 20

_FIXTURES = {
    "pls": "[playlist]\r\nNumberOfEntries=2\r\nFile1={dead}\r\nTitle1=Dead\r\n"
           "File2={base}/tone.mp3\r\nTitle2=" + STATION_TITLE + "\r\n",
    "m3u": "#EXTM3U\n# a comment, then a blank line\n\n#EXTINF:-1," + STATION_TITLE +
           "\n../tone.mp3\n",
    "xspf": '<?xml version="1.0" encoding="UTF-8"?>\n<playlist version="1" '
            'xmlns="http://xspf.org/ns/0/"><trackList><track><title>' + STATION_TITLE +
            "</title><location>{base}/tone.mp3</location></track></trackList></playlist>\n",
    "asx": '<ASX VERSION="3.0"><ENTRY><TITLE>' + STATION_TITLE +
           '</TITLE><REF HREF="{base}/tone.mp3?station=1&listener=2"/></ENTRY></ASX>\n',
    "station": "[playlist]\nNumberOfEntries=1\nFile1={base}/tone.mp3\nTitle1=" + STATION_TITLE +
               "\n",
    "asxini": "[Reference]\r\nRef1={base}/tone.mp3\r\n",
    "urilist": "# from a text/uri-list\r\n{base}/tone.mp3\r\n",
    "local": "#EXTM3U\n/etc/passwd\nfile:///dev/zero\nfd://0\nC:\\Music\\a.mp3\n",
    "nested": "[playlist]\nFile1={base}/list/m3u\n",
    "relative": "#EXTM3U\nm3u\n",
    "self": "[playlist]\nFile1={base}/list/self\n",
    "empty": "[playlist]\nNumberOfEntries=0\n",
}


def serve(handler, path: str, query, head: bool, closed_port) -> bool:
    """Answers a playlist route; False when the path is none of them. closed_port() finds a
    port nothing listens on, for the entries that must fail."""
    base = f"{handler.server.scheme}://127.0.0.1:{handler.server.port}"
    if path.startswith("/list/"):
        kind = path[len("/list/"):].split(".")[0]  # any extension, or none
        mime = query.text("mime", "text/plain")
        if kind == "dead":
            count = query.number("count", 10, low=1, high=MAX_DEAD_ENTRIES)
            # Short relative names, so that 10,000 of them stay under a player's size limit.
            body = "#EXTM3U\n" + "".join(f"x{i}.mp3\n" for i in range(count))
        elif kind == "huge":
            body = "[playlist]\n" + "Title1=" + "x" * HUGE_BYTES + "\n"
        elif kind == "garbage":
            body = bytes(random.Random(7).randrange(256) for _ in range(4096)).decode("latin-1")
        elif kind == "rotating":
            # As stations hand out tokenised entries: the first answer's entry has expired.
            first = handler.server.sessions.visit("rotating:" + query.text("session", "")) == 1
            entry = f"http://127.0.0.1:{closed_port()}/tone.mp3" if first else f"{base}/tone.mp3"
            body = f"[playlist]\nFile1={entry}\nTitle1={STATION_TITLE}\n"
        elif kind in _FIXTURES:
            dead = f"http://127.0.0.1:{closed_port()}/tone.mp3"
            body = _FIXTURES[kind].replace("{base}", base).replace("{dead}", dead)
        else:
            return False
        encoding = query.text("encoding") if kind in ("xspf", "asx") else None
        body = body.replace(STATION_TITLE, query.text("title", STATION_TITLE))
        if encoding is None:
            data = body.encode("latin-1" if kind == "garbage" else "utf-8")
        elif encoding.lower().replace("-", "") == "utf16":
            data = b"\xff\xfe" + body.encode("utf-16-le")
        else:
            declaration = f'<?xml version="1.0" encoding="{encoding}"?>\n'
            body = declaration + body.split("?>\n", 1)[-1] if kind == "xspf" else declaration + body
            try:
                data = body.encode(encoding, errors="replace")
            except LookupError:
                handler._plain(400, f"unknown encoding {encoding}\n", head)
                return True
        handler._body(200, mime, data, head)
        return True
    return False

