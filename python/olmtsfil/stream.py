"""One stream of a recording: positioning, bulk reading into numpy, record tags,
gaps and spectral coefficients."""
import collections
import ctypes
import datetime as _dt
import os
import weakref

import numpy as np

from . import _native
from .errors import NameNotFoundError, OlmtsError, check, error_for
from .timestamps import seek_stamp, stamp_to_datetime64
from .values import TYPE_INT32, TYPE_TIMESTAMP, read_typed

# The named fields of a record tag, in the library's field-table order, with their types.
TAG_FIELDS = (("UTC", TYPE_TIMESTAMP),) + tuple((name, TYPE_INT32) for name in (
    "SNUM", "SCNT", "NCHN", "LTAG", "STAT", "SATC", "LSMP", "RATE", "RUNT", "CLST", "TERR", "SBREC", "WINDX",
    "WISCN", "LEVTP", "LEVAL", "NFRQT", "NFRQD", "NFREQ"))

# Rows added at a time when a whole-stream read outgrows its first estimate.
_GROWTH_ROWS = 1 << 20


def _allocate(rows, channels):
    """An uninitialised (rows, channels) float64 array, or None when the
    estimate is more than this process may take at once."""
    try:
        return np.empty((rows, channels), dtype=np.float64)
    except (MemoryError, ValueError):
        return None

STREAM_EXTENSIONS = {0: ".TFC", 1: ".TS1", 2: ".TS2 or .TSH", 3: ".TS3 or .TSH", 4: ".TS4 or .TSH",
                     5: ".TS5 or .TSL"}


Segment = collections.namedtuple("Segment", "start first_row rows")
Segment.__doc__ = """A contiguous run of scans within a Scans block: ``start`` the datetime of
its first scan, ``first_row`` its first row in the block, ``rows`` its length.
Row ``first_row + i`` lies at ``start + i / sample_rate``."""


class Scans(collections.namedtuple("Scans", "data start")):
    """Scans read from a stream, unpacked as ``data, start = stream.read(n)``:
    ``data`` an (n, channels) float64 array of fractions of full scale, ``start``
    the datetime of its first scan (None when nothing was read). Attributes:
    ``sample_rate``, the rate in Hz of the records read; ``segments``, a tuple of
    Segment, one per contiguous run of rows (one segment unless the block was read
    across gaps; none when it is empty)."""

    def __new__(cls, data, start, sample_rate=None, segments=None):
        self = super().__new__(cls, data, start)
        self.sample_rate = sample_rate
        if segments is None:
            segments = (Segment(start, 0, len(data)),) if start is not None and len(data) else ()
        self.segments = tuple(segments)
        return self

    def __repr__(self):
        return "Scans(data=<%s float64>, start=%r, sample_rate=%r, segments=%d)" % (
            "x".join(map(str, self.data.shape)), self.start, self.sample_rate, len(self.segments))

    def times(self):
        """datetime64[ns] of every scan of the block: each segment's rows counted
        from that segment's start, so times stay true across gaps."""
        out = np.empty(len(self.data), dtype="datetime64[ns]")
        if not self.segments:
            return out[:0] if self.start is None else out
        if not self.sample_rate or not self.sample_rate > 0:
            raise ValueError("the records give no sample rate")
        for segment in self.segments:
            offsets = np.rint(np.arange(segment.rows) * (1e9 / self.sample_rate)).astype("timedelta64[ns]")
            out[segment.first_row:segment.first_row + segment.rows] = np.datetime64(segment.start, "ns") + offsets
        return out


Gap = collections.namedtuple("Gap", "record end_of_previous next_start missing_scans")
Gap.__doc__ = """A break between two records of a stream: ``record`` is the index of the
record after the gap, ``end_of_previous`` the time just after the last scan of
the record before it, ``next_start`` the stamp of the record after it,
``missing_scans`` the number of scans that would fill it (negative for overlap)."""

Delay = collections.namedtuple("Delay", "samples seconds")
Delay.__doc__ = """Acquisition delay of a stream: a sample stamped t describes the input at
t - seconds. Kept apart from every response: correct sample times by it."""


class Spectra(collections.namedtuple("Spectra", "values window level freq_index frequency record_flag record_time")):
    """Spectral coefficients of stream 0: ``values`` (n, channels) complex128,
    ``window``, ``level``, ``freq_index`` and ``record_flag`` int arrays,
    ``frequency`` in Hz and ``record_time`` (datetime64[s], the stamp of the
    record the coefficient belongs to; NaT for a stamp that is no valid date),
    one entry per coefficient."""


class Stream:
    """One usable stream of a recording (0 spectral, 1 ... 5 time series).

    Reading is strictly forward from the stream's position; ``seek`` moves it.
    ``read`` takes many scans per library call (olmts_read_scans_dbl);
    ``read_scanwise`` is the scan-by-scan path through ReadScanDblHT. Both move
    the one position of the stream, so they may be mixed."""

    def __init__(self, recording, number):
        self._recording = weakref.proxy(recording)
        self.number = number
        first = {name: self._tag(1, name, TYPE_INT32) for name in ("NCHN", "LSMP", "SCNT", "LTAG")}
        self.first_time = self._tag(1, "UTC", TYPE_TIMESTAMP)
        self.channel_count = first["NCHN"]
        self.sample_bytes = first["LSMP"]
        self.scans_per_record = first["SCNT"]
        # Samples per second of the records as the library's gap test counts them,
        # so that times within a run of joined records agree with it. Spectral
        # records are no sampled series and have none.
        self.tag_rate = self._record_rate(1) if number != 0 else None
        self.scan_bytes = self.channel_count * self.sample_bytes
        self._min_record_bytes = max(1, first["LTAG"] + self.scans_per_record * self.scan_bytes)
        # Where the position stands within its record: scans of it consumed, and
        # the time of the next one while that is not 0.
        self._into_record = 0
        self._next_time = None
        self._scan_values = (ctypes.c_double * max(self.channel_count, 12))()
        self._frequencies = {}

    @property
    def recording(self):
        """The Recording the stream belongs to."""
        return self._recording

    def __repr__(self):
        if self.number == 0:
            return "<Stream 0: spectral, %d channels, %d scans/record>" % (self.channel_count, self.scans_per_record)
        return "<Stream %d: %d channels, %d scans/record, %g Hz>" % (
            self.number, self.channel_count, self.scans_per_record, self.tag_rate)

    # ---- helpers ---------------------------------------------------------------
    def _tag(self, which, name, type_code):
        library = _native.lib()
        handle = self._recording.handle
        return read_typed(lambda n, t, o: library.ReadTagHT(handle, self.number, which, n, t, o), name, type_code,
                          "ReadTagHT")

    def _tag_stamp(self, which):
        stamp = _native.TimeStamp()
        check(_native.lib().ReadTagHT(self._recording.handle, self.number, which, b"UTC", TYPE_TIMESTAMP,
                                      ctypes.byref(stamp)), "ReadTagHT", "stream %d, UTC" % self.number)
        return stamp

    def _record_rate(self, which):
        rate = ctypes.c_double()
        check(_native.lib().olmts_record_rate_hz(self._recording.handle, self.number, which, ctypes.byref(rate)),
              "olmts_record_rate_hz", "stream %d" % self.number)
        return rate.value

    def _discard_pending(self):
        # The library hands out the scans left in its record buffer before a new
        # position takes effect; they belong to the old position, so they are
        # read off and dropped before the stream is moved.
        left = (self.scans_per_record - self._into_record) if self._into_record else 0
        self._into_record = 0
        self._next_time = None
        if left > 0 and self.channel_count > 0:
            scratch = np.empty((left, self.channel_count), dtype=np.float64)
            got = ctypes.c_int64()
            _native.lib().olmts_read_scans_dbl(self._recording.handle, self.number, 1, scratch.ctypes.data,
                                               scratch.size, ctypes.byref(got))

    def _offset(self, when, scans):
        return when + _dt.timedelta(seconds=scans / self.tag_rate) if self.tag_rate else when

    # ---- properties --------------------------------------------------------------
    @property
    def sample_rate(self):
        """Sample rate in Hz from the recording's table (GetSampleRateHzHT)."""
        rate = ctypes.c_double()
        check(_native.lib().GetSampleRateHzHT(self._recording.handle, self.number, ctypes.byref(rate)),
              "GetSampleRateHzHT", "stream %d" % self.number)
        return rate.value

    @property
    def delay(self):
        """Acquisition delay (GetAcqDelayHT) in samples and in seconds."""
        samples = ctypes.c_double()
        check(_native.lib().GetAcqDelayHT(self._recording.handle, self.number, ctypes.byref(samples)), "GetAcqDelayHT",
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
        ``when`` and returns that record's start time. ``when`` is a datetime
        (naive: UTC; aware: converted to UTC), a date, a numpy.datetime64 or an ISO
        8601 string (a trailing Z or an offset converted to UTC). Record stamps hold
        whole seconds, so a time with a fraction of a second positions on the first
        record starting after it. Raises EndOfDataError when no record starts that
        late."""
        library = _native.lib()
        stamp = seek_stamp(when)
        self._discard_pending()
        status = library.SeekHT(self._recording.handle, self.number, stamp, 0)
        if status not in (0, 1202):
            check(status, "SeekHT", "stream %d" % self.number)
        return self._tag(1, "UTC", TYPE_TIMESTAMP)

    def rewind(self):
        """Positions the stream on its first record."""
        self._discard_pending()
        status = _native.lib().SeekHT(self._recording.handle, self.number, _native.TimeStamp(), 0)
        if status not in (0, 1202):
            check(status, "SeekHT", "stream %d" % self.number)

    def _rewind_if_open(self):
        # A records() iterator dropped early is finished by the garbage collector,
        # possibly after its recording was closed.
        try:
            self.rewind()
        except (ReferenceError, ValueError):
            pass

    def require_time_series(self, what="scans"):
        if self.number == 0:
            raise error_for(1223, None, "stream 0 holds spectral records, not %s; use spectra()" % what)

    # ---- bulk reading ----------------------------------------------------------
    def read(self, n_scans=None, stop_at_gap=True, out=None):
        """Reads up to ``n_scans`` scans (all that remain when None) and returns
        Scans(data, start, sample_rate, segments). Fewer come back at the end of
        the data, and, with ``stop_at_gap``, where the next record does not join the
        last one (so that ``start`` plus i / sample_rate is the time of row i).
        With ``stop_at_gap=False`` the read runs on across gaps and ``segments``
        gives the start time and rows of every contiguous run; ``times()`` is then
        true for every row. An error met after some scans were read returns those;
        the next call raises it.

        ``out``: a C-contiguous, writable float64 array of (rows, channels) to
        read into, reused from one read to the next: at most its rows are read
        (the next call goes on from there), and ``data`` is a view of its first
        rows. A new array's pages cost the system their first fill, about as
        much as the reading itself."""
        self.require_time_series()
        if n_scans is not None and n_scans < 0:
            raise ValueError("n_scans must not be negative")
        library = _native.lib()
        handle = self._recording.handle
        k = self.number
        channels = self.channel_count
        want = None if n_scans is None else int(n_scans)
        given = out is not None
        if given:
            if (not isinstance(out, np.ndarray) or out.dtype != np.float64 or out.ndim != 2
                    or out.shape[1] != channels or not out.flags.c_contiguous or not out.flags.writeable):
                raise ValueError("out must be a writable C-contiguous float64 array of %d columns" % channels)
            want = len(out) if want is None else min(want, len(out))
            capacity = want
        elif want is None:
            capacity = self._remaining_bound()
            out = _allocate(capacity, channels) if capacity else None
            if out is None:
                capacity = _GROWTH_ROWS
                out = np.empty((capacity, channels), dtype=np.float64)
        else:
            capacity = want
            out = np.empty((want, channels), dtype=np.float64)
        full = []  # filled buffers, only when the first estimate fell short
        rows = done = 0  # rows in ``out``; rows in buffers before it
        segments = []  # [start, first row] of each contiguous run
        joined = False  # the next scan continues the run before it
        got = ctypes.c_int64()
        block_read = library.olmts_read_scans_dbl
        scnt = self.scans_per_record or 1
        while want is None or rows < want:
            if rows == capacity:
                full.append(out)
                done += rows
                capacity = max(_GROWTH_ROWS, done // 4)
                out = np.empty((capacity, channels), dtype=np.float64)
                rows = 0
            if self._into_record == 0 and (done + rows) and joined:
                # A full buffer ended on a record boundary: the block call below
                # would pass a gap there, since it delivers at least one record.
                joined = library.GapHT(handle, k) == 0
                if not joined and stop_at_gap:
                    break
            if not joined:
                run_start = self._next_time
                if self._into_record == 0:
                    try:
                        run_start = self._tag(1, "UTC", TYPE_TIMESTAMP)
                    except OlmtsError:
                        run_start = None  # no next record: the block call says why
            status = block_read(handle, k, 1, out[rows:].ctypes.data, (capacity - rows) * channels,
                                ctypes.byref(got))
            n = got.value
            if n:
                if not joined:
                    segments.append([run_start, done + rows])
                rows += n
                self._into_record = (self._into_record + n) % scnt
                self._next_time = None
                if self._into_record:
                    self._next_time = self._offset(self._tag(0, "UTC", TYPE_TIMESTAMP), self._into_record)
            joined = status == 0
            if status == 0:
                if n == 0:
                    break  # a stream of no channels delivers nothing
                continue
            if status == 1201:  # a gap before the next record
                if stop_at_gap:
                    break
                continue
            if status != 1220 and done + rows == 0:
                check(status, "olmts_read_scans_dbl", "stream %d" % k)
            break  # the end, or a fault the next call reports
        if full:
            full.append(out[:rows])
            out = np.concatenate(full)
        elif given:
            out = out[:rows]
        elif rows < len(out):
            # Shrinks in place: the estimate's untouched pages were never resident.
            out.resize((rows, channels), refcheck=False)
        total = len(out)
        ends = [first for _, first in segments[1:]] + [total]
        runs = [Segment(when, first, end - first) for (when, first), end in zip(segments, ends) if end > first]
        return Scans(out, runs[0].start if runs else None, self.tag_rate, runs)

    def _remaining_bound(self):
        """At least the number of scans left in the stream, from the sizes of the
        file the reader has open and (concatenating) the files of the set after
        it; None when the files cannot be told."""
        from .survey import set_files
        library = _native.lib()
        index = ctypes.c_int32()
        path = ctypes.create_string_buffer(4096)
        try:
            if library.olmts_stream_file(self._recording.handle, self.number, ctypes.byref(index), path,
                                         len(path)) != 0:
                return None
        except _native.MissingExportError:
            return None
        current = os.fsdecode(path.value)
        try:
            files = set_files(current)[0] if self._recording.concatenate else [current]
            size = sum(os.path.getsize(f) for f in files)
        except OSError:
            return None
        # Counted with the shortest record a tag allows, so the bound is never short.
        return size // self._min_record_bytes * self.scans_per_record + self.scans_per_record

    def read_scanwise(self, n_scans):
        """Reads up to ``n_scans`` scans one ReadScanDblHT call at a time (the
        library's own scan path; a reference for ``read``, and slow)."""
        self.require_time_series()
        library = _native.lib()
        handle = self._recording.handle
        out = np.empty((n_scans, self.channel_count))
        values = self._scan_values
        flag = ctypes.c_int32()
        channels = self.channel_count
        scnt = self.scans_per_record or 1
        for i in range(n_scans):
            status = library.ReadScanDblHT(handle, self.number, ctypes.byref(flag), values)
            if status != 0:
                if status == 1220 or i:
                    out = out[:i]
                    break
                check(status, "ReadScanDblHT", "stream %d" % self.number)
            out[i] = values[:channels]
            self._into_record = (self._into_record + 1) % scnt
        self._next_time = None
        if self._into_record:
            self._next_time = self._offset(self._tag(0, "UTC", TYPE_TIMESTAMP), self._into_record)
        return out

    # ---- records and gaps --------------------------------------------------------
    def records(self):
        """Iterates the tags of every record of the stream, from its start, as
        dicts of field name to value. The stream is left at its start afterwards."""
        library = _native.lib()
        self.rewind()
        try:
            while True:
                status = library.SkipRecHT(self._recording.handle, self.number)
                if status == 1220:
                    return
                check(status, "SkipRecHT", "stream %d" % self.number)
                yield self.tag("last")
        finally:
            self._rewind_if_open()

    def gaps(self):
        """The breaks between consecutive records of the stream, as a list of Gap,
        found and counted by the library's gap test (GapHT, olmts_gap_scans). The
        stream is left at its start afterwards. Spectral records (stream 0) are no
        sampled series: asking for their gaps raises StreamError."""
        if self.number == 0:
            raise error_for(1223, None, "stream 0 holds spectral records, which are not a sampled series: gaps are "
                            "not defined for them (records(0) gives every record's time)")
        library = _native.lib()
        handle = self._recording.handle
        found = []
        expected, recorded, rate = ctypes.c_int64(), ctypes.c_int64(), ctypes.c_double()
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
                status = library.olmts_gap_scans(handle, self.number, ctypes.byref(expected), ctypes.byref(recorded),
                                                 ctypes.byref(rate))
                if status == 1201:
                    continue  # no next record (the end, or a failure the next SkipRecHT reports)
                check(status, "olmts_gap_scans", "stream %d" % self.number)
                last_start = self._tag(0, "UTC", TYPE_TIMESTAMP)
                next_start = self._tag(1, "UTC", TYPE_TIMESTAMP)
                end = None
                if isinstance(last_start, _dt.datetime) and rate.value > 0:
                    end = last_start + _dt.timedelta(seconds=recorded.value / rate.value)
                found.append(Gap(index, end, next_start, expected.value - recorded.value))
        finally:
            self.rewind()
        return found

    # ---- spectral records --------------------------------------------------------
    def frequency(self, freq_index):
        """Frequency in Hz of a spectral frequency index (0.0 when there is none)."""
        if freq_index not in self._frequencies:
            self._frequencies[freq_index] = _native.lib().GetDftFreqHT(self._recording.handle, int(freq_index))
        return self._frequencies[freq_index]

    def spectra(self, n_coefficients=None):
        """Reads up to ``n_coefficients`` spectral coefficients (all that remain
        when None) from stream 0 and returns them as Spectra arrays."""
        if self.number != 0:
            raise error_for(1223, None, "spectral records are on stream 0, not %d" % self.number)
        library = _native.lib()
        handle = self._recording.handle
        channels = self.channel_count
        values = (ctypes.c_double * max(2 * channels, 24))()
        flag, window, level, index = ctypes.c_int32(), ctypes.c_int32(), ctypes.c_int32(), ctypes.c_int32()
        rows, meta, times = [], [], []
        converted = {}
        while n_coefficients is None or len(rows) < n_coefficients:
            status = library.ReadDftScanHT(handle, ctypes.byref(flag), ctypes.byref(window), ctypes.byref(level),
                                           ctypes.byref(index), values)
            if status != 0:
                if status == 1220 or rows:
                    break
                check(status, "ReadDftScanHT")
            # The record flag cannot tell a new record once fillers were passed, so
            # the stamp of the record consumed last is read after every coefficient.
            stamp = bytes(self._tag_stamp(0))
            if stamp not in converted:
                converted[stamp] = stamp_to_datetime64(_native.TimeStamp.from_buffer_copy(stamp))
            rows.append(values[:2 * channels])
            meta.append((window.value, level.value, index.value, flag.value))
            times.append(converted[stamp])
        pairs = np.array(rows, dtype=np.float64).reshape(len(rows), channels, 2)
        meta = np.array(meta, dtype=np.int64).reshape(len(meta), 4)
        freq_index = meta[:, 2]
        return Spectra(pairs[:, :, 0] + 1j * pairs[:, :, 1], meta[:, 0], meta[:, 1], freq_index,
                       np.array([self.frequency(int(i)) for i in freq_index], dtype=np.float64), meta[:, 3],
                       np.array(times, dtype="datetime64[s]"))
