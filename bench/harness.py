"""What every benchmark here shares: packages, the rig of sound and stream server, player
launching."""

import contextlib
import json
import os
import pwd
import subprocess
import sys
import time

import players as player_table

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
REPO_DIR = os.path.dirname(BENCH_DIR)
sys.path.insert(0, os.path.join(REPO_DIR, "tools"))
from velmora_rig.processes import stop  # noqa: E402,F401 - the benchmarks stop players with it
from velmora_rig.session import Paths, Session  # noqa: E402


def install_packages() -> None:
    """Installs the peers and the sound server from bench/packages.txt, only what is missing."""
    script = os.path.join(REPO_DIR, "scripts", "install-deps.sh")
    if subprocess.run([script, os.path.join(BENCH_DIR, "packages.txt")]).returncode != 0:
        print("note: could not install every package; missing players are skipped",
              file=sys.stderr)


def player_env(sound, player: player_table.Player) -> dict:
    """The sound server's client environment, with a fresh home so that no player reads the
    settings of the desktop it runs on."""
    unprivileged = player.refuses_root and os.geteuid() == 0
    home = os.path.join(sound.dir, "home-" + (player_table.UNPRIVILEGED_USER if unprivileged
                                              else "players"))
    os.makedirs(home, exist_ok=True)
    if unprivileged:
        user = pwd.getpwnam(player_table.UNPRIVILEGED_USER)
        os.chown(home, user.pw_uid, user.pw_gid)
    # The sound server's runtime folder belongs to root; players get one of their own.
    return dict(sound.env, HOME=home, XDG_RUNTIME_DIR=home, LANG="C.UTF-8",
                XDG_CONFIG_HOME=os.path.join(home, ".config"),
                XDG_CACHE_HOME=os.path.join(home, ".cache"))


def launch(sound, player, url: str, seconds: float, log_path: str = None):
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


# The probe's play state while it plays.
PLAYING_STATE = 3


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
def rig(build_dir: str):
    """A private sound server with a recorder on its monitor, and the stream server: what every
    measurement at the sound server needs, stopped again however the measurement ends. Yields
    the sound server, the stream server and the recording."""
    with Session(Paths.from_build(REPO_DIR, build_dir), with_desktop=False) as session:
        yield session.sound, session.streams, session.sound.recording


def write_json(path: str, data) -> None:
    """Writes a benchmark's figures to path, when one was asked for."""
    if path:
        with open(path, "w") as file:
            json.dump(data, file, indent=2)
