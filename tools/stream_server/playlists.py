"""Playlist routes of the loopback stream server, as radio stations publish them.

Every kind is served under a name with no extension and, unless mime= says otherwise, with a
wrong type (text/plain): a player has to know a playlist by its content. /hls/ serves an HLS
stream kept in the media folder, made on its first request.
"""

import os
import random
import tempfile

import media_cache

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
                         any extension may follow KIND
  /hls/live.m3u8         HLS of a 440 Hz tone (MP3 in MPEG-TS segments of about 2 s)
"""

STATION_TITLE = "Loopback Radio"
MAX_DEAD_ENTRIES = 100_000
HLS_SECONDS = 8
HLS_SEGMENT_S = 2
HUGE_BYTES = 10 << 20
TS_PACKET_BYTES = 188
TS_CLOCK_HZ = 90_000
MP3_FRAME_SAMPLES = 1152

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
        handler._body(200, mime, body.encode("latin-1" if kind == "garbage" else "utf-8"), head)
        return True
    if path.startswith("/hls/"):
        name = os.path.basename(path)
        if name != path[len("/hls/"):]:
            return False
        file = os.path.join(handler.server.media["hls"], name)
        if not os.path.isfile(file):
            return False
        with open(file, "rb") as data:
            mime = "application/vnd.apple.mpegurl" if name.endswith(".m3u8") else "video/mp2t"
            handler._body(200, mime, data.read(), head)
        return True
    return False


def _pes_pts(packet: bytes):
    """The presentation time of the PES that starts in this MPEG-TS packet, else None."""
    if not packet[1] & 0x40:
        return None
    start = 4 + (1 + packet[4] if packet[3] & 0x20 else 0)
    pes = packet[start:]
    if len(pes) < 14 or pes[:3] != b"\0\0\1" or not pes[7] & 0x80:
        return None
    return (((pes[9] >> 1) & 7) << 30 | pes[10] << 22 | (pes[11] >> 1) << 15 | pes[12] << 7
            | pes[13] >> 1)


def _cut_segments(stream: bytes) -> list:
    """Cuts one MPEG-TS file into (bytes, seconds) segments of about HLS_SEGMENT_S, each
    starting at a program table so that a player can join at any of them, as hlssink2 does."""
    cuts, last_pts, table_at = [], None, None
    for offset in range(0, len(stream), TS_PACKET_BYTES):
        packet = stream[offset:offset + TS_PACKET_BYTES]
        pid = (packet[1] & 0x1F) << 8 | packet[2]
        if pid == 0:
            table_at = offset if table_at is None else table_at
            continue
        pts = _pes_pts(packet)
        if pts is None:
            continue
        if table_at is not None and (not cuts or pts - cuts[-1][1] >= HLS_SEGMENT_S * TS_CLOCK_HZ):
            cuts.append((table_at, pts))
        table_at, last_pts = None, pts
    if not cuts:
        raise media_cache.MediaError("the MPEG-TS stream has no program table")
    end_pts = last_pts + MP3_FRAME_SAMPLES * TS_CLOCK_HZ // media_cache.SAMPLE_RATE_HZ
    bounds = cuts + [(len(stream), end_pts)]
    return [(stream[start:stop], (stop_pts - start_pts) / TS_CLOCK_HZ)
            for (start, start_pts), (stop, stop_pts) in zip(bounds, bounds[1:])]


def _write_hls(folder: str, stream: bytes) -> None:
    segments = _cut_segments(stream)
    lines = ["#EXTM3U", "#EXT-X-VERSION:3",
             f"#EXT-X-TARGETDURATION:{round(max(s for _, s in segments))}",
             "#EXT-X-MEDIA-SEQUENCE:0"]
    for index, (data, seconds) in enumerate(segments):
        name = f"seg{index:05d}.ts"
        with open(os.path.join(folder, name), "wb") as file:
            file.write(data)
        lines += [f"#EXTINF:{seconds:.3f},", name]
    with open(os.path.join(folder, "live.m3u8"), "w", encoding="utf-8") as playlist:
        playlist.write("\n".join(lines + ["#EXT-X-ENDLIST", ""]))


def ensure_hls(media_dir: str) -> str:
    """The folder of the HLS stream in media_dir, made first if it is missing (atomically, as
    media_cache makes its files). One MPEG-TS file is encoded and cut here: hlssink2 on
    GStreamer 1.22 often never ends."""
    final = os.path.join(media_dir, f"hls-ts-440hz-{HLS_SECONDS}s-cut{HLS_SEGMENT_S}s"
                                    f"-v{media_cache.RECIPE_VERSION}")
    if os.path.isfile(os.path.join(final, "live.m3u8")):
        return final
    os.makedirs(media_dir, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=media_dir, prefix=".making-") as work:
        stream_path = os.path.join(work, "live.ts")
        media_cache.run_encoder([
            "audiotestsrc", "wave=sine", "freq=440", "volume=0.5",
            f"num-buffers={HLS_SECONDS * 100}", "samplesperbuffer=441", "!",
            "audioconvert", "!", "lamemp3enc", "!", "mpegaudioparse", "!", "mpegtsmux", "!",
            "filesink", f"location={stream_path}"])
        with open(stream_path, "rb") as file:
            stream = file.read()
        folder = os.path.join(work, "hls")
        os.mkdir(folder)
        _write_hls(folder, stream)
        try:
            os.replace(folder, final)
        except OSError:
            if not os.path.isdir(final):  # else another server made it first
                raise
    return final
