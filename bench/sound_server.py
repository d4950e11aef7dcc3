"""A private PulseAudio with a null sink, and a recorder of what reaches it.

The benchmark measures when sound arrives at the sound server, as a listener would hear it,
so every player plays into this server and its monitor is recorded with a timeline.
"""

import array
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time

RATE_HZ = 44100
CHANNELS = 2
BYTES_PER_FRAME = 2 * CHANNELS
BLOCK_FRAMES = 220  # 5 ms: the resolution of silence detection
NO_ONSET = 0xFFFF
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
             "--realtime=no", "--high-priority=no", "--use-pid-file=no",
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


class Recorder:
    """Records the null sink's monitor and keeps, per 5 ms block, its peak and first loud frame.

    Frame numbers map to the monotonic clock through the arrival times of the recorded data;
    only block summaries stay in memory, so a long run costs little.
    """

    def __init__(self, server: SoundServer, threshold: int):
        self._threshold = threshold
        self._peaks = array.array("H")
        self._onsets = array.array("H")  # first loud frame in a block that follows a quiet one
        self._start_s = float("inf")
        self._frames = 0
        self._lock = threading.Lock()
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
            with self._lock:
                if len(self._peaks) >= RECORDER_WARMUP_BLOCKS:
                    return
            if self._proc.poll() is not None:
                break
            time.sleep(0.01)
        self.stop()
        raise RuntimeError("parec recorded nothing from the null sink's monitor")

    def _read(self) -> None:
        pending = b""
        block_bytes = BLOCK_FRAMES * BYTES_PER_FRAME
        while True:
            data = os.read(self._proc.stdout.fileno(), READ_BYTES)
            arrived_s = time.monotonic()
            if not data:
                return
            pending += data
            whole = len(pending) - len(pending) % block_bytes
            blocks, pending = pending[:whole], pending[whole:]
            with self._lock:
                for offset in range(0, len(blocks), block_bytes):
                    self._add_block(array.array("h", blocks[offset:offset + block_bytes]))
                self._frames += len(data) // BYTES_PER_FRAME
                # The earliest arrival, less the audio it completes, is closest to the start.
                self._start_s = min(self._start_s, arrived_s - self._frames / RATE_HZ)

    def _add_block(self, samples: array.array) -> None:
        peak = min(32767, max(max(samples), -min(samples)))
        onset = NO_ONSET
        if peak >= self._threshold and (not self._peaks or self._peaks[-1] < self._threshold):
            first = next(i for i, value in enumerate(samples) if abs(value) >= self._threshold)
            onset = first // CHANNELS
        self._peaks.append(peak)
        self._onsets.append(onset)

    def frame_at(self, when_s: float) -> int:
        with self._lock:
            return max(0, round((when_s - self._start_s) * RATE_HZ))

    def time_of(self, frame: int) -> float:
        with self._lock:
            return self._start_s + frame / RATE_HZ

    def first_sound_after(self, frame: int):
        """The first loud frame at or after frame, or None while there is none yet."""
        with self._lock:
            for block in range(frame // BLOCK_FRAMES, len(self._peaks)):
                if self._peaks[block] >= self._threshold:
                    onset = self._onsets[block]
                    return block * BLOCK_FRAMES + (0 if onset == NO_ONSET else onset)
        return None

    def is_quiet_since(self, frame: int) -> bool:
        with self._lock:
            first = frame // BLOCK_FRAMES
            return len(self._peaks) > first + 1 and max(self._peaks[first:]) < self._threshold

    def gaps(self, first_frame: int, last_frame: int, min_gap_ms: float):
        """Quiet runs of at least min_gap_ms between two frames, as (start ms, length ms)."""
        min_blocks = max(1, round(min_gap_ms * RATE_HZ / 1000 / BLOCK_FRAMES))
        block_ms = BLOCK_FRAMES * 1000 / RATE_HZ
        found, run_start = [], None
        with self._lock:
            last_block = min(last_frame // BLOCK_FRAMES, len(self._peaks) - 1)
            for block in range(first_frame // BLOCK_FRAMES + 1, last_block + 1):
                quiet = self._peaks[block] < self._threshold
                if quiet and run_start is None:
                    run_start = block
                elif not quiet and run_start is not None:
                    if block - run_start >= min_blocks:
                        found.append(((run_start * BLOCK_FRAMES - first_frame) * 1000 / RATE_HZ,
                                      (block - run_start) * block_ms))
                    run_start = None
            # A player that fell silent before the end of the window has a gap there too.
            if run_start is not None and last_block + 1 - run_start >= min_blocks:
                found.append(((run_start * BLOCK_FRAMES - first_frame) * 1000 / RATE_HZ,
                              (last_block + 1 - run_start) * block_ms))
        return found

    def loud_seconds(self, first_frame: int, last_frame: int) -> float:
        with self._lock:
            blocks = self._peaks[first_frame // BLOCK_FRAMES:last_frame // BLOCK_FRAMES]
            loud = sum(1 for peak in blocks if peak >= self._threshold)
        return loud * BLOCK_FRAMES / RATE_HZ

    def stop(self) -> None:
        stop_process(self._proc)
        self._reader.join(STOP_TIMEOUT_S)
