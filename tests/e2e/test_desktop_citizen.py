"""The player as the desktop sees it: media keys and widgets over MPRIS2, the mixer's stream
properties, the suspend inhibit, the status line for screen readers, a second player beside it;
and, with no session bus, the player as it always was."""

import os
import unittest

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

from velmora_rig import tone  # noqa: E402
from velmora_e2e.case import PAUSED_ROW, PLAYING_ROW, STOPPED_ROW, ProgramCase  # noqa: E402
from velmora_e2e.mpris import ROOT, InhibitStandIn, MediaPlayer  # noqa: E402
from velmora_rig.program import MAIN_TITLE  # noqa: E402
from velmora_rig.waiting import wait_until  # noqa: E402

DESKTOP_ENTRIES = os.path.join(os.path.dirname(__file__), "..", "..", "app", "identity")
SIGNAL_TIMEOUT_S = 8.0
# Suspend is allowed again this soon after playing ends.
RELEASE_WITHIN_S = 2.0
TITLES = ["Artist One - First Song", "Second Song"]
STATION = "Velmora test radio"
VOLUME_SETTLE_S = 5.0
VOLUME_LISTEN_S = 0.5
TONE_FILE_US = 30_000_000
# Suspend (4) only: not logout, user switch or idle.
PORTAL_INHIBIT = "inhibit ['', 4, {'reason': 'Playing audio'}]"


class DesktopCitizen(ProgramCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.portal = InhibitStandIn(cls.session, "portal")
        cls.player = MediaPlayer(cls.session.desktop.session_bus)
        cls.addClassCleanup(cls.player.close)
        cls.names = []
        cls.listener = Atspi.EventListener.new(
            lambda e: cls.names.append((e.source.get_role_name(), e.source.get_name())))
        cls.listener.register("object:property-change:accessible-name")

    def test_1_the_desktop_finds_the_player(self):
        # The other methods are pressed by the tests below.
        self.player.call("Raise", interface=ROOT)
        self.assertEqual(self.player.name, "org.mpris.MediaPlayer2.velmora")
        facts = {p: self.player.get(p, ROOT) for p in ("Identity", "CanRaise", "CanQuit",
                                                       "HasTrackList", "SupportedUriSchemes")}
        entry = self.player.get("DesktopEntry", ROOT) + ".desktop"
        self.assertTrue(os.path.exists(os.path.join(DESKTOP_ENTRIES, entry)), entry)
        self.assertEqual(facts, {"Identity": "Velmora", "CanRaise": True, "CanQuit": True,
                                 "HasTrackList": False, "SupportedUriSchemes": ["http", "https"]})
        controls = {p: self.player.get(p) for p in ("PlaybackStatus", "CanPlay", "CanControl",
                                                     "CanSeek", "CanGoNext", "CanGoPrevious")}
        self.assertEqual(controls, {"PlaybackStatus": "Stopped", "CanPlay": True,
                                    "CanControl": True, "CanSeek": False, "CanGoNext": False,
                                    "CanGoPrevious": False})
        # Screen readers: the box is named by its caption.
        self.assertEqual(self.program.url_box.get_name(), "网络音乐地址：")

    def test_1b_a_second_player_takes_an_instance_name_and_one_with_no_bus_plays_as_always(self):
        x, program = self.session.x, [self.session.paths.program]
        env = dict(self.session.env, QT_QPA_PLATFORM="xcb")
        second = self.session.processes.start("velmora-2", program, env=env)
        env.pop("DBUS_SESSION_BUS_ADDRESS")
        lone = self.session.processes.start("velmora-no-bus", program, env=env)
        try:
            instance = f"org.mpris.MediaPlayer2.velmora.instance{second.pid}"
            wait_until(lambda: instance in self.player.names(), SIGNAL_TIMEOUT_S, instance)
            self.assertEqual(self.player.name, "org.mpris.MediaPlayer2.velmora")
            # The URL box has the keyboard focus at start.
            x.focus(x.wait_window(lone.pid, MAIN_TITLE, SIGNAL_TIMEOUT_S))
            x.key("ctrl+a", "BackSpace")
            x.type_text(self.session.streams.url("/tone.mp3"))
            before = self.sound.position()
            x.key("Return")
            self.sound.wait_for_tone(before, SIGNAL_TIMEOUT_S)
            for child in (second, lone):
                self.assertEqual(list(x.windows_of(child.pid).values()), [MAIN_TITLE],
                                 "a message box or another window opened")
            self.assertIsNone(lone.poll())
        finally:
            self.session.processes.stop(second)
            self.session.processes.stop(lone)

    def test_2_open_uri_plays_and_titles_are_announced_once(self):
        p = self.program
        query = "&".join("title=" + t.replace(" ", "%20") for t in TITLES)
        url = self.session.streams.url(f"/live?{query}&title_every=2&meta_repeat=1")
        before = self.sound.position()
        self.player.open_uri(url)
        self.assert_tone_starts(before)
        p.wait_for_buttons(PLAYING_ROW)
        self.assertEqual(p.url_text(), url)
        self.player.wait_status("Playing", SIGNAL_TIMEOUT_S)
        wait_until(lambda: self._titles()[-3:] == ["First Song", "Second Song", "First Song"],
                   3 * SIGNAL_TIMEOUT_S, "three title changes announced", describe=self._titles)
        self.assertTrue(all(a != b for a, b in zip(self._titles(), self._titles()[1:])),
                        f"a title was announced twice in a row: {self._titles()}")
        first = next(m for m in self.player.changed("Metadata")
                     if m.get("xesam:title") == "First Song")
        self.assertEqual((first["xesam:artist"], first["xesam:album"], first["xesam:url"]),
                         (["Artist One"], STATION, url))
        self.assertNotIn("mpris:length", first, "a live stream has no length")
        self.wait_last(self.portal, PORTAL_INHIBIT, SIGNAL_TIMEOUT_S)

        self.assertIn('media.title = "Artist One - ', self.sound.sink_inputs())
        self.player.pump()
        status_names = [n for role, n in self.names if role == "status bar"]
        self.assertTrue(any("正在播放：" in n for n in status_names), status_names)

    def _titles(self):
        return [m["xesam:title"] for m in self.player.changed("Metadata") if "xesam:title" in m]

    def test_3_gnome_and_kde_keys_act_as_the_buttons(self):
        p = self.program
        steps = [
            ("GNOME pauses", lambda: self.player.call("PlayPause"), PAUSED_ROW, "Paused"),
            # Plasma's key: Pause when Playing and CanPause, else Play.
            ("KDE continues", lambda: self.player.call("Play"), PLAYING_ROW, "Playing"),
            ("KDE pauses", lambda: self.player.call("Pause"), PAUSED_ROW, "Paused"),
            ("GNOME continues", lambda: self.player.call("PlayPause"), PLAYING_ROW, "Playing"),
            ("Stop", lambda: self.player.call("Stop"), STOPPED_ROW, "Stopped"),
        ]
        for name, press, row, status in steps:
            with self.subTest(name):
                at = self.sound.position()
                press()
                p.wait_for_buttons(row)
                self.player.wait_status(status, SIGNAL_TIMEOUT_S)
                if status == "Playing":
                    self.assertTrue(self.player.get("CanPause"))
                    self.assert_tone_starts(at)
                    p.wait_for_status("播放")
                    self.wait_last(self.portal, PORTAL_INHIBIT, SIGNAL_TIMEOUT_S)
                else:
                    self.assert_silence_within(at)
                    self.wait_last(self.portal, "release", RELEASE_WITHIN_S)
        self.assertEqual(p.status().strip(), "已停止")

    def test_4_a_file_has_a_length_and_volume_sets_the_loudness(self):
        self.assertEqual(self.player.get("Volume"), 0.5)
        before = self.sound.position()
        self.player.open_uri(self.session.streams.url("/tone.mp3"))
        self.assert_tone_starts(before)
        length = wait_until(lambda: self.player.get("Metadata").get("mpris:length"),
                            SIGNAL_TIMEOUT_S, "the file's length")
        self.assertAlmostEqual(length, TONE_FILE_US, delta=TONE_FILE_US / 20)
        at_half = self._loudness()
        self.player.set("Volume", GLib.Variant("d", 0.25))
        wait_until(lambda: self.player.changed("Volume")[-1:] == [0.25], SIGNAL_TIMEOUT_S,
                   "Volume 0.25 announced")
        self.assertEqual(self.player.get("Volume"), 0.25)
        # Heard once what was buffered at the old volume has played; on a busy machine the
        # change takes a moment longer to arrive.
        ratios = []

        def halved():
            ratios.append(self._loudness() / at_half)
            return abs(ratios[-1] - 0.5) <= 0.1

        wait_until(halved, VOLUME_SETTLE_S, "the tone at half its loudness",
                   describe=lambda: ratios[-3:])

    def _loudness(self):
        start = self.sound.position()
        self.sound.wait_position(start + VOLUME_LISTEN_S)
        return tone.rms(self.sound.samples(start, start + VOLUME_LISTEN_S))

    def test_5_fallbacks_inhibit_and_release_on_failure_and_quit(self):
        self.player.call("Stop")
        self.wait_last(self.portal, "release", RELEASE_WITHIN_S)
        self.portal.stop()
        power = InhibitStandIn(self.session, "power-management")
        self.player.call("Play")
        self.wait_last(power, "inhibit ['Velmora', 'Playing audio']", SIGNAL_TIMEOUT_S)
        self.player.open_uri(self.session.streams.closed_port_url())
        wait_until(self.program.alerts, SIGNAL_TIMEOUT_S, "the notice of the failure")
        self.wait_last(power, "release", RELEASE_WITHIN_S)
        self.program.close_alert()
        power.stop()

        gnome = InhibitStandIn(self.session, "gnome-session")
        self.player.open_uri(self.session.streams.url("/tone.mp3"))
        self.wait_last(gnome, "inhibit ['Velmora', 0, 'Playing audio', 4]", SIGNAL_TIMEOUT_S)
        self.player.call("Quit", interface=ROOT)
        self.wait_last(gnome, "release", RELEASE_WITHIN_S)
        self.assertEqual(self.program.wait_exit(), 0)

    def wait_last(self, stand_in, line, timeout_s):
        wait_until(lambda: stand_in.record()[-1:] == [line], timeout_s, f"{line!r} recorded",
                   describe=stand_in.record)


if __name__ == "__main__":
    unittest.main(verbosity=2)
