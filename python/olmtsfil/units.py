"""Physical units: the measuring chain of each channel and the conversion of
scans to the field, through the library's olmts_chain_* and olmts_converter_*
functions (docs/units.md defines the chain). No arithmetic of the conversion
lives here: the tool and this package get the same numbers from the library.

Units of the values ``read`` gives: "fraction" (of full scale, the default),
"counts" (fraction x 2^23, the 24-bit integers), "nominal" (the field, each
channel divided by its chain's gain at the gain frequency) and "deconvolved"
(the field, the whole response removed in the frequency domain). The field is
in mV/km for electric and nT for magnetic channels; its time is the scan's
stamp minus the acquisition delay.

Phase convention: responses are in the e^{+j 2 pi f t} convention, a field
A cos(2 pi f t + p) is recorded as |H| A cos(2 pi f t + p + arg H).
"""
import collections
import ctypes
import warnings
import weakref

import numpy as np

from ._handle import HandleOwner
from . import _native
from .errors import check, error_for

UNITS = ("fraction", "counts", "nominal", "deconvolved")
COUNTS_PER_FULL_SCALE = 8388608.0  # 2^23

STAGE_TOTAL = -1
TABLE_NOMINAL, SERIAL_MISMATCH, UNUSABLE, BOX_FORCED, ASSUMED = 0x1, 0x2, 0x4, 0x8, 0x10
REQUIRE_SENSORS, FORCE_BOX = 0x1, 0x2
_MODES = {"nominal": 1, "deconvolved": 2}


class UnitsWarning(UserWarning):
    """A chain was formed with a stand-in: a magnetic channel on the table's
    nominal sensor value, a sensor whose serial is not the one the table names,
    or a box calibration of another box used as forced."""


class StageInfo(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int32), ("flags", ctypes.c_int32), ("name", ctypes.c_char * 24),
                ("input_units", ctypes.c_char * 16), ("output_units", ctypes.c_char * 16),
                ("gain", ctypes.c_double), ("gain_frequency_hz", ctypes.c_double), ("fmin_hz", ctypes.c_double),
                ("fmax_hz", ctypes.c_double), ("source", ctypes.c_char * 96), ("serial", ctypes.c_char * 16)]


class ConvertOptions(ctypes.Structure):
    _fields_ = [("fmin_hz", ctypes.c_double), ("fmax_hz", ctypes.c_double), ("block", ctypes.c_int32),
                ("threads", ctypes.c_int32)]


_p = ctypes.c_void_p
_i32 = ctypes.c_int32
_i32p = ctypes.POINTER(ctypes.c_int32)
_dp = ctypes.POINTER(ctypes.c_double)
PROTOTYPES = {
    "olmts_chain_open": (_i32, [_p, _i32, _p, _p, _p, _i32, ctypes.c_double, ctypes.POINTER(_p)]),
    "olmts_chain_close": (None, [ctypes.POINTER(_p)]),
    "olmts_chain_channels": (_i32, [_p, _i32p]),
    "olmts_chain_channel": (_i32, [_p, _i32, ctypes.c_char_p, ctypes.c_char_p]),
    "olmts_chain_stage_count": (_i32, [_p, _i32, _i32p]),
    "olmts_chain_stage_info": (_i32, [_p, _i32, _i32, ctypes.POINTER(StageInfo)]),
    "olmts_chain_stage_response": (_i32, [_p, _i32, _i32, ctypes.c_double, ctypes.POINTER(_native.Complex), _i32p]),
    "olmts_chain_delay": (_i32, [_p, _dp, _dp]),
    "olmts_chain_sample_rate": (_i32, [_p, _dp]),
    "olmts_converter_open": (_i32, [_p, _i32, ctypes.POINTER(ConvertOptions), ctypes.POINTER(_p)]),
    "olmts_converter_close": (None, [ctypes.POINTER(_p)]),
    "olmts_converter_push": (_i32, [_p, _p, _i32]),
    "olmts_converter_finish": (_i32, [_p]),
    "olmts_converter_pull": (_i32, [_p, _p, _i32, _i32p]),
    "olmts_converter_band": (_i32, [_p, _dp, _dp, _i32p]),
    "olmts_converter_start": (_i32, [_p, ctypes.c_int64, ctypes.c_int64, ctypes.POINTER(ctypes.c_int64),
                                     ctypes.POINTER(ctypes.c_int64)]),
}

_bound = None


def _lib():
    """The extension functions of the loaded library, prototyped once."""
    global _bound
    if _bound is None:
        library = _native.lib()
        functions = {}
        for name, (restype, argtypes) in PROTOTYPES.items():
            try:
                function = getattr(library.dll, name)
            except AttributeError:
                raise _native.MissingExportError("%s does not export %s" % (library.path, name)) from None
            function.restype = restype
            function.argtypes = argtypes
            functions[name] = function
        _bound = collections.namedtuple("Extension", functions)(**functions)
    return _bound


Stage = collections.namedtuple("Stage", "name kind input_units output_units gain gain_frequency fmin fmax source "
                                        "serial flags")
Stage.__doc__ = """One stage of a channel's chain (docs/units.md): units in and out, the gain
(output per input unit) at the chain's gain frequency, the frequencies its
calibration covers (0, 0: any), where it comes from, the calibration's serial,
and the OLMTS_STAGE_* flags (TABLE_NOMINAL, SERIAL_MISMATCH, UNUSABLE ...)."""

ChannelChain = collections.namedtuple("ChannelChain", "number component units stages total")


def _text(raw):
    return raw.decode("ascii", "replace")


def _close_chain(handle):
    _lib().olmts_chain_close(ctypes.byref(handle))


def _close_converter(handle):
    _lib().olmts_converter_close(ctypes.byref(handle))


def sensor_handles(rec, sensor, sensor_channels=None):
    """The 12 sensor handles and blocks by channel number - 1 from the forms
    response_stages takes (one Calibration, or a mapping channel -> Calibration
    or (Calibration, block))."""
    from .calibration import sensor_assignments
    handles = (ctypes.c_void_p * 12)()
    blocks = (ctypes.c_int32 * 12)()
    keep = []
    for number, (calibration, block) in sensor_assignments(rec, sensor, sensor_channels).items():
        if not 1 <= number <= min(rec.channel_count, 12) or not 0 <= block < calibration.channel_count:
            raise ValueError("sensor block %d of %r cannot serve channel %d" % (block, calibration, number))
        handles[number - 1] = ctypes.cast(calibration.handle, ctypes.c_void_p)
        blocks[number - 1] = block
        keep.append(calibration)
    return handles, blocks, keep


class Chain(HandleOwner):
    """The measuring chain of every channel of ``stream`` (olmts_chain_open).

    ``box`` is the box Calibration (required); ``sensor`` as for
    response_stages. ``require_sensors`` refuses a magnetic channel without a
    sensor calibration (else it takes the table's nominal value, with a
    UnitsWarning naming the channel); ``force_box`` accepts a box calibration
    whose serial is not the recording's. ``gain_frequency`` None: the default."""

    _kind = "chain"

    def __init__(self, rec, stream, box, sensor=None, sensor_channels=None, require_sensors=False, force_box=False,
                 gain_frequency=None):
        if box is None:
            raise ValueError("a chain needs the box calibration")
        self.recording, self.stream = rec, int(stream)
        handles, blocks, self._calibrations = sensor_handles(rec, sensor, sensor_channels)
        self._box = box
        options = (REQUIRE_SENSORS if require_sensors else 0) | (FORCE_BOX if force_box else 0)
        handle = ctypes.c_void_p()
        status = _lib().olmts_chain_open(ctypes.cast(rec.handle, ctypes.c_void_p), self.stream,
                                         ctypes.cast(box.handle, ctypes.c_void_p), handles, blocks, options,
                                         float(gain_frequency or 0.0), ctypes.byref(handle))
        if status == 1301:
            missing = [n for n in rec.channel_names if n.startswith("H")
                       and not handles[rec.channel_numbers[n] - 1]]
            raise error_for(status, "olmts_chain_open", "no sensor calibration for %s" % ", ".join(missing))
        if status == 1302:
            raise error_for(status, "olmts_chain_open",
                            "%s is the calibration of another box than the one that recorded stream %d; "
                            "force_box=True uses it anyway" % (box.base, self.stream))
        check(status, "olmts_chain_open", "stream %d" % self.stream)
        self._handle = handle
        self._finalizer = weakref.finalize(self, _close_chain, handle)
        self.channels = self._describe()
        samples, seconds, rate = ctypes.c_double(), ctypes.c_double(), ctypes.c_double()
        _lib().olmts_chain_delay(handle, ctypes.byref(samples), ctypes.byref(seconds))
        _lib().olmts_chain_sample_rate(handle, ctypes.byref(rate))
        self.delay_samples, self.delay_seconds, self.sample_rate = samples.value, seconds.value, rate.value
        self.warnings = self._warnings()
        for text in self.warnings:
            warnings.warn(text, UnitsWarning, stacklevel=2)

    def _stage(self, number, index):
        info = StageInfo()
        check(_lib().olmts_chain_stage_info(self._handle, number, index, ctypes.byref(info)),
              "olmts_chain_stage_info", "channel %d stage %d" % (number, index))
        return Stage(_text(info.name), info.kind, _text(info.input_units), _text(info.output_units), info.gain,
                     info.gain_frequency_hz, info.fmin_hz, info.fmax_hz, _text(info.source), _text(info.serial),
                     info.flags)

    def _describe(self):
        library = _lib()
        count = ctypes.c_int32()
        check(library.olmts_chain_channels(self._handle, ctypes.byref(count)), "olmts_chain_channels")
        out = []
        for number in range(1, count.value + 1):
            component, units, stages = ctypes.create_string_buffer(4), ctypes.create_string_buffer(8), ctypes.c_int32()
            check(library.olmts_chain_channel(self._handle, number, component, units), "olmts_chain_channel")
            check(library.olmts_chain_stage_count(self._handle, number, ctypes.byref(stages)),
                  "olmts_chain_stage_count")
            out.append(ChannelChain(number, _text(component.value), _text(units.value),
                                    [self._stage(number, i) for i in range(stages.value)],
                                    self._stage(number, STAGE_TOTAL)))
        return out

    def _warnings(self):
        out = []
        for ch in self.channels:
            name = ch.component or "channel %d" % ch.number
            for s in ch.stages:
                if s.flags & TABLE_NOMINAL:
                    out.append("%s (channel %d): %s" % (name, ch.number, s.source))
                if s.flags & SERIAL_MISMATCH:
                    out.append("%s (channel %d): sensor serial differs: %s" % (name, ch.number, s.source))
                if s.flags & UNUSABLE:
                    out.append("%s (channel %d): no %s value: %s; its values are NaN" % (name, ch.number, s.name,
                                                                                       s.source))
            if ch.stages and any(s.flags & BOX_FORCED for s in ch.stages) and ch.number == 1:
                out.append("box calibration of another box used as forced: %s" % ch.stages[-2].source)
        return out

    @property
    def units(self):
        """Physical units of every channel, in channel order."""
        return [ch.units for ch in self.channels]

    def response(self, freqs, stage="total"):
        """Complex response of a stage ("total" or a stage name: "dipole" and
        "sensor" are both the first stage, then "box", "digitiser") of every
        channel at each frequency, (frequencies x channels), and a boolean
        array of the same shape: True where the frequency lies outside what the
        stage's calibration covers."""
        freqs = np.atleast_1d(np.asarray(freqs, dtype=np.float64))
        values = np.empty((len(freqs), len(self.channels)), dtype=np.complex128)
        outside = np.zeros(values.shape, dtype=bool)
        library = _lib()
        c = _native.Complex()
        flag = ctypes.c_int32()
        for j, ch in enumerate(self.channels):
            index = self._stage_index(ch, stage)
            for i, f in enumerate(freqs):
                status = library.olmts_chain_stage_response(self._handle, ch.number, index, float(f), ctypes.byref(c),
                                                            ctypes.byref(flag))
                if status == 1232:  # this channel's value cannot be formed there
                    values[i, j], outside[i, j] = np.nan, False
                    continue
                check(status, "olmts_chain_stage_response", "channel %d at %r Hz" % (ch.number, float(f)))
                values[i, j], outside[i, j] = complex(c.re, c.im), bool(flag.value)
        return values, outside

    @staticmethod
    def _stage_index(ch, stage):
        if stage == "total":
            return STAGE_TOTAL
        names = [s.name for s in ch.stages]
        if stage in ("dipole", "sensor"):
            return 0
        if stage not in names:
            raise ValueError("no stage %r; the stages are %s and 'total'" % (stage, names))
        return names.index(stage)

    def converter(self, units, fmin=None, fmax=None, block=None, threads=None):
        return Converter(self, units, fmin, fmax, block, threads)


class Converter(HandleOwner):
    """Streaming conversion of fractions of full scale (olmts_converter_*).
    ``threads``: deconvolution threads (None or 0: the machine's cores, 1: the
    calling thread only); the values do not depend on it."""

    _kind = "converter"

    def __init__(self, chain, units, fmin=None, fmax=None, block=None, threads=None):
        if units not in _MODES:
            raise ValueError("a converter makes 'nominal' or 'deconvolved' units, not %r" % (units,))
        self.chain = chain
        options = ConvertOptions(float(fmin or 0.0), float(fmax or 0.0), int(block or 0), int(threads or 0))
        handle = ctypes.c_void_p()
        check(_lib().olmts_converter_open(chain.handle, _MODES[units], ctypes.byref(options), ctypes.byref(handle)),
              "olmts_converter_open", "%s units on stream %d" % (units, chain.stream))
        self._handle = handle
        self._finalizer = weakref.finalize(self, _close_converter, handle)
        lo, hi, n = ctypes.c_double(), ctypes.c_double(), ctypes.c_int32()
        _lib().olmts_converter_band(handle, ctypes.byref(lo), ctypes.byref(hi), ctypes.byref(n))
        self.band = (lo.value, hi.value) if units == "deconvolved" else None
        self.block = n.value
        if self.band is not None:
            covered = [(ch.total.fmin, ch.total.fmax) for ch in chain.channels if ch.total.fmax > 0]
            if covered:
                low, high = max(c[0] for c in covered), min(c[1] for c in covered)
                if self.band[0] < low or self.band[1] > high:
                    warnings.warn("the band %g ... %g Hz reaches beyond the calibrations (%g ... %g Hz): "
                                  "responses there are extrapolated" % (self.band + (low, high)), UnitsWarning,
                                  stacklevel=3)

    def window(self, first, end=None):
        """Makes the next ``convert`` give only the scans [first, end) of its
        run (end None: to the run's end), exactly what converting the run whole
        gives there (olmts_converter_start). Returns (start, stop): the run's
        scans that ``convert`` must then be given, stop None for up to the
        run's end; fewer when the run ends before ``stop``. The deconvolution's
        blocks reach up to 3/4 of a block (``block``) beyond either end of the
        window."""
        start, stop = ctypes.c_int64(), ctypes.c_int64()
        check(_lib().olmts_converter_start(self._handle, int(first), -1 if end is None else int(end),
                                           ctypes.byref(start), ctypes.byref(stop)),
              "olmts_converter_start", "scans %s ... %s" % (first, end))
        self._window = (int(first), None if end is None else int(end), start.value)
        return start.value, (None if stop.value < 0 else stop.value)

    def convert(self, fractions, in_place=False, out=None):
        """One contiguous run of scans (n x channels) converted whole, or after
        ``window`` the part of a run it asked for, giving the window's scans.
        With ``in_place`` the result overwrites ``fractions`` (a C-contiguous
        float64 array) from its first row on: the converter hands out a scan
        only after it has taken it in, so no second array of the run's size is
        needed. ``out``: the array the result is written to from its first
        row; it may share memory with ``fractions`` if its first row does not
        lie after theirs."""
        data = np.ascontiguousarray(fractions, dtype=np.float64)
        channels = len(self.chain.channels)
        if data.ndim != 2 or data.shape[1] != channels:
            raise ValueError("scans of %d channels expected, got shape %r" % (channels, data.shape))
        window, self._window = getattr(self, "_window", None), None
        wanted = len(data)
        if window is not None:
            first, end, start = window
            last = start + len(data) if end is None else min(end, start + len(data))
            wanted = max(0, last - first)
        library = _lib()
        if out is None:
            out = data if in_place and data is fractions else np.empty_like(data)
        elif (out.dtype != np.float64 or not out.flags.c_contiguous or out.ndim != 2 or out.shape[1] != channels
              or len(out) < wanted):
            raise ValueError("out must be a C-contiguous float64 array of %d rows x %d channels at least"
                             % (wanted, channels))
        got, n = 0, ctypes.c_int32()
        step = 1 << 16
        try:
            for i in range(0, len(data), step):
                piece = data[i:i + step]
                check(library.olmts_converter_push(self._handle, piece.ctypes.data, len(piece)),
                      "olmts_converter_push")
                check(library.olmts_converter_pull(self._handle, out[got:].ctypes.data, wanted - got,
                                                   ctypes.byref(n)), "olmts_converter_pull")
                got += n.value
        except BaseException:
            # The run ends with the fault and nothing of it is left to be
            # pulled with the next one.
            library.olmts_converter_finish(self._handle)
            scratch = np.empty((4096, channels))
            while library.olmts_converter_pull(self._handle, scratch.ctypes.data, len(scratch), ctypes.byref(n)) \
                    == 0 and n.value:
                pass
            raise
        check(library.olmts_converter_finish(self._handle), "olmts_converter_finish")
        check(library.olmts_converter_pull(self._handle, out[got:].ctypes.data, wanted - got, ctypes.byref(n)),
              "olmts_converter_pull")
        got += n.value
        if got != wanted:
            raise RuntimeError("converter gave %d of %d scans" % (got, wanted))
        return out if wanted == len(out) else out[:wanted]


def read(stream, n_scans=None, units="fraction", box=None, sensor=None, sensor_channels=None, require_sensors=False,
         force_box=False, gain_frequency=None, fmin=None, fmax=None, block=None, stop_at_gap=True, threads=None,
         out=None):
    """Stream.read in the given units. The result carries ``units`` (per
    channel), ``delay`` (seconds: the field's time is each row's time minus it)
    and, for the field, ``chain`` (the Chain used) and ``band`` (deconvolved)."""
    if units not in UNITS:
        raise ValueError("units is one of %s, not %r" % (", ".join(UNITS), units))
    scans = stream.read(n_scans, stop_at_gap=stop_at_gap, out=out)
    channels = scans.data.shape[1]
    if units == "fraction":
        scans.units = ["fraction"] * channels
        return scans
    if units == "counts":
        scans.data[...] *= COUNTS_PER_FULL_SCALE
        scans.units = ["counts"] * channels
        return scans
    if not stop_at_gap:
        raise ValueError("%s units are formed over one contiguous run: read with stop_at_gap=True" % units)
    chain = Chain(stream.recording, stream.number, box, sensor, sensor_channels, require_sensors, force_box,
                  gain_frequency)
    with chain.converter(units, fmin, fmax, block, threads) as converter:
        if len(scans.data):
            converter.convert(scans.data, in_place=True)
        band = converter.band
    scans.units = chain.units
    scans.delay = chain.delay_seconds
    scans.chain = chain
    scans.band = band
    return scans
