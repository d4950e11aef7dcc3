#!/usr/bin/env python3
"""The kinds of station listeners tune to, served on loopback, against Velmora and its peers.

A row passes for a player when it plays at least --seconds past its first sound with no quiet
run over 100 ms, and, where the row names a title and the player's output can be read for one,
shows that title. Every player plays into one private PulseAudio null sink whose monitor is
recorded. A row whose route this server does not offer is reported as such, not as a failure.

Run: bench/stations.py [--build DIR] [--rows a,b] [--players a,b] [--seconds 20]
"""

import argparse
import json
import os
import re
import subprocess
import sys
import time
import urllib.error
import urllib.parse
import urllib.request
from dataclasses import dataclass, replace

import harness
import players
from first_sound import wait_quiet

MAX_GAP_MS = 100.0
START_TIMEOUT_S = 20.0
POLL_S = 0.05


def icy(charset: str, *titles: str) -> str:
    query = [("charset", charset), ("title_every", "2")] + [("title", t) for t in titles]
    return "/live?" + urllib.parse.urlencode(query)


def ogg(codec: str) -> str:
    return "/live.ogg?codec=" + codec


@dataclass(frozen=True)
class Row:
    key: str
    what: str
    path: str
    title: str = None  # shown by a player that passes; None: no title is judged
    mp3: bool = True  # mpg123 plays MP3 only
    max_gap_ms: float = MAX_GAP_MS  # the longest quiet run a passing player leaves


ROWS = (
    Row("icy-utf8", "MP3, ICY titles in UTF-8", icy("utf-8", "Faye Wong - 红豆", "Björk - Jóga"),
        "Björk - Jóga"),
    Row("icy-latin1", "MP3, ICY titles in Latin-1", icy("latin1", "Café del Mar - Beyoncé"),
        "Café del Mar - Beyoncé"),
    Row("icy-cp1252", "MP3, ICY titles in Windows-1252", icy("cp1252", "Motörhead – Ace of Spades"),
        "Motörhead – Ace of Spades"),
    Row("icy-gbk", "MP3, ICY titles in GBK", icy("gbk", "周杰伦 - 晴天"), "周杰伦 - 晴天"),
    Row("icy-gb18030", "MP3, ICY titles in GB18030", icy("gb18030", "王菲 - 红豆"), "王菲 - 红豆"),
    Row("icy-big5", "MP3, ICY titles in Big5", icy("big5", "鄧麗君 - 月亮代表我的心"),
        "鄧麗君 - 月亮代表我的心"),
    Row("icy-cp1251", "MP3, ICY titles in Windows-1251", icy("cp1251", "Кино - Группа крови"),
        "Кино - Группа крови"),
    Row("icy-koi8r", "MP3, ICY titles in KOI8-R", icy("koi8-r", "Ария - Беспечный ангел"),
        "Ария - Беспечный ангел"),
    Row("icy-sjis", "MP3, ICY titles in Shift-JIS", icy("shift_jis", "宇多田ヒカル - First Love"),
        "宇多田ヒカル - First Love"),
    Row("aac-adts", "AAC-LC in ADTS, ICY title", "/live?source=aac&title=AAC+Radio+-+Tone",
        "AAC Radio - Tone", mp3=False),
    Row("ogg-vorbis", "Ogg Vorbis, a chain per song", ogg("vorbis"), "Vorbis song 2", mp3=False),
    Row("ogg-opus", "Ogg Opus, a chain per song", ogg("opus"), "Opus song 2", mp3=False),
    Row("ogg-flac", "Ogg FLAC, a chain per song", ogg("flac"), "FLAC song 2", mp3=False),
    Row("ogg-mixed", "Ogg, the codec changing at every song", ogg("mixed"), "Vorbis song 2",
        mp3=False),
    Row("ogg-rates", "Ogg, the sample rate or channels changing at songs", ogg("rates"),
        "FLAC song 4, mono", mp3=False),
    Row("hls", "live HLS (MP3 in MPEG-TS segments, a rolling window)", "/hls/rolling.m3u8", None,
        mp3=False),
    Row("icy-euckr", "MP3, ICY titles in EUC-KR", icy("euc-kr", "아이유 - 좋은 날"),
        "아이유 - 좋은 날"),
    Row("name-gbk", "a station name (icy-name) in GBK",
        icy("gbk") + "&name=" + urllib.parse.quote("中国之声")),
    Row("pls", "a PLS whose first entry is refused", "/list/pls"),
    Row("m3u", "an M3U with a relative entry", "/list/m3u"),
    Row("xspf", "an XSPF playlist", "/list/xspf"),
    Row("asx", "an ASX playlist with a bare &", "/list/asx"),
    Row("xspf-latin2", "an XSPF playlist declaring ISO-8859-2",
        "/list/xspf?encoding=iso-8859-2&title=Radio+%C5%81%C3%B3d%C5%BA"),
    Row("asx-utf16", "an ASX playlist in UTF-16, as Windows writes them",
        "/list/asx?encoding=utf-16"),
    # Gone for 1.5 s with nothing sent ahead: no buffer a paced stream can build bridges that, so
    # the row asks for sound again within half a second of the mount's return.
    Row("restart", "a station whose source restarts (404 for 1.5 s)",
        "/live?drop_after=96000&session={listener}&gone_ms=1500", max_gap_ms=2000.0),
    # Icecast sends a newcomer the last 64 KB at once; some servers send nothing ahead.
    Row("song-cut", "a server that closes at every song change (with Icecast's burst)",
        "/live?drop_after=160000&burst=65536"),
    Row("song-cut-paced", "a server that closes at every song change, nothing sent ahead",
        "/live?drop_after=160000"),
    Row("paced", "sent in real time from the first byte: no burst, no bitrate announced",
        "/live?br=0"),
    Row("paced-jitter", "the same through a network that delays chunks by up to 60 ms",
        "/live?br=0&jitter_ms=60"),
    Row("slow-start", "a very slow start (3 s before the first byte)", "/live?delay_ms=3000"),
)


def peer_variant(player):
    """Each peer told to print what it shows of the stream, where its output can be read."""
    if player.name == "mpv":
        args = tuple(a for a in player.args if a != "--really-quiet")
        return replace(player, args=args + ("--msg-level=all=no,display-tags=info",))
    if player.name == "gst-play":
        return replace(player, args=tuple(a for a in player.args if a != "-q") + ("-v",))
    return player


def title_shown(player, log_text: str, title: str):
    """Whether the player's output shows the title; None when its output says nothing of it."""
    if player.is_probe:
        for line in log_text.splitlines():
            try:
                event = json.loads(line)
            except ValueError:
                continue
            if title in event.get("status", ""):
                return True
        return False
    if player.name == "mpv":
        return title in log_text
    if player.name == "gst-play":
        return title in gst_titles(log_text)
    return None


def gst_titles(log_text: str):
    """The titles in gst-play's printed tag lists, whose strings escape every byte over ASCII
    as a backslash and three octal digits."""
    found = []
    for quoted, bare in re.findall(r'title=\(string\)(?:"((?:[^"\\]|\\.)*)"|([^,;\s]+))',
                                   log_text):
        raw = quoted or bare
        data = re.sub(rb"\\([0-7]{3})|\\(.)",
                      lambda m: bytes([int(m[1], 8)]) if m[1] else m[2], raw.encode())
        found.append(data.decode("utf-8", "replace"))
    return found


def route_offered(url: str) -> bool:
    request = urllib.request.Request(url, method="HEAD")
    try:
        with urllib.request.urlopen(request, timeout=5):
            return True
    except urllib.error.HTTPError as error:
        return error.code != 404 and error.code != 400
    except OSError:
        return True  # a station that refuses at first is the row's business


def play_row(sound, recorder, player, url, seconds, log_path, max_gap_ms=MAX_GAP_MS):
    """Plays the row; returns (verdict text, passed)."""
    wait_quiet(recorder)
    argv = player.argv(url, START_TIMEOUT_S + seconds + 5)
    env = harness.player_env(sound, player)
    with open(log_path, "w") as log:
        launched_s = time.monotonic()
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT)
    try:
        start = recorder.frame_at(launched_s)
        first = None
        while time.monotonic() < launched_s + START_TIMEOUT_S and proc.poll() is None:
            first = recorder.first_sound_after(start)
            if first is not None:
                break
            time.sleep(POLL_S)
        if first is None:
            return "no sound", False
        end_s = recorder.time_of(first) + seconds
        while time.monotonic() < end_s and proc.poll() is None:
            time.sleep(POLL_S)
        end_frame = recorder.frame_at(min(end_s, time.monotonic()))
    finally:
        harness.stop(proc)
    played_s = (end_frame - first) / 44100
    gaps = recorder.gaps(first, end_frame, max_gap_ms)
    if played_s < seconds - 0.5:
        return f"stopped after {played_s:.1f} s", False
    if gaps:
        longest = max(length for _, length in gaps)
        return f"{len(gaps)} gap(s), longest {longest:.0f} ms", False
    return "ok", True


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(harness.REPO_DIR, "build", "release"))
    parser.add_argument("--rows", help="comma-separated subset of: "
                                       + ",".join(row.key for row in ROWS))
    parser.add_argument("--players", help="comma-separated subset of: velmora,mpg123,mpv,vlc,"
                                          "gst-play")
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--json", help="also write the table to this file")
    parser.add_argument("--no-install", action="store_true")
    return parser.parse_args()


def main() -> int:
    args = parse_args()
    if not args.no_install:
        harness.install_packages()
    names = args.players.split(",") if args.players else None
    chosen = [peer_variant(p) for p in harness.available(players.select(args.build, names))
              if p.name not in players.FLOORS]
    rows = [row for row in ROWS if not args.rows or row.key in args.rows.split(",")]
    table = {}
    with harness.rig(args.build) as (sound, stream, recorder):
        for row in rows:
            # A station's faults follow each listener's own connections.
            url = stream.url(row.path.replace("{listener}", f"{time.monotonic_ns()}"))
            print(f"\n{row.key}: {row.what}\n  {row.path}", flush=True)
            if not route_offered(url):
                print("  not offered by this stream server")
                continue
            table[row.key] = {}
            for player in chosen:
                if player.name == "mpg123" and not row.mp3:
                    continue
                log_path = os.path.join(sound.dir, f"stations-{player.name}.log")
                listener = f"{player.name}-{time.monotonic_ns()}"
                url = stream.url(row.path.replace("{listener}", listener))
                verdict, passed = play_row(sound, recorder, player, url, args.seconds, log_path,
                                           row.max_gap_ms)
                if passed and row.title:
                    with open(log_path, errors="replace") as log:
                        shown = title_shown(player, log.read(), row.title)
                    if shown is False:
                        verdict, passed = "wrong or no title", False
                    elif shown is None:
                        verdict = "ok (title not readable)"
                table[row.key][player.name] = passed
                print(f"  {player.name:<10} {'pass' if passed else 'FAIL'}  {verdict}", flush=True)
    print("\npasses per player:")
    for player in chosen:
        results = [r[player.name] for r in table.values() if player.name in r]
        failed = [key for key, r in table.items() if r.get(player.name) is False]
        print(f"  {player.name:<10} {sum(results)}/{len(results)}"
              + (f"   failed: {', '.join(failed)}" if failed else ""))
    harness.write_json(args.json, table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
