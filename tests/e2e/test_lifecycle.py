"""The end of the program under open notices: the desktop's Quit, a termination signal or its
close box takes the notices down and the program exits 0, once the about window, which outlives
the main window, has closed too; and a seeded run of random media-control actions that the
program lives through to its Quit.

The random run prints its seed; VELMORA_TORTURE_SEED=N replays that run.
"""

import contextlib
import os
import random
import signal
import time
import unittest

from gi.repository import GLib

from velmora_e2e.mpris import NAME_PREFIX, ROOT, MediaPlayer
from velmora_rig.memory import status_kib
from velmora_rig.program import ABOUT_TITLE, APP_TITLE, MAIN_TITLE, WARNING_TEXT, Program
from velmora_rig.session import Paths, Session
from velmora_rig.waiting import stays_false, wait_until

NOTICE_TIMEOUT_S = 10.0
EXIT_WITHIN_S = 2.0
# Long enough for an exit to show if it were coming.
QUIET_S = 1.0
# A media-control call is answered on the user-interface thread, which nothing may hold up.
MAX_CALL_S = 1.0
ACTIONS = 180
MAX_PAUSE_S = 0.8
PLAY_TIMEOUT_S = 15.0
# The engine's threads come and go with each address; a leak of one per address would pass
# these within a few dozen addresses.
MAX_THREADS = 48
MAX_THREAD_RISE = 8
MAX_RESIDENT_MIB = 250
MAX_RESIDENT_RISE_MIB = 64

# (what, route); each is opened through OpenUri. Bad ones end in a notice. One of each way into
# the engine: other playlist formats and redirects end in the same paths.
STATIONS = [
    ("file", "/tone.mp3"),
    ("live station with titles", "/live?title=One&title=Two&title_every=2"),
    ("slow connect", "/tone.mp3?delay_ms=1500"),
    ("Ogg chain", "/live.ogg"),
    ("Ogg chain of mixed codecs", "/live.ogg?codec=mixed"),
    ("PLS with a dead first entry", "/list/pls"),
    ("nested playlist", "/list/nested"),
    ("HLS", "/hls/live.m3u8"),
    ("held socket", "/no-answer"),
    ("stalled stream", "/stall"),
    ("404", "/status/404"),
    ("HTML page", "/page.html"),
    ("garbage", "/garbage.mp3"),
]
# The status line when the sound server took no stream.
NO_OUTPUT = "没有可用的音频输出"
BUTTONS = ["Stop", "Pause", "Play", "PlayPause"]


class ProgramEnds(unittest.TestCase):
    """One private world (the accessibility bus is bound once a process); a fresh program for
    each way of ending it."""

    @classmethod
    def setUpClass(cls):
        cls.session = Session(Paths.from_environment()).__enter__()
        cls.addClassCleanup(cls.session.__exit__, None, None, None)

    @contextlib.contextmanager
    def running(self):
        program = Program(self.session).launch()
        player = MediaPlayer(self.session.desktop.session_bus)
        try:
            yield program, player
        finally:
            # A failed run leaves its program behind: gone before the next one takes the name.
            self.session.processes.stop(program.process)
            wait_until(lambda: not [n for n in player.names() if n.startswith(NAME_PREFIX)],
                       NOTICE_TIMEOUT_S, "the player's name to go")
            player.close()

    def open_about(self, program):
        program.open_about()
        wait_until(lambda: ABOUT_TITLE in program.windows(), NOTICE_TIMEOUT_S, "the about window")

    def open_notices(self, program, player):
        """Leaves two notices due: the first shown, the second waiting for it to close."""
        player.open_uri(self.session.streams.url("/status/404"))
        boxes = wait_until(program.alerts, NOTICE_TIMEOUT_S, "a notice")
        self.assertEqual(boxes, [(APP_TITLE, [WARNING_TEXT])])
        player.open_uri(self.session.streams.url("/page.html"))
        # The notice is delivered with the status line that names its cause.
        program.wait_for_status("不是音频", NOTICE_TIMEOUT_S)
        self.assertEqual(len(program.alerts()), 1, "more than one notice at a time")

    def assert_exits_cleanly(self, program, end, what=""):
        started = time.monotonic()
        end()
        code = program.wait_exit(timeout_s=EXIT_WITHIN_S * 5)
        took = time.monotonic() - started
        print(f"ended in {took * 1000:.0f} ms with {code}", flush=True)
        self.assertEqual(code, 0, what + self.session.log_tail("velmora"))
        self.assertLessEqual(took, EXIT_WITHIN_S, f"{what}the program took too long to end")

    def test_every_way_of_ending_under_notices_exits_0(self):
        ends = {
            "Quit": lambda program, player: player.call("Quit", interface=ROOT),
            "SIGTERM": lambda program, player: os.kill(program.process.pid, signal.SIGTERM),
        }
        for name, end in ends.items():
            with self.subTest(name), self.running() as (program, player):
                # The about window would keep the program alive past its main window.
                self.open_about(program)
                self.open_notices(program, player)
                self.assert_exits_cleanly(program, lambda: end(program, player))

    def test_the_close_box_waits_for_the_notices_and_the_about_window_for_the_end(self):
        with self.running() as (program, player):
            self.open_about(program)
            self.open_notices(program, player)
            # The notices block the window, as on the original platform: its close box takes
            # effect once they are answered.
            program.close_window(MAIN_TITLE)
            for _ in range(2):
                wait_until(program.alerts, NOTICE_TIMEOUT_S, "a notice")
                program.close_alert()
            program.close_window(MAIN_TITLE)
            wait_until(lambda: MAIN_TITLE not in program.windows(), NOTICE_TIMEOUT_S,
                       "the main window to close")
            self.assertTrue(stays_false(lambda: not program.is_running(), QUIET_S),
                            "the program ended with the about window open")
            self.assertEqual(program.windows(), [ABOUT_TITLE])
            self.assert_exits_cleanly(program, lambda: program.close_window(ABOUT_TITLE))

    def test_the_program_lives_through_random_actions_and_ends_on_quit(self):
        seed = int(os.environ.get("VELMORA_TORTURE_SEED", random.randrange(1 << 31)))
        print(f"seed {seed} (VELMORA_TORTURE_SEED={seed} replays this run)", flush=True)
        with self.running() as (program, player):
            slowest, threads, resident = self.act_at_random(program, player, seed)
            last_url = self.session.streams.url("/live")
            for _ in range(2):
                player.open_uri(last_url)
                wait_until(lambda: "正在播放" in program.status() or NO_OUTPUT in program.status(),
                           PLAY_TIMEOUT_S, "the last address to play", describe=program.status)
                if NO_OUTPUT not in program.status():
                    break
                # The sound server, not the program: on a loaded machine it may fail to take a
                # stream in time.
                print("the sound server took no stream; once more", flush=True)
            self.assertEqual(player.get("PlaybackStatus"), "Playing", program.status())
            self.assertEqual(player.get("Metadata").get("xesam:url"), last_url)
            quarter = len(threads) // 4
            print(f"slowest call {slowest[0] * 1000:.0f} ms ({slowest[1]}); threads {min(threads)}.."
                  f"{max(threads)}, resident {min(resident):.0f}..{max(resident):.0f} MiB; "
                  f"{len(program.alerts())} notice open at the end", flush=True)
            self.assertLessEqual(slowest[0], MAX_CALL_S, f"a slow media-control call: {slowest}")
            self.assertLessEqual(max(threads), MAX_THREADS)
            self.assertLessEqual(max(threads[-quarter:]) - max(threads[:quarter]),
                                 MAX_THREAD_RISE)
            self.assertLessEqual(max(resident), MAX_RESIDENT_MIB)
            self.assertLessEqual(max(resident[-quarter:]) - max(resident[:quarter]),
                                 MAX_RESIDENT_RISE_MIB)
            self.assert_exits_cleanly(program, lambda: player.call("Quit", interface=ROOT),
                                      f"seed {seed}: ")

    def act_at_random(self, program, player, seed):
        """ACTIONS random actions; returns the slowest call (s, which) and the thread count and
        resident MiB after each."""
        rng, streams = random.Random(seed), self.session.streams
        closed = streams.closed_port_url()
        slowest, threads, resident = (0.0, None), [], []
        for number in range(ACTIONS):
            time.sleep(rng.uniform(0, MAX_PAUSE_S))
            if rng.random() < 0.05:
                if program.alerts():
                    program.close_alert()
                continue
            if rng.random() < 0.45:
                what, route = rng.choice(STATIONS + [("refused", None)])
                url = closed if route is None else streams.url(route)
                action, call = f"OpenUri {what}", ("OpenUri", GLib.Variant("(s)", (url,)))
            else:
                action = rng.choice(BUTTONS)
                call = (action, None)
            started = time.monotonic()
            try:
                player.call(*call)
            except GLib.Error as error:
                self.fail(f"#{number} {action} failed (seed {seed}): {error.message}\n"
                          + self.session.log_tail("velmora"))
            slowest = max(slowest, (time.monotonic() - started, f"#{number} {action}"))
            self.assertTrue(program.is_running(),
                            f"the program died at #{number} {action} (seed {seed}):\n"
                            + self.session.log_tail("velmora"))
            figures = status_kib(program.process.pid)
            threads.append(figures.get("Threads", 0))
            resident.append(figures.get("VmRSS", 0) / 1024)
        return slowest, threads, resident


if __name__ == "__main__":
    unittest.main(verbosity=2)
