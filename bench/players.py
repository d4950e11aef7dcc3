"""The players measured: Velmora's headless probe and the peers, as command lines."""

import os
import pwd
import shutil
from dataclasses import dataclass

UNPRIVILEGED_USER = "nobody"
UNPRIVILEGED_GROUP = "nogroup"


def as_unprivileged(argv):
    """The command run as an ordinary user when this runs as root, for programs that refuse
    root."""
    if os.geteuid() != 0:
        return argv
    return ["setpriv", f"--reuid={UNPRIVILEGED_USER}", f"--regid={UNPRIVILEGED_GROUP}",
            "--clear-groups", "--", *argv]


@dataclass(frozen=True)
class Player:
    name: str
    program: str
    args: tuple  # before the URL
    after_url: tuple = ()
    # VLC refuses to start as root; it runs as an unprivileged user instead.
    refuses_root: bool = False
    is_probe: bool = False
    # How the URL is passed, when not as an argument of its own.
    url_arg: str = "{url}"

    def argv(self, url: str, seconds: float) -> list:
        tail = [part.format(seconds=int(seconds)) for part in self.after_url]
        command = [self.program, *self.args, self.url_arg.format(url=url), *tail]
        return as_unprivileged(command) if self.refuses_root else command

    def missing(self):
        """Why this player cannot run here, or None."""
        if self.is_probe:
            ok = os.access(self.program, os.X_OK)
            return None if ok else f"{self.program} is not built yet"
        if shutil.which(self.program) is None:
            return f"{self.program} is not installed (bench/packages.txt)"
        if self.refuses_root and os.geteuid() == 0:
            try:
                pwd.getpwnam(UNPRIVILEGED_USER)
            except KeyError:
                return f"runs only as a user other than root, and {UNPRIVILEGED_USER} is missing"
        return None


def probe(build_dir: str) -> Player:
    return Player("velmora", os.path.join(build_dir, "bench", "velmora-probe"), (),
                  after_url=("--seconds", "{seconds}"), is_probe=True)


# Each peer with its defaults, only told to play into PulseAudio and to keep quiet.
PEERS = (
    Player("mpg123", "mpg123", ("-q", "-o", "pulse")),
    Player("mpv", "mpv", ("--no-config", "--no-video", "--really-quiet", "--ao=pulse")),
    Player("vlc", "cvlc", ("-q", "--play-and-exit", "--no-video", "--aout=pulse"),
           refuses_root=True),
    Player("gst-play", "gst-play-1.0", ("-q", "--no-interactive")),
    # Not a player: GStreamer's own floor for an MP3 on this machine, a pipeline written out
    # by hand (no type finding, no plugging, no start buffer), to set Velmora's figures against.
    Player("gst-mp3", "gst-launch-1.0", ("-q", "souphttpsrc", "iradio-mode=false"),
           after_url=("!", "mpegaudioparse", "!", "mpg123audiodec", "!", "pulsesink"),
           url_arg="location={url}"),
)


# Rows that are not players: printed beside them, never the "best peer".
FLOORS = ("gst-mp3",)


def is_peer(name: str, probe_name: str) -> bool:
    """Whether a row is a player Velmora's probe is compared with."""
    return name != probe_name and name not in FLOORS


def select(build_dir: str, names):
    everyone = [probe(build_dir), *PEERS]
    if not names:
        return everyone
    wanted = set(names)
    unknown = wanted - {player.name for player in everyone}
    if unknown:
        raise SystemExit(f"unknown players: {', '.join(sorted(unknown))}")
    return [player for player in everyone if player.name in wanted]
