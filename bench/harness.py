"""What every benchmark here shares: packages, the loopback stream server, player launching."""

import contextlib
import json
import os
import pwd
import select
import subprocess
import sys
import time

import players as player_table
from sound_server import Recorder, SoundServer, stop_process

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
REPO_DIR = os.path.dirname(BENCH_DIR)
STREAM_SERVER = os.path.join(REPO_DIR, "tools", "stream_server", "stream_server.py")
STREAM_SERVER_READY_TIMEOUT_S = 120  # the first start encodes the media


def install_packages() -> None:
    """Installs the peers and the sound server from bench/packages.txt, only what is missing."""
    script = os.path.join(REPO_DIR, "scripts", "install-deps.sh")
    if subprocess.run([script, os.path.join(BENCH_DIR, "packages.txt")]).returncode != 0:
        print("note: could not install every package; missing players are skipped",
              file=sys.stderr)


class StreamServer:
    """The tests' loopback stream server, started for the length of a benchmark."""

    def __init__(self):
        self._proc = subprocess.Popen([sys.executable, STREAM_SERVER, "--port", "0"],
                                      stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self._proc.stdout], [], [], STREAM_SERVER_READY_TIMEOUT_S)
        line = self._proc.stdout.readline() if ready else ""
        if not line:
            stop_process(self._proc)
            raise RuntimeError("the stream server did not start")
        self.base_url = f"http://127.0.0.1:{json.loads(line)['port']}"

    def stop(self) -> None:
        stop_process(self._proc)


def player_env(sound: SoundServer, player: player_table.Player) -> dict:
    if not (player.refuses_root and os.geteuid() == 0):
        return sound.env()
    home = os.path.join(sound.root, "home-" + player_table.UNPRIVILEGED_USER)
    os.makedirs(home, exist_ok=True)
    user = pwd.getpwnam(player_table.UNPRIVILEGED_USER)
    os.chown(home, user.pw_uid, user.pw_gid)
    env = sound.env(home=home)
    # The runtime folder belongs to root; this player gets one of its own.
    env["XDG_RUNTIME_DIR"] = home
    return env


def launch(sound: SoundServer, player, url: str, seconds: float, log_path: str = None):
    """Starts the player; returns the process and its launch time on the monotonic clock.

    The probe's event lines go to log_path when given; every other output is discarded.
    """
    argv = player.argv(url, seconds)
    env = player_env(sound, player)
    log = open(log_path, "w") if log_path else None
    try:
        launched_s = time.monotonic()
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                stdout=log or subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    finally:
        if log:
            log.close()
    return proc, launched_s


def first_event_ms(path: str, state: int):
    """When the probe's log first reports the play state, in ms since its start, or None."""
    try:
        with open(path, errors="replace") as file:
            for line in file:
                try:
                    event = json.loads(line)
                except ValueError:
                    continue
                if event.get("state") == state:
                    return event.get("t_ms")
    except OSError:
        pass
    return None


def last_line(path: str) -> str:
    try:
        with open(path, errors="replace") as file:
            lines = file.read().splitlines()
    except OSError:
        return ""
    return lines[-1] if lines else ""


def available(chosen):
    """The players that can run here; prints a note for each that cannot."""
    ready = []
    for player in chosen:
        reason = player.missing()
        if reason:
            print(f"note: skipping {player.name}: {reason}")
        else:
            ready.append(player)
    return ready


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return (ordered[middle - 1] + ordered[middle]) / 2


def ratio_text(value, best) -> str:
    if value is None or not best:
        return "-"
    return f"{value / best:.2f}x"


@contextlib.contextmanager
def rig(silence_threshold: int):
    """A private sound server with a recorder on its monitor, and the stream server: what every
    measurement at the sound server needs, stopped again however the measurement ends."""
    sound = SoundServer()
    sound.start()
    stream = recorder = None
    try:
        stream = StreamServer()
        recorder = Recorder(sound, silence_threshold)
        yield sound, stream, recorder
    finally:
        if recorder:
            recorder.stop()
        if stream:
            stream.stop()
        sound.stop()


def write_json(path: str, data) -> None:
    """Writes a benchmark's figures to path, when one was asked for."""
    if path:
        with open(path, "w") as file:
            json.dump(data, file, indent=2)
