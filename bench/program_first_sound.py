#!/usr/bin/python3
"""First sound through the whole program: Enter in the URL box → the tone at the sound server,
next to the headless engine probe, mpg123, mpv and a hand-written GStreamer pipeline (gst-mp3:
the stack's own floor from a process launch) started on the same loopback URLs, and the sound
server's own floor (paplay of a local file). Everything plays into one private PulseAudio null
sink whose monitor is recorded; times are read off that recording.

Run: bench/program_first_sound.py BUILD_DIR [--runs 5]   (Debian's python3)
"""

import argparse
import os
import statistics
import sys
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tools"))

import players  # noqa: E402
from velmora_rig import tone  # noqa: E402
from velmora_rig.program import STOP, Program  # noqa: E402
from velmora_rig.session import Paths, Session  # noqa: E402

ONSET_TIMEOUT_S = 15.0
SILENCE_TIMEOUT_S = 5.0
# (label, route, goal): a file served at full speed and one paced as a radio server paces it
# after a head start, where the sound is due within GOAL_FAST_MS of Enter, and an endless live
# stream paced from its first byte, where it is due before mpg123's.
GOAL_FAST_MS = 30.0
ROUTES = [
    ("file, full speed", "/tone.mp3", "fast"),
    ("file, paced + burst", "/tone.mp3?kbps=128&burst=65536", "fast"),
    ("live stream", "/live", "before mpg123"),
]
PEER_NAMES = ("mpg123", "mpv", "gst-mp3")


def write_tone_wav(path, seconds=2.0):
    t = np.arange(int(seconds * tone.RATE_HZ)) / tone.RATE_HZ
    mono = (0.5 * 32767 * np.sin(2 * np.pi * tone.TONE_HZ * t)).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(tone.CHANNELS)
        w.setsampwidth(2)
        w.setframerate(tone.RATE_HZ)
        w.writeframes(np.repeat(mono, tone.CHANNELS).tobytes())


class Bench:
    def __init__(self, session):
        self.session = session
        self.sound = session.sound

    def quiet(self):
        self.sound.wait_for_silence(self.sound.position(), SILENCE_TIMEOUT_S)

    def time_process(self, name, argv):
        """ms from starting a player process to its first sound."""
        self.quiet()
        before = self.sound.position()
        child = self.session.processes.start(name, argv, env=self.session.env)
        try:
            onset = self.sound.wait_for_onset(before, ONSET_TIMEOUT_S)
        finally:
            self.session.processes.stop(child)
        return (onset - before) * 1000

    def time_program(self, program, url):
        """ms from Enter in the running program's URL box to its first sound."""
        self.quiet()
        program.replace_url(url)
        before = self.sound.position()
        self.session.x.tap_key_now("Return")
        try:
            onset = self.sound.wait_for_onset(before, ONSET_TIMEOUT_S)
        finally:
            program.click_button(STOP)
        return (onset - before) * 1000


def median_of(runs, measure):
    return statistics.median(measure() for _ in range(runs))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    paths = Paths.from_build(SOURCE, os.path.abspath(args.build_dir))

    with Session(paths) as session:
        bench = Bench(session)
        wav = os.path.join(session.work_dir, "tone.wav")
        write_tone_wav(wav)
        floor = median_of(args.runs, lambda: bench.time_process("paplay", ["paplay", wav]))
        program = Program(session).launch()
        peers = [peer for peer in players.PEERS
                 if peer.name in PEER_NAMES and peer.missing() is None]
        rows = []
        for label, route, goal in ROUTES:
            url = session.streams.url(route)
            row = {"velmora (Enter)": median_of(args.runs,
                                                lambda: bench.time_program(program, url))}
            row["velmora-probe"] = median_of(
                args.runs, lambda: bench.time_process("probe", [paths.probe, url]))
            for peer in peers:
                row[peer.name] = median_of(args.runs, lambda: bench.time_process(
                    peer.name, peer.argv(url, ONSET_TIMEOUT_S)))
            rows.append((label, goal, row))

    print(f"first sound, ms, median of {args.runs}; sound server floor (paplay): {floor:.0f} ms")
    names = list(rows[0][2])
    print(f"{'stream':<22}" + "".join(f"{name:>17}" for name in names))
    for label, _, row in rows:
        print(f"{label:<22}" + "".join(f"{row[name]:>17.0f}" for name in names))
    for label, goal, row in rows:
        ours = row["velmora (Enter)"]
        if goal == "fast":
            met = ours <= GOAL_FAST_MS
            print(f"goal [{label}]: from Enter within {GOAL_FAST_MS:.0f} ms: "
                  f"{'meets' if met else 'misses'} ({ours:.0f} ms)")
        elif "mpg123" in row:
            met = ours < row["mpg123"]
            print(f"goal [{label}]: from Enter before mpg123 from launch: "
                  f"{'meets' if met else 'misses'} ({ours:.0f} against {row['mpg123']:.0f} ms)")


if __name__ == "__main__":
    main()
