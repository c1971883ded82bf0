"""One stream of a recording: positioning, bulk reading into numpy, record tags,
gaps and spectral coefficients."""
import collections
import ctypes
import datetime as _dt
import weakref

import numpy as np

from . import _native
from .decoding import decode_records
from .errors import NameNotFoundError, check, error_for
from .timestamps import seek_stamp, stamp_to_datetime64
from .values import TYPE_INT32, TYPE_TIMESTAMP, read_typed

# The named fields of a record tag, in the library's field-table order, with their types.
TAG_FIELDS = (("UTC", TYPE_TIMESTAMP),) + tuple((name, TYPE_INT32) for name in (
    "SNUM", "SCNT", "NCHN", "LTAG", "STAT", "SATC", "LSMP", "RATE", "RUNT", "CLST", "TERR", "SBREC", "WINDX",
    "WISCN", "LEVTP", "LEVAL", "NFRQT", "NFRQD", "NFREQ"))

# Batches of records are read into one buffer of at most this size before they
# are decoded together; large enough to amortise numpy's per-call cost, small
# enough not to double the memory of a whole-stream read.
_BATCH_BYTES = 16 << 20

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
        # Samples per second of the records as the library's gap test counts them,
        # so that times within a run of joined records agree with it. Spectral
        # records are no sampled series and have none.
        self.tag_rate = self._record_rate(1) if number != 0 else None
        self.scan_bytes = self.channel_count * self.sample_bytes
        # The trailer's per-channel factor is a tag byte no function reads, so the
        # buffer allows its largest value; ReadRecHT copies only the block's size.
        self._record_stride = min(self.scans_per_record * self.scan_bytes + self.channel_count * 255 * first["SBREC"],
                                  0x7FFFFFFF)
        self._pending = np.empty((0, self.channel_count))
        self._pending_start = None
        self._scan_values = (ctypes.c_double * max(self.channel_count, 12))()
        self._frequencies = {}

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
        self._pending = np.empty((0, self.channel_count))
        self._pending_start = None

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
        status = library.SeekHT(self._recording.handle, self.number, seek_stamp(when), 0)
        self._discard_pending()
        if status not in (0, 1202):
            check(status, "SeekHT", "stream %d" % self.number)
        return self._tag(1, "UTC", TYPE_TIMESTAMP)

    def rewind(self):
        """Positions the stream on its first record."""
        status = _native.lib().SeekHT(self._recording.handle, self.number, _native.TimeStamp(), 0)
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

    def _require_time_series(self, what="scans"):
        if self.number == 0:
            raise error_for(1223, None, "stream 0 holds spectral records, not %s; use spectra()" % what)

    # ---- bulk reading ----------------------------------------------------------
    def read(self, n_scans=None, stop_at_gap=True):
        """Reads up to ``n_scans`` scans (all that remain when None) and returns
        Scans(data, start, sample_rate, segments). Fewer come back at the end of
        the data, and, with ``stop_at_gap``, where the next record does not join the
        last one (so that ``start`` plus i / sample_rate is the time of row i).
        With ``stop_at_gap=False`` the read runs on across gaps and ``segments``
        gives the start time and rows of every contiguous run; ``times()`` is then
        true for every row. An error met after some scans were read returns those;
        the next call raises it."""
        self._require_time_series()
        if n_scans is not None and n_scans < 0:
            raise ValueError("n_scans must not be negative")
        library = _native.lib()
        handle = self._recording.handle
        k = self.number
        channels = self.channel_count
        want = None if n_scans is None else int(n_scans)
        start = None
        segments = []  # [start, first row] of each contiguous run
        pending = self._pending[:len(self._pending) if want is None else want]
        if len(pending):
            start = self._pending_start
            segments.append([start, 0])
            self._pending = self._pending[len(pending):]
            self._pending_start = self._offset(self._pending_start, len(pending))
        total = len(pending)
        scnt = self.scans_per_record
        stride = self._record_stride
        # Records are read as stored into batches of raw blocks and decoded once
        # the total is known, straight into the result: no array is grown or
        # copied, and the raw bytes take 3/8 of the memory of the result.
        batches = []
        finished = scnt == 0 or stride == 0
        per_batch = max(1, _BATCH_BYTES // max(stride, 1))
        while (want is None or total < want) and not finished:
            records = per_batch if want is None else min(per_batch, -(-(want - total) // scnt))
            raw = np.empty(records * stride + 1, dtype=np.uint8)  # byte 0: see decode_records
            base = raw.ctypes.data + 1
            got = 0
            status = 0
            read_record, gap = library.ReadRecHT, library.GapHT
            for i in range(records):
                joined = not (total or got) or gap(handle, k) == 0
                if not joined and stop_at_gap:
                    finished = True
                    break
                status = read_record(handle, k, stride, base + i * stride)
                if status != 0:
                    finished = True
                    break
                if start is None or not joined:
                    record_start = self._tag(0, "UTC", TYPE_TIMESTAMP)
                    if start is None:
                        start = record_start
                    segments.append([record_start, total + got * scnt])
                got += 1
            if status not in (0, 1220) and total == 0 and got == 0:
                check(status, "ReadRecHT", "stream %d" % k)
            if got:
                batches.append((raw, got))
                total += got * scnt
        rows = total if want is None else min(total, want)
        out = np.empty((rows, channels), dtype=np.float64)
        out[:len(pending)] = pending
        at = len(pending)
        for raw, got in batches:
            # Records handed out in full; only the very last one may be cut.
            whole = min(got, (rows - at) // scnt)
            decode_records(raw, 1, whole, scnt, stride, channels, self.sample_bytes, out[at:at + whole * scnt])
            at += whole * scnt
            if whole < got:
                last = decode_records(raw, 1 + whole * stride, 1, scnt, stride, channels, self.sample_bytes,
                                      np.empty((scnt, channels)))
                cut = rows - at
                out[at:] = last[:cut]
                at = rows
                self._pending = last[cut:]
                self._pending_start = self._offset(self._tag(0, "UTC", TYPE_TIMESTAMP), cut)
        ends = [first for _, first in segments[1:]] + [rows]
        runs = [Segment(when, first, end - first) for (when, first), end in zip(segments, ends) if end > first]
        return Scans(out, start, self.tag_rate, runs)

    def read_scanwise(self, n_scans):
        """Reads up to ``n_scans`` scans one ReadScanDblHT call at a time (the
        library's own scan path; a reference for ``read``, and slow)."""
        self._require_time_series()
        library = _native.lib()
        handle = self._recording.handle
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
