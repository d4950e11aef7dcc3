"""Generated media for the loopback stream server: MP3, and the songs of a chained Ogg station.

Every file is made on first use with GStreamer's own tools (lamemp3enc, vorbisenc, opusenc,
flacenc) and kept in a cache folder, so a test run costs the encoding once. A file's name
carries every parameter that shapes it: a change of recipe never reuses a stale file. Each step
ends in a few seconds or fails: a server that waits longer for its media keeps the demo and the
tests waiting.
"""

import math
import os
import random
import shutil
import struct
import subprocess
import tempfile
import wave
from dataclasses import dataclass

# Bumped when a recipe changes in a way its file name would not show.
RECIPE_VERSION = 1
SAMPLE_RATE_HZ = 44100
CHANNELS = 2
ENCODE_TIMEOUT_S = 5  # the longest recipe takes half a second on one idle core
OGG_CHAIN_ARTIST = "Velmora test radio"


class MediaError(RuntimeError):
    """A media file could not be made."""


@dataclass(frozen=True)
class ToneRecipe:
    freq_hz: int
    bitrate_kbps: int
    duration_s: int

    def file_name(self) -> str:
        return (f"tone-{self.freq_hz}hz-{self.bitrate_kbps}k-{self.duration_s}s"
                f"-v{RECIPE_VERSION}.mp3")


@dataclass(frozen=True)
class AacToneRecipe:
    """The tone as AAC-LC in ADTS frames, as AAC stations send it."""
    freq_hz: int
    bitrate_kbps: int
    duration_s: int

    def file_name(self) -> str:
        return (f"tone-{self.freq_hz}hz-{self.bitrate_kbps}k-{self.duration_s}s"
                f"-v{RECIPE_VERSION}.aac")


@dataclass(frozen=True)
class MelodyRecipe:
    """One pass of the tune encoded, its frames then repeated: the first frame of an encoding
    borrows no bits from before it, so the copies join cleanly, and the demo, which waits for
    this file, pays for one pass only."""
    bitrate_kbps: int
    repeats: int

    def file_name(self) -> str:
        return f"melody-{self.bitrate_kbps}k-x{self.repeats}-joined-v{RECIPE_VERSION}.mp3"


@dataclass(frozen=True)
class OggChainRecipe:
    """One song of a chained Ogg station: a short tone in its own logical bitstream, whose
    comment header names it, and its rate or mono too when they are not the usual ones."""
    codec: str  # vorbis, opus or flac
    song: int
    duration_s: int = 1
    rate_hz: int = 48000  # Opus knows no 44.1 kHz: its songs stay at 48 kHz
    channels: int = 2

    @property
    def title(self) -> str:
        name = f"{'FLAC' if self.codec == 'flac' else self.codec.capitalize()} song {self.song}"
        if self.rate_hz != 48000:
            name += f", {self.rate_hz / 1000:g} kHz"
        return name + (", mono" if self.channels == 1 else "")

    def file_name(self) -> str:
        return (f"chain-{self.codec}-{self.song}-{self.duration_s}s-{self.rate_hz}hz"
                f"-{self.channels}ch-v{RECIPE_VERSION}.ogg")


def _encoder_tail(bitrate_kbps: int, out_path: str) -> list:
    return [
        "!", "audioconvert", "!", "audioresample", "!",
        f"audio/x-raw,rate={SAMPLE_RATE_HZ},channels={CHANNELS}", "!",
        "lamemp3enc", "target=bitrate", f"bitrate={bitrate_kbps}", "cbr=true", "!",
        "filesink", f"location={out_path}",
    ]


def garbage(size: int) -> bytes:
    """Bytes that no decoder takes for audio: with no 0xFF byte there is no MP3 frame sync.
    The seed is fixed so that every run serves the same bytes."""
    return random.Random(20240917).randbytes(size).replace(b"\xff", b"\x7f")


def run_encoder(args: list) -> None:
    """Runs a gst-launch-1.0 pipeline to its end, or fails after ENCODE_TIMEOUT_S."""
    launcher = shutil.which("gst-launch-1.0")
    if launcher is None:
        raise MediaError("gst-launch-1.0 not found (Debian package gstreamer1.0-tools)")
    try:
        done = subprocess.run([launcher, "-q", *args], capture_output=True, text=True,
                              timeout=ENCODE_TIMEOUT_S, check=False)
    except subprocess.TimeoutExpired as exc:
        raise MediaError(f"encoding took longer than {ENCODE_TIMEOUT_S} s") from exc
    if done.returncode != 0:
        raise MediaError(f"gst-launch-1.0 failed ({done.returncode}): {done.stderr.strip()}")


def _tone_args(recipe: ToneRecipe, out_path: str) -> list:
    # 441 samples a buffer divides one second exactly, so the tone lasts exactly duration_s.
    samples_per_buffer = SAMPLE_RATE_HZ // 100
    buffers = recipe.duration_s * 100
    return [
        "audiotestsrc", "wave=sine", f"freq={recipe.freq_hz}", "volume=0.5",
        f"samplesperbuffer={samples_per_buffer}", f"num-buffers={buffers}",
        *_encoder_tail(recipe.bitrate_kbps, out_path),
    ]


def _aac_tone_args(recipe: AacToneRecipe, out_path: str) -> list:
    return [
        "audiotestsrc", "wave=sine", f"freq={recipe.freq_hz}", "volume=0.5",
        f"samplesperbuffer={SAMPLE_RATE_HZ // 100}", f"num-buffers={recipe.duration_s * 100}",
        "!", "audioconvert", "!", f"audio/x-raw,rate={SAMPLE_RATE_HZ},channels={CHANNELS}",
        "!", "voaacenc", f"bitrate={recipe.bitrate_kbps * 1000}", "!", "aacparse", "!",
        "audio/mpeg,stream-format=adts", "!", "filesink", f"location={out_path}",
    ]


# A short pentatonic tune (MIDI note, beats); pleasant to hear while checking the player works.
_MELODY = [(69, 1), (72, 1), (74, 1), (76, 2), (74, 1), (72, 1), (69, 2), (67, 1), (69, 1),
           (72, 2), (74, 1), (76, 1), (79, 2), (76, 1), (74, 1), (72, 1), (69, 3)]
_BEAT_S = 0.3
_MELODY_PEAK = 0.35


def _note_samples(note: int, beats: int) -> list:
    freq = 440.0 * 2 ** ((note - 69) / 12)
    samples = []
    for i in range(int(beats * _BEAT_S * SAMPLE_RATE_HZ)):
        t = i / SAMPLE_RATE_HZ
        # Soft attack and exponential decay keep the notes from clicking.
        envelope = min(1.0, t / 0.01) * math.exp(-3.0 * t / (beats * _BEAT_S))
        value = envelope * (math.sin(2 * math.pi * freq * t)
                            + 0.3 * math.sin(4 * math.pi * freq * t))
        samples.append(int(_MELODY_PEAK * 32767 * value / 1.3))
    return samples


def _melody_frames() -> bytes:
    # Each distinct note is computed once: the demo waits for this.
    notes = {key: _note_samples(*key) for key in set(_MELODY)}
    tune = [value for key in _MELODY for value in notes[key] for _channel in range(CHANNELS)]
    return struct.pack(f"<{len(tune)}h", *tune)


def _ogg_chain_args(recipe: OggChainRecipe, out_path: str) -> list:
    # Each song its own pitch, so that a recording shows where one ends.
    # gst-launch-1.0 joins its arguments before parsing: the value is quoted as a whole.
    tags = f'"title=\\"{recipe.title}\\",artist=\\"{OGG_CHAIN_ARTIST}\\""'
    return [
        "audiotestsrc", "wave=sine", f"freq={330 + 110 * recipe.song}", "volume=0.5",
        f"samplesperbuffer={recipe.rate_hz // 100}",
        f"num-buffers={recipe.duration_s * 100}", "!",
        f"audio/x-raw,rate={recipe.rate_hz},channels={recipe.channels}", "!", "audioconvert", "!",
        "taginject", f"tags={tags}", "!", f"{recipe.codec}enc", "!", "oggmux", "!",
        "filesink", f"location={out_path}",
    ]


def _melody_args(recipe: MelodyRecipe, out_path: str, wav_path: str) -> list:
    with wave.open(wav_path, "wb") as wav:
        wav.setnchannels(CHANNELS)
        wav.setsampwidth(2)
        wav.setframerate(SAMPLE_RATE_HZ)
        wav.writeframes(_melody_frames())
    return ["filesrc", f"location={wav_path}", "!", "wavparse",
            *_encoder_tail(recipe.bitrate_kbps, out_path)]


def ensure(media_dir: str, recipe) -> str:
    """Returns the path of the recipe's file in media_dir, encoding it first if it is missing.

    Safe when several processes share media_dir: each encodes into a private temporary file
    and renames it into place atomically.
    """
    os.makedirs(media_dir, exist_ok=True)
    final_path = os.path.join(media_dir, recipe.file_name())
    if os.path.isfile(final_path) and os.path.getsize(final_path) > 0:
        return final_path
    with tempfile.TemporaryDirectory(dir=media_dir, prefix=".making-") as work:
        out_path = os.path.join(work, recipe.file_name())
        if isinstance(recipe, ToneRecipe):
            run_encoder(_tone_args(recipe, out_path))
        elif isinstance(recipe, AacToneRecipe):
            run_encoder(_aac_tone_args(recipe, out_path))
        elif isinstance(recipe, OggChainRecipe):
            run_encoder(_ogg_chain_args(recipe, out_path))
        else:
            run_encoder(_melody_args(recipe, out_path, os.path.join(work, "melody.wav")))
        if not os.path.isfile(out_path) or os.path.getsize(out_path) == 0:
            raise MediaError(f"the encoder wrote nothing for {recipe.file_name()}")
        if isinstance(recipe, MelodyRecipe):
            with open(out_path, "rb") as file:
                one_pass = file.read()
            with open(out_path, "wb") as file:
                file.write(one_pass * recipe.repeats)
        os.replace(out_path, final_path)
    return final_path
