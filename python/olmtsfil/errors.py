"""Status codes of the library and the exceptions that carry them."""

# Code: (constant name in the C header, meaning). Kept equal to the header's
# OLMTS_* constants and olmts_status_text(); a test compares them.
STATUS = {
    0: ("OLMTS_OK", "success"),
    1: ("OLMTS_BAD_SEEK_MODE", "seek mode other than 0"),
    131: ("OLMTS_COMB_UNSUPPORTED", "comb filter settings not supported"),
    132: ("OLMTS_DECIMATION_UNSUPPORTED", "decimation chain cannot be evaluated"),
    201: ("OLMTS_NO_SUCH_NAME", "no parameter or field of that name"),
    202: ("OLMTS_TYPE_MISMATCH", "value type differs from the requested type"),
    1201: ("OLMTS_GAP", "gap between records, or a record is not available"),
    1202: ("OLMTS_SEEK_LATER", "no record starts at that time; positioned on the next one"),
    1220: ("OLMTS_END_OF_DATA", "end of data, or no record consumed yet"),
    1221: ("OLMTS_READ_ERROR", "record data cannot be read"),
    1222: ("OLMTS_NULL_HANDLE", "recording handle is NULL, or buffer too small"),
    1223: ("OLMTS_BAD_STREAM", "stream number out of range or stream not usable"),
    1225: ("OLMTS_TAG_MISMATCH", "record tag disagrees with the stream's first tag"),
    1226: ("OLMTS_PATH_TOO_LONG", "base path longer than 256 characters"),
    1227: ("OLMTS_CAL_TOO_LARGE", "calibration table too long, or too many tables"),
    1228: ("OLMTS_NULL_CAL_HANDLE", "calibration handle is NULL"),
    1229: ("OLMTS_OUT_OF_CAL_RANGE", "frequency outside the calibration records"),
    1230: ("OLMTS_BAD_CAL_KIND", "calibration kind not valid or not the file's"),
    1231: ("OLMTS_CAL_PATH_TOO_LONG", "calibration base path longer than 256 characters"),
    1232: ("OLMTS_NO_RESPONSE", "a channel's response cannot be formed"),
    1233: ("OLMTS_BAD_RATE_CODE", "sample-rate code outside 0 ... 6"),
    1234: ("OLMTS_NO_MEMORY", "memory cannot be allocated"),
    1235: ("OLMTS_TABLE_NOT_OPENED", "table file cannot be opened"),
    1237: ("OLMTS_CANNOT_REOPEN", "first file of the stream's set cannot be reopened"),
    1239: ("OLMTS_CAL_NOT_OPENED", "calibration file cannot be opened"),
    1240: ("OLMTS_CAL_HEADER_SHORT", "calibration header cannot be read whole"),
    1245: ("OLMTS_NO_MODEL", "calibration holds no front-end circuit model"),
    1246: ("OLMTS_CHANNEL_COUNT_MISMATCH", "channel counts of recording and calibration differ"),
    1247: ("OLMTS_CAL_RECORD_COUNT", "calibration holds no record, or more than 500"),
    1248: ("OLMTS_BAD_WINDOW", "spectral window number does not fit the level layout"),
    1301: ("OLMTS_SENSOR_REQUIRED", "a magnetic channel has no sensor calibration"),
    1302: ("OLMTS_BOX_SERIAL_MISMATCH", "box calibration belongs to another box"),
    1303: ("OLMTS_BAD_ARGUMENT", "argument out of range or NULL"),
    1304: ("OLMTS_NOT_AVAILABLE", "not available in this build"),
}


def status_name(code):
    return STATUS.get(code, ("OLMTS_UNKNOWN", "unknown status"))[0]


def status_text(code):
    """Meaning of a status code, as olmts_status_text() gives it."""
    return STATUS.get(code, ("OLMTS_UNKNOWN", "unknown status"))[1]


class OlmtsError(Exception):
    """A call into the library returned a non-zero status.

    Attributes: ``code`` (the status, or None when the library gave none, as for a
    failed open), ``meaning`` (its text), ``function`` (the export that returned it).
    """

    def __init__(self, code, function=None, detail=None):
        self.code = code
        self.meaning = status_text(code) if code is not None else (detail or "failed")
        self.function = function
        self.detail = detail
        parts = []
        if function:
            parts.append(function)
        parts.append(("status %d (%s): %s" % (code, status_name(code), self.meaning)) if code is not None
                     else self.meaning)
        if detail and code is not None:
            parts.append(detail)
        super().__init__(": ".join(parts))


class EndOfDataError(OlmtsError):
    """1220: no further record on the stream, or no record consumed yet."""


class NameNotFoundError(OlmtsError, KeyError):
    """201: no parameter or tag field of that name."""

    __str__ = Exception.__str__  # KeyError would quote the message


class TypeMismatchError(OlmtsError):
    """202: the stored type differs from the requested one."""


class StreamError(OlmtsError):
    """1223: stream number out of range or stream not usable."""


class StreamNotUsableError(StreamError, KeyError):
    """A stream of the recording that cannot be read (no file, or its first tag
    failed): ``stream`` is its number, ``code`` the library's status for it.
    Also a KeyError, as a lookup in ``Recording.streams``."""

    __str__ = Exception.__str__

    def __init__(self, code, function=None, detail=None, stream=None):
        super().__init__(code, function, detail)
        self.stream = stream


class OutOfCalibrationRangeError(OlmtsError):
    """1229: frequency outside the calibration records."""


class NoResponseError(OlmtsError):
    """1232: a channel's response cannot be formed. ``values`` and ``aux`` hold what
    the library computed at ``frequency``; channels with a negative aux value are
    the unusable ones."""

    values = None
    aux = None
    frequency = None


class OpenError(OlmtsError, OSError):
    """A recording or calibration could not be opened. The library returns no
    status for this; ``code`` names the reason when it can be told from outside
    (path too long, file missing), else it is None."""

    __str__ = Exception.__str__


_CLASSES = {
    1220: EndOfDataError,
    201: NameNotFoundError,
    202: TypeMismatchError,
    1223: StreamError,
    1229: OutOfCalibrationRangeError,
    1232: NoResponseError,
}


def error_for(code, function=None, detail=None):
    return _CLASSES.get(code, OlmtsError)(code, function, detail)


def check(code, function=None, detail=None):
    """Raises the exception for a non-zero status; returns nothing otherwise."""
    if code != 0:
        raise error_for(code, function, detail)
