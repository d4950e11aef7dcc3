#!/usr/bin/env python3
"""CPU time and peak memory of Velmora's probe and its peers playing 20 s of a 320 kbit/s file.

Each player streams the file from the loopback server into a private PulseAudio null sink; the
figures are the kernel's own accounting of the reaped process (user + system CPU, peak RSS).
The recording confirms that each run really produced sound.
"""

import argparse
import os
import signal
import sys
import time

import harness
import players

POLL_S = 0.05
EXIT_GRACE_S = 5.0
TONE_PATH = "/tone320.mp3"
WARMUP_SECONDS = 3.0


def run_once(sound, recorder, player, url, seconds):
    """Plays seconds of url; returns (cpu s, peak RSS MB, seconds of sound heard)."""
    proc, launched_s = harness.launch(sound, player, url, seconds)
    start_frame = recorder.frame_at(launched_s)
    # The probe ends by itself after --seconds; the peers are told to stop then.
    stop_at = launched_s + seconds + (EXIT_GRACE_S if player.is_probe else 0)
    status, usage = _wait(proc.pid, stop_at)
    if status is None:
        proc.send_signal(signal.SIGTERM)
        status, usage = _wait(proc.pid, time.monotonic() + EXIT_GRACE_S)
    if status is None:
        proc.kill()
        _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = status  # reaped here: Popen must not wait for it again
    heard = recorder.loud_seconds(start_frame, recorder.frame_at(time.monotonic()))
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024, heard


def _wait(pid, until_s):
    while time.monotonic() < until_s:
        reaped, status, usage = os.wait4(pid, os.WNOHANG)
        if reaped:
            return status, usage
        time.sleep(POLL_S)
    return None, None


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(harness.REPO_DIR, "build", "release"),
                        help="build folder holding bench/velmora-probe (default: %(default)s)")
    parser.add_argument("--runs", type=int, default=3, help="runs per player")
    parser.add_argument("--seconds", type=float, default=20.0, help="playing time of one run")
    parser.add_argument("--players", help="comma-separated subset of: velmora,mpg123,mpv,vlc,"
                                          "gst-play,gst-mp3")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--no-install", action="store_true",
                        help="do not install missing packages from bench/packages.txt")
    return parser.parse_args()


def report(results, probe_name):
    medians = {name: (harness.median([r[0] for r in runs]), harness.median([r[1] for r in runs]))
               for name, runs in results.items()}
    peers = {name: value for name, value in medians.items() if players.is_peer(name, probe_name)}
    best_cpu = min((cpu for cpu, _ in peers.values()), default=None)
    best_rss = min((rss for _, rss in peers.values()), default=None)
    print(f"\n{'player':<10} {'CPU s':>7} {'vs best':>8} {'peak RSS MB':>12} {'vs best':>8}"
          "   sound heard per run (s)")
    for name, (cpu, rss) in medians.items():
        heard = " ".join(f"{r[2]:.1f}" for r in results[name])
        print(f"{name:<10} {cpu:>7.2f} {harness.ratio_text(cpu, best_cpu):>8} {rss:>12.1f} "
              f"{harness.ratio_text(rss, best_rss):>8}   {heard}")
    if probe_name in medians:
        cpu, rss = medians[probe_name]
        if "gst-play" in medians:
            limit = 1.2 * medians["gst-play"][1]
            print(f"goal RSS <= 1.2 x gst-play ({limit:.1f} MB): "
                  f"{'met' if rss <= limit else 'missed'}")
        if "mpv" in medians:
            limit = medians["mpv"][0]
            print(f"goal CPU <= mpv ({limit:.2f} s): {'met' if cpu <= limit else 'missed'}")
    return {name: {"cpu_s": cpu, "peak_rss_mb": rss, "runs": results[name]}
            for name, (cpu, rss) in medians.items()}


def main() -> int:
    args = parse_args()
    if not args.no_install:
        harness.install_packages()
    chosen = harness.available(
        players.select(args.build, args.players.split(",") if args.players else None))
    if not chosen:
        print("nothing to measure")
        return 1
    results = {player.name: [] for player in chosen}
    with harness.rig(args.build) as (sound, stream, recorder):
        print(f"{args.seconds:.0f} s of {TONE_PATH} (320 kbit/s) over loopback HTTP, "
              f"median of {args.runs}")
        for player in chosen:
            # Uncounted: the first run in a fresh home builds caches (GStreamer's registry).
            run_once(sound, recorder, player, stream.url(TONE_PATH), WARMUP_SECONDS)
        for _ in range(args.runs):
            for player in chosen:
                results[player.name].append(
                    run_once(sound, recorder, player, stream.url(TONE_PATH), args.seconds))
    figures = report(results, players.probe(args.build).name)
    harness.write_json(args.json, figures)
    return 0


if __name__ == "__main__":
    sys.exit(main())
