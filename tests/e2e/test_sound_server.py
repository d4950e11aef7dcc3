"""The sound server under a playing stream: its default output switched, the output in use
removed, the server restarted, and a server that never comes back."""

import json
import subprocess
import time
import unittest

from velmora_e2e.case import PLAYING_ROW, TONE_TIMEOUT_S, ProgramCase
from velmora_rig import sound as rig_sound
from velmora_rig.waiting import stays_false, wait_until

TONE = "/live"
OTHER_SINK = "headset"
MOVE_TIMEOUT_S = 5.0
GONE_STATUS = "音频输出已断开，等待恢复"
NO_OUTPUT_STATUS = "没有可用的音频输出"
# As long as a restart of the server takes when the machine is busy.
OUTAGE_S = 2.0
# From the server's return to the stream on it, and to its sound once the server plays; a busy
# machine may hold the program's thread back a little longer.
RETURN_WITHIN_S = 1.0
BUSY_MACHINE_SLACK_S = 0.5
# The probe's shortened wait for a server that stays away, and the slack on its end.
PROBE_RETURN_MS = 3000
GIVE_UP_SLACK_S = 2.0


class SoundServer(ProgramCase):
    def assert_plays_on_without_notice(self):
        p = self.program
        p.wait_for_status("正在播放")
        p.wait_for_buttons(PLAYING_ROW)
        self.assertEqual(p.alerts(), [])

    def test_1_the_stream_follows_the_default_output_and_outlives_it(self):
        self.program.open_url(self.session.streams.url(TONE))
        self.assert_tone_starts(self.sound.position())
        module = self.sound.add_sink(OTHER_SINK)
        self.sound.set_default_sink(OTHER_SINK)
        wait_until(lambda: self.sound.stream_sink() == OTHER_SINK, MOVE_TIMEOUT_S,
                   "the stream on the new default", describe=self.sound.stream_sink)
        self.assertTrue(self.sound.hears_tone_on(OTHER_SINK), "no tone on the new default")
        removed = self.sound.position()
        self.sound.remove_sink(module)
        wait_until(lambda: self.sound.stream_sink() == rig_sound.SINK, MOVE_TIMEOUT_S,
                   "the stream back on the first output", describe=self.sound.stream_sink)
        self.assert_tone_starts(removed)
        self.assert_plays_on_without_notice()

    def test_2_a_restarted_server_gets_the_stream_back_within_a_second(self):
        p = self.program
        p.wait_for_status("正在播放")
        self.sound.stop()
        p.wait_for_status(GONE_STATUS)
        self.assertTrue(stays_false(p.alerts, OUTAGE_S), "a notice while the server was away")
        answered = self.sound.start_again()
        listed = wait_until(lambda: self.sound.stream_sink() and time.monotonic(),
                            TONE_TIMEOUT_S, "our stream on the returned server")
        heard = self.sound.moment(self.assert_tone_starts(0.0))
        # A fresh null sink runs a second or two after the server answers, as its recorder shows.
        playing_from = max(answered, self.sound.moment(0.0))
        print(f"stream back {listed - answered:.2f} s after the server answered; "
              f"tone {heard - playing_from:.2f} s after the server played")
        self.assertLess(listed - answered, RETURN_WITHIN_S + BUSY_MACHINE_SLACK_S)
        self.assertLess(heard - playing_from, RETURN_WITHIN_S + BUSY_MACHINE_SLACK_S)
        self.assert_plays_on_without_notice()

    def test_3_a_server_that_stays_away_ends_in_one_notice(self):
        stopped = self.sound.position()
        self.program.click_button("停止")
        # The tone heard next is the probe's.
        self.assert_silence_within(stopped)
        probe = self.session.processes.start("probe", [
            self.session.paths.probe, self.session.streams.url(TONE), "--seconds", "60",
            "--server-return-ms", str(PROBE_RETURN_MS)], env=self.session.env,
            stdout=subprocess.PIPE)
        self.assert_tone_starts(self.sound.position())
        wait_until(self.sound.stream_sink, TONE_TIMEOUT_S, "the probe's stream")
        self.sound.stop()
        out, _ = probe.communicate(timeout=PROBE_RETURN_MS / 1000 + TONE_TIMEOUT_S)
        events = [json.loads(line) for line in out.decode().splitlines()]
        gone = next((e["t_ms"] for e in events if e.get("status") == GONE_STATUS), None)
        self.assertIsNotNone(gone, events)
        notices = [e for e in events if e["event"] in ("warning", "media_error")]
        self.assertEqual(len(notices), 1, events)
        waited_s = (notices[0]["t_ms"] - gone) / 1000
        print(f"gave up {waited_s:.2f} s after the server went away")
        self.assertGreaterEqual(waited_s, PROBE_RETURN_MS / 1000 - 0.1)
        self.assertLess(waited_s, PROBE_RETURN_MS / 1000 + GIVE_UP_SLACK_S)
        last = [e for e in events if e["event"] == "status"][-1]
        self.assertEqual((last["state"], last["status"]), (1, NO_OUTPUT_STATUS))


if __name__ == "__main__":
    unittest.main(verbosity=2)
