"""Builds the Debian package once, then checks what it ships and declares, what lintian and the
desktop's validators say (lintian also matches each icon's size to its folder and the entry's
command to the package), and that the program it installs starts from a scratch root far enough
to show its window."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

from velmora_rig.processes import Processes, start_session_bus
from velmora_rig.waiting import wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD_SCRIPT = os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts",
                            "build-package.sh")
APP_ID = "example.telvaro.Velmora"
HICOLOR_SIZES = (16, 24, 32, 48, 64, 128, 256)
SHIPPED = {"usr/bin/velmora", f"usr/share/applications/{APP_ID}.desktop",
           f"usr/share/metainfo/{APP_ID}.metainfo.xml", "usr/share/man/man1/velmora.1.gz",
           "usr/share/doc/velmora/copyright", "usr/share/doc/velmora/changelog.gz",
           *(f"usr/share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png"
             for size in HICOLOR_SIZES)}
# What the program loads by name at run time, which no library link reveals; the rest of its
# dependencies are the libraries it links, and libsoup 3, the one souphttpsrc loads that the
# engine is proved against (it would take libsoup 2.4 as well).
RUNTIME_PACKAGES = {"gstreamer1.0-plugins-base", "gstreamer1.0-plugins-good",
                    "gstreamer1.0-plugins-bad", "gstreamer1.0-pulseaudio", "glib-networking",
                    "fonts-noto-cjk"}
BUILD_TIMEOUT_S = 840
TOOL_TIMEOUT_S = 180
WINDOW_TIMEOUT_S = 30
POLL_S = 0.2
QUIT_TIMEOUT_S = 10
MPRIS = ("--dest=org.mpris.MediaPlayer2.velmora", "/org/mpris/MediaPlayer2")


def _run(*command, timeout_s=TOOL_TIMEOUT_S, env=None):
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout_s, env=env,
                          check=False)


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        started = time.monotonic()
        # The suite runs beside it, measuring sound in real time: the compiler yields.
        built = _run("nice", "-n", "19", BUILD_SCRIPT, os.environ["VELMORA_PACKAGE_DIR"],
                     timeout_s=BUILD_TIMEOUT_S)
        if built.returncode != 0:
            raise AssertionError(f"package build failed:\n{built.stderr}")
        cls.deb = built.stdout.strip().splitlines()[-1]
        print(f"built {cls.deb} in {time.monotonic() - started:.0f} s", file=sys.stderr)

    def field(self, name):
        return _run("dpkg-deb", "--field", self.deb, name).stdout.strip()

    def test_the_package_carries_the_project_version_and_its_runtime(self):
        self.assertEqual(self.field("Version"), os.environ["VELMORA_VERSION"])
        self.assertTrue(self.deb.endswith(f"/velmora_{os.environ['VELMORA_VERSION']}_amd64.deb"))
        depends = {item.split()[0] for item in self.field("Depends").split(", ")}
        self.assertEqual({name for name in depends if not name.startswith("lib")},
                         RUNTIME_PACKAGES)
        self.assertIn("libqt6widgets6", depends, "the shared libraries come from shlibs")
        self.assertIn("libsoup-3.0-0", depends)

    def test_it_ships_the_program_and_its_desktop_files_only(self):
        entries = [line.split(maxsplit=5) for line in
                   _run("dpkg-deb", "--contents", self.deb).stdout.splitlines()]
        paths = [entry[5].split(" -> ")[0].removeprefix("./") for entry in entries]
        files = {path for (mode, *_), path in zip(entries, paths) if not mode.startswith("d")}
        self.assertEqual(files, SHIPPED)
        strays = [path for path in paths if path.startswith(("usr/local", "home"))]
        self.assertEqual(strays, [])

    def test_lintian_finds_no_error_and_no_warning(self):
        changes = self.deb.removesuffix(".deb") + ".changes"
        checked = _run("lintian", "--fail-on", "error,warning", changes)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def test_the_desktop_validators_accept_the_entry_and_the_metainfo(self):
        with tempfile.TemporaryDirectory() as root:
            self.assertEqual(_run("dpkg", "-x", self.deb, root).returncode, 0)
            entry = os.path.join(root, "usr", "share", "applications", f"{APP_ID}.desktop")
            for command in (("desktop-file-validate", entry),
                            ("appstreamcli", "validate-tree", "--no-net", root)):
                with self.subTest(command[0]):
                    result = _run(*command)
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                    self.assertNotRegex(result.stdout + result.stderr,
                                        r"(?m)^(E|W|error|warning)")

    def test_the_installed_program_shows_its_window_and_quits_when_asked(self):
        with tempfile.TemporaryDirectory() as scratch:
            root = os.path.join(scratch, "root")
            unpacked = _run("dpkg", "-x", self.deb, root)
            self.assertEqual(unpacked.returncode, 0, unpacked.stderr)
            processes = Processes(scratch)
            try:
                bus = start_session_bus(processes, "dbus", scratch, None, WINDOW_TIMEOUT_S)
                env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus, QT_QPA_PLATFORM="offscreen",
                           XDG_RUNTIME_DIR=scratch, HOME=scratch,
                           XDG_DATA_DIRS=os.path.join(root, "usr", "share") + ":/usr/share")
                player = processes.start("velmora", [os.path.join(root, "usr", "bin", "velmora")],
                                         env=env)
                # The program joins the session bus once its main window is shown.
                entry = wait_until(lambda: _run("dbus-send", "--session", "--print-reply", *MPRIS,
                                                "org.freedesktop.DBus.Properties.Get",
                                                "string:org.mpris.MediaPlayer2",
                                                "string:DesktopEntry", env=env).stdout,
                                   WINDOW_TIMEOUT_S, "the window", interval_s=POLL_S)
                self.assertIn(f'"{APP_ID}"', entry)
                _run("dbus-send", "--session", "--print-reply", *MPRIS,
                     "org.mpris.MediaPlayer2.Quit", env=env)
                self.assertEqual(player.wait(QUIT_TIMEOUT_S), 0)
            finally:
                processes.stop_all()
                if os.path.exists(processes.log_path("velmora")):
                    with open(processes.log_path("velmora"), errors="replace") as log:
                        print(log.read(), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
