#!/usr/bin/python3
"""Memory, CPU and wakeups of the whole program while it plays 20 s of a live station from the
loopback (128 kbit/s after a 64 KB burst, as Icecast sends), next to the headless engine probe,
`mpv --no-video`, gst-play-1.0 and mpg123 on the same URL, all playing into one private
PulseAudio null sink. Wakeups are context switches a second (voluntary and not, every thread);
for Velmora's two, also per thread, so that each wakeup has an owner.

Run: bench/program_resources.py BUILD_DIR [--seconds 20] [--route PATH]   (Debian's python3)
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

ROUTE = "/live?burst=65536"
ONSET_TIMEOUT_S = 15.0
SAMPLE_INTERVAL_S = 0.25
TICKS_PER_S = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS_PER_S  # utime + stime


def thread_switches(pid):
    """{thread name with its id: context switches so far} for every thread of the process."""
    counts = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                fields = dict(line.split(":", 1) for line in f if ":" in line)
        except OSError:
            continue  # the thread ended meanwhile
        counts[f"{name}/{tid}"] = (int(fields["voluntary_ctxt_switches"])
                                   + int(fields["nonvoluntary_ctxt_switches"]))
    return counts


def measure(pid, seconds):
    """(CPU % of one core, mean RSS MiB, peak RSS MiB, context switches a second,
    {thread: switches a second}) over the next `seconds`."""
    start_cpu, start = cpu_seconds(pid), time.monotonic()
    start_threads = thread_switches(pid)
    rss = []
    while time.monotonic() - start < seconds:
        rss.append(status_kib(pid)["VmRSS"])
        time.sleep(SAMPLE_INTERVAL_S)
    elapsed = time.monotonic() - start
    cpu = (cpu_seconds(pid) - start_cpu) / elapsed * 100
    end_threads = thread_switches(pid)
    per_thread = {name: (count - start_threads.get(name, 0)) / elapsed
                  for name, count in end_threads.items()}
    peak = status_kib(pid)["VmHWM"]
    return cpu, sum(rss) / len(rss) / 1024, peak / 1024, sum(per_thread.values()), per_thread


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--route", default=ROUTE, help="what to play (default: %(default)s)")
    args = parser.parse_args()
    paths = Paths.from_build(SOURCE, os.path.abspath(args.build_dir))

    rows = []
    with Session(paths) as session:
        url = session.streams.url(args.route)
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
        if shutil.which("gst-play-1.0"):
            peers.append(("gst-play-1.0", ["gst-play-1.0", "-q", "--no-interactive", url]))
        if shutil.which("mpg123"):
            peers.append(("mpg123", ["mpg123", "-q", url]))
        for name, argv in peers:
            sound.wait_for_silence(sound.position(), ONSET_TIMEOUT_S)
            before = sound.position()
            child = session.processes.start(name.split()[0], argv, env=session.env)
            try:
                sound.wait_for_onset(before, ONSET_TIMEOUT_S)
                rows.append((name, measure(child.pid, args.seconds)))
            finally:
                session.processes.stop(child)

    print(f"playing {args.route} for {args.seconds:.0f} s")
    print(f"{'player':<26}{'CPU %':>8}{'RSS mean MiB':>14}{'RSS peak MiB':>14}{'switches/s':>12}")
    for name, (cpu, mean, peak, switches, _) in rows:
        print(f"{name:<26}{cpu:>8.2f}{mean:>14.1f}{peak:>14.1f}{switches:>12.0f}")
    ours = rows[0][1]
    for name, theirs in rows[1:]:
        print(f"ratio velmora/{name}: CPU {ours[0] / max(theirs[0], 0.01):.2f}, "
              f"RSS {ours[1] / theirs[1]:.2f}, switches {ours[3] / max(theirs[3], 0.01):.2f}")
    for name, (*_, per_thread) in rows:
        if name.startswith("velmora"):
            busy = sorted(per_thread.items(), key=lambda item: -item[1])
            print(f"\n{name}, switches a second by thread:")
            for thread, rate in busy:
                if rate >= 0.5:
                    print(f"  {thread:<30}{rate:>8.1f}")


if __name__ == "__main__":
    main()
