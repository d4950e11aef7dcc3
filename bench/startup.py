#!/usr/bin/python3
"""Start-up of the whole program: launch → main window mapped → main window painted, with RSS
at idle, next to mpv opening its own idle window, in the same private X display.

Run: bench/startup.py BUILD_DIR [--runs 10]   (Debian's python3: it needs python3-xlib)
"""

import argparse
import os
import shutil
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tools"))

from velmora_rig.session import Paths, Session  # noqa: E402
from velmora_rig.waiting import wait_until  # noqa: E402

WINDOW_TIMEOUT_S = 20.0
POLL_S = 0.001
IDLE_SETTLE_S = 2.0
GOAL_WINDOW_MS = 250.0
MAIN_TITLE = "Velmora网络音乐播放器BY TELVARO"
# A painted window shows its background, text and control borders: many colours.
PAINTED_MIN_COLOURS = 4


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def launch_once(session, name, argv, env, title):
    """(ms to mapped, ms to painted, idle RSS KiB) of one start."""
    x = session.x
    start = time.monotonic()
    child = session.processes.start(name, argv, env=env)

    def mapped():
        for xid, window_title in x.windows_of(child.pid).items():
            if title is None or window_title == title:
                return xid
        return None
    try:
        xid = wait_until(mapped, WINDOW_TIMEOUT_S, f"{name}'s window", POLL_S)
        mapped_ms = (time.monotonic() - start) * 1000
        wait_until(lambda: x.distinct_colours(xid) >= PAINTED_MIN_COLOURS, WINDOW_TIMEOUT_S,
                   f"{name}'s window painted", POLL_S)
        painted_ms = (time.monotonic() - start) * 1000
        time.sleep(IDLE_SETTLE_S)
        rss = rss_kib(child.pid)
    finally:
        session.processes.stop(child)
    return mapped_ms, painted_ms, rss


def median_run(session, name, argv, env, title, runs):
    launch_once(session, name, argv, env, title)  # warms the caches
    samples = [launch_once(session, name, argv, env, title) for _ in range(runs)]
    return tuple(statistics.median(column) for column in zip(*samples))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--runs", type=int, default=10)
    args = parser.parse_args()
    paths = Paths.from_build(SOURCE, os.path.abspath(args.build_dir))

    with Session(paths) as session:
        env = dict(session.env, QT_QPA_PLATFORM="xcb")
        rows = [("velmora", median_run(session, "velmora", [paths.program], env, MAIN_TITLE,
                                       args.runs))]
        if shutil.which("mpv"):
            mpv = ["mpv", "--idle=yes", "--force-window=immediate", "--vo=x11",
                   "--no-config", "--really-quiet"]
            rows.append(("mpv (idle window)", median_run(session, "mpv", mpv, session.env, None,
                                                         args.runs)))

    print(f"start-up, median of {args.runs} warm starts")
    print(f"{'player':<20}{'mapped ms':>11}{'painted ms':>12}{'idle RSS MiB':>14}")
    for name, (mapped_ms, painted_ms, rss) in rows:
        print(f"{name:<20}{mapped_ms:>11.0f}{painted_ms:>12.0f}{rss / 1024:>14.1f}")
    ours = rows[0][1]
    for name, theirs in rows[1:]:
        print(f"ratio velmora/{name}: painted {ours[1] / theirs[1]:.2f}, "
              f"RSS {ours[2] / theirs[2]:.2f}")
    verdict = "meets" if ours[1] <= GOAL_WINDOW_MS else "misses"
    print(f"goal: window painted within {GOAL_WINDOW_MS:.0f} ms: {verdict}")


if __name__ == "__main__":
    main()
