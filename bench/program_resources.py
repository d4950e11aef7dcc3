#!/usr/bin/python3
"""Memory and CPU of the whole program while it plays 20 s of a 320 kbit/s MP3 from the
loopback, next to `mpv --no-video` and the headless engine probe on the same URL, all playing
into one private PulseAudio null sink.

Run: bench/program_resources.py BUILD_DIR [--seconds 20]   (Debian's python3)
"""

import argparse
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tools"))

from velmora_rig.memory import status_kib  # noqa: E402
from velmora_rig.program import STOP, Program  # noqa: E402
from velmora_rig.session import Paths, Session  # noqa: E402

ROUTE = "/tone320.mp3"
ONSET_TIMEOUT_S = 15.0
SAMPLE_INTERVAL_S = 0.25
TICKS_PER_S = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS_PER_S  # utime + stime


def measure(pid, seconds):
    """(CPU % of one core, mean RSS MiB, peak RSS MiB) over the next `seconds`."""
    start_cpu, start = cpu_seconds(pid), time.monotonic()
    rss = []
    while time.monotonic() - start < seconds:
        rss.append(status_kib(pid)["VmRSS"])
        time.sleep(SAMPLE_INTERVAL_S)
    cpu = (cpu_seconds(pid) - start_cpu) / (time.monotonic() - start) * 100
    peak = status_kib(pid)["VmHWM"]
    return cpu, sum(rss) / len(rss) / 1024, peak / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--seconds", type=float, default=20.0)
    args = parser.parse_args()
    paths = Paths.from_build(SOURCE, os.path.abspath(args.build_dir))

    rows = []
    with Session(paths) as session:
        url = session.streams.url(ROUTE)
        sound = session.sound

        program = Program(session).launch()
        program.replace_url(url)
        before = sound.position()
        program.press_enter()
        sound.wait_for_onset(before, ONSET_TIMEOUT_S)
        rows.append(("velmora (whole program)", measure(program.process.pid, args.seconds)))
        program.click_button(STOP)

        peers = [("velmora-probe", [paths.probe, url])]
        if shutil.which("mpv"):
            peers.append(("mpv --no-video", ["mpv", "--no-video", "--no-config",
                                             "--really-quiet", url]))
        for name, argv in peers:
            sound.wait_for_silence(sound.position(), ONSET_TIMEOUT_S)
            before = sound.position()
            child = session.processes.start(name.split()[0], argv, env=session.env)
            try:
                sound.wait_for_onset(before, ONSET_TIMEOUT_S)
                rows.append((name, measure(child.pid, args.seconds)))
            finally:
                session.processes.stop(child)

    print(f"playing {ROUTE} (320 kbit/s) for {args.seconds:.0f} s")
    print(f"{'player':<26}{'CPU %':>8}{'RSS mean MiB':>14}{'RSS peak MiB':>14}")
    for name, (cpu, mean, peak) in rows:
        print(f"{name:<26}{cpu:>8.1f}{mean:>14.1f}{peak:>14.1f}")
    ours = rows[0][1]
    for name, theirs in rows[1:]:
        print(f"ratio velmora/{name}: CPU {ours[0] / max(theirs[0], 0.01):.2f}, "
              f"RSS {ours[1] / theirs[1]:.2f}")


if __name__ == "__main__":
    main()
