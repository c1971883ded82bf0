"""Loading of the shared library and the ctypes prototypes of its 25 exports.

The library is looked up, in this order: the path in the environment variable
OLMTSFIL_LIBRARY; a copy installed beside this package (the CMake install and
wheel layouts); the system's library search path.
"""
import ctypes
import ctypes.util
import glob
import os
import sys

LIBRARY_ENV = "OLMTSFIL_LIBRARY"

c_int32_p = ctypes.POINTER(ctypes.c_int32)
c_double_p = ctypes.POINTER(ctypes.c_double)


class TimeStamp(ctypes.Structure):
    """Calendar time of a record or calibration (8 bytes, no time zone)."""

    _fields_ = [
        ("second", ctypes.c_uint8),
        ("minute", ctypes.c_uint8),
        ("hour", ctypes.c_uint8),
        ("day", ctypes.c_uint8),
        ("month", ctypes.c_uint8),
        ("year", ctypes.c_uint8),
        ("reserved", ctypes.c_uint8),
        ("century", ctypes.c_uint8),
    ]


class Complex(ctypes.Structure):
    """Complex response value as the library delivers it: real part first."""

    _fields_ = [("re", ctypes.c_double), ("im", ctypes.c_double)]


assert ctypes.sizeof(TimeStamp) == 8 and ctypes.sizeof(Complex) == 16


class TsHandle(ctypes.Structure):
    """Opaque recording handle."""


class CalHandle(ctypes.Structure):
    """Opaque calibration handle."""


TsHandle_p = ctypes.POINTER(TsHandle)
CalHandle_p = ctypes.POINTER(CalHandle)

# name: (restype, argtypes), in the order of the public header.
PROTOTYPES = {
    "TSOpenHT": (TsHandle_p, [ctypes.c_char_p]),
    "TSCloseHT": (None, [ctypes.POINTER(TsHandle_p)]),
    "SetConcatHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32]),
    "ReadPrmHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_void_p]),
    "ReadPrmInfoHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_char_p, ctypes.c_char_p, c_int32_p, c_int32_p, c_int32_p]),
    "GCodePrmHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, ctypes.c_char_p]),
    "GetNumChnHT": (ctypes.c_int32, [TsHandle_p, c_int32_p]),
    "GetSampleRateHzHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, c_double_p]),
    "SeekHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, TimeStamp, ctypes.c_int32]),
    "GapHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32]),
    "SkipRecHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32]),
    "ReadRecHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p]),
    "ReadScanHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, c_int32_p, ctypes.c_void_p]),
    "ReadScanDblHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, c_int32_p, c_double_p]),
    "ReadTagHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32,
                                   ctypes.c_void_p]),
    "GetDftFreqHT": (ctypes.c_double, [TsHandle_p, ctypes.c_int32]),
    "ReadDftScanHT": (ctypes.c_int32, [TsHandle_p, c_int32_p, c_int32_p, c_int32_p, c_int32_p, c_double_p]),
    "CalOpenHT": (CalHandle_p, [ctypes.c_int32, ctypes.c_char_p]),
    "CalCloseHT": (None, [ctypes.POINTER(CalHandle_p)]),
    "ReadCalPrmHT": (ctypes.c_int32, [CalHandle_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_void_p]),
    "CalcBoxNomGainHT": (ctypes.c_int32, [TsHandle_p, c_double_p]),
    "CalcSensorNomGainHT": (ctypes.c_int32, [TsHandle_p, c_double_p]),
    "CalcSensorRespHT": (ctypes.c_int32, [CalHandle_p, TsHandle_p, ctypes.c_double, ctypes.POINTER(Complex),
                                          c_double_p]),
    "CalcBoxRespHT": (ctypes.c_int32, [CalHandle_p, TsHandle_p, ctypes.c_int32, ctypes.c_double,
                                       ctypes.POINTER(Complex), c_double_p]),
    "GetAcqDelayHT": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, c_double_p]),
    # Extensions beside the HT family.
    "olmts_read_scans_dbl": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p,
                                              ctypes.c_int64, ctypes.POINTER(ctypes.c_int64)]),
    "olmts_read_scans_i32": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_void_p,
                                              ctypes.c_int64, ctypes.POINTER(ctypes.c_int64)]),
}


c_int64_p = ctypes.POINTER(ctypes.c_int64)


class StreamWalk(ctypes.Structure):
    """What olmts_walk_stream found: records, gaps, first and last record time."""

    _fields_ = [
        ("records", ctypes.c_int64),
        ("gaps", ctypes.c_int64),
        ("first", TimeStamp),
        ("last", TimeStamp),
    ]


class StreamSurvey(ctypes.Structure):
    """What olmts_survey_stream found: as StreamWalk, with the records whose tag
    was read and the bytes of one record."""

    _fields_ = [
        ("records", ctypes.c_int64),
        ("gaps", ctypes.c_int64),
        ("first", TimeStamp),
        ("last", TimeStamp),
        ("tags_read", ctypes.c_int64),
        ("record_size", ctypes.c_int64),
    ]


# The library's own additions beyond the HT family (the header's extension
# section). A library built before one of them raises MissingExportError when it
# is called.
EXTENSIONS = {
    "olmts_gap_scans": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, c_int64_p, c_int64_p, c_double_p]),
    "olmts_record_rate_hz": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, ctypes.c_int32, c_double_p]),
    "olmts_stream_file": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, c_int32_p, ctypes.c_char_p, ctypes.c_int32]),
    "olmts_walk_stream": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, ctypes.POINTER(StreamWalk)]),
    "olmts_survey_stream": (ctypes.c_int32, [TsHandle_p, ctypes.c_int32, ctypes.c_int32,
                                             ctypes.POINTER(StreamSurvey)]),
    "olmts_next_set_file": (ctypes.c_int32, [ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32]),
}


class MissingExportError(AttributeError):
    """The loaded library does not export a function this package binds."""


def _candidates(looked):
    """Paths to try, in order; ``looked`` receives a description of every place
    searched, for the message when none serves."""
    explicit = os.environ.get(LIBRARY_ENV)
    if explicit:
        looked.append("%s=%s" % (LIBRARY_ENV, explicit))
        yield explicit
        return
    looked.append("%s (not set)" % LIBRARY_ENV)
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.platform == "win32":
        patterns = ["olmtsfil.dll", "libolmtsfil.dll"]
    elif sys.platform == "darwin":
        patterns = ["libolmtsfil.dylib", "libolmtsfil.*.dylib"]
    else:
        patterns = ["libolmtsfil.so", "libolmtsfil.so.*"]
    beside = [os.path.join(here, pattern) for pattern in patterns]
    found_beside = [path for pattern in beside for path in sorted(glob.glob(pattern))]
    looked.append("beside the package: %s%s" % (", ".join(beside), "" if found_beside else " (none there)"))
    for path in found_beside:
        yield path
    found = ctypes.util.find_library("olmtsfil")
    looked.append("the system's library path (%s)" % ("found " + found if found else "no olmtsfil there"))
    if found:
        yield found


def _load():
    # 32-bit Windows exports are __stdcall; everywhere else the C convention.
    loader = ctypes.WinDLL if (sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4) else ctypes.CDLL
    tried = []
    looked = []
    for path in _candidates(looked):
        try:
            return loader(path), path
        except OSError as error:
            tried.append("%s (%s)" % (path, error))
    raise OSError("olmtsfil shared library not found; set %s to its path. Looked in: %s. Tried: %s"
                  % (LIBRARY_ENV, "; ".join(looked), "; ".join(tried) or "no candidate file was found"))


class _Library:
    """The loaded library with every export prototyped. A function the library
    lacks raises MissingExportError when called rather than at import."""

    def __init__(self):
        self.dll, self.path = _load()
        self.missing = []
        for name, (restype, argtypes) in list(PROTOTYPES.items()) + list(EXTENSIONS.items()):
            try:
                function = getattr(self.dll, name)
            except AttributeError:
                self.missing.append(name)
                setattr(self, name, _missing(name, self.path))
                continue
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)


def _missing(name, path):
    def call(*_args):
        raise MissingExportError("%s does not export %s" % (path, name))
    call.__name__ = name
    return call


_library = None


def lib():
    """The process-wide library instance, loaded on first use."""
    global _library
    if _library is None:
        _library = _Library()
    return _library
