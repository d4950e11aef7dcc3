"""The loopback stream server, started for one test run."""

import os
import subprocess
import sys

from .waiting import wait_until

START_TIMEOUT_S = 120.0  # the first start of a fresh build tree encodes the media


class StreamServer:
    def __init__(self, processes, work_dir, server_script, media_dir):
        self._processes = processes
        self._port_file = os.path.join(work_dir, "stream-server.port")
        self._script = server_script
        self._media_dir = media_dir
        self.port = None

    def start(self, env):
        self._processes.start("stream-server", [
            sys.executable, self._script, "--port", "0", "--port-file", self._port_file,
            "--media-dir", self._media_dir, "--verbose"], env=env)
        self.port = int(wait_until(self._read_port, START_TIMEOUT_S, "the stream server's port"))

    def _read_port(self):
        try:
            with open(self._port_file) as f:
                return f.read().strip()
        except FileNotFoundError:
            return None

    def url(self, path):
        """Loopback URL of a route, e.g. url("/tone.mp3?kbps=128")."""
        return f"http://127.0.0.1:{self.port}{path}"

    def closed_port_url(self, path="/tone.mp3"):
        """A loopback URL on which nothing listens."""
        port = subprocess.run([sys.executable, self._script, "--closed-port"], check=True,
                              capture_output=True, text=True, timeout=10).stdout.strip()
        return f"http://127.0.0.1:{port}{path}"
