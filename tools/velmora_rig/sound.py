"""A private PulseAudio server whose default sink is a null sink, with a recorder on its monitor.

The recording (raw s16le stereo at 44.1 kHz) is kept as a file for the tone analysis and as block
summaries for the benchmarks' timeline; a position in it is seconds since the recorder started.
The null sink keeps pace with wall-clock time, but its data arrives a little late: the moment a
position stands for is worked out from when the data arrives, never from how much has arrived.
"""

import os
import subprocess
import threading
import time

from . import tone
from .processes import start_session_bus
from .recording import Recording
from .waiting import wait_until

START_TIMEOUT_S = 10.0
SINK = "null_out"
NULL_SINK_ARGS = f"sink_name={SINK} rate={tone.RATE_HZ} channels={tone.CHANNELS}"


class SoundServer:
    def __init__(self, processes, work_dir):
        self._processes = processes
        self.dir = os.path.join(work_dir, "pulse")
        self.socket = os.path.join(self.dir, "native")
        self.recording_path = os.path.join(work_dir, "recording.raw")
        self.env = None
        self._recorder = None
        self._reader = None
        self._server = []  # the processes that stop() stops
        self._server_env = None
        self._restarts = 0
        self.recording = Recording()

    @property
    def address(self):
        return f"unix:{self.socket}"

    def start(self, base_env):
        for sub in ("runtime", "state", "home"):
            os.makedirs(os.path.join(self.dir, sub), mode=0o700, exist_ok=True)
        # Players that must not run as root (VLC) reach the socket through this folder.
        os.chmod(self.dir, 0o711)
        home = os.path.join(self.dir, "home")
        self._server_env = dict(base_env, HOME=home,
                                XDG_RUNTIME_DIR=os.path.join(self.dir, "runtime"),
                                XDG_STATE_HOME=os.path.join(self.dir, "state"),
                                XDG_CONFIG_HOME=os.path.join(home, ".config"))
        self._server_env.pop("PULSE_SERVER", None)
        self._start_server(self._server_env)
        self.env = dict(base_env, PULSE_SERVER=self.address)
        self._serve()

    def _serve(self):
        """Waits for the server, gives it its null sink and starts recording it."""
        wait_until(lambda: self._pactl("info").returncode == 0, START_TIMEOUT_S, "the sound server")
        answered_s = time.monotonic()
        self._add_null_sink()
        os.chmod(self.socket, 0o777)
        self._recorder = self._processes.start("parec", _parec(SINK), env=self.env,
                                               stdout=subprocess.PIPE)
        self._reader = threading.Thread(target=self._record, name="recorder")
        self._reader.start()
        return answered_s

    def stop(self):
        """Stops the server under its clients, as an update or a person restarting it does; the
        recorder ends with it."""
        for child in self._server:
            self._processes.stop(child)
        self._processes.stop(self._recorder)
        self.join_recorder()
        self._recorder.stdout.close()

    def start_again(self):
        """Starts the stopped server again, with a new recording (positions start over);
        returns when it answered, on the monotonic clock."""
        self._restarts += 1
        self.recording_path = self.recording_path.replace(".raw", f"-{self._restarts}.raw")
        self.recording = Recording()
        self._start_server(self._server_env)
        return self._serve()

    def _start_server(self, env):
        script = os.path.join(self.dir, "null.pa")
        with open(script, "w") as f:
            f.write(f"load-module module-null-sink {NULL_SINK_ARGS}\n"
                    f"load-module module-native-protocol-unix auth-anonymous=1 "
                    f"socket={self.socket}\n"
                    f"set-default-sink {SINK}\n"
                    f"set-default-source {SINK}.monitor\n")
        self._server = [self._processes.start("pulseaudio", [
            "pulseaudio", "-n", "-F", script, "--exit-idle-time=-1", "--disallow-exit",
            "--realtime=no", "--high-priority=no", "--use-pid-file=no", "--daemonize=no",
            # Shared-memory transport has a known crash under load; sockets are enough here.
            "--disable-shm=yes",
            "--log-target=stderr"], env=env)]

    def _add_null_sink(self):
        """The PulseAudio server has it from its start-up script."""

    def join_recorder(self, timeout_s=5.0):
        """Waits for the recorder thread, which ends at parec's end of file."""
        if self._reader is not None:
            self._reader.join(timeout_s)
            if self._reader.is_alive():
                raise RuntimeError("the recorder thread did not end after parec stopped")
            self._reader = None

    def _record(self):
        pipe = self._recorder.stdout.fileno()
        with open(self.recording_path, "wb") as out:
            pending = b""
            while True:
                data = os.read(pipe, 16384)
                arrived_s = time.monotonic()
                if not data:
                    return
                pending += data
                whole = len(pending) - len(pending) % tone.BYTES_PER_FRAME
                out.write(pending[:whole])
                out.flush()
                self.recording.add(pending[:whole], arrived_s)
                pending = pending[whole:]

    def moment(self, position_s):
        """When a position of the recording was played, on the monotonic clock."""
        return self.recording.time_of(round(position_s * tone.RATE_HZ))

    def wait_recording(self):
        """Waits for the recorder's first data, which takes the null sink a second or two."""
        wait_until(lambda: self.recorded() > 0.05, START_TIMEOUT_S, "the recorder's first data")

    def _pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True,
                              timeout=5)

    def sink_inputs(self):
        """What a mixer shows of the streams."""
        return self._pactl("list", "sink-inputs").stdout

    # --- outputs coming and going ----------------------------------------------------------
    def add_sink(self, name):
        """Another null sink, as a headset plugged in; returns its module, for remove_sink."""
        loaded = self._pactl("load-module", "module-null-sink", f"sink_name={name}",
                             *NULL_SINK_ARGS.split()[1:])
        if loaded.returncode != 0:
            raise RuntimeError(f"pactl load-module: {loaded.stderr.strip()}")
        return loaded.stdout.strip()

    def remove_sink(self, module):
        self._pactl("unload-module", module)

    def set_default_sink(self, name):
        # PipeWire's module answers before its session manager has made the node: until then
        # the sink cannot be the default ("Not supported"), on a busy machine for a moment.
        answers = []

        def made_default():
            answers.append(self._pactl("set-default-sink", name))
            return answers[-1].returncode == 0

        wait_until(made_default, START_TIMEOUT_S, f"{name} to become the default",
                   describe=lambda: answers[-1].stderr.strip())

    def stream_sink(self):
        """The sink the first stream plays on, by name, or None when no stream plays."""
        sinks = dict(line.split("\t")[:2] for line in
                     self._pactl("list", "short", "sinks").stdout.splitlines())
        streams = self._pactl("list", "short", "sink-inputs").stdout.splitlines()
        return sinks.get(streams[0].split("\t")[1]) if streams else None

    def hears_tone_on(self, sink, listen_s=2.0):
        """Whether the end of what a sink's monitor gave in listen_s is the test tone (the
        recorder takes a moment to start)."""
        try:
            subprocess.run(_parec(sink), env=self.env, capture_output=True, timeout=listen_s)
        except subprocess.TimeoutExpired as listened:
            return tone.is_tone(tone.mono(listened.stdout or b"")[-int(tone.RATE_HZ * 0.4):])
        return False  # the recorder ended by itself: no such sink

    def recorded(self):
        return self.recording.seconds()

    def position(self):
        """The recording position being played at this moment."""
        if self.recording.seconds() == 0:
            return 0.0
        return max(self.recording.seconds(), time.monotonic() - self.recording.time_of(0))

    def samples(self, start_s, end_s):
        return tone.read_mono(self.recording_path, start_s, end_s)

    def wait_for_tone(self, after_s, timeout_s, freq_hz=tone.TONE_HZ):
        """Position where the tone starts at or after after_s; fails after timeout_s."""
        return wait_until(self._scanner(after_s, tone.is_tone, freq_hz), timeout_s,
                          f"a {freq_hz} Hz tone after {after_s:.2f} s")[0]

    def wait_for_onset(self, after_s, timeout_s, freq_hz=tone.TONE_HZ):
        """Position of the tone's first sample at or after after_s, to the sample."""
        found = self.wait_for_tone(after_s, timeout_s, freq_hz)
        # The tone's first window may begin a little before the tone itself, or after it.
        start = max(after_s, found - tone.WINDOW_S)
        index = tone.first_loud_sample(self.samples(start, found + tone.WINDOW_S))
        return found if index is None else start + index / tone.RATE_HZ

    def wait_for_silence(self, after_s, timeout_s):
        """Position where silence starts at or after after_s; fails after timeout_s."""
        return wait_until(self._scanner(after_s, tone.is_silent), timeout_s,
                          f"silence after {after_s:.2f} s")[0]

    def wait_position(self, position_s, timeout_s=START_TIMEOUT_S):
        wait_until(lambda: self.recorded() >= position_s, timeout_s,
                   f"the recording to reach {position_s:.2f} s")

    def _scanner(self, after_s, predicate, *args):
        """A condition that scans only what was recorded since its last call."""
        cursor = [after_s]

        def scan():
            end = self.recorded()
            found = tone.first_window(self.recording_path, cursor[0], end, predicate, *args)
            cursor[0] = max(cursor[0], end - tone.WINDOW_S)
            # Wrapped so that a find at position 0.0 still counts as found.
            return None if found is None else (found,)
        return scan


def _parec(sink):
    # Small fragments: PipeWire holds a monitor's data back for seconds otherwise.
    return ["parec", "-d", f"{sink}.monitor", "--format=s16le", f"--rate={tone.RATE_HZ}",
            f"--channels={tone.CHANNELS}", "--raw", "--latency-msec=10"]


class PipeWireServer(SoundServer):
    """PipeWire with its session manager and its PulseAudio service, as Debian's desktop runs
    them, on a session bus of their own; clients and the recorder reach them as PulseAudio."""

    def _start_server(self, env):
        """The first time, PipeWire and its session manager too; a restart, as `systemctl --user
        restart pipewire-pulse` does it, only the PulseAudio service, whose sinks go with it."""
        if not self._restarts:
            self.socket = os.path.join(env["XDG_RUNTIME_DIR"], "pulse", "native")
            env["DBUS_SESSION_BUS_ADDRESS"] = start_session_bus(
                self._processes, "pipewire-dbus", env["XDG_RUNTIME_DIR"], env, START_TIMEOUT_S)
            for name in ("pipewire", "wireplumber"):
                self._processes.start(name, [name], env=env)
        self._server = [self._processes.start("pipewire-pulse", ["pipewire-pulse"], env=env)]

    def _add_null_sink(self):
        # With no sound card the session manager's default is a dummy sink; a null sink by
        # the same name as PulseAudio's keeps one recorder for both servers.
        self.add_sink(SINK)
        self.set_default_sink(SINK)
