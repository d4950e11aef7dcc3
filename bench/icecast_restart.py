#!/usr/bin/python3
"""An encoder restart on a real Icecast server: does the player ride it out?

Starts Debian's icecast2 on its own loopback port with a config in a temporary folder, feeds it
a tone from ffmpeg, lets Velmora's headless probe (and mpv, for comparison) listen, stops the
source for --gap-s seconds and starts it again. While a mount has no source Icecast answers 404,
so the player has to play out its buffer, keep retrying through the 404s and play again when
the source returns, without ever raising a notice.

Prints a timeline of the probe's status lines and of what the server answers for the mount,
then PASS or FAIL.
"""

import argparse
import http.client
import json
import os
import pwd
import re
import secrets
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

import harness  # also puts the rig on the path
import players
from velmora_rig.processes import Processes  # noqa: E402
from velmora_rig.waiting import stays_false  # noqa: E402

HOST = "127.0.0.1"
MOUNT = "/live.mp3"
RECONNECTING_TEXT = "正在重连"
WATCH_AGENT = "mount-watch"
ACCESS_LINE = re.compile(r'\[([^\]]+)\] "(\w+) (\S+)[^"]*" (\d+) (\d+) "[^"]*" "([^"]*)" (\d+)')


def free_port() -> int:
    with socket.socket() as sock:
        sock.bind((HOST, 0))
        return sock.getsockname()[1]


def icecast_config(folder, port, source_pw, admin_pw) -> str:
    return f"""<icecast>
  <location>loopback</location>
  <admin>none@localhost</admin>
  <limits>
    <clients>20</clients>
    <sources>2</sources>
    <burst-on-connect>1</burst-on-connect>
    <burst-size>65535</burst-size>
    <source-timeout>10</source-timeout>
  </limits>
  <authentication>
    <source-password>{source_pw}</source-password>
    <admin-user>admin</admin-user>
    <admin-password>{admin_pw}</admin-password>
  </authentication>
  <hostname>{HOST}</hostname>
  <listen-socket>
    <port>{port}</port>
    <bind-address>{HOST}</bind-address>
  </listen-socket>
  <fileserve>0</fileserve>
  <paths>
    <basedir>{folder}</basedir>
    <logdir>{folder}</logdir>
    <webroot>/usr/share/icecast2/web</webroot>
    <adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging>
    <accesslog>access.log</accesslog>
    <errorlog>error.log</errorlog>
    <loglevel>3</loglevel>
  </logging>
  <security>
    <chroot>0</chroot>
  </security>
</icecast>
"""


def mount_answer(port):
    """The status code Icecast gives a listener asking for the mount now, or None."""
    try:
        conn = http.client.HTTPConnection(HOST, port, timeout=2)
        # Named, so that the access log tells these looks from the players' requests.
        conn.request("GET", MOUNT, headers={"User-Agent": WATCH_AGENT})
        status = conn.getresponse().status
        conn.close()
        return status
    except OSError:
        return None


class Timeline:
    """Every event with its seconds since the scenario's start, shared by the watcher threads."""

    def __init__(self):
        self.start_s = time.monotonic()
        self.start_wall = time.time()
        self.events = []  # (seconds, who, text, record)
        self.closed = False  # what the final stop causes is no part of the scenario
        self._lock = threading.Lock()

    def now(self):
        return time.monotonic() - self.start_s

    def add(self, who, text, record=None):
        if self.closed:
            return
        with self._lock:
            self.events.append((self.now(), who, text, record))
        print(f"  {self.now():6.2f} s  {who:8} {text}", flush=True)


def watch_probe(proc, timeline):
    for line in proc.stdout:
        try:
            record = json.loads(line.decode("utf-8"))
        except ValueError:
            continue
        if record.get("event") == "status":
            text = f"status {record['state']} {record['status']}"
        else:
            text = f"{record.get('event')} {record.get('description', '')}".strip()
        timeline.add("velmora", text, record)
    timeline.add("velmora", f"exited ({proc.wait()})")


def watch_mount(port, timeline, stop_event):
    """Records each change of what the server answers for the mount, about twice a second."""
    last = object()
    while not stop_event.wait(0.5):
        answer = mount_answer(port)
        if answer != last:
            timeline.add("icecast", f"GET {MOUNT} -> {answer}")
            last = answer


def watch_exit(proc, name, timeline):
    timeline.add(name, f"exited ({proc.wait()})")


def print_requests(path, timeline):
    """What Icecast answered each player and source, from its access log (1 s resolution)."""
    print("\nIcecast's access log (s = when the request ended):")
    try:
        with open(path) as log:
            lines = log.readlines()
    except OSError as error:
        print(f"  unreadable: {error}")
        return
    for line in lines:
        match = ACCESS_LINE.search(line)
        if not match or match.group(6) == WATCH_AGENT:
            continue
        when, method, path_, status, size, agent, duration = match.groups()
        ended = time.mktime(time.strptime(when.split()[0], "%d/%b/%Y:%H:%M:%S"))
        # The log's time zone is the machine's, as mktime assumes.
        print(f"  {ended - int(timeline.start_wall):4.0f} s  {agent[:24]:24} {method} {path_} -> "
              f"{status}, {size} bytes, {duration} s")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release",
                        help="build folder holding bench/velmora-probe (default: %(default)s)")
    parser.add_argument("--gap-s", type=float, default=12.0,
                        help="seconds the source stays away (default: %(default)s)")
    parser.add_argument("--play-s", type=float, default=8.0,
                        help="seconds of listening before the source stops (default: %(default)s)")
    parser.add_argument("--resume-wait-s", type=float, default=25.0,
                        help="how long after the source returns the player may take to play again")
    parser.add_argument("--no-mpv", action="store_true", help="skip the comparison with mpv")
    parser.add_argument("--no-install", action="store_true", help="do not run apt-get")
    args = parser.parse_args()

    if not args.no_install:
        harness.install_packages()
    probe = os.path.join(args.build, "bench", "velmora-probe")
    for program in ("icecast2", "ffmpeg"):
        if shutil.which(program) is None:
            print(f"FAIL: {program} is not installed (bench/packages.txt)")
            return 2
    if not os.access(probe, os.X_OK):
        print(f"FAIL: {probe} is not built yet")
        return 2
    with_mpv = not args.no_mpv and shutil.which("mpv") is not None

    folder = tempfile.mkdtemp(prefix="velmora-icecast-")
    processes = Processes(folder)
    stop_watching = threading.Event()
    try:
        if os.geteuid() == 0:
            user = pwd.getpwnam(players.UNPRIVILEGED_USER)
            os.chown(folder, user.pw_uid, user.pw_gid)
        port = free_port()
        source_pw, admin_pw = secrets.token_hex(12), secrets.token_hex(12)
        config = os.path.join(folder, "icecast.xml")
        with open(config, "w") as out:
            out.write(icecast_config(folder, port, source_pw, admin_pw))
        os.chmod(config, 0o644)

        server = processes.start("icecast", players.as_unprivileged(["icecast2", "-c", config]))
        if stays_false(lambda: mount_answer(port) is not None or server.poll() is not None, 10):
            print("FAIL: icecast did not answer on its port")
            return 1
        if server.poll() is not None:
            print(f"FAIL: icecast exited ({server.returncode}); see {folder}")
            return 1

        feed_argv = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-re",
                     "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
                     "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k",
                     "-content_type", "audio/mpeg", "-f", "mp3",
                     f"icecast://source:{source_pw}@{HOST}:{port}{MOUNT}"]
        timeline = Timeline()
        print(f"Icecast on {HOST}:{port}, mount {MOUNT}; the source stops for {args.gap_s:g} s\n")
        feed = processes.start("ffmpeg-1", feed_argv)
        timeline.add("ffmpeg", "source started")
        if stays_false(lambda: mount_answer(port) == 200, 10):
            print("FAIL: the mount never came up")
            return 1
        threading.Thread(target=watch_mount, args=(port, timeline, stop_watching),
                         daemon=True).start()

        url = f"http://{HOST}:{port}{MOUNT}"
        total_s = args.play_s + args.gap_s + args.resume_wait_s + 10
        player = processes.start("velmora", [probe, url, "--null-sink", "--seconds",
                                             str(int(total_s))],
                                 env=dict(os.environ, LANG="C.UTF-8"), stdout=subprocess.PIPE)
        threading.Thread(target=watch_probe, args=(player, timeline), daemon=True).start()
        if with_mpv:
            mpv = processes.start("mpv", ["mpv", "--no-config", "--no-video", "--ao=null",
                                          "--really-quiet", url])
            timeline.add("mpv", "started")
            threading.Thread(target=watch_exit, args=(mpv, "mpv", timeline), daemon=True).start()

        time.sleep(args.play_s)
        processes.stop(feed)
        timeline.add("ffmpeg", "source stopped")
        stopped_at = timeline.now()
        time.sleep(args.gap_s)
        feed = processes.start("ffmpeg-2", feed_argv)
        timeline.add("ffmpeg", "source started again")
        returned_at = timeline.now()

        def resumed():
            return any(t > returned_at and rec and rec.get("state") == harness.PLAYING_STATE
                       for t, who, _, rec in list(timeline.events) if who == "velmora")

        def gave_up():
            return player.poll() is not None
        # Waits, at most the resume budget, for the player to play again or to give up.
        stays_false(lambda: resumed() or gave_up(), args.resume_wait_s)
        # A few seconds more show that it keeps playing instead of dropping again.
        if resumed():
            stays_false(gave_up, 5)
        stop_watching.set()
        timeline.closed = True
        still_running = player.poll() is None
        # Icecast writes a request's line when it ends, so the log is read once the players stop.
        processes.stop(player)
        if with_mpv:
            processes.stop(mpv)
        time.sleep(1.0)  # for Icecast to notice the closed connections
        print_requests(os.path.join(folder, "access.log"), timeline)

        mine = [(t, rec) for t, who, _, rec in timeline.events if who == "velmora" and rec]
        notices = [rec for _, rec in mine if rec.get("event") != "status"]
        reconnects = [rec for t, rec in mine if t > stopped_at
                      and RECONNECTING_TEXT in rec.get("status", "")]
        played_before = any(t < stopped_at and rec.get("state") == harness.PLAYING_STATE for t, rec in mine)
        checks = [
            ("played before the drop", played_before),
            ("showed the reconnecting status", bool(reconnects)),
            ("played again after the source returned", resumed()),
            ("no warning or media error", not notices),
            ("still running at the end", still_running),
        ]
        print()
        for name, ok in checks:
            print(f"  {'ok  ' if ok else 'FAIL'} {name}")
        if with_mpv:
            mpv_end = [t for t, who, text, _ in timeline.events
                       if who == "mpv" and text.startswith("exited")]
            print(f"  mpv: {'ended at %.2f s' % mpv_end[0] if mpv_end else 'still playing'}"
                  f" (the source stopped at {stopped_at:.2f} s)")
        verdict = all(ok for _, ok in checks)
        print(f"\n{'PASS' if verdict else 'FAIL'}: Velmora "
              f"{'rode out' if verdict else 'did not ride out'} a {args.gap_s:g} s encoder restart")
        return 0 if verdict else 1
    finally:
        stop_watching.set()
        processes.stop_all()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
