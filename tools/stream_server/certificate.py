"""A self-signed certificate for 127.0.0.1, made once with openssl and cached.

No system store trusts it, so a client that verifies certificates must refuse the server:
the case of a site with a bad certificate.
"""

import os
import shutil
import subprocess
import tempfile

CERTIFICATE_NAME = "selfsigned-127.0.0.1-v1.pem"
OPENSSL_TIMEOUT_S = 10  # a 2048-bit key takes well under a second
VALID_DAYS = 3650


class CertificateError(RuntimeError):
    """The certificate could not be made."""


def ensure(cache_dir: str) -> str:
    """Returns the path of a PEM file holding the certificate and its key, made if missing."""
    os.makedirs(cache_dir, exist_ok=True)
    final_path = os.path.join(cache_dir, CERTIFICATE_NAME)
    if os.path.isfile(final_path):
        return final_path
    openssl = shutil.which("openssl")
    if openssl is None:
        raise CertificateError("openssl not found (Debian package openssl)")
    with tempfile.TemporaryDirectory(dir=cache_dir, prefix=".making-") as work:
        key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
        try:
            done = subprocess.run(
                [openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                 "-out", cert, "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                 "-days", str(VALID_DAYS)],
                capture_output=True, text=True, timeout=OPENSSL_TIMEOUT_S, check=False)
        except subprocess.TimeoutExpired as exc:
            raise CertificateError(f"openssl took longer than {OPENSSL_TIMEOUT_S} s") from exc
        if done.returncode != 0:
            raise CertificateError(f"openssl failed: {done.stderr.strip()}")
        combined = os.path.join(work, CERTIFICATE_NAME)
        with open(combined, "w") as out:
            for part in (cert, key):
                with open(part) as file:
                    out.write(file.read())
        os.replace(combined, final_path)
    return final_path
