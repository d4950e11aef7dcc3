#!/usr/bin/env python3
"""Time from launch to the first sound at the sound server, for Velmora's probe and its peers.

Every player plays the same loopback URLs into a private PulseAudio null sink whose monitor is
recorded; the figure is the time from starting the player's process to the first non-silent
sample the sound server rendered. Afterwards each player plays the steadily paced stream for a
while and the recording is searched for gaps.
"""

import argparse
import os
import sys
import time
import urllib.request
from dataclasses import dataclass

import harness
import players
from velmora_rig.recording import Recording

POLL_S = 0.002
QUIET_WINDOW_S = 0.1
QUIET_TIMEOUT_S = 5.0
MIN_GAP_MS = 20.0


@dataclass(frozen=True)
class Case:
    key: str
    title: str
    path: str
    goal_ms: int = None  # for the probe
    beats: str = None  # the peer the probe must start sooner than


CASES = (
    Case("full", "full speed (file with Content-Length and Range)", "/tone.mp3", 30),
    Case("paced", "paced at 128 kbit/s, no burst (live)", "/live", beats="mpg123"),
    Case("burst", "paced after a 64 KB burst, as Icecast sends (live)", "/live?burst=65536", 30),
    Case("delay", "paced, 200 ms before the first byte (live)", "/live?delay_ms=200"),
    Case("pls", "the file through a station's PLS naming it", "/list/station.pls"),
)
# What reading a playlist first may add to the direct file's first sound, besides the round
# trip of fetching it.
PLAYLIST_ALLOWANCE_MS = 30
ROUND_TRIPS = 20


def wait_quiet(recorder: Recording) -> None:
    deadline = time.monotonic() + QUIET_TIMEOUT_S
    while time.monotonic() < deadline:
        if recorder.is_quiet_since(recorder.frame_at(time.monotonic() - QUIET_WINDOW_S)):
            return
        time.sleep(QUIET_WINDOW_S / 4)
    print("note: the sink did not fall quiet between runs", file=sys.stderr)


def probe_log(sound, player):
    return os.path.join(sound.dir, "probe-events.jsonl") if player.is_probe else None


def play_until_sound(sound, recorder, player, url, timeout_s, play_s):
    """Launches the player; returns (process, launch time, first loud frame or None)."""
    wait_quiet(recorder)
    proc, launched_s = harness.launch(sound, player, url, seconds=timeout_s + play_s + 5,
                                      log_path=probe_log(sound, player))
    start_frame = recorder.frame_at(launched_s)
    deadline = launched_s + timeout_s
    while time.monotonic() < deadline:
        first = recorder.first_sound_after(start_frame)
        if first is not None:
            return proc, launched_s, first
        if proc.poll() is not None:
            break
        time.sleep(POLL_S)
    return proc, launched_s, recorder.first_sound_after(start_frame)


def first_sound_ms(sound, recorder, player, url, timeout_s, said_playing):
    """ms from launch to the first sound, or None; the probe's own "playing" time goes to
    said_playing, to show how long the sound took to follow it."""
    proc, launched_s, first = play_until_sound(sound, recorder, player, url, timeout_s, 0)
    harness.stop(proc)
    if player.is_probe:
        said_playing.append(harness.first_event_ms(probe_log(sound, player), harness.PLAYING_STATE))
    if first is None:
        if player.is_probe:
            print(f"note: {player.name} made no sound on {url}; its last event: "
                  f"{harness.last_line(probe_log(sound, player))}")
        return None
    return (recorder.time_of(first) - launched_s) * 1000


def gap_check(sound, recorder, player, url, timeout_s, play_s):
    """Plays play_s seconds past the first sound; returns the quiet runs found, or None."""
    proc, _, first = play_until_sound(sound, recorder, player, url, timeout_s, play_s)
    if first is None:
        harness.stop(proc)
        return None
    end_s = recorder.time_of(first) + play_s
    while time.monotonic() < end_s and proc.poll() is None:
        time.sleep(min(0.1, max(0.0, end_s - time.monotonic())))
    end_frame = recorder.frame_at(min(end_s, time.monotonic()))
    harness.stop(proc)
    wait_quiet(recorder)
    return recorder.gaps(first, end_frame, MIN_GAP_MS)


def report_case(case, results, probe_name):
    print(f"\n{case.title}: {case.path}")
    medians = {name: harness.median([v for v in runs if v is not None])
               for name, runs in results.items() if any(v is not None for v in runs)}
    peer_medians = [m for name, m in medians.items() if players.is_peer(name, probe_name)]
    best = min(peer_medians) if peer_medians else None
    print(f"  {'player':<10} {'median ms':>10} {'vs best peer':>13}   runs (ms)")
    for name, runs in results.items():
        value = medians.get(name)
        shown = "failed" if value is None else f"{value:.0f}"
        runs_text = " ".join("-" if v is None else f"{v:.0f}" for v in runs)
        print(f"  {name:<10} {shown:>10} {harness.ratio_text(value, best):>13}   {runs_text}")
    if case.goal_ms is not None and probe_name in results:
        value = medians.get(probe_name)
        verdict = "met" if value is not None and value <= case.goal_ms else "missed"
        print(f"  goal for {probe_name}: <= {case.goal_ms} ms: {verdict}")
    for floor in players.FLOORS:
        if floor in medians and probe_name in medians:
            print(f"  {probe_name} against the stack's own floor ({floor}): "
                  f"{medians[probe_name] - medians[floor]:+.0f} ms")
    if case.beats in medians and probe_name in medians:
        verdict = "met" if medians[probe_name] < medians[case.beats] else "missed"
        print(f"  goal for {probe_name}: sooner than {case.beats}: {verdict}")
    return {"path": case.path, "runs_ms": results, "median_ms": medians, "best_peer_ms": best}


def round_trip_ms(url):
    """The median time of fetching a small body from the stream server over loopback."""
    times = []
    for _ in range(ROUND_TRIPS):
        start = time.monotonic()
        with urllib.request.urlopen(url, timeout=5) as answer:
            answer.read()
        times.append((time.monotonic() - start) * 1000)
    return harness.median(times)


def report_playlist_cost(cases, probe_name, playlist_url):
    """What going through the PLS adds to the direct file, for every player that played both."""
    rtt = round_trip_ms(playlist_url)
    print(f"\nthrough the PLS vs the direct file (one loopback fetch of it: {rtt:.1f} ms):")
    added = {}
    for name, direct in cases["full"]["median_ms"].items():
        through = cases["pls"]["median_ms"].get(name)
        added[name] = None if through is None else through - direct
        print(f"  {name:<10} " + ("could not play the PLS" if through is None
                                  else f"{added[name]:+.0f} ms"))
    if added.get(probe_name) is not None:
        goal = rtt + PLAYLIST_ALLOWANCE_MS
        verdict = "met" if added[probe_name] <= goal else "missed"
        print(f"  goal for {probe_name}: <= +{goal:.0f} ms: {verdict}")
    return {"round_trip_ms": rtt, "added_ms": added}


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(harness.REPO_DIR, "build", "release"),
                        help="build folder holding bench/velmora-probe (default: %(default)s)")
    parser.add_argument("--runs", type=int, default=5, help="runs per player and case")
    parser.add_argument("--warmup", type=int, default=1,
                        help="uncounted runs per player and case first, to warm the caches")
    parser.add_argument("--timeout-s", type=float, default=20.0,
                        help="longest wait for the first sound of one run")
    parser.add_argument("--gap-play-s", type=float, default=10.0,
                        help="seconds of the paced stream searched for gaps (0: no gap check)")
    parser.add_argument("--players", help="comma-separated subset of: velmora,mpg123,mpv,vlc,"
                                          "gst-play,gst-mp3")
    parser.add_argument("--cases", help="comma-separated subset of: "
                                        + ",".join(case.key for case in CASES))
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--no-install", action="store_true",
                        help="do not install missing packages from bench/packages.txt")
    return parser.parse_args()


def main() -> int:
    args = parse_args()
    if not args.no_install:
        harness.install_packages()
    chosen = harness.available(
        players.select(args.build, args.players.split(",") if args.players else None))
    cases = [c for c in CASES if not args.cases or c.key in args.cases.split(",")]
    if not chosen or not cases:
        print("nothing to measure")
        return 1
    probe_name = players.probe(args.build).name

    report = {"cases": {}, "gaps": {}}
    with harness.rig(args.build) as (sound, stream, recorder):
        for case in cases:
            results = {player.name: [] for player in chosen}
            url = stream.url(case.path)
            for _ in range(args.warmup):
                for player in chosen:
                    first_sound_ms(sound, recorder, player, url, args.timeout_s, [])
            said_playing = []
            # Players take turns within each round, so a slow moment of the machine is shared.
            for _ in range(args.runs):
                for player in chosen:
                    value = first_sound_ms(sound, recorder, player, url, args.timeout_s,
                                           said_playing)
                    results[player.name].append(value)
            report["cases"][case.key] = report_case(case, results, probe_name)
            if said_playing:
                shown = " ".join("-" if t is None else str(t) for t in said_playing)
                print(f"  {probe_name} said it was playing at (ms): {shown}")
                report["cases"][case.key]["probe_said_playing_ms"] = said_playing
        if args.gap_play_s > 0:
            print(f"\ngaps (quiet >= {MIN_GAP_MS:.0f} ms) in {args.gap_play_s:.0f} s of "
                  "the paced stream after the first sound:")
            for player in chosen:
                gaps = gap_check(sound, recorder, player, stream.url("/live"),
                                 args.timeout_s, args.gap_play_s)
                report["gaps"][player.name] = gaps
                if gaps is None:
                    text = "no sound"
                elif not gaps:
                    text = "none"
                else:
                    text = ", ".join(f"{length:.0f} ms at {at:.0f} ms" for at, length in gaps)
                print(f"  {player.name:<10} {text}")
        if {"full", "pls"} <= report["cases"].keys():
            report["playlist"] = report_playlist_cost(report["cases"], probe_name,
                                                      stream.url("/list/station.pls"))
    harness.write_json(args.json, report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
