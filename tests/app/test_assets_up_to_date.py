"""The committed images are exactly what the drawing script makes now."""

import filecmp
import os
import subprocess
import sys
import tempfile
import unittest

ASSETS = os.environ["VELMORA_ASSETS_DIR"]
OUTPUTS = ["banner.jpg", "velmora.ico"] + [
    os.path.join("icons", f"velmora-{size}.png") for size in (16, 24, 32, 48, 64, 128, 256)]
DRAW_TIMEOUT_S = 120


class AssetsUpToDateTest(unittest.TestCase):
    def test_redrawn_images_match_the_committed_ones(self):
        with tempfile.TemporaryDirectory() as scratch:
            subprocess.run([sys.executable, os.path.join(ASSETS, "make_assets.py"), scratch],
                           check=True, timeout=DRAW_TIMEOUT_S)
            self.assertEqual(sorted(os.path.relpath(os.path.join(d, f), scratch)
                                    for d, _, files in os.walk(scratch) for f in files),
                             sorted(OUTPUTS))
            for name in OUTPUTS:
                with self.subTest(file=name):
                    self.assertTrue(
                        filecmp.cmp(os.path.join(scratch, name), os.path.join(ASSETS, name),
                                    shallow=False),
                        f"{name} differs: run assets/make_assets.py and commit its outputs")


if __name__ == "__main__":
    unittest.main()
