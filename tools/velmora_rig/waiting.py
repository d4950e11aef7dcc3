"""Bounded waiting: every wait in the suite names its timeout and fails with what it waited for."""

import time


POLL_INTERVAL_S = 0.02


def wait_until(condition, timeout_s, what, interval_s=POLL_INTERVAL_S, describe=None):
    """Polls condition() until it returns a true value, which is returned; fails naming `what`
    and the last value seen (or what describe() says of things) when timeout_s passes first."""
    deadline = time.monotonic() + timeout_s
    while True:
        last = condition()
        if last:
            return last
        if time.monotonic() >= deadline:
            seen = describe() if describe is not None else last
            raise AssertionError(f"timed out after {timeout_s:.1f} s waiting for {what} "
                                 f"(last seen: {seen!r})")
        time.sleep(interval_s)


def stays_false(condition, duration_s, interval_s=POLL_INTERVAL_S):
    """True when condition() never returns a true value during duration_s."""
    deadline = time.monotonic() + duration_s
    while time.monotonic() < deadline:
        if condition():
            return False
        time.sleep(interval_s)
    return True
