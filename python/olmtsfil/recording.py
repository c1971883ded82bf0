"""Recordings: the table, the usable streams, and per-stream operations on a
chosen stream."""
import collections.abc
import ctypes
import os
import weakref

import numpy as np

from ._handle import HandleOwner
from . import _native
from .components import channel_names, channel_numbers
from .errors import StreamNotUsableError, check
from .paths import base_path, open_error
from .stream import STREAM_EXTENSIONS, Stream
from .values import Parameters


class Streams(collections.abc.Mapping):
    """The usable streams of a recording by number. Looking up a stream that
    cannot be read raises StreamNotUsableError (a KeyError) with the stream number
    and the library's status for it."""

    def __init__(self, usable, statuses):
        self._usable = usable
        self._statuses = statuses

    def __getitem__(self, number):
        try:
            return self._usable[number]
        except (KeyError, TypeError):
            pass
        code = self._statuses.get(number, 1223) if isinstance(number, int) else 1223
        if isinstance(number, int) and 0 <= number <= 5:
            detail = "stream %d has no usable file (%s)" % (number, STREAM_EXTENSIONS[number])
        else:
            detail = "stream %r: streams are numbered 0 (spectral) and 1 ... 5" % (number,)
        raise StreamNotUsableError(code, "ReadTagHT", detail, stream=number) from None

    def __iter__(self):
        return iter(self._usable)

    def __len__(self):
        return len(self._usable)

    def __repr__(self):
        return "Streams(%r)" % (self._usable,)


def _close_recording(handle):
    _native.lib().TSCloseHT(ctypes.byref(handle))


class Recording(HandleOwner):
    """An open recording (TSOpenHT). Use as a context manager, or call close();
    the handle is also released when the object is garbage-collected.

    ``base`` is the path of the recording without extension (the table file is
    base + ".TBL"), or the table file's own path (".TBL" in any case)."""

    _kind = "recording"

    def __init__(self, base, concatenate=False):
        self.base = base_path(base, ".TBL")
        encoded = os.fsencode(self.base)
        library = _native.lib()
        handle = library.TSOpenHT(encoded)
        if not handle:
            raise open_error(self.base, encoded, ".TBL", 1226, 1235, "TSOpenHT",
                             "table file unreadable, in no known layout, or without parameters")
        self._handle = handle
        self._finalizer = weakref.finalize(self, _close_recording, handle)
        self._concatenate = False
        self.params = Parameters(handle)
        usable, statuses = {}, {}
        for k in range(6):
            status = library.ReadTagHT(handle, k, 1, b"NCHN", 0, ctypes.byref(ctypes.c_int32()))
            if status == 0:
                usable[k] = Stream(self, k)
            else:
                statuses[k] = status
        self.streams = Streams(usable, statuses)
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
        check(_native.lib().GetNumChnHT(self.handle, ctypes.byref(count)), "GetNumChnHT")
        return count.value

    @property
    def channel_numbers(self):
        """Channel number (1 ... 12) of each recorded component, e.g. {"Ex": 1}."""
        return channel_numbers(self.params)

    @property
    def channel_names(self):
        """Component name of each channel 1 ... channel_count ("ch<n>" when none)."""
        return channel_names(self.channel_numbers, self.channel_count)

    @property
    def concatenate(self):
        """Whether streams continue into the next dated file of their set."""
        return self._concatenate

    @concatenate.setter
    def concatenate(self, on):
        self._concatenate = bool(_native.lib().SetConcatHT(self.handle, 1 if on else 0))

    def nominal_gains(self):
        """Nominal box and sensor gains per channel number (index n - 1), as two
        arrays of 12 (CalcBoxNomGainHT, CalcSensorNomGainHT)."""
        library = _native.lib()
        box = (ctypes.c_double * 12)()
        sensor = (ctypes.c_double * 12)()
        check(library.CalcBoxNomGainHT(self.handle, box), "CalcBoxNomGainHT")
        check(library.CalcSensorNomGainHT(self.handle, sensor), "CalcSensorNomGainHT")
        return np.array(box[:]), np.array(sensor[:])

    # ---- per-stream operations on a chosen stream ----------------------------------
    def stream(self, number=None):
        """The Stream of that number (default: ``default_stream``, the first
        usable time-series stream). Raises StreamError for an unusable stream."""
        number = self.default_stream if number is None else number
        self.handle
        return self.streams[number]

    def seek(self, when, stream=None):
        """Stream.seek on ``stream`` (default: ``default_stream``)."""
        return self.stream(stream).seek(when)

    def read(self, n_scans=None, stream=None, stop_at_gap=True, units="fraction", out=None, **chain):
        """Stream.read on ``stream`` (default: ``default_stream``), into ``out``
        when given. ``units`` other than "fraction" ("counts", "nominal",
        "deconvolved") go through olmtsfil.units.read, which takes the ``box``,
        ``sensor`` and further keywords of the chain."""
        if units == "fraction" and not chain:
            return self.stream(stream).read(n_scans, stop_at_gap=stop_at_gap, out=out)
        from . import units as _units
        return _units.read(self.stream(stream), n_scans, units=units, stop_at_gap=stop_at_gap, out=out, **chain)

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

    def to_dask(self, stream=None, units=None, chunk_bytes=None, **chain):
        """The stream read lazily, as LazyScans(data, times, sample_rate, chunks):
        ``data`` a dask array (scans x channels) whose chunks are runs of whole
        records within one file of the stream's set (about ``chunk_bytes`` of
        float64 each), ``times`` the datetime64[ns] of every scan with the same
        chunks. Across gaps, like ``read(stop_at_gap=False)``; computing a slice
        reads only the records under it. ``units``: None, "fs" or "fraction" for
        fractions of full scale, "counts" for int32 counts, "nominal" or
        "deconvolved" for the field (mV/km, nT) through the library's
        converter, chunk by chunk; they take the chain's keywords of ``read``
        (``box`` required: a Calibration or its path; ``sensor``,
        ``sensor_channels``, ``require_sensors``, ``force_box``,
        ``gain_frequency``; deconvolved also ``fmin``, ``fmax``, ``block``).
        Deconvolved chunks are bit for bit the scans ``read(units=
        "deconvolved")`` gives for each contiguous run: a chunk reads and
        converts, besides its own scans, up to 3/4 of a block (``block`` of the
        result, 2^17 scans at 150 Hz by default) on either side within its run
        (one block in all on average), and the block that straddles a chunk
        boundary is transformed by both neighbours; so a worker holds one
        chunk plus up to 1.5 blocks of input and its converter (a few blocks),
        and the work over ``read`` is about one block per chunk (16 % with the
        default chunks at 150 Hz; larger chunks keep it smaller). The dated
        set is followed when the recording concatenates."""
        from .lazy import DEFAULT_CHUNK_BYTES, to_dask
        return to_dask(self, self.stream(stream).number, units, chunk_bytes or DEFAULT_CHUNK_BYTES, **chain)

    def spectra(self, n_coefficients=None):
        """Stream.spectra of stream 0."""
        return self.stream(0).spectra(n_coefficients)

    def to_xarray(self, stream=None, units="counts", box=None, sensor=None, chunks=None, **options):
        """The stream from its first record as a list of xarray.Dataset, one per
        contiguous segment (a gap starts the next), in the layout of mth5's
        RunTS: dimension ``time`` (datetime64[ns]), one variable per component
        in lower case ("ex", "ey", "hx", "hy", "hz"; "ch<n>" for a channel no
        component names), attributes on the dataset (station, run, segment,
        stream, sample_rate, start, end, units_mode, delay_s, delay_samples,
        delay_applied, latitude, longitude, elevation where the table has them)
        and on every variable (component, channel_number, type, units,
        sample_rate, measurement_azimuth, measurement_tilt, dipole_length for
        electric and sensor_serial for magnetic channels where known).

        ``units``: "counts" (int32, the default; lossless, as in miniSEED),
        "fraction" (of full scale), or the field in mV/km and nT, "nominal" or
        "deconvolved", which need ``box`` and take ``sensor`` and the further
        keywords of olmtsfil.units.read (sensor_channels, require_sensors,
        force_box, gain_frequency, fmin, fmax, block). Counts and fractions
        stand at the record stamps; the field stands at the stamp minus the
        acquisition delay (``delay_applied`` 1).

        ``chunks``: None reads everything now; True (or "auto") or a number of
        bytes per chunk gives dask-backed variables built on ``to_dask`` (read
        when computed), for every ``units``; deconvolved chunks equal the
        eager result bit for bit (``to_dask`` tells what they cost)."""
        from .xarray_io import to_xarray
        return to_xarray(self, stream, units, box, sensor, chunks, **options)
