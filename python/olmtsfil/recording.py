"""Recordings: parameters, streams, bulk reading into numpy, tags, gaps, spectra."""
import collections
import collections.abc
import ctypes
import datetime as _dt
import os
import weakref

import numpy as np

from ._handle import HandleOwner
from . import _native
from .errors import EndOfDataError, NameNotFoundError, OlmtsError, OpenError, check, error_for
from .timestamps import datetime_to_stamp, stamp_fields, stamp_to_datetime

# Value type codes shared by table parameters, calibration parameters and tag fields.
TYPE_INT32, TYPE_DOUBLE, TYPE_TEXT16, TYPE_NONE, TYPE_TEXT, TYPE_TIMESTAMP = range(6)

COMPONENTS = ("CHEX", "CHEY", "CHEZ", "CHHX", "CHHY", "CHHZ")
COMPONENT_NAMES = {"CHEX": "Ex", "CHEY": "Ey", "CHEZ": "Ez", "CHHX": "Hx", "CHHY": "Hy", "CHHZ": "Hz"}

# The named fields of a record tag, in the library's field-table order, with their types.
TAG_FIELDS = (("UTC", TYPE_TIMESTAMP),) + tuple((name, TYPE_INT32) for name in (
    "SNUM", "SCNT", "NCHN", "LTAG", "STAT", "SATC", "LSMP", "RATE", "RUNT", "CLST", "TERR", "SBREC", "WINDX",
    "WISCN", "LEVTP", "LEVAL", "NFRQT", "NFRQD", "NFREQ"))

# Rate units of a tag's RUNT byte (as the library reads them for spectral
# frequencies): the factor turning RATE into samples per second.
_RATE_UNITS = {0: 1.0, 1: 1.0 / 60.0, 2: 1.0 / 3600.0, 255: 10.0, 254: 100.0}

STREAM_EXTENSIONS = {0: ".TFC", 1: ".TS1", 2: ".TS2 or .TSH", 3: ".TS3 or .TSH", 4: ".TS4 or .TSH",
                     5: ".TS5 or .TSL"}


def _encode(text):
    # Names come back from the table decoded as latin-1; the same way back keeps
    # any byte a file holds.
    return text.encode("latin-1") if isinstance(text, str) else bytes(text)


def read_typed(reader, name, type_code, function):
    """Reads one typed value through a ReadPrmHT-like function
    ``reader(name_bytes, type, out) -> status`` and converts it to Python."""
    type_code &= 0xFF
    if type_code == TYPE_INT32:
        out = ctypes.c_int32()
    elif type_code in (TYPE_DOUBLE,):
        out = ctypes.c_double()
    elif type_code in (TYPE_TEXT16, TYPE_TEXT):
        out = ctypes.create_string_buffer(17)  # 16 bytes, possibly unterminated, plus one NUL
    elif type_code == TYPE_TIMESTAMP:
        out = _native.TimeStamp()
    else:
        out = ctypes.create_string_buffer(17)
    check(reader(_encode(name), type_code, ctypes.byref(out)), function, "name %r, type %d" % (name, type_code))
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

    def __init__(self, recording):
        self._values = {}
        self._names = []
        self._types = {}
        library = _native.lib()
        handle = recording._h
        name_out = ctypes.create_string_buffer(9)
        count = library.GCodePrmHT(handle, -1, name_out) - 11000
        for index in range(count):
            library.GCodePrmHT(handle, index, name_out)
            name = name_out.raw[:8].split(b"\0", 1)[0].decode("latin-1")
            key = name.upper()
            if key in self._values:
                continue
            type_out = ctypes.create_string_buffer(1)
            check(library.ReadPrmInfoHT(handle, _encode(name), type_out, None, None, None), "ReadPrmInfoHT", name)
            type_code = type_out.raw[0]
            self._types[key] = type_code
            self._names.append(name)
            if type_code in (TYPE_INT32, TYPE_DOUBLE, TYPE_TEXT16, TYPE_TEXT, TYPE_TIMESTAMP):
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


class Scans(collections.namedtuple("Scans", "data start")):
    """Scans read from a stream, unpacked as ``data, start = stream.read(n)``:
    ``data`` an (n, channels) float64 array of fractions of full scale, ``start``
    the datetime of its first scan (None when nothing was read). The attribute
    ``sample_rate`` gives the rate in Hz of the records read."""

    def __new__(cls, data, start, sample_rate=None):
        self = super().__new__(cls, data, start)
        self.sample_rate = sample_rate
        return self

    def __repr__(self):
        return "Scans(data=<%s float64>, start=%r, sample_rate=%r)" % (
            "x".join(map(str, self.data.shape)), self.start, self.sample_rate)

    def times(self):
        """datetime64[ns] of every scan of the block."""
        if self.start is None:
            return np.empty(0, dtype="datetime64[ns]")
        if not self.sample_rate > 0:
            raise ValueError("the records give no sample rate")
        offsets = np.rint(np.arange(len(self.data)) * (1e9 / self.sample_rate)).astype("timedelta64[ns]")
        return np.datetime64(self.start, "ns") + offsets


Gap = collections.namedtuple("Gap", "record end_of_previous next_start missing_scans")
Gap.__doc__ = """A break between two records of a stream: ``record`` is the index of the
record after the gap, ``end_of_previous`` the time just after the last scan of
the record before it, ``next_start`` the stamp of the record after it,
``missing_scans`` the number of scans that would fill it (negative for overlap)."""

Delay = collections.namedtuple("Delay", "samples seconds")
Delay.__doc__ = """Acquisition delay of a stream: a sample stamped t describes the input at
t - seconds. Kept apart from every response: correct sample times by it."""


class Spectra(collections.namedtuple("Spectra", "values window level freq_index frequency record_flag")):
    """Spectral coefficients of stream 0: ``values`` (n, channels) complex128,
    ``window``, ``level``, ``freq_index`` and ``record_flag`` int arrays and
    ``frequency`` in Hz, one entry per coefficient."""


_FULL_SCALE_STEP = 4.656612873077393e-10  # 2^-31: the library's scale of a sample shifted into the top bytes
_DECODE_BYTES = 1 << 21  # work buffer of one decoding step; stays in cache


def _decode_records(buf, first, records, scans, stride, channels, sample_bytes, out):
    """Decodes ``records`` records whose ``scans`` scans start at
    buf[first + r * stride] into ``out`` (records x scans rows, float64).

    Each sample's three bytes are read, together with the byte before them, as a
    little-endian 32-bit word; clearing that lowest byte leaves the 24-bit value
    shifted left by 8, which the library scales by 2^-31. So the result equals
    its ReadScanDblHT value bit for bit. Needs ``first`` >= 1 for that borrowed
    byte; with samples shorter than 3 bytes the library's own rule applies (the
    following bytes of the scan, zeros past its end)."""
    scan_size = channels * sample_bytes
    rows = out.reshape(records, scans, channels)
    if sample_bytes >= 3:
        words = np.ndarray((records, scans, channels), dtype="<i4", buffer=buf, offset=first - 1,
                           strides=(stride, scan_size, sample_bytes))
        group = max(1, _DECODE_BYTES // max(1, scans * channels * 4))
        work = np.empty((min(group, records), scans, channels), dtype=np.int32)
        for r in range(0, records, group):
            part = work[:min(group, records - r)]
            np.bitwise_and(words[r:r + group], -256, out=part)
            np.multiply(part, _FULL_SCALE_STEP, out=rows[r:r + group])
        return out
    starts = np.arange(channels) * sample_bytes
    for r in range(records):
        at = first + r * stride
        padded = np.zeros((scans, scan_size + 3), dtype=np.uint8)
        padded[:, :scan_size] = buf[at:at + scans * scan_size].reshape(scans, scan_size)
        word = np.zeros((scans, channels, 4), dtype=np.uint8)
        for j in range(3):
            word[:, :, 1 + j] = padded[:, starts + j]
        np.multiply(word.view("<i4")[:, :, 0], _FULL_SCALE_STEP, out=rows[r])
    return out


def decode_samples(raw, channels, sample_bytes):
    """Converts scans of 24-bit two's-complement little-endian samples, a
    (n, channels x sample_bytes) uint8 array, to fractions of full scale exactly
    as the library does (value / 2^23; only the first three bytes of a sample
    count). Returns an (n, channels) float64 array."""
    raw = np.asarray(raw, dtype=np.uint8)
    n = raw.shape[0]
    scan_size = channels * sample_bytes
    out = np.empty((n, channels), dtype=np.float64)
    if n == 0 or channels == 0:
        return out
    buf = np.empty(n * scan_size + 1, dtype=np.uint8)
    buf[1:] = raw.reshape(-1)
    return _decode_records(buf, 1, 1, n, n * scan_size, channels, sample_bytes, out)


class Stream:
    """One usable stream of a recording (0 spectral, 1 ... 5 time series).

    Reading is strictly forward from the stream's position; ``seek`` moves it.
    ``read`` works on whole records (one ReadRecHT per record, decoded together);
    ``read_scanwise`` is the scan-by-scan path through ReadScanDblHT. The two keep
    separate buffers, so use one of them on a stream, not both."""

    def __init__(self, recording, number):
        self._recording = weakref.proxy(recording)
        self.number = number
        first = {name: self._tag(1, name, TYPE_INT32) for name in ("NCHN", "LSMP", "SCNT", "RATE", "RUNT", "SBREC")}
        self.first_time = self._tag(1, "UTC", TYPE_TIMESTAMP)
        self.channel_count = first["NCHN"]
        self.sample_bytes = first["LSMP"]
        self.scans_per_record = first["SCNT"]
        self.tag_rate = first["RATE"] * _RATE_UNITS.get(first["RUNT"], 0.0)
        self.scan_bytes = self.channel_count * self.sample_bytes
        # The trailer's per-channel factor is a tag byte no function reads, so the
        # buffer allows its largest value; ReadRecHT copies only the block's size.
        self._record_stride = min(self.scans_per_record * self.scan_bytes + self.channel_count * 255 * first["SBREC"],
                                  0x7FFFFFFF)
        self._pending_start = None
        self._in_record = False
        self._scans_in_record = 0
        self._scan_values = (ctypes.c_double * max(self.channel_count, 12))()
        self._frequencies = {}

    def __repr__(self):
        return "<Stream %d: %d channels, %d scans/record, %g Hz>" % (
            self.number, self.channel_count, self.scans_per_record, self.tag_rate)

    # ---- helpers ---------------------------------------------------------------
    def _tag(self, which, name, type_code):
        library = _native.lib()
        handle = self._recording._h
        return read_typed(lambda n, t, o: library.ReadTagHT(handle, self.number, which, n, t, o), name, type_code,
                          "ReadTagHT")

    def _discard_pending(self):
        self._pending_start = None
        self._in_record = False
        self._scans_in_record = 0

    def _offset(self, when, scans):
        return when + _dt.timedelta(seconds=scans / self.tag_rate) if self.tag_rate > 0 else when

    # ---- properties --------------------------------------------------------------
    @property
    def sample_rate(self):
        """Sample rate in Hz from the recording's table (GetSampleRateHzHT)."""
        rate = ctypes.c_double()
        check(_native.lib().GetSampleRateHzHT(self._recording._h, self.number, ctypes.byref(rate)),
              "GetSampleRateHzHT", "stream %d" % self.number)
        return rate.value

    @property
    def delay(self):
        """Acquisition delay (GetAcqDelayHT) in samples and in seconds."""
        samples = ctypes.c_double()
        check(_native.lib().GetAcqDelayHT(self._recording._h, self.number, ctypes.byref(samples)), "GetAcqDelayHT",
              "stream %d" % self.number)
        return Delay(samples.value, samples.value / self.sample_rate)

    def tag(self, which="next"):
        """Fields of the tag of the next record (``which="next"``) or of the record
        consumed last (``"last"``) as a dict."""
        if which not in ("next", "last"):
            raise ValueError("which is 'next' or 'last', not %r" % (which,))
        code = 0 if which == "last" else 1
        fields = {}
        for name, type_code in TAG_FIELDS:
            try:
                fields[name] = self._tag(code, name, type_code)
            except NameNotFoundError:
                if name != "CLST":  # present only in tags of 32 bytes or more
                    raise
        return fields

    # ---- positioning -----------------------------------------------------------
    def seek(self, when):
        """Positions the stream on the first record that starts at or after
        ``when`` (whole seconds) and returns that record's start time. Raises
        EndOfDataError when no record starts that late."""
        library = _native.lib()
        self._drop_rest_of_record()
        status = library.SeekHT(self._recording._h, self.number, datetime_to_stamp(when), 0)
        self._discard_pending()
        if status not in (0, 1202):
            check(status, "SeekHT", "stream %d" % self.number)
        return self._tag(1, "UTC", TYPE_TIMESTAMP)

    def rewind(self):
        """Positions the stream on its first record."""
        self._drop_rest_of_record()
        status = _native.lib().SeekHT(self._recording._h, self.number, _native.TimeStamp(), 0)
        self._discard_pending()
        if status not in (0, 1202):
            check(status, "SeekHT", "stream %d" % self.number)

    def _rewind_if_open(self):
        # A records() iterator dropped early is finished by the garbage collector,
        # possibly after its recording was closed.
        try:
            self.rewind()
        except (ReferenceError, ValueError):
            pass

    def _require_time_series(self):
        if self.number == 0:
            raise error_for(1223, None, "stream 0 holds spectral records; use spectra()")

    # ---- bulk reading ----------------------------------------------------------
    def read(self, n_scans=None, stop_at_gap=True, dtype="float64"):
        """Reads up to ``n_scans`` scans (all that remain when None) and returns
        Scans(data, start, sample_rate). Fewer come back at the end of the data,
        and, with ``stop_at_gap``, where the next record does not join the last one
        (so that ``start`` plus i / sample_rate is the time of row i). An error
        met after some scans were read returns those; the next call raises it.
        ``dtype="int32"`` gives the signed 24-bit counts instead of fractions of
        full scale."""
        self._require_time_series()
        if n_scans is not None and n_scans < 0:
            raise ValueError("n_scans must not be negative")
        if dtype not in ("float64", "int32", np.float64, np.int32):
            raise ValueError("dtype is float64 or int32, not %r" % (dtype,))
        dtype = np.dtype(dtype)
        library = _native.lib()
        read_block = library.olmts_read_scans_i32 if dtype == np.int32 else library.olmts_read_scans_dbl
        handle = self._recording._h
        channels = max(self.channel_count, 1)
        # The time of the next scan: the next record's stamp at a record boundary,
        # otherwise the continuation of the scans read before.
        start = self._pending_start if self._in_record else None
        if self._in_record and start is None:
            last = self._tag(0, "UTC", TYPE_TIMESTAMP)
            start = self._offset(last, self._scans_in_record) if isinstance(last, _dt.datetime) else None
        # One block read fills the result; a whole stream of unknown length grows
        # it geometrically (numpy's resize reallocates in place where it can).
        size = int(n_scans) if n_scans is not None else max(self.scans_per_record, 1) * 64
        out = np.empty((size, self.channel_count), dtype=dtype)
        got = ctypes.c_int64()
        total = 0
        status = 0
        while total < size or n_scans is None:
            if total == size:
                size *= 2
                out.resize((size, self.channel_count), refcheck=False)
            if start is None and total == 0:
                start = self._next_start()
            view = out[total:]
            status = read_block(handle, self.number, 1 if stop_at_gap else 0, view.ctypes.data,
                                view.shape[0] * channels, ctypes.byref(got))
            total += got.value
            if status != 0:
                break
        if status not in (0, 1201, 1220) and total == 0:
            check(status, read_block.__name__, "stream %d" % self.number)
        del view
        if total < size:
            out.resize((total, self.channel_count), refcheck=False)
        self._after_read(start, total)
        return Scans(out, start if total else None, self.tag_rate)

    def _next_start(self):
        try:
            return self._tag(1, "UTC", TYPE_TIMESTAMP)
        except OlmtsError:
            return None

    def _after_read(self, start, scans):
        # Where the next read starts: inside a record the time follows on; at a
        # boundary the next record's own stamp says (it may lie after a gap).
        # Every record of a stream holds the same number of scans, so the count
        # handed out tells how far into its record the scan reader stands.
        per_record = self.scans_per_record
        self._scans_in_record = (self._scans_in_record + scans) % per_record if per_record > 0 else 0
        self._in_record = self._scans_in_record > 0
        self._pending_start = self._offset(start, scans) if self._in_record and start is not None else None

    def _drop_rest_of_record(self):
        # The library hands out the rest of a record begun by scan reading before
        # it follows a repositioning; a seek here means the new position at once.
        if not self._in_record:
            return
        rest = self.scans_per_record - self._scans_in_record
        scratch = np.empty((rest, max(self.channel_count, 1)))
        got = ctypes.c_int64()
        _native.lib().olmts_read_scans_dbl(self._recording._h, self.number, 0, scratch.ctypes.data, scratch.size,
                                           ctypes.byref(got))

    def read_scanwise(self, n_scans):
        """Reads up to ``n_scans`` scans one ReadScanDblHT call at a time (the
        library's own scan path; a reference for ``read``, and slow)."""
        self._require_time_series()
        library = _native.lib()
        handle = self._recording._h
        out = np.empty((n_scans, self.channel_count))
        values = self._scan_values
        flag = ctypes.c_int32()
        channels = self.channel_count
        for i in range(n_scans):
            status = library.ReadScanDblHT(handle, self.number, ctypes.byref(flag), values)
            if status != 0:
                if status == 1220 or i:
                    return out[:i]
                check(status, "ReadScanDblHT", "stream %d" % self.number)
            out[i] = values[:channels]
            self._after_read(None, 1)
        return out

    # ---- records and gaps --------------------------------------------------------
    def records(self):
        """Iterates the tags of every record of the stream, from its start, as
        dicts of field name to value. The stream is left at its start afterwards."""
        library = _native.lib()
        self.rewind()
        try:
            while True:
                status = library.SkipRecHT(self._recording._h, self.number)
                if status == 1220:
                    return
                check(status, "SkipRecHT", "stream %d" % self.number)
                yield self.tag("last")
        finally:
            self._rewind_if_open()

    def gaps(self):
        """The breaks between consecutive records of the stream, as a list of Gap.
        The stream is left at its start afterwards."""
        library = _native.lib()
        handle = self._recording._h
        found = []
        self.rewind()
        try:
            index = 0
            while True:
                status = library.SkipRecHT(handle, self.number)
                if status == 1220:
                    break
                check(status, "SkipRecHT", "stream %d" % self.number)
                index += 1
                if library.GapHT(handle, self.number) == 0:
                    continue
                try:
                    next_start = self._tag(1, "UTC", TYPE_TIMESTAMP)
                except EndOfDataError:
                    break
                except OlmtsError:
                    continue  # the stream failed there; the next SkipRecHT reports why
                last = self.tag("last")
                rate = last["RATE"] * _RATE_UNITS.get(last["RUNT"], 0.0)
                last_start = last["UTC"]
                end = self._offset(last_start, last["SCNT"]) if isinstance(last_start, _dt.datetime) else None
                missing = None
                if isinstance(last_start, _dt.datetime) and isinstance(next_start, _dt.datetime):
                    missing = int(round((next_start - last_start).total_seconds() * rate)) - last["SCNT"]
                found.append(Gap(index, end, next_start, missing))
        finally:
            self.rewind()
        return found

    # ---- spectral records --------------------------------------------------------
    def frequency(self, freq_index):
        """Frequency in Hz of a spectral frequency index (0.0 when there is none)."""
        if freq_index not in self._frequencies:
            self._frequencies[freq_index] = _native.lib().GetDftFreqHT(self._recording._h, int(freq_index))
        return self._frequencies[freq_index]

    def spectra(self, n_coefficients=None):
        """Reads up to ``n_coefficients`` spectral coefficients (all that remain
        when None) from stream 0 and returns them as Spectra arrays."""
        if self.number != 0:
            raise error_for(1223, None, "spectral records are on stream 0, not %d" % self.number)
        library = _native.lib()
        handle = self._recording._h
        channels = self.channel_count
        values = (ctypes.c_double * max(2 * channels, 24))()
        flag, window, level, index = ctypes.c_int32(), ctypes.c_int32(), ctypes.c_int32(), ctypes.c_int32()
        rows, meta = [], []
        while n_coefficients is None or len(rows) < n_coefficients:
            status = library.ReadDftScanHT(handle, ctypes.byref(flag), ctypes.byref(window), ctypes.byref(level),
                                           ctypes.byref(index), values)
            if status != 0:
                if status == 1220 or rows:
                    break
                check(status, "ReadDftScanHT")
            rows.append(values[:2 * channels])
            meta.append((window.value, level.value, index.value, flag.value))
        pairs = np.array(rows, dtype=np.float64).reshape(len(rows), channels, 2)
        meta = np.array(meta, dtype=np.int64).reshape(len(meta), 4)
        freq_index = meta[:, 2]
        return Spectra(pairs[:, :, 0] + 1j * pairs[:, :, 1], meta[:, 0], meta[:, 1], freq_index,
                       np.array([self.frequency(int(i)) for i in freq_index], dtype=np.float64), meta[:, 3])


def _close_recording(handle):
    _native.lib().TSCloseHT(ctypes.byref(handle))


class Recording(HandleOwner):
    """An open recording (TSOpenHT). Use as a context manager, or call close();
    the handle is also released when the object is garbage-collected.

    ``base`` is the path of the recording without extension (the table file is
    base + ".TBL")."""

    _kind = "recording"

    def __init__(self, base, concatenate=False):
        self.base = os.fspath(base)
        encoded = os.fsencode(self.base)
        library = _native.lib()
        handle = library.TSOpenHT(encoded)
        if not handle:
            raise _open_error(self.base, encoded, ".TBL", 1226, 1235, "TSOpenHT",
                              "table file unreadable, in no known layout, or without parameters")
        self._handle = handle
        self._finalizer = weakref.finalize(self, _close_recording, handle)
        self._concatenate = False
        self.params = Parameters(self)
        self.streams = {}
        for k in range(6):
            status = library.ReadTagHT(handle, k, 1, b"NCHN", 0, ctypes.byref(ctypes.c_int32()))
            if status == 0:
                self.streams[k] = Stream(self, k)
        self.default_stream = min((k for k in self.streams if k), default=None)
        if concatenate:
            self.concatenate = True

    def __repr__(self):
        state = "closed" if self.closed else "streams %s" % sorted(self.streams)
        return "<Recording %r, %s>" % (self.base, state)

    # ---- recording-wide values ---------------------------------------------------
    @property
    def channel_count(self):
        """Number of recorded field components (GetNumChnHT)."""
        count = ctypes.c_int32()
        check(_native.lib().GetNumChnHT(self._h, ctypes.byref(count)), "GetNumChnHT")
        return count.value

    @property
    def channel_numbers(self):
        """Channel number (1 ... 12) of each recorded component, e.g. {"Ex": 1}."""
        numbers = {}
        for key in COMPONENTS:
            value = self.params.get(key)
            if isinstance(value, int) and 1 <= value <= 12:
                numbers[COMPONENT_NAMES[key]] = value
        return numbers

    @property
    def channel_names(self):
        """Component name of each channel 1 ... channel_count ("ch<n>" when none)."""
        by_number = {n: name for name, n in self.channel_numbers.items()}
        return [by_number.get(n, "ch%d" % n) for n in range(1, self.channel_count + 1)]

    @property
    def concatenate(self):
        """Whether streams continue into the next dated file of their set."""
        return self._concatenate

    @concatenate.setter
    def concatenate(self, on):
        self._concatenate = bool(_native.lib().SetConcatHT(self._h, 1 if on else 0))

    def nominal_gains(self):
        """Nominal box and sensor gains per channel number (index n - 1), as two
        arrays of 12 (CalcBoxNomGainHT, CalcSensorNomGainHT)."""
        library = _native.lib()
        box = (ctypes.c_double * 12)()
        sensor = (ctypes.c_double * 12)()
        check(library.CalcBoxNomGainHT(self._h, box), "CalcBoxNomGainHT")
        check(library.CalcSensorNomGainHT(self._h, sensor), "CalcSensorNomGainHT")
        return np.array(box[:]), np.array(sensor[:])

    # ---- per-stream operations on a chosen stream ----------------------------------
    def stream(self, number=None):
        """The Stream of that number (default: ``default_stream``, the first
        usable time-series stream). Raises StreamError for an unusable stream."""
        number = self.default_stream if number is None else number
        self._h
        if number not in self.streams:
            raise error_for(1223, None, "stream %r has no usable file (%s)"
                            % (number, STREAM_EXTENSIONS.get(number, "no such stream")))
        return self.streams[number]

    def seek(self, when, stream=None):
        """Stream.seek on ``stream`` (default: ``default_stream``)."""
        return self.stream(stream).seek(when)

    def read(self, n_scans=None, stream=None, stop_at_gap=True):
        """Stream.read on ``stream`` (default: ``default_stream``)."""
        return self.stream(stream).read(n_scans, stop_at_gap=stop_at_gap)

    def records(self, stream=None):
        """Stream.records on ``stream`` (default: ``default_stream``)."""
        return self.stream(stream).records()

    def gaps(self, stream=None):
        """Stream.gaps on ``stream`` (default: ``default_stream``)."""
        return self.stream(stream).gaps()

    def delay(self, stream=None):
        """Stream.delay of ``stream`` (default: ``default_stream``)."""
        return self.stream(stream).delay

    def sample_rate(self, stream=None):
        """Stream.sample_rate of ``stream`` (default: ``default_stream``)."""
        return self.stream(stream).sample_rate

    def spectra(self, n_coefficients=None):
        """Stream.spectra of stream 0."""
        return self.stream(0).spectra(n_coefficients)


def _open_error(path, encoded, extension, too_long_code, missing_code, function, other):
    """The exception for a failed open. The library gives no status then; the
    reasons that can be told from outside get their code."""
    if len(encoded) > 256:
        return OpenError(too_long_code, function, path)
    if not os.path.exists(path + extension):
        error = OpenError(missing_code, function, path + extension)
        error.errno, error.filename = 2, path + extension
        return error
    return OpenError(None, function, "%s%s: %s" % (path, extension, other))
