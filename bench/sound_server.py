"""A private PulseAudio with a null sink, and a recorder of what reaches it.

The benchmark measures when sound arrives at the sound server, as a listener would hear it,
so every player plays into this server and its monitor is recorded with a timeline.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tools"))
from velmora_rig.recording import CHANNELS, RATE_HZ, Recording  # noqa: E402

SERVER_READY_TIMEOUT_S = 10
STOP_TIMEOUT_S = 5
READ_BYTES = 4096
RECORDER_WARMUP_BLOCKS = 20  # 100 ms of data before the timeline is trusted


def stop_process(proc: subprocess.Popen, timeout_s: float = STOP_TIMEOUT_S) -> None:
    """SIGTERM, then SIGKILL if it has not ended within timeout_s."""
    if proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout_s)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout_s)


class SoundServer:
    """PulseAudio on a private runtime folder; it never touches a sound server of the desktop."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="velmora-bench-")
        # Players that must not run as root (VLC) reach the socket through this folder.
        os.chmod(self.root, 0o711)
        self.socket = os.path.join(self.root, "native")
        self._proc = None

    def env(self, home: str = None) -> dict:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
               "PULSE_SERVER": f"unix:{self.socket}", "HOME": home or self._dir("home"),
               "XDG_RUNTIME_DIR": self._dir("runtime", 0o700)}
        env["XDG_CONFIG_HOME"] = os.path.join(env["HOME"], ".config")
        env["XDG_CACHE_HOME"] = os.path.join(env["HOME"], ".cache")
        return env

    def _dir(self, name: str, mode: int = 0o755) -> str:
        path = os.path.join(self.root, name)
        os.makedirs(path, mode=mode, exist_ok=True)
        return path

    def start(self) -> None:
        config = os.path.join(self.root, "null.pa")
        with open(config, "w") as file:
            file.write(
                f"load-module module-null-sink sink_name=null_out rate={RATE_HZ} "
                f"channels={CHANNELS}\n"
                f"load-module module-native-protocol-unix auth-anonymous=1 socket={self.socket}\n"
                "set-default-sink null_out\nset-default-source null_out.monitor\n")
        env = self.env()
        env["XDG_STATE_HOME"] = self._dir("state")
        log = os.path.join(self.root, "pulse.log")
        self._proc = subprocess.Popen(
            ["pulseaudio", "-n", "-F", config, "--exit-idle-time=-1", "--disallow-exit",
             "--realtime=no", "--high-priority=no", "--use-pid-file=no", "--disable-shm=yes",
             f"--log-target=file:{log}"],
            env=env, stdin=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + SERVER_READY_TIMEOUT_S
        while time.monotonic() < deadline:
            if subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode == 0:
                os.chmod(self.socket, 0o777)
                return
            if self._proc.poll() is not None:
                break
            time.sleep(0.05)
        self.stop()
        raise RuntimeError(f"PulseAudio did not start; see {log}")

    def stop(self) -> None:
        if self._proc is not None:
            stop_process(self._proc)
            self._proc = None
        shutil.rmtree(self.root, ignore_errors=True)


class Recorder(Recording):
    """Records the null sink's monitor into a Recording, from a thread of its own."""

    def __init__(self, server: SoundServer, threshold: int):
        super().__init__(threshold)
        self._proc = subprocess.Popen(
            ["parec", "-d", "null_out.monitor", "--format=s16le", f"--rate={RATE_HZ}",
             f"--channels={CHANNELS}", "--raw", "--latency-msec=10"],
            env=server.env(), stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self._reader = threading.Thread(target=self._read, name="recorder", daemon=True)
        self._reader.start()
        self._wait_for_data()

    def _wait_for_data(self) -> None:
        deadline = time.monotonic() + SERVER_READY_TIMEOUT_S
        while time.monotonic() < deadline:
            if self.block_count() >= RECORDER_WARMUP_BLOCKS:
                return
            if self._proc.poll() is not None:
                break
            time.sleep(0.01)
        self.stop()
        raise RuntimeError("parec recorded nothing from the null sink's monitor")

    def _read(self) -> None:
        while True:
            data = os.read(self._proc.stdout.fileno(), READ_BYTES)
            if not data:
                return
            self.add(data, time.monotonic())

    def stop(self) -> None:
        stop_process(self._proc)
        self._reader.join(STOP_TIMEOUT_S)
