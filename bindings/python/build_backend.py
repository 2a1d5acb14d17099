"""Builds the flatav wheel with the standard library alone, so that
`pip install bindings/python` needs no build backend from a package index."""
import base64
import hashlib
import os
import zipfile

NAME, VERSION = "flatav", "0.1.0"
DIST_INFO = "%s-%s.dist-info" % (NAME, VERSION)
METADATA = """Metadata-Version: 2.1
Name: flatav
Version: 0.1.0
Summary: Audio decoding, encoding, resampling and filtering through libflatav (FFmpeg)
Requires-Python: >=3.8
Provides-Extra: numpy
Requires-Dist: numpy; extra == "numpy"
"""
WHEEL = """Wheel-Version: 1.0
Generator: flatav build_backend
Root-Is-Purelib: true
Tag: py3-none-any
"""


def _package_files():
    package = os.path.join(os.path.dirname(os.path.abspath(__file__)), NAME)
    for name in sorted(os.listdir(package)):
        if name.endswith(".py"):
            with open(os.path.join(package, name), "rb") as f:
                yield "%s/%s" % (NAME, name), f.read()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    filename = "%s-%s-py3-none-any.whl" % (NAME, VERSION)
    record = []
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w",
                         zipfile.ZIP_DEFLATED) as wheel:
        files = list(_package_files()) + [(DIST_INFO + "/METADATA", METADATA.encode()),
                                          (DIST_INFO + "/WHEEL", WHEEL.encode())]
        for name, data in files:
            wheel.writestr(name, data)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
            record.append("%s,sha256=%s,%d" % (name, digest.decode(), len(data)))
        record.append(DIST_INFO + "/RECORD,,")
        wheel.writestr(DIST_INFO + "/RECORD", "\n".join(record) + "\n")
    return filename
