"""Test set-up: the library under test and the sample recording.

scripts/check-python.sh sets OLMTSFIL_LIBRARY to the built library and
OLMTSFIL_SAMPLE_DIR to a sample written by the built `olmts sample`. Run by
hand, the tests find both in OLMTSFIL_BUILD_DIR (default: build/ of the
repository) and write the sample into a temporary folder.
"""
import json
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("OLMTSFIL_BUILD_DIR", os.path.join(ROOT, "build"))

if "OLMTSFIL_LIBRARY" not in os.environ:
    os.environ["OLMTSFIL_LIBRARY"] = os.path.join(BUILD, "src", "libolmtsfil.so")
sys.path.insert(0, os.path.join(ROOT, "python"))

import matplotlib  # noqa: E402

matplotlib.use("Agg")


@pytest.fixture(scope="session")
def sample(tmp_path_factory):
    """sample.json of the sample recording, with its folder as "directory"."""
    directory = os.environ.get("OLMTSFIL_SAMPLE_DIR")
    if not directory:
        directory = str(tmp_path_factory.mktemp("sample"))
        subprocess.run([os.path.join(BUILD, "tools", "olmts"), "sample", directory], check=True,
                       stdout=subprocess.DEVNULL)
    with open(os.path.join(directory, "sample.json")) as f:
        description = json.load(f)
    description["directory"] = directory
    return description


@pytest.fixture
def rec(sample):
    import olmtsfil
    with olmtsfil.Recording(sample["base"], concatenate=True) as recording:
        yield recording


@pytest.fixture
def raw_rec(sample):
    """A second handle on the sample, driven through the bare ctypes functions."""
    import ctypes
    from olmtsfil import _native
    library = _native.lib()
    handle = library.TSOpenHT(os.fsencode(sample["base"]))
    assert handle
    library.SetConcatHT(handle, 1)
    yield library, handle
    library.TSCloseHT(ctypes.byref(handle))


@pytest.fixture(scope="session")
def calibrations(sample):
    if not sample.get("box_calibration") or not sample.get("sensor_calibrations"):
        pytest.skip("the sample recording carries no calibrations")
    return sample["box_calibration"], sample["sensor_calibrations"]
