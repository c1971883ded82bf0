"""Typed values as the library delivers them: the value type codes shared by
table parameters, calibration parameters and tag fields, the conversion of one
value to Python, and the recording's table as a mapping."""
import collections.abc
import ctypes

from . import _native
from .errors import NameNotFoundError, check
from .timestamps import stamp_fields, stamp_to_datetime

TYPE_INT32, TYPE_DOUBLE, TYPE_TEXT16, TYPE_NONE, TYPE_TEXT, TYPE_TIMESTAMP = range(6)
READABLE_TYPES = (TYPE_INT32, TYPE_DOUBLE, TYPE_TEXT16, TYPE_TEXT, TYPE_TIMESTAMP)


def encode_name(text):
    """Bytes of a parameter or field name for the library. Names come back from
    the table decoded as latin-1; the same way back keeps any byte a file holds."""
    return text.encode("latin-1") if isinstance(text, str) else bytes(text)


def read_typed(reader, name, type_code, function):
    """Reads one typed value through a ReadPrmHT-like function
    ``reader(name_bytes, type, out) -> status`` and converts it to Python: int,
    float, str, or datetime (the stamp's eight fields as a tuple when they form no
    valid date). A non-zero status raises, naming ``function``."""
    type_code &= 0xFF
    if type_code == TYPE_INT32:
        out = ctypes.c_int32()
    elif type_code == TYPE_DOUBLE:
        out = ctypes.c_double()
    elif type_code == TYPE_TIMESTAMP:
        out = _native.TimeStamp()
    else:
        out = ctypes.create_string_buffer(17)  # 16 bytes, possibly unterminated, plus one NUL
    check(reader(encode_name(name), type_code, ctypes.byref(out)), function, "name %r, type %d" % (name, type_code))
    if type_code in (TYPE_TEXT16, TYPE_TEXT):
        return out.raw[:16].split(b"\0", 1)[0].decode("latin-1")
    if type_code == TYPE_TIMESTAMP:
        when = stamp_to_datetime(out)
        return when if when is not None else stamp_fields(out)
    return out.value


class Parameters(collections.abc.Mapping):
    """The recording's table as a read-only mapping from parameter name to typed
    value (int, float, str or datetime; None for a parameter stored without a
    readable layout). Names are matched without regard to case; iteration gives
    the names in file order, the first of duplicated names only, as lookups do."""

    def __init__(self, handle):
        self._values = {}
        self._names = []
        self._types = {}
        library = _native.lib()
        name_out = ctypes.create_string_buffer(9)
        count = library.GCodePrmHT(handle, -1, name_out) - 11000
        for index in range(count):
            library.GCodePrmHT(handle, index, name_out)
            name = name_out.raw[:8].split(b"\0", 1)[0].decode("latin-1")
            key = name.upper()
            if key in self._values:
                continue
            type_out = ctypes.create_string_buffer(1)
            check(library.ReadPrmInfoHT(handle, encode_name(name), type_out, None, None, None), "ReadPrmInfoHT", name)
            type_code = type_out.raw[0]
            self._types[key] = type_code
            self._names.append(name)
            if type_code in READABLE_TYPES:
                self._values[key] = read_typed(lambda n, t, o: library.ReadPrmHT(handle, n, t, o), name, type_code,
                                               "ReadPrmHT")
            else:
                self._values[key] = None  # type 3 and unknown codes: the library reads no value

    def __getitem__(self, name):
        try:
            return self._values[name.upper()]
        except KeyError:
            raise NameNotFoundError(201, "ReadPrmHT", "name %r" % (name,)) from None

    def __iter__(self):
        return iter(self._names)

    def __len__(self):
        return len(self._names)

    def type_code(self, name):
        """The stored value type code of a parameter."""
        self[name]
        return self._types[name.upper()]

    def __repr__(self):
        return "Parameters({%s})" % ", ".join("%r: %r" % (n, self[n]) for n in self)
