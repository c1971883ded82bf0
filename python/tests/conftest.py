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
TOOL = os.path.join(BUILD, "tools", "olmts")  # the built olmts

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
        subprocess.run([TOOL, "sample", directory], check=True,
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


@pytest.fixture
def cals(calibrations):
    """The sample's box calibration and its coils by component, opened."""
    import olmtsfil
    box_path, sensor_paths = calibrations
    with olmtsfil.Calibration.box(box_path) as box:
        sensors = [olmtsfil.Calibration.sensor(path) for path in sensor_paths]
        yield box, dict(zip(("Hx", "Hy", "Hz"), sensors))
        for sensor in sensors:
            sensor.close()


def _dask_client(**cluster_options):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(dashboard_address=None, **cluster_options) as c, distributed.Client(c) as client:
        yield client


@pytest.fixture(scope="module")
def cluster():
    """A dask client of two worker processes."""
    yield from _dask_client(n_workers=2, threads_per_worker=1, processes=True)


@pytest.fixture(scope="module")
def threads():
    """A dask client of one worker in this process, with two threads."""
    yield from _dask_client(n_workers=1, threads_per_worker=2, processes=False)


def built_program(*parts):
    """Path of a program of the build tree; the test fails when it was not built."""
    path = os.path.join(BUILD, *parts)
    if not os.path.exists(path):
        pytest.fail("%s is not built (cmake --build %s --target %s)" % (path, BUILD, parts[-1]))
    return path


@pytest.fixture(scope="session")
def rate_unit_base(tmp_path_factory):
    """Base path of a recording whose tags carry non-zero rate-unit bytes: stream
    4 with RUNT 2 (RATE 900, 15 scans a record, 3 bursts of 10 records 5 s apart),
    stream 5 with RUNT -1 (RATE 600, 10 scans a record, 2 bursts of 8, 3 s apart)."""
    directory = str(tmp_path_factory.mktemp("rateunit"))
    out = subprocess.run([built_program("python", "olmtsfil_python_test_recording"), directory], check=True,
                         capture_output=True, text=True).stdout
    return out.strip()
