"""How the loopback stream server sends a body: the query that asks for it, the pacing, the burst
and the faults (a stall, a drop) of one delivery, and the readers it sends from."""

import random
import time
from dataclasses import dataclass
from urllib.parse import parse_qs

FULL_SPEED_CHUNK_BYTES = 64 * 1024
PACE_CHUNKS_PER_S = 50
MAX_QUERY_INT = 1 << 40


class BadRequest(Exception):
    pass


class Query:
    def __init__(self, raw: str):
        self._values = parse_qs(raw, keep_blank_values=True)

    def text(self, name: str, default=None):
        values = self._values.get(name)
        return values[-1] if values else default

    def texts(self, name: str) -> list:
        return list(self._values.get(name, []))

    def number(self, name: str, default, low=0, high=MAX_QUERY_INT):
        value = self.text(name)
        if value is None:
            return default
        try:
            number = int(value)
        except ValueError as exc:
            raise BadRequest(f"{name} must be an integer") from exc
        if not low <= number <= high:
            raise BadRequest(f"{name} must lie in {low}..{high}")
        return number


@dataclass
class Delivery:
    """How a body is sent: pacing and the faults to inject."""
    kbps: int = 0
    burst_bytes: int = 0
    drop_after: int = None
    stall_after: int = None
    media_clock: object = None  # a reader whose media_s paces the body instead of kbps
    jitter_ms: int = 0  # each paced chunk up to this much late (the next one on time again)


def pump(reader, out, delivery: Delivery, stopping, max_response_s: float, stall, drop):
    """Sends the body from reader, paced and faulted as delivery says, within max_response_s;
    stall() and drop() carry out those faults, and stopping (an Event) ends it early."""
    start = time.monotonic()
    deadline = start + max_response_s
    paced_chunk = max(1, delivery.kbps * 1000 // 8 // PACE_CHUNKS_PER_S)
    burst_lead_s = None
    sent = 0
    late = random.Random(0)  # the same jitter on every run
    while not stopping.is_set() and time.monotonic() < deadline:
        if delivery.stall_after is not None and sent >= delivery.stall_after:
            stall()
            return
        if delivery.drop_after is not None and sent >= delivery.drop_after:
            drop()
            return
        size = paced_chunk if delivery.kbps and sent >= delivery.burst_bytes else None
        if delivery.media_clock is not None:
            size = None
        if size is None:
            size = FULL_SPEED_CHUNK_BYTES
            if sent < delivery.burst_bytes:
                size = min(size, delivery.burst_bytes - sent)
        for limit in (delivery.stall_after, delivery.drop_after):
            if limit is not None:
                size = min(size, limit - sent)
        chunk = reader.read(size)
        if not chunk:
            return
        out.write(chunk)
        sent += len(chunk)
        if delivery.kbps and sent > delivery.burst_bytes:
            due = start + (sent - delivery.burst_bytes) * 8 / (delivery.kbps * 1000)
            due += late.uniform(0, delivery.jitter_ms / 1000)
            wait_s = due - time.monotonic()
            if wait_s > 0 and stopping.wait(wait_s):
                return
        elif delivery.media_clock is not None and sent >= delivery.burst_bytes:
            if burst_lead_s is None:
                burst_lead_s = delivery.media_clock.media_s  # kept, as Icecast keeps it
            wait_s = start + delivery.media_clock.media_s - burst_lead_s - time.monotonic()
            if wait_s > 0 and stopping.wait(wait_s):
                return


class FileReader:
    def __init__(self, view):
        self._view = view
        self._offset = 0

    def read(self, size: int):
        chunk = self._view[self._offset:self._offset + size]
        self._offset += len(chunk)
        return chunk


class LoopReader:
    """Reads a file round and round; the media files end on a frame boundary, so it stays valid."""

    def __init__(self, view):
        self._view = view
        self._offset = 0

    def read(self, size: int):
        size = min(size, len(self._view) - self._offset)
        chunk = self._view[self._offset:self._offset + size]
        self._offset = (self._offset + size) % len(self._view)
        return chunk


def parse_range(header: str, length: int):
    """(start, end exclusive) of a single bytes range, or None when it cannot be satisfied."""
    unit, _, ranges = header.partition("=")
    if unit.strip() != "bytes" or "," in ranges:
        return None
    first, _, last = ranges.strip().partition("-")
    try:
        if first == "":
            count = int(last)
            return (max(0, length - count), length) if count > 0 else None
        start = int(first)
        end = int(last) + 1 if last else length
    except ValueError:
        return None
    if start >= length or end <= start:
        return None
    return start, min(end, length)
