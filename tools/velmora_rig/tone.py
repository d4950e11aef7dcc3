"""What the recording holds: a tone at a given frequency, silence, or something else."""

import numpy as np

from .recording import BYTES_PER_FRAME, CHANNELS, RATE_HZ
TONE_HZ = 440
WINDOW_S = 0.05

# A tone is loud enough to be heard and holds most of the window's energy at its frequency.
MIN_TONE_RMS = 10 ** (-40 / 20)
MIN_TONE_ENERGY_SHARE = 0.6
# The null sink renders exact zeros when nothing plays; dither or a fading tail stays below this.
MAX_SILENCE_RMS = 10 ** (-60 / 20)


def read_mono(path, start_s, end_s):
    first = int(start_s * RATE_HZ)
    count = max(0, int(end_s * RATE_HZ) - first)
    with open(path, "rb") as f:
        f.seek(first * BYTES_PER_FRAME)
        raw = f.read(count * BYTES_PER_FRAME)
    return mono(raw)


def mono(raw):
    frames = np.frombuffer(raw[:len(raw) - len(raw) % BYTES_PER_FRAME], dtype="<i2")
    return frames.reshape(-1, CHANNELS).astype(np.float64).mean(axis=1) / 32768.0


def rms(samples):
    return float(np.sqrt(np.mean(samples ** 2))) if len(samples) else 0.0


def energy_share(samples, freq_hz):
    """Share of the samples' energy at freq_hz; 1.0 for a pure tone."""
    n = len(samples)
    total = float(np.sum(samples ** 2))
    if n == 0 or total == 0.0:
        return 0.0
    # The single-bin DFT that a Goertzel filter computes, done as one dot product.
    phase = np.exp(-2j * np.pi * freq_hz / RATE_HZ * np.arange(n))
    power = abs(np.dot(samples, phase)) ** 2
    return float(2.0 * power / (n * total))


def is_tone(samples, freq_hz=TONE_HZ):
    return rms(samples) >= MIN_TONE_RMS and energy_share(samples, freq_hz) >= MIN_TONE_ENERGY_SHARE


def is_silent(samples, _freq_hz=None):
    return len(samples) > 0 and rms(samples) <= MAX_SILENCE_RMS


def dominant_frequency(samples):
    """The strongest frequency in the samples, to about RATE_HZ / len(samples)."""
    spectrum = np.abs(np.fft.rfft(samples * np.hanning(len(samples))))
    return float(np.argmax(spectrum) * RATE_HZ / len(samples))


def first_window(path, start_s, end_s, predicate, *args):
    """Start of the first WINDOW_S window in [start_s, end_s) that satisfies predicate, or None."""
    samples = read_mono(path, start_s, end_s)
    step = int(WINDOW_S * RATE_HZ)
    for offset in range(0, len(samples) - step + 1, step // 2):
        if predicate(samples[offset:offset + step], *args):
            return start_s + offset / RATE_HZ
    return None


def first_loud_sample(samples, threshold=MIN_TONE_RMS):
    """Index of the first sample louder than threshold, or None."""
    loud = np.flatnonzero(np.abs(samples) > threshold)
    return int(loud[0]) if len(loud) else None
