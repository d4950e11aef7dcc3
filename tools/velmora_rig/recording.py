"""What a recorder heard, kept as 5 ms block summaries on a timeline.

Frame numbers map to the monotonic clock through the arrival times of the recorded data; only
the block summaries stay in memory, so a long run costs little.
"""

import array
import threading

RATE_HZ = 44100
CHANNELS = 2
BYTES_PER_FRAME = 2 * CHANNELS
BLOCK_FRAMES = 220  # 5 ms: the resolution of silence detection
BLOCK_BYTES = BLOCK_FRAMES * BYTES_PER_FRAME
NO_ONSET = 0xFFFF
# Louder than dither or a fading tail: a sample at or above this is sound.
LOUD_THRESHOLD = 300


class Recording:
    """Per block of 16-bit stereo audio, its peak and, when it follows a quiet one, its first loud
    frame. Safe to feed from one thread while others read it."""

    def __init__(self, threshold: int = LOUD_THRESHOLD):
        self._threshold = threshold
        self._peaks = array.array("H")
        self._onsets = array.array("H")
        self._pending = b""
        self._start_s = float("inf")
        self._frames = 0
        self._lock = threading.Lock()

    def add(self, data: bytes, arrived_s: float) -> None:
        """Takes the next recorded bytes, which arrived at arrived_s on the monotonic clock."""
        pending = self._pending + data
        whole = len(pending) - len(pending) % BLOCK_BYTES
        blocks, self._pending = pending[:whole], pending[whole:]
        with self._lock:
            for offset in range(0, len(blocks), BLOCK_BYTES):
                self._add_block(array.array("h", blocks[offset:offset + BLOCK_BYTES]))
            self._frames += len(data) // BYTES_PER_FRAME
            # Data arrives late, never early: the earliest arrival less the audio it completes
            # is the closest estimate of when the recording started.
            self._start_s = min(self._start_s, arrived_s - self._frames / RATE_HZ)

    def seconds(self) -> float:
        with self._lock:
            return self._frames / RATE_HZ

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
                    start = block * BLOCK_FRAMES + (0 if onset == NO_ONSET else onset)
                    return max(frame, start)
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

