"""Lazy reading: a stream as a dask array whose chunks are runs of whole records
within one file of the stream's set, read only when computed.

Each chunk is read on its own recording handle (one per worker thread, kept for
the next chunk), positioned with the library's seek on the stamp of the chunk's
first record and read in one block call; so a chunk in memory is all a worker
holds, and computing a slice reads only the records under it.

Nominal units are converted chunk by chunk by the library's converter (a gain
per channel, so a chunk needs nothing of its neighbours). Deconvolution reaches
across the scans around each one and never across a gap: chunks cannot be
converted on their own, so it is refused here (Recording.read converts a
contiguous run whole).
"""
import collections
import ctypes
import os
import threading

import numpy as np

from . import _native
from .errors import check, error_for
from .timestamps import stamp_to_datetime

DEFAULT_CHUNK_BYTES = 32 << 20  # of the result (float64); a few records at the least
UNITS = (None, "fs", "fraction", "counts", "nominal")
CHAIN_KEYWORDS = ("box", "sensor", "sensor_channels", "require_sensors", "force_box", "gain_frequency")

ChainDesc = collections.namedtuple("ChainDesc", "box sensors require_sensors force_box gain_frequency")
ChainDesc.__doc__ = """What a worker needs to form a stream's chain again: the box
calibration's (base, kind), per channel number the sensor calibration's (base,
kind, block), and the chain's options. Plain values, so it travels to worker
processes."""

Chunk = collections.namedtuple("Chunk", "file first_record records stamp skip")
Chunk.__doc__ = """One chunk: ``records`` records from record ``first_record`` of
file ``file``; ``stamp`` is the stamp of its first record and ``skip`` the number
of records of the same stamp before it (for records shorter than a second)."""



class LazyScans(collections.namedtuple("LazyScans", "data times sample_rate chunks")):
    """A stream read lazily: ``data`` a dask array (scans x channels), ``times``
    a dask array of datetime64[ns] with the same chunks (the true time of every
    scan, also past gaps: the stamps, not shifted by any delay), ``sample_rate``
    in Hz, ``chunks`` the Chunk of every block. Attributes: ``units`` per channel
    ("fraction", "counts", or the field's mV/km and nT), ``delay`` in seconds
    (nominal units: the field's time is each row's time minus it; else 0) and
    ``chain`` (nominal units: the Chain the conversion follows)."""

    def __new__(cls, data, times, sample_rate, chunks, units=None, delay=0.0, chain=None):
        self = super().__new__(cls, data, times, sample_rate, chunks)
        self.units, self.delay, self.chain = units, delay, chain
        return self

_local = threading.local()


def _handle(base):
    """This thread's handle on the recording (concatenation on)."""
    cache = getattr(_local, "handles", None)
    if cache is None:
        cache = _local.handles = {}
    handle = cache.get(base)
    if handle is None:
        library = _native.lib()
        handle = library.TSOpenHT(os.fsencode(base))
        if not handle:
            raise error_for(1235, "TSOpenHT", base)
        library.SetConcatHT(handle, 1)
        cache[base] = handle
    return handle


def _drop_handle(base):
    handle = getattr(_local, "handles", {}).pop(base, None)
    if handle:
        _native.lib().TSCloseHT(ctypes.byref(handle))


def _raw_stamp(path, offset):
    with open(path, "rb") as f:
        f.seek(offset)
        raw = f.read(8)
    if len(raw) < 8:
        raise error_for(1221, None, "%s: no record at byte %d" % (path, offset))
    return raw


def plan_chunks(files, record_size, scans_per_record, channels, chunk_bytes=DEFAULT_CHUNK_BYTES):
    """Chunks of whole records, none across a file, about ``chunk_bytes`` of
    float64 result each. A chunk starts on a record whose stamp differs from the
    one before it, so that a seek lands on it."""
    per_chunk = max(1, chunk_bytes // max(1, scans_per_record * channels * 8))
    chunks = []
    for index, path in enumerate(files):
        size = os.path.getsize(path)
        records = size // record_size
        if records == 0:
            continue
        first = 0
        while first < records:
            end = min(records, first + per_chunk)
            stamp = _raw_stamp(path, first * record_size)
            # Records sharing the first one's stamp within this file.
            skip = 0
            r = first - 1
            while r >= 0 and _raw_stamp(path, r * record_size) == stamp:
                skip += 1
                r -= 1
            chunks.append(Chunk(index, first, end - first, stamp, skip))
            first = end
    return chunks


def _position(library, handle, k, chunk, where):
    stamp = _native.TimeStamp.from_buffer_copy(chunk.stamp)
    status = library.SeekHT(handle, k, stamp, 0)
    if status != 0:
        check(status, "SeekHT", "%s: chunk at %s" % (where, stamp_to_datetime(stamp)))
    for _ in range(chunk.skip):
        check(library.SkipRecHT(handle, k), "SkipRecHT", where)


def _chain(base, k, desc):
    """This thread's Chain of the stream, formed once from ``desc``."""
    import warnings
    from .calibration import Calibration
    from .recording import Recording
    from .units import Chain
    cache = getattr(_local, "chains", None)
    if cache is None:
        cache = _local.chains = {}
    key = (base, k, desc)
    chain = cache.get(key)
    if chain is None:
        rec = Recording(base)
        box = Calibration(*desc.box)
        sensors = {number: (Calibration(b, kind), block) for number, (b, kind, block) in desc.sensors}
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # told once, when the array was made
            chain = Chain(rec, k, box, sensors or None, require_sensors=desc.require_sensors,
                          force_box=desc.force_box, gain_frequency=desc.gain_frequency)
        chain._keep = (rec, box, sensors)
        cache[key] = chain
    return chain


def read_chunk(base, k, chunk, scans_per_record, channels, units, desc=None):
    """The scans of one chunk, read on this thread's handle (nominal units:
    converted by this thread's converter of the stream's chain)."""
    library = _native.lib()
    handle = _handle(base)
    where = "%s stream %d" % (base, k)
    _position(library, handle, k, chunk, where)
    rows = chunk.records * scans_per_record
    dtype = np.int32 if units == "counts" else np.float64
    out = np.empty((rows, channels), dtype=dtype)
    got = ctypes.c_int64()
    reader = library.olmts_read_scans_i32 if units == "counts" else library.olmts_read_scans_dbl
    status = reader(handle, k, 0, out.ctypes.data, out.size, ctypes.byref(got))
    if got.value != rows:
        # A record cut short leaves scans in the handle's buffer that a seek does
        # not clear: the next chunk gets a fresh handle.
        _drop_handle(base)
        check(status if status != 0 else 1221, reader.__name__,
              "%s: %d of %d scans of the chunk read" % (where, got.value, rows))
    if units == "nominal":
        with _chain(base, k, desc).converter("nominal") as converter:
            converter.convert(out, in_place=True)
    return out


def _chain_desc(recording, k, box=None, sensor=None, sensor_channels=None, require_sensors=False, force_box=False,
                gain_frequency=None):
    """The Chain of the stream, formed here so that its faults and warnings
    reach the caller now, and the ChainDesc that forms it again in a worker."""
    from .calibration import Calibration
    from .calibration import _sensor_assignments
    from .units import Chain
    if box is None:
        raise ValueError("nominal units need the box calibration (box=)")
    if not isinstance(box, Calibration):
        box = Calibration.box(box)
    if sensor is not None and not isinstance(sensor, (Calibration, dict)):
        sensor = Calibration.sensor(sensor)
    chain = Chain(recording, k, box, sensor, sensor_channels, require_sensors, force_box, gain_frequency)
    sensors = tuple(sorted((number, (os.path.abspath(cal.base), cal.kind, block))
                           for number, (cal, block) in _sensor_assignments(recording, sensor, sensor_channels).items()))
    desc = ChainDesc((os.path.abspath(box.base), box.kind), sensors, bool(require_sensors), bool(force_box),
                     None if gain_frequency is None else float(gain_frequency))
    return chain, desc


def chunk_times(base, k, chunk, scans_per_record, rate):
    """datetime64[ns] of every scan of a chunk: each run of joining records
    counts on from its first record's stamp."""
    library = _native.lib()
    handle = _handle(base)
    where = "%s stream %d" % (base, k)
    _position(library, handle, k, chunk, where)
    out = np.empty(chunk.records * scans_per_record, dtype="datetime64[ns]")
    stamp = _native.TimeStamp()
    step = 1e9 / rate
    run_start, run_row = None, 0
    for r in range(chunk.records):
        check(library.SkipRecHT(handle, k), "SkipRecHT", where)
        if run_start is None:
            check(library.ReadTagHT(handle, k, 0, b"UTC", 5, ctypes.byref(stamp)), "ReadTagHT", where)
            run_start, run_row = np.datetime64(stamp_to_datetime(stamp), "ns"), r * scans_per_record
        rows = np.arange(r * scans_per_record, (r + 1) * scans_per_record)
        out[rows] = run_start + np.rint((rows - run_row) * step).astype("timedelta64[ns]")
        if library.GapHT(handle, k) != 0:
            run_start = None
    return out


def to_dask(recording, stream, units=None, chunk_bytes=DEFAULT_CHUNK_BYTES, **chain_options):
    """The stream as LazyScans (see Recording.to_dask)."""
    import dask
    import dask.array as da
    from .survey import set_files, _stream_first_file
    if units == "deconvolved":
        raise ValueError("deconvolved units cannot be formed chunk by chunk: the deconvolution reaches across "
                         "chunk boundaries and must not cross gaps. Use units='nominal' here, or "
                         "Recording.read(units='deconvolved'), which converts a contiguous run whole")
    if units not in UNITS:
        raise ValueError("units is one of %s, not %r" % (", ".join(map(repr, UNITS + ("deconvolved",))), units))
    unknown = sorted(set(chain_options) - set(CHAIN_KEYWORDS))
    if unknown:
        raise TypeError("to_dask() got unexpected keyword argument(s) %s" % ", ".join(map(repr, unknown)))
    if units != "nominal" and any(v not in (None, False) for v in chain_options.values()):
        raise ValueError("box, sensor and the chain's options serve units='nominal' only")
    s = recording.stream(stream)
    if s.number == 0:
        raise error_for(1223, None, "stream 0 holds spectral records, not scans")
    chain, desc = (None, None)
    if units == "nominal":
        chain, desc = _chain_desc(recording, s.number, **chain_options)
    base = os.path.abspath(recording.base)
    directory = os.path.dirname(base)
    first = _stream_first_file(base, s.number, set(os.listdir(directory)))
    if first is None or first.upper().endswith((".TSH", ".TSL")):
        # Mixed-rate files hold records of other streams between this one's.
        raise error_for(1223, None, "%s stream %d: lazy reading needs a file per stream" % (base, s.number))
    files, _ = set_files(first)
    if not recording.concatenate:
        files = files[:1]
    tag_size = ctypes.c_int32()
    check(_native.lib().ReadTagHT(recording.handle, s.number, 1, b"LTAG", 0, ctypes.byref(tag_size)),
          "ReadTagHT", base)
    sbrec = ctypes.c_int32()
    _native.lib().ReadTagHT(recording.handle, s.number, 1, b"SBREC", 0, ctypes.byref(sbrec))
    record_size = tag_size.value + s.scans_per_record * s.scan_bytes + _trailer_bytes(first, tag_size.value,
                                                                                      s.channel_count, sbrec.value)
    chunks = plan_chunks(files, record_size, s.scans_per_record, s.channel_count, chunk_bytes)
    dtype = np.int32 if units == "counts" else np.float64
    rate = s.tag_rate
    data_blocks, time_blocks = [], []
    for chunk in chunks:
        rows = chunk.records * s.scans_per_record
        data_blocks.append(da.from_delayed(
            dask.delayed(read_chunk, pure=True)(base, s.number, chunk, s.scans_per_record, s.channel_count, units,
                                                desc),
            shape=(rows, s.channel_count), dtype=dtype))
        time_blocks.append(da.from_delayed(
            dask.delayed(chunk_times, pure=True)(base, s.number, chunk, s.scans_per_record, rate),
            shape=(rows,), dtype="datetime64[ns]"))
    if chain is not None:
        described = dict(units=chain.units, delay=chain.delay_seconds, chain=chain)
    else:
        described = dict(units=["counts" if units == "counts" else "fraction"] * s.channel_count)
    if not data_blocks:
        return LazyScans(da.zeros((0, s.channel_count), dtype=dtype), da.zeros((0,), dtype="datetime64[ns]"),
                         rate, [], **described)
    return LazyScans(da.concatenate(data_blocks, axis=0), da.concatenate(time_blocks), rate, chunks, **described)


def _trailer_bytes(path, tag_size, channels, sbrec):
    # The trailer's per-channel factor is tag byte 27, which no named field gives.
    with open(path, "rb") as f:
        tag = f.read(max(tag_size, 28))
    factor = tag[27] if len(tag) > 27 and tag_size >= 28 else 0
    return channels * factor * sbrec
