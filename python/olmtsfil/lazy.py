"""Lazy reading: a stream as a dask array whose chunks are runs of whole records
within one file of the stream's set, read only when computed.

Each chunk is read on its own recording handle (one per worker thread, kept for
the next chunk), positioned with the library's seek on the stamp of the chunk's
first record and read in one block call; so a chunk in memory is all a worker
holds, and computing a slice reads only the records under it.

Nominal units are converted chunk by chunk by the library's converter (a gain
per channel, so a chunk needs nothing of its neighbours). Deconvolution reaches
across the scans around each one and never across a gap: each chunk reads, on
either side of its own scans, the scans its blocks reach (clipped at the ends
of its contiguous run, so never across a gap, also where that lies in the next
file), and a converter started at the chunk's first block gives exactly its
scans, bit for bit what converting the run whole gives. A chunk holding a gap
is converted as one piece per run.
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
UNITS = (None, "fs", "fraction", "counts", "nominal", "deconvolved")
CHAIN_KEYWORDS = ("box", "sensor", "sensor_channels", "require_sensors", "force_box", "gain_frequency")
CONVERTER_KEYWORDS = ("fmin", "fmax", "block")
FIELD_UNITS = ("nominal", "deconvolved")

ChainDesc = collections.namedtuple("ChainDesc", "box sensors require_sensors force_box gain_frequency")
ChainDesc.__doc__ = """What a worker needs to form a stream's chain again: the box
calibration's (base, kind), per channel number the sensor calibration's (base,
kind, block), and the chain's options. Plain values, so it travels to worker
processes."""

Piece = collections.namedtuple("Piece", "run_row run_rows first end")
Piece.__doc__ = """The part of a chunk in one contiguous run: the run starts at row
``run_row`` of the stream and has ``run_rows`` scans; the piece is the run's scans
[first, end)."""

Layout = collections.namedtuple("Layout", "files records record_size scans_per_record")
Layout.__doc__ = """Where every record of the stream lies: ``files`` the paths of its
set, ``records`` the records of each, ``record_size`` in bytes."""

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
    (the field: its time is each row's time minus it; else 0), ``chain`` (the
    field: the Chain the conversion follows) and ``band`` (deconvolved: the
    band restored, in Hz; ``block`` its FFT length)."""

    def __new__(cls, data, times, sample_rate, chunks, units=None, delay=0.0, chain=None, band=None, block=0):
        self = super().__new__(cls, data, times, sample_rate, chunks)
        self.units, self.delay, self.chain, self.band, self.block = units, delay, chain, band, block
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


def _chunk_at(path, index, first, records, record_size):
    """The Chunk of ``records`` records from record ``first`` of file ``index``
    (at ``path``): its first stamp, and the records before it in the file that
    share that stamp, which a seek to it lands on first."""
    stamp = _raw_stamp(path, first * record_size)
    skip = 0
    while first - skip - 1 >= 0 and _raw_stamp(path, (first - skip - 1) * record_size) == stamp:
        skip += 1
    return Chunk(index, first, records, stamp, skip)


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
            chunks.append(_chunk_at(path, index, first, end - first, record_size))
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
    held = cache.get(key)
    if held is None:
        rec = Recording(base)
        box = Calibration(*desc.box)
        sensors = {number: (Calibration(b, kind), block) for number, (b, kind, block) in desc.sensors}
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # told once, when the array was made
            chain = Chain(rec, k, box, sensors or None, require_sensors=desc.require_sensors,
                          force_box=desc.force_box, gain_frequency=desc.gain_frequency)
        # The handles the chain was formed from stay open as long as it.
        held = cache[key] = (chain, rec, box, sensors)
    return held[0]


def _converter(base, k, desc, options):
    """This thread's deconvolving Converter of the stream, made once."""
    cache = getattr(_local, "converters", None)
    if cache is None:
        cache = _local.converters = {}
    key = (base, k, desc, options)
    converter = cache.get(key)
    if converter is None:
        import warnings
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # told once, when the array was made
            # Dask runs chunks side by side: each converts in its own thread.
            converter = _chain(base, k, desc).converter("deconvolved", *options, threads=1)
        cache[key] = converter
    return converter


def _record_at(layout, record):
    """(file index, record within it) of the stream's record ``record``."""
    for index, count in enumerate(layout.records):
        if record < count:
            return index, record
        record -= count
    raise error_for(1221, None, "record %d lies past the stream's files" % record)


def _read_rows(base, k, layout, first_row, rows, channels, where):
    """The stream's rows [first_row, first_row + rows) as fractions, read on this
    thread's handle from a seek on the record holding the first of them, in one
    block call that stops at a gap (there is none inside a run). Returns the
    array read, whose rows start at that record's first, and the offset of
    ``first_row`` in it."""
    library = _native.lib()
    handle = _handle(base)
    spr = layout.scans_per_record
    record = first_row // spr
    offset = first_row - record * spr
    records = -(-(offset + rows) // spr)
    index, local = _record_at(layout, record)
    _position(library, handle, k, _chunk_at(layout.files[index], index, local, records, layout.record_size), where)
    out = np.empty((records * spr, channels), dtype=np.float64)
    got = ctypes.c_int64()
    status = library.olmts_read_scans_dbl(handle, k, 1, out.ctypes.data, out.size, ctypes.byref(got))
    if got.value < offset + rows:
        _drop_handle(base)
        check(status if status != 0 else 1221, "olmts_read_scans_dbl",
              "%s: %d of %d scans of a run read from row %d" % (where, got.value, offset + rows, first_row))
    return out, offset


def _gap_rows(base, k, scans_per_record):
    """The first row of every run after a gap, by the library's gap test, found
    on this thread's handle (the caller's stream keeps its position)."""
    library = _native.lib()
    handle = _handle(base)
    where = "%s stream %d" % (base, k)
    status = library.SeekHT(handle, k, _native.TimeStamp(), 0)
    if status not in (0, 1202):
        check(status, "SeekHT", where)
    rows, records = [], 0
    while True:
        status = library.SkipRecHT(handle, k)
        if status == 1220:
            return rows
        check(status, "SkipRecHT", where)
        records += 1
        # A gap is one only when a record follows it.
        if library.GapHT(handle, k) != 0 and library.olmts_gap_scans(handle, k, None, None, None) != 1201:
            rows.append(records * scans_per_record)


def read_deconvolved_chunk(base, k, pieces, layout, channels, desc, options):
    """The scans of one chunk in deconvolved units: per piece (its part in one
    run) the input its blocks reach, clipped at the run's ends, read and pushed
    through this thread's converter started at the piece's first block."""
    where = "%s stream %d" % (base, k)
    converter = _converter(base, k, desc, options)
    parts = []
    try:
        for piece in pieces:
            start, stop = converter.window(piece.first, piece.end)
            stop = piece.run_rows if stop is None else min(stop, piece.run_rows)
            buffer, offset = _read_rows(base, k, layout, piece.run_row + start, stop - start, channels, where)
            # Converted in place: the piece's scans end up in the buffer's first rows.
            converter.convert(buffer[offset:offset + stop - start], out=buffer)
            parts.append((buffer, piece.end - piece.first))
    except BaseException:
        # A window started but not converted would refuse the next start.
        getattr(_local, "converters", {}).pop((base, k, desc, options), None)
        raise
    if len(parts) == 1:
        buffer, rows = parts[0]
        buffer.resize((rows, channels), refcheck=False)
        return buffer
    return np.concatenate([buffer[:rows] for buffer, rows in parts])


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
    from .calibration import sensor_assignments
    from .units import Chain
    if box is None:
        raise ValueError("units of the field (nominal, deconvolved) need the box calibration (box=)")
    if not isinstance(box, Calibration):
        box = Calibration.box(box)
    if sensor is not None and not isinstance(sensor, (Calibration, dict)):
        sensor = Calibration.sensor(sensor)
    chain = Chain(recording, k, box, sensor, sensor_channels, require_sensors, force_box, gain_frequency)
    sensors = tuple(sorted((number, (os.path.abspath(cal.base), cal.kind, block))
                           for number, (cal, block) in sensor_assignments(recording, sensor, sensor_channels).items()))
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


def to_dask(recording, stream, units=None, chunk_bytes=DEFAULT_CHUNK_BYTES, **options):
    """The stream as LazyScans (see Recording.to_dask)."""
    import dask
    import dask.array as da
    from .survey import set_files, stream_first_file
    if units not in UNITS:
        raise ValueError("units is one of %s, not %r" % (", ".join(map(repr, UNITS)), units))
    unknown = sorted(set(options) - set(CHAIN_KEYWORDS) - set(CONVERTER_KEYWORDS))
    if unknown:
        raise TypeError("to_dask() got unexpected keyword argument(s) %s" % ", ".join(map(repr, unknown)))
    chain_options = {key: value for key, value in options.items() if key in CHAIN_KEYWORDS}
    converter_options = tuple(None if options.get(key) is None else float(options[key]) if key != "block"
                              else int(options[key]) for key in CONVERTER_KEYWORDS)
    if units not in FIELD_UNITS and any(v not in (None, False) for v in chain_options.values()):
        raise ValueError("box, sensor and the chain's options serve units='nominal' and 'deconvolved' only")
    if units != "deconvolved" and any(v is not None for v in converter_options):
        raise ValueError("fmin, fmax and block serve units='deconvolved' only")
    s = recording.stream(stream)
    if s.number == 0:
        raise error_for(1223, None, "stream 0 holds spectral records, not scans")
    chain, desc, band, block = None, None, None, 0
    if units in FIELD_UNITS:
        chain, desc = _chain_desc(recording, s.number, **chain_options)
    if units == "deconvolved":
        # Made here so that a bad band, and a band reaching past the
        # calibrations, reach the caller now.
        with chain.converter("deconvolved", *converter_options) as converter:
            band, block = converter.band, converter.block
    base = os.path.abspath(recording.base)
    directory = os.path.dirname(base)
    first = stream_first_file(base, s.number, set(os.listdir(directory)))
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
    spr = s.scans_per_record
    layout = Layout(tuple(files), tuple(os.path.getsize(path) // record_size for path in files), record_size, spr)
    file_rows = np.concatenate([[0], np.cumsum(layout.records)]) * spr
    if units == "deconvolved":
        # Runs from the library's gap test: each gap starts one at its record.
        total = int(file_rows[-1])
        run_starts = [0] + [row for row in _gap_rows(base, s.number, spr) if 0 < row < total]
        run_ends = run_starts[1:] + [total]
    data_blocks, time_blocks = [], []
    for chunk in chunks:
        rows = chunk.records * spr
        if units == "deconvolved":
            row = int(file_rows[chunk.file]) + chunk.first_record * spr
            pieces = tuple(Piece(a, b - a, max(row, a) - a, min(row + rows, b) - a)
                           for a, b in zip(run_starts, run_ends) if a < row + rows and b > row)
            task = dask.delayed(read_deconvolved_chunk, pure=True)(base, s.number, pieces, layout, s.channel_count,
                                                                   desc, converter_options)
        else:
            task = dask.delayed(read_chunk, pure=True)(base, s.number, chunk, spr, s.channel_count, units, desc)
        data_blocks.append(da.from_delayed(task, shape=(rows, s.channel_count), dtype=dtype))
        time_blocks.append(da.from_delayed(
            dask.delayed(chunk_times, pure=True)(base, s.number, chunk, spr, rate),
            shape=(rows,), dtype="datetime64[ns]"))
    if chain is not None:
        described = dict(units=chain.units, delay=chain.delay_seconds, chain=chain, band=band, block=block)
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
