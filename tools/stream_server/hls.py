"""HLS routes of the loopback stream server: a finished stream, and a live one that never ends.

One MPEG-TS file of the tone is encoded on the first HLS request and cut here into segments
of 2 s and of 1 s. /hls/live.m3u8 serves the 2 s cut once, with an end. /hls/rolling.m3u8 is
what a live packager publishes: a window of the newest few segments that slides on with the
wall clock, counted from the server's first rolling request, the cut segments taken over and
over so that it never ends. Each pass is served with its timestamps and continuity counters
moved on, so that the loop joins as an encoder that never stopped, unless restart=1 asks for
what a restarting encoder does: timestamps that start over, marked as a discontinuity. A
segment's URL names its sequence number; it is served while it is recent, as packagers keep a
segment a while after it left the window.
"""

import functools
import json
import os
import tempfile
import threading
import time

import media_cache

ROUTES_HELP = """\
  /hls/live.m3u8         HLS of a 440 Hz tone (MP3 in MPEG-TS segments of about 2 s), 8 s,
                         ended (EXT-X-ENDLIST)
  /hls/rolling.m3u8      live HLS of the same tone that never ends: a window of the newest
                         4 segments sliding on in real time, counted from the first request of
                         it; the 8 s of tone looped, its timestamps running on; segments
                         /hls/rolling/SEQ.ts (404 once old, or before their time)
                         segment=1|2    segment length in seconds (default 2)
                         restart=1      the timestamps start over at every loop, each time
                                        after an EXT-X-DISCONTINUITY, as an encoder restarting
                         freeze_after=N the window stops sliding after N new segments, but the
                                        playlist is still served, as from a stuck packager
"""

HLS_SECONDS = 8
SEGMENT_CUTS_S = (2, 1)
DEFAULT_SEGMENT_S = 2
WINDOW_SEGMENTS = 4
# How long a segment stays after it left the window, in windows.
KEPT_WINDOWS = 1
MAX_FREEZE_SEGMENTS = 1_000_000
TS_PACKET_BYTES = 188
TS_CLOCK_HZ = 90_000
TS_TIME_MODULO = 1 << 33
MP3_FRAME_SAMPLES = 1152
PLAYLIST_TYPE = "application/vnd.apple.mpegurl"
SEGMENT_TYPE = "video/mp2t"
INDEX_NAME = "segments.json"


class RollingClock:
    """When the rolling stream started: at its first request on this server, so that a player
    joining a fresh server always meets the window at its start."""

    def __init__(self):
        self._lock = threading.Lock()
        self._started = None

    def elapsed_s(self) -> float:
        with self._lock:
            now = time.monotonic()
            if self._started is None:
                self._started = now
            return now - self._started


def serve(handler, path: str, query, head: bool) -> bool:
    """Answers an HLS route; False when the path is none of them."""
    if not path.startswith("/hls/"):
        return False
    name = path[len("/hls/"):]
    if name == "rolling.m3u8":
        window = _Window(handler, query)
        handler._body(200, PLAYLIST_TYPE, window.playlist().encode(), head)
        return True
    if name.startswith("rolling/") and name.endswith(".ts"):
        sequence = name[len("rolling/"):-len(".ts")]
        if not sequence.isdigit():
            return False
        data = _Window(handler, query).segment(int(sequence))
        if data is None:
            handler._plain(404, "not a recent segment\n", head)
        else:
            handler._body(200, SEGMENT_TYPE, data, head)
        return True
    if "/" in name:
        return False
    file = os.path.join(handler.server.media["hls"], name)
    if not os.path.isfile(file):
        return False
    with open(file, "rb") as data:
        handler._body(200, PLAYLIST_TYPE if name.endswith(".m3u8") else SEGMENT_TYPE, data.read(),
                      head)
    return True


class _Window:
    """What the rolling playlist shows right now, for one request's options."""

    def __init__(self, handler, query):
        segment_s = query.number("segment", DEFAULT_SEGMENT_S, low=min(SEGMENT_CUTS_S),
                                 high=max(SEGMENT_CUTS_S))
        self._folder = handler.server.media["hls"]
        self._cut_key = str(segment_s)
        self._cut = _index(self._folder)[self._cut_key]
        advanced = self._published_since_start(handler.server.hls_clock.elapsed_s())
        freeze = query.number("freeze_after", None, high=MAX_FREEZE_SEGMENTS)
        if freeze is not None:
            advanced = min(advanced, freeze)
        self._restart = query.number("restart", 0, high=1) == 1
        self._query = handler.path.partition("?")[2]
        # Segments are numbered from 0; the first window already holds a full set.
        self.newest = WINDOW_SEGMENTS - 1 + advanced

    def _published_since_start(self, elapsed_s: float) -> int:
        """How many segments came after the first window: each one once its own length of
        sound has passed, as an encoder finishes it, so that the window keeps the pace of the
        sound however unequal the segments are."""
        loop_s = sum(seconds for _, seconds in self._cut)
        loops, left_s = divmod(elapsed_s, loop_s)
        published = int(loops) * len(self._cut)
        for step in range(len(self._cut)):
            left_s -= self._cut[(WINDOW_SEGMENTS + step) % len(self._cut)][1]
            if left_s < 0:
                break
            published += 1
        return published

    def playlist(self) -> str:
        first = self.newest - WINDOW_SEGMENTS + 1
        loop = len(self._cut)
        # Every wrap before the window's first segment is one discontinuity gone from it.
        lines = ["#EXTM3U", "#EXT-X-VERSION:3",
                 f"#EXT-X-TARGETDURATION:{round(max(s for _, s in self._cut))}",
                 f"#EXT-X-MEDIA-SEQUENCE:{first}"]
        if self._restart:
            lines.append(f"#EXT-X-DISCONTINUITY-SEQUENCE:{first // loop}")
        suffix = f"?{self._query}" if self._query else ""
        for sequence in range(first, self.newest + 1):
            if self._restart and sequence % loop == 0 and sequence > first:
                # The timestamps start over with the tone's first segment. Without the tag,
                # GStreamer 1.22's hlsdemux fetches on but playbin's sound stops at the wrap
                # (Velmora's came back after about two seconds).
                lines.append("#EXT-X-DISCONTINUITY")
            lines += [f"#EXTINF:{self._cut[sequence % loop][1]:.3f},",
                      f"rolling/{sequence}.ts{suffix}"]
        return "\n".join(lines + [""])

    def segment(self, sequence: int):
        """The segment's bytes, or None when it is no longer (or not yet) published."""
        oldest = self.newest - WINDOW_SEGMENTS * (1 + KEPT_WINDOWS) + 1
        if not max(0, oldest) <= sequence <= self.newest:
            return None
        passes, index = divmod(sequence, len(self._cut))
        with open(os.path.join(self._folder, self._cut[index][0]), "rb") as file:
            data = file.read()
        if self._restart or passes == 0:
            return data
        return _moved_on(data, passes, _loop_of(self._folder, self._cut_key))


@functools.lru_cache(maxsize=8)
def _loop_of(folder: str, cut_key: str):
    """What one pass of a cut spans: its length in clock ticks, and its packets with a
    payload by PID, each of which steps that PID's continuity counter."""
    cut, payloads = _index(folder)[cut_key], {}
    for name, _ in cut:
        with open(os.path.join(folder, name), "rb") as file:
            data = file.read()
        for offset in range(0, len(data), TS_PACKET_BYTES):
            if data[offset + 3] & 0x10:
                pid = (data[offset + 1] & 0x1F) << 8 | data[offset + 2]
                payloads[pid] = payloads.get(pid, 0) + 1
    return round(sum(seconds for _, seconds in cut) * TS_CLOCK_HZ), payloads


def _moved_on(data: bytes, passes: int, loop) -> bytes:
    """A segment as the given later pass of the loop: every clock reference, presentation and
    decoding time moved on by that many loops, every continuity counter stepped on as far."""
    ticks, payloads = loop
    shift = passes * ticks
    out = bytearray(data)
    for offset in range(0, len(out) - TS_PACKET_BYTES + 1, TS_PACKET_BYTES):
        pid = (out[offset + 1] & 0x1F) << 8 | out[offset + 2]
        control = out[offset + 3]
        if control & 0x10:
            counter = (control + passes * payloads.get(pid, 0)) & 0x0F
            out[offset + 3] = (control & 0xF0) | counter
        payload_at = offset + 4
        if control & 0x20:
            length = out[offset + 4]
            if length and out[offset + 5] & 0x10:  # a PCR
                _move_pcr(out, offset + 6, shift)
            payload_at += 1 + length
        pes = out[payload_at:payload_at + 9]
        if out[offset + 1] & 0x40 and len(pes) == 9 and pes[:3] == b"\0\0\1":
            if pes[7] & 0x80:
                _move_time(out, payload_at + 9, shift)
            if pes[7] & 0x40:
                _move_time(out, payload_at + 14, shift)
    return bytes(out)


def _move_time(out: bytearray, at: int, shift: int) -> None:
    """Moves the 33-bit PTS or DTS at out[at:at + 5] on, keeping its prefix and markers."""
    b = out[at:at + 5]
    value = ((b[0] >> 1) & 7) << 30 | b[1] << 22 | (b[2] >> 1) << 15 | b[3] << 7 | b[4] >> 1
    value = (value + shift) % TS_TIME_MODULO
    out[at:at + 5] = bytes([(b[0] & 0xF0) | (value >> 29 & 0x0E) | 1, value >> 22 & 0xFF,
                            (value >> 14 & 0xFE) | 1, value >> 7 & 0xFF,
                            (value << 1 & 0xFE) | 1])


def _move_pcr(out: bytearray, at: int, shift: int) -> None:
    """Moves the 33-bit base of the PCR at out[at:at + 6] on, keeping its extension."""
    b = out[at:at + 6]
    base = (b[0] << 25 | b[1] << 17 | b[2] << 9 | b[3] << 1 | b[4] >> 7) + shift
    base %= TS_TIME_MODULO
    out[at:at + 5] = bytes([base >> 25 & 0xFF, base >> 17 & 0xFF, base >> 9 & 0xFF,
                            base >> 1 & 0xFF, (base & 1) << 7 | (b[4] & 0x7F)])


def _index(folder: str) -> dict:
    """Each cut's (file name, seconds) segments by its length in seconds, as text."""
    with open(os.path.join(folder, INDEX_NAME), encoding="utf-8") as file:
        return json.load(file)


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


def _cut_segments(stream: bytes, segment_s: int) -> list:
    """Cuts one MPEG-TS file into (bytes, seconds) segments of about segment_s, each starting
    at a program table so that a player can join at any of them, as hlssink2 does."""
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
        if table_at is not None and (not cuts or pts - cuts[-1][1] >= segment_s * TS_CLOCK_HZ):
            cuts.append((table_at, pts))
        table_at, last_pts = None, pts
    if not cuts:
        raise media_cache.MediaError("the MPEG-TS stream has no program table")
    end_pts = last_pts + MP3_FRAME_SAMPLES * TS_CLOCK_HZ // media_cache.SAMPLE_RATE_HZ
    bounds = cuts + [(len(stream), end_pts)]
    return [(stream[start:stop], (stop_pts - start_pts) / TS_CLOCK_HZ)
            for (start, start_pts), (stop, stop_pts) in zip(bounds, bounds[1:])]


def _write_hls(folder: str, stream: bytes) -> None:
    index = {}
    for segment_s in SEGMENT_CUTS_S:
        segments = _cut_segments(stream, segment_s)
        index[str(segment_s)] = []
        for number, (data, seconds) in enumerate(segments):
            name = f"cut{segment_s}s-{number:05d}.ts"
            with open(os.path.join(folder, name), "wb") as file:
                file.write(data)
            index[str(segment_s)].append((name, seconds))
    with open(os.path.join(folder, INDEX_NAME), "w", encoding="utf-8") as file:
        json.dump(index, file)
    cut = index[str(DEFAULT_SEGMENT_S)]
    lines = ["#EXTM3U", "#EXT-X-VERSION:3",
             f"#EXT-X-TARGETDURATION:{round(max(s for _, s in cut))}",
             "#EXT-X-MEDIA-SEQUENCE:0"]
    for name, seconds in cut:
        lines += [f"#EXTINF:{seconds:.3f},", name]
    with open(os.path.join(folder, "live.m3u8"), "w", encoding="utf-8") as playlist:
        playlist.write("\n".join(lines + ["#EXT-X-ENDLIST", ""]))


def ensure_hls(media_dir: str) -> str:
    """The folder of the HLS stream in media_dir, made first if it is missing (atomically, as
    media_cache makes its files). One MPEG-TS file is encoded and cut here: hlssink2 on
    GStreamer 1.22 often never ends."""
    cuts = "-".join(f"{s}s" for s in SEGMENT_CUTS_S)
    final = os.path.join(media_dir, f"hls-ts-440hz-{HLS_SECONDS}s-cut{cuts}"
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
