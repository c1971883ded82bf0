"""numpy access to olmtsfil recordings and calibrations, through the library's C
interface (ctypes; no compiled extension).

    with olmtsfil.Recording("/data/site1/SITE1") as rec:
        scans = rec.read(24000, stream=2)     # (n, channels) float64, full scale = 1
        print(scans.start, rec.delay(2).seconds)
"""
from .errors import (STATUS, EndOfDataError, NameNotFoundError, NoResponseError, OlmtsError, OpenError,
                     OutOfCalibrationRangeError, StreamError, StreamNotUsableError, TypeMismatchError, status_text)
from .decoding import decode_samples
from .recording import Recording, Streams
from .stream import Delay, Gap, Scans, Segment, Spectra, Stream
from .values import Parameters
from .calibration import (Calibration, Response, Stages, box_response, default_sensor_channels, delay_phase,
                          read_fap, response_stages, sensor_response, to_fap)
from ._native import LIBRARY_ENV, MissingExportError
from . import units
from .units import Chain, UnitsWarning


def __getattr__(name):
    # The survey module is imported on first use: `python -m olmtsfil.survey`
    # then runs it fresh, and pandas and Dask stay unloaded until a survey is made.
    if name == "Survey":
        from .survey import Survey
        return Survey
    raise AttributeError("module 'olmtsfil' has no attribute %r" % (name,))


def library_path():
    """Path of the shared library in use."""
    from ._native import lib
    return lib().path


__version__ = "1.0.0"

__all__ = [
    "Calibration", "Delay", "EndOfDataError", "Gap", "LIBRARY_ENV", "MissingExportError", "NameNotFoundError",
    "NoResponseError", "OlmtsError", "OpenError", "OutOfCalibrationRangeError", "Parameters", "Recording",
    "Response", "STATUS", "Scans", "Segment", "Survey", "Spectra", "Stages", "Stream", "StreamError", "StreamNotUsableError",
    "Streams", "TypeMismatchError",
    "box_response", "decode_samples", "default_sensor_channels", "delay_phase", "library_path", "read_fap",
    "response_stages", "sensor_response", "status_text", "to_fap", "units", "Chain", "UnitsWarning",
]
