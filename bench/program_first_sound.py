#!/usr/bin/python3
"""First sound through the whole program: Enter in the URL box → the tone at the sound server,
next to the headless engine probe and `mpv --no-video` started on the same loopback URLs, and
the sound server's own floor (paplay of a local file). Everything plays into one private
PulseAudio null sink whose monitor is recorded; times are read off that recording.

Run: bench/program_first_sound.py BUILD_DIR [--runs 5]   (Debian's python3)
"""

import argparse
import os
import shutil
import statistics
import sys
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tools"))

from velmora_rig import tone  # noqa: E402
from velmora_rig.program import Program  # noqa: E402
from velmora_rig.session import Paths, Session  # noqa: E402

ONSET_TIMEOUT_S = 15.0
SILENCE_TIMEOUT_S = 5.0
GOAL_ABOVE_FLOOR_MS = 150.0
# (label, route): a file served at full speed, one paced as a radio server paces it after a
# head start, and an endless live stream.
ROUTES = [
    ("file, full speed", "/tone.mp3"),
    ("file, paced + burst", "/tone.mp3?kbps=128&burst=65536"),
    ("live stream", "/live"),
]


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
            program.click_button("停止")
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
        rows = []
        for label, route in ROUTES:
            url = session.streams.url(route)
            row = {"velmora (Enter)": median_of(args.runs,
                                                lambda: bench.time_program(program, url))}
            row["velmora-probe"] = median_of(
                args.runs, lambda: bench.time_process("probe", [paths.probe, url]))
            if shutil.which("mpv"):
                row["mpv --no-video"] = median_of(args.runs, lambda: bench.time_process(
                    "mpv", ["mpv", "--no-video", "--no-config", "--really-quiet", url]))
            rows.append((label, row))

    print(f"first sound, ms, median of {args.runs}; sound server floor (paplay): {floor:.0f} ms")
    players = list(rows[0][1])
    print(f"{'stream':<22}" + "".join(f"{name:>18}" for name in players) + f"{'ours/mpv':>10}")
    for label, row in rows:
        ratio = row["velmora (Enter)"] / row["mpv --no-video"] if "mpv --no-video" in row else 0
        print(f"{label:<22}" + "".join(f"{row[name]:>18.0f}" for name in players) +
              f"{ratio:>10.2f}")
    for label, row in rows:
        ours = row["velmora (Enter)"]
        within = ours - floor <= GOAL_ABOVE_FLOOR_MS
        not_later = ours <= row.get("mpv --no-video", float("inf"))
        print(f"goal [{label}]: within {GOAL_ABOVE_FLOOR_MS:.0f} ms of the floor: "
              f"{'meets' if within else 'misses'}; no later than mpv: "
              f"{'meets' if not_later else 'misses'}")


if __name__ == "__main__":
    main()
