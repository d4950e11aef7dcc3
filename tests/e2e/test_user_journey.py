"""A person's first session: the window as it opens, playing the tone, the transport buttons,
a station's title as the mixer shows it, input that cannot play (addresses, a huge paste, a held
Enter, a file that never opens: only the notices due, captioned with the application title, a
window that never stops answering for longer than MAX_UI_FREEZE_S and stays usable, a status line
that names the cause), and closing the window while it plays."""

import os
import unittest
from urllib.parse import quote

from velmora_rig import accessibility as a11y
from velmora_rig import tone
from velmora_e2e.case import PAUSED_ROW, PLAYING_ROW, STOPPED_ROW, ProgramCase
from velmora_rig.program import APP_TITLE, MAIN_TITLE, WARNING_TEXT
from velmora_e2e.responsiveness import UiHeartbeat
from velmora_rig.waiting import stays_false, wait_until

EXAMPLE_URL = "http://www.telvaro.example/telvarocom/bgmusic.mp3"
# Its desktop file (app/identity) names the icon a Wayland shell shows.
DESKTOP_FILE_ID = "example.telvaro.Velmora"
STATION_TITLE = "Artist One - First Song"
# The first ICY block comes 16000 bytes (one second at 128 kbit/s) into the stream.
TITLE_TIMEOUT_S = 5.0
# The longest: the engine waits 15 s for the first byte of a file that never opens.
NOTICE_TIMEOUT_S = 25.0
# Long enough for a second notice, or a late first one, to show if it were coming.
QUIET_S = 1.0
MAX_UI_FREEZE_S = 0.100
# A held key repeats at X's default rate, 25 presses a second.
KEY_REPEAT_INTERVAL_MS = 40
HELD_ENTER_PRESSES = 40
# (what, URL maker, a fragment of the status line that names the cause, whether one notice is
# due, whether it is pasted, Enter presses)
BAD_INPUTS = [
    ("connection refused", lambda session: session.streams.closed_port_url(), "拒绝", True,
     False, 1),
    ("404 answer", lambda session: session.streams.url("/status/404"), "404", True, False, 1),
    ("HTML page", lambda session: session.streams.url("/page.html"), "不是音频", True, False, 1),
    ("10 MB of text", lambda session: "x" * 10 * 1024 * 1024, "不支持", True, True, 1),
    ("Enter held down", lambda session: session.streams.url("/tone.mp3"), "播放", False, False,
     HELD_ENTER_PRESSES),
    # Last: should opening it ever block the user-interface thread, every later row would fail.
    ("named pipe", lambda session: named_pipe(session.work_dir), "不支持", True, False, 1),
]


def named_pipe(folder):
    """A file whose opening waits for a writer that never comes."""
    path = os.path.join(folder, "never-written.mp3")
    os.mkfifo(path)
    return "file://" + path


class UserJourney(ProgramCase):
    def test_1_the_window_opens_ready(self):
        p = self.program
        self.assertEqual(p.main.get_role_name(), "frame")
        if self.session.has_seat:
            self.assertIn((32, 32), self.session.x.icon_sizes(p.xid(MAIN_TITLE)),
                          "the taskbar gets no program icon")
        else:
            self.assertIn(DESKTOP_FILE_ID, self.session.desktop.app_ids(),
                          "the shell cannot find the desktop file with the icon")
        # The window's first state is the window tests'; test_2 clicks on the prompt it shows.
        with self.subTest("the keyboard focus"):
            self.session.require_seat()
            wait_until(lambda: a11y.is_focused(p.url_box), 5, "the keyboard focus in the URL box")
        self.assertTrue(tone.is_silent(self.sound.samples(0, self.sound.recorded())),
                        "sound before anything was asked for")

    def test_2_enter_plays_the_typed_station_named_in_the_mixer(self):
        p = self.program
        with self.subTest("clicks in the box"):
            p.click_url_box()
            wait_until(lambda: p.url_text() == EXAMPLE_URL, 5, "the example URL in the box")
            p.click_url_box()
            self.assertEqual(p.url_text(), EXAMPLE_URL, "a second click changed the box")

        url = self.session.streams.url(f"/live?title={quote(STATION_TITLE)}")
        p.replace_url(url)
        if self.session.has_seat:
            # Every key press applies the started set, before anything plays.
            self.assertEqual(p.enabled_buttons(), PLAYING_ROW)
        before_enter = self.sound.position()
        p.play_typed()
        self.assert_tone_starts(before_enter)
        self.assertEqual(p.url_text(), url, "Enter reached the box")
        p.wait_for_status("播放")
        self.assertTrue(p.status().startswith("  "), p.status())
        p.wait_for_buttons(PLAYING_ROW)
        wait_until(lambda: f'media.name = "{STATION_TITLE}"' in self.sound.sink_inputs(),
                   TITLE_TIMEOUT_S, "the station's title in the mixer", interval_s=0.2)
        self.assert_stream_named()

    def test_3_pause_continue_stop(self):
        p = self.program
        p.wait_for_buttons(PLAYING_ROW)
        at_pause = self.sound.position()
        p.click_button("暂停")
        self.assert_silence_within(at_pause)
        p.wait_for_buttons(PAUSED_ROW)
        p.wait_for_status("暂停")

        at_continue = self.sound.position()
        p.click_button("继续")
        self.assert_tone_starts(at_continue)
        p.wait_for_buttons(PLAYING_ROW)
        p.wait_for_status("播放")

        at_stop = self.sound.position()
        p.click_button("停止")
        self.assert_silence_within(at_stop)
        p.wait_for_buttons(STOPPED_ROW)

    def test_4_each_bad_input_gives_the_notices_due_and_leaves_the_window_answering(self):
        p = self.program
        for what, make_url, cause, notice, paste, presses in BAD_INPUTS:
            with self.subTest(what):
                if presses > 1:
                    self.session.require_seat()
                url = make_url(self.session)
                if paste and self.session.has_seat:
                    p.click_url_box()
                if paste:
                    # A person cannot type 10 MB.
                    a11y.set_text(p.url_box, url)
                else:
                    p.replace_url(url)
                # Measured from Enter on: the fault, not the toolkit laying out the text.
                with UiHeartbeat(self.session.desktop.a11y_bus, a11y.bus_name(p.app)) as beat:
                    p.play_typed(presses, KEY_REPEAT_INTERVAL_MS)
                    if notice:
                        boxes = wait_until(p.alerts, NOTICE_TIMEOUT_S, f"a notice for {what}")
                        self.assertTrue(stays_false(lambda: len(p.alerts()) > 1, QUIET_S),
                                        "more than one notice")
                        self.assertEqual(boxes, [(APP_TITLE, [WARNING_TEXT])])
                        p.close_alert()
                    p.wait_for_status(cause, NOTICE_TIMEOUT_S)
                    self.assertTrue(stays_false(p.alerts, QUIET_S), "an unexpected notice")
                self.assertIsNone(beat.error, "the program stopped answering")
                # The bus thread answers even while the UI thread is blocked, so its own
                # longest wait is what a busy machine added to both.
                self.assertLessEqual(beat.longest_ui_s - beat.longest_bus_s, MAX_UI_FREEZE_S,
                                     beat.summary())
                # Usable: the box takes keys again and the rules answer them.
                with self.subTest(f"{what}: typing again"):
                    p.click_url_box()
                    self.session.x.type_text("x")
                    p.wait_for_buttons(PLAYING_ROW)

        before = self.sound.position()
        p.open_url(self.session.streams.url("/tone.mp3"))
        self.assert_tone_starts(before)

    def test_5_closing_the_window_while_playing_ends_sound_and_program(self):
        p = self.program
        self.session.require_seat()
        before_play = self.sound.position()
        p.click_button("播放")
        self.assert_tone_starts(before_play)
        at_close = self.sound.position()
        p.close_window(MAIN_TITLE)
        self.assert_silence_within(at_close)
        self.assertEqual(p.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
