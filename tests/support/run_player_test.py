"""Checks the run command's launcher with a stand-in player: the demo stream lives exactly as
long as the player, so no server outlives a run to answer the next one's requests."""

import os
import re
import socket
import stat
import subprocess
import tempfile
import unittest
import urllib.request

from velmora_rig.processes import stop
from velmora_rig.waiting import wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
LAUNCHER = os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts", "run-player.sh")
ADDRESS_TIMEOUT_S = 15  # the launcher gives the demo server 10 s
PLAYER_EXIT_TIMEOUT_S = 30
REQUEST_TIMEOUT_S = 10
PLAYER_EXIT_CODE = 7

# Waits until the test lets it go, so the test controls how long "the player" runs.
STAND_IN_PLAYER = """#!/bin/sh
echo $$ > "$0.pid"
for i in $(seq 1 300); do [ -e "$0.go" ] && exit {code}; sleep 0.1; done
exit 99
"""


class RunPlayerTest(unittest.TestCase):
    def setUp(self):
        self.build = tempfile.mkdtemp(prefix="run-player-")
        os.symlink(os.environ["VELMORA_TEST_MEDIA_DIR"], os.path.join(self.build, "demo-media"))
        os.makedirs(os.path.join(self.build, "app"))
        self.player = os.path.join(self.build, "app", "velmora")
        with open(self.player, "w") as file:
            file.write(STAND_IN_PLAYER.format(code=PLAYER_EXIT_CODE))
        os.chmod(self.player, stat.S_IRWXU)

    def tearDown(self):
        subprocess.run(["rm", "-rf", self.build], check=True)

    def start(self):
        launcher = subprocess.Popen([LAUNCHER, self.build], stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL)
        self.addCleanup(launcher.stdout.close)
        self.addCleanup(stop, launcher, PLAYER_EXIT_TIMEOUT_S)
        os.set_blocking(launcher.stdout.fileno(), False)
        return launcher

    def read_address(self, launcher):
        seen = bytearray()

        def address():
            seen.extend(launcher.stdout.read() or b"")
            found = re.search(rb"http://127\.0\.0\.1:\d+/\S*", seen)
            return found and found.group(0).decode()
        return wait_until(address, ADDRESS_TIMEOUT_S, "the demo address",
                          describe=lambda: bytes(seen))

    def test_demo_stream_lives_as_long_as_the_player(self):
        rows = [("the player closes", lambda launcher: open(self.player + ".go", "w").close(),
                 PLAYER_EXIT_CODE),
                ("the launcher is stopped", lambda launcher: launcher.terminate(), 128 + 15)]
        for name, end, exit_code in rows:
            with self.subTest(name):
                launcher = self.start()
                url = self.read_address(launcher)
                with urllib.request.urlopen(url, timeout=REQUEST_TIMEOUT_S) as answer:
                    self.assertEqual(answer.headers["Content-Type"], "audio/mpeg")
                    self.assertEqual(len(answer.read(4096)), 4096)
                wait_until(lambda: os.path.exists(self.player + ".pid"), PLAYER_EXIT_TIMEOUT_S,
                           "the player to start")
                end(launcher)
                self.assertEqual(launcher.wait(PLAYER_EXIT_TIMEOUT_S), exit_code)
                port = int(re.search(r":(\d+)/", url).group(1))
                with self.assertRaises(ConnectionRefusedError):
                    socket.create_connection(("127.0.0.1", port), timeout=REQUEST_TIMEOUT_S)
                with open(self.player + ".pid") as file:
                    self.assertFalse(os.path.exists(f"/proc/{file.read().strip()}"),
                                     "the player outlived the launcher")
                for leftover in (".go", ".pid"):
                    if os.path.exists(self.player + leftover):
                        os.unlink(self.player + leftover)


if __name__ == "__main__":
    unittest.main()
