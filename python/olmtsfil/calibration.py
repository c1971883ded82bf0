"""Calibrations, responses over arrays of frequencies, and their export.

The stages are kept apart, as processing packages expect them: the sensor, the
box (analog front end and digital decimation chain together, as the library
forms it), their product, and the acquisition delay as a time shift that is
never folded into a response.
"""
import collections
import collections.abc
import csv
import ctypes
import os
import weakref

import numpy as np

from ._handle import HandleOwner
from . import _native
from .components import MAGNETIC
from .errors import NameNotFoundError, NoResponseError, OpenError, check, error_for
from .paths import base_path, open_error
from .stream import Delay
from .values import TYPE_DOUBLE, TYPE_INT32, TYPE_TEXT16, TYPE_TIMESTAMP, read_typed

BOX, SENSOR, SENSOR_CNOM = 1, 2, 3

# Header parameters readable through ReadCalPrmHT, by calibration kind, in the
# library's descriptor order.
_COMMON = (("UTC", TYPE_TIMESTAMP), ("SNUM", TYPE_INT32), ("NCHN", TYPE_INT32), ("STAT", TYPE_INT32),
           ("CTYP", TYPE_INT32), ("HW", TYPE_TEXT16), ("VER", TYPE_TEXT16), ("TCMB", TYPE_INT32),
           ("TALS", TYPE_INT32), ("LFRQ", TYPE_INT32), ("K8SR", TYPE_INT32), ("LPFR", TYPE_INT32))
CALIBRATION_PARAMETERS = {
    BOX: _COMMON + (("HATT", TYPE_DOUBLE),),
    SENSOR: _COMMON + (("HSN", TYPE_TEXT16), ("HATT", TYPE_DOUBLE), ("HNOM", TYPE_DOUBLE), ("CPHC", TYPE_DOUBLE)),
}
CALIBRATION_PARAMETERS[SENSOR_CNOM] = CALIBRATION_PARAMETERS[SENSOR]


def _close_calibration(handle):
    _native.lib().CalCloseHT(ctypes.byref(handle))


class CalibrationParameters(collections.abc.Mapping):
    """Header parameters of a calibration as a read-only mapping (names matched
    without regard to case)."""

    def __init__(self, calibration):
        library = _native.lib()
        handle = calibration.handle
        self._values = {}
        for name, type_code in CALIBRATION_PARAMETERS[calibration.kind]:
            self._values[name] = read_typed(lambda n, t, o: library.ReadCalPrmHT(handle, n, t, o), name, type_code,
                                            "ReadCalPrmHT")

    def __getitem__(self, name):
        try:
            return self._values[name.upper()]
        except KeyError:
            raise NameNotFoundError(201, "ReadCalPrmHT", "name %r" % (name,)) from None

    def __iter__(self):
        return iter(self._values)

    def __len__(self):
        return len(self._values)

    def __repr__(self):
        return "CalibrationParameters(%r)" % (self._values,)


class Calibration(HandleOwner):
    """An open calibration file (CalOpenHT): a box (".CLB", kind 1) or a sensor
    (".CLC", kind 2, or 3 for a sensor whose nominal value the table gives as
    "CNOM"). Use as a context manager, or call close(); the handle is also
    released on garbage collection."""

    _kind = "calibration"

    def __init__(self, base, kind):
        self.kind = int(kind) & 0xFF
        own = ".CLB" if self.kind == BOX else ".CLC"
        self.base = base_path(base, own) if self.kind in (BOX, SENSOR, SENSOR_CNOM) else os.fsdecode(os.fspath(base))
        encoded = os.fsencode(self.base)
        handle = _native.lib().CalOpenHT(int(kind), encoded)
        if not handle:
            if self.kind not in (BOX, SENSOR, SENSOR_CNOM):
                raise _open_error_kind(self.base, kind)
            extension = ".CLB" if self.kind == BOX else ".CLC"
            raise open_error(self.base, encoded, extension, 1231, 1239, "CalOpenHT",
                             "not a calibration of kind %d, or unreadable" % self.kind)
        self._handle = handle
        self._finalizer = weakref.finalize(self, _close_calibration, handle)
        self.params = CalibrationParameters(self)
        self.channel_count = self.params["NCHN"]

    @classmethod
    def box(cls, base):
        """Opens the box calibration base + ".CLB" (``base`` may also be the
        file's own path, ".CLB" in any case)."""
        return cls(base, BOX)

    @classmethod
    def sensor(cls, base, kind=SENSOR):
        """Opens the sensor calibration base + ".CLC" (kind 2, or 3 for sensors
        whose nominal value the recording's table holds as "CNOM"); ``base`` may
        also be the file's own path, ".CLC" in any case."""
        if kind not in (SENSOR, SENSOR_CNOM):
            raise ValueError("a sensor calibration is of kind 2 or 3, not %r" % (kind,))
        return cls(base, kind)

    def __repr__(self):
        return "<Calibration %r, kind %d%s>" % (self.base, self.kind, ", closed" if self.closed else "")


def _open_error_kind(base, kind):
    return OpenError(1230, "CalOpenHT", "%s: kind %r" % (base, kind))


Response = collections.namedtuple("Response", "frequencies values aux")
Response.__doc__ = """A response over frequencies: ``values`` (frequencies x channels)
complex128, ``aux`` the companion value per frequency and channel (every factor
of the response scales it by its magnitude; negative marks an unusable channel)."""


def _as_frequencies(freqs):
    freqs = np.atleast_1d(np.asarray(freqs, dtype=np.float64))
    if freqs.ndim != 1:
        raise ValueError("frequencies must be a scalar or a one-dimensional array")
    return freqs


def _sweep(function, name, freqs, channels, call):
    """Calls the response function once per frequency into per-call buffers of
    at least 12 channels (the most a recording or calibration holds)."""
    freqs = _as_frequencies(freqs)
    slots = max(channels, 12)
    resp = (_native.Complex * slots)()
    aux = (ctypes.c_double * slots)()
    values = np.empty((len(freqs), channels), dtype=np.complex128)
    companion = np.empty((len(freqs), channels), dtype=np.float64)
    as_pairs = np.frombuffer(resp, dtype=np.float64)
    as_aux = np.frombuffer(aux, dtype=np.float64)
    for i, f in enumerate(freqs):
        status = call(float(f), resp, aux)
        pairs = as_pairs[:2 * channels]
        if status != 0:
            error = error_for(status, function, "%s at %r Hz" % (name, float(f)))
            if isinstance(error, NoResponseError):
                error.frequency = float(f)
                error.values = pairs[0::2] + 1j * pairs[1::2]
                error.aux = as_aux[:channels].copy()
            raise error
        values[i] = pairs[0::2] + 1j * pairs[1::2]
        companion[i] = as_aux[:channels]
    return Response(freqs, values, companion)


def box_response(cal, rec, stream, freqs):
    """Box response (analog front end times digital chain) of every channel of
    the recording for ``stream`` at each frequency (CalcBoxRespHT). Column c - 1
    belongs to channel number c."""
    library = _native.lib()
    cal_handle, ts_handle = cal.handle, rec.handle
    return _sweep("CalcBoxRespHT", "box response", freqs, rec.channel_count,
                  lambda f, resp, aux: library.CalcBoxRespHT(cal_handle, ts_handle, int(stream), f, resp, aux))


def sensor_response(cal, rec, freqs):
    """Sensor response of every channel of the sensor calibration at each
    frequency (CalcSensorRespHT), rescaled to the recording's nominal sensor
    value. Column i belongs to channel block i of the calibration."""
    library = _native.lib()
    cal_handle, ts_handle = cal.handle, rec.handle
    return _sweep("CalcSensorRespHT", "sensor response", freqs, cal.channel_count,
                  lambda f, resp, aux: library.CalcSensorRespHT(cal_handle, ts_handle, f, resp, aux))


def default_sensor_channels(rec, sensor_channel_count):
    """Which sensor-calibration block serves which recording channel, as
    {channel number: block index}. With as many blocks as recorded channels the
    blocks follow the channels; otherwise the blocks are the magnetic sensors, in
    the order Hx, Hy, Hz of the components recorded."""
    if sensor_channel_count == rec.channel_count:
        return {n: n - 1 for n in range(1, rec.channel_count + 1)}
    numbers = rec.channel_numbers
    magnetic = [numbers[name] for name in MAGNETIC if name in numbers]
    return {n: i for i, n in enumerate(magnetic[:sensor_channel_count])}


class Stages(collections.namedtuple("Stages", "frequencies channels sensor box total sensor_aux box_aux delay")):
    """Response stages of one stream, per channel of the recording (columns
    follow ``channels``, the component names of channels 1 ... n):

    - ``sensor``: the first stage, physical units to volts: the dipole (its
      length x 1e-6 V per mV/km) for electric channels, the sensor (V/nT, its
      calibration or the table's nominal value) for magnetic ones;
    - ``box``: the box response in V/V, analog front end and digital filters
      together, without the linear phase of the acquisition delay (the word
      "box" means this in the tool as well; box_response() gives the library's
      own value, which includes that phase);
    - ``total``: sensor x box, volts at the converter per physical unit;
    - ``delay``: the acquisition delay (samples, seconds), the time shift to
      apply to sample times. Kept out of the responses so that a caller who
      corrects the times and divides by ``total`` removes the delay once.
    """

    def stage(self, name):
        if name not in ("sensor", "box", "total"):
            raise ValueError("stage is 'sensor', 'box' or 'total', not %r" % (name,))
        return getattr(self, name)

    def to_fap(self, path, channel, stage="total", *, input_units, output_units):
        """Writes one channel's stage as a frequency-amplitude-phase CSV table.
        ``channel`` is a component name ("Hx") or a channel number (1 ...)."""
        column = self.channels.index(channel) if isinstance(channel, str) else int(channel) - 1
        if not 0 <= column < len(self.channels):
            raise ValueError("no channel %r" % (channel,))
        if not np.all(np.isfinite(self.stage(stage)[:, column])):
            raise ValueError("channel %r has no %s stage (no calibration serves it)" % (channel, stage))
        return to_fap(path, self.frequencies, self.stage(stage)[:, column], input_units=input_units,
                      output_units=output_units,
                      description="%s response of channel %d (%s)" % (stage, column + 1, self.channels[column]))


def response_stages(rec, stream, freqs, box=None, sensor=None, sensor_channels=None, delay_in_box=False,
                    require_sensors=False, force_box=False, gain_frequency=None):
    """The stages of ``stream`` of the recording at each frequency (see Stages),
    from the library's chain of stages (olmtsfil.units.Chain, docs/units.md).
    ``delay_in_box`` gives the library's own box value instead, with the delay's
    linear phase in it (then do not shift the sample times as well).

    ``box`` is a box Calibration. ``sensor`` is either one sensor Calibration
    whose blocks serve several channels (``sensor_channels`` maps channel
    numbers to blocks; default: default_sensor_channels), or a mapping from
    channel (component name or number) to the Calibration of its sensor, or to
    a (Calibration, block) pair; a one-channel calibration serves with block 0.
    A magnetic channel no calibration serves takes the table's nominal sensor
    value (V/nT) with a UnitsWarning naming it, or raises with
    ``require_sensors``; ``force_box`` accepts the calibration of another box.

    The result also carries ``units`` (per channel), ``digitiser`` (counts per
    volt per channel), ``chain`` (per channel, the olmtsfil.units.Stage list)
    and ``outside`` (True where a frequency lies outside a calibration)."""
    from . import units as _units
    freqs = _as_frequencies(freqs)
    n = rec.channel_count
    nan = np.full((len(freqs), n), np.nan)
    delay = _stream_delay(rec, stream)
    sensor_aux = nan.copy()
    computed = {}
    for number, (calibration, block) in sensor_assignments(rec, sensor, sensor_channels).items():
        if not 1 <= number <= n or not 0 <= block < calibration.channel_count:
            raise ValueError("sensor block %d of %r cannot serve channel %d" % (block, calibration, number))
        if id(calibration) not in computed:
            computed[id(calibration)] = sensor_response(calibration, rec, freqs)
        sensor_aux[:, number - 1] = computed[id(calibration)].aux[:, block]
    if box is None:
        # Without a box there is no chain: the sensors alone, as the library gives them.
        sensor_values = nan + 0j
        for number, (calibration, block) in sensor_assignments(rec, sensor, sensor_channels).items():
            sensor_values[:, number - 1] = computed[id(calibration)].values[:, block]
        stages = Stages(freqs, rec.channel_names, sensor_values, nan + 0j, nan + 0j, sensor_aux, nan.copy(), delay)
        stages.units, stages.digitiser, stages.chain, stages.outside = None, None, None, None
        return stages
    box_part = box_response(box, rec, stream, freqs)
    with _units.Chain(rec, stream, box, sensor, sensor_channels, require_sensors, force_box,
                      gain_frequency) as chain:
        sensor_values, sensor_outside = chain.response(freqs, "sensor")
        box_values, box_outside = chain.response(freqs, "box")
        digitiser = np.array([ch.stages[-1].gain for ch in chain.channels])
        for ch in chain.channels:
            if not ch.stages[0].flags & _units.UNUSABLE and ch.stages[0].source.startswith(("table", "no sensor")):
                sensor_aux[:, ch.number - 1] = ch.stages[0].gain
        if delay_in_box:
            box_values = box_part.values
        stages = Stages(freqs, rec.channel_names, sensor_values, box_values, sensor_values * box_values, sensor_aux,
                        box_part.aux, delay)
        stages.units = chain.units
        stages.digitiser = digitiser
        stages.chain = [ch.stages for ch in chain.channels]
        stages.outside = sensor_outside | box_outside
    return stages


def delay_phase(freqs, delay):
    """The linear phase (radians) a delay gives a response at each frequency:
    -2 pi f x delay in seconds."""
    return -2.0 * np.pi * _as_frequencies(freqs) * delay.seconds


def sensor_assignments(rec, sensor, sensor_channels):
    """{channel number: (Calibration, block)} from the forms response_stages takes."""
    if sensor is None:
        return {}
    if isinstance(sensor, Calibration):
        mapping = default_sensor_channels(rec, sensor.channel_count) if sensor_channels is None else sensor_channels
        return {int(number): (sensor, int(block)) for number, block in mapping.items()}
    numbers = rec.channel_numbers
    assignments = {}
    for channel, value in dict(sensor).items():
        number = numbers[channel] if isinstance(channel, str) else int(channel)
        calibration, block = value if isinstance(value, tuple) else (value, 0)
        assignments[number] = (calibration, int(block))
    return assignments


def _stream_delay(rec, stream):
    """Delay of a stream from the table alone (the stream needs no data file)."""
    library = _native.lib()
    samples, rate = ctypes.c_double(), ctypes.c_double()
    check(library.GetAcqDelayHT(rec.handle, int(stream), ctypes.byref(samples)), "GetAcqDelayHT", "stream %d" % stream)
    check(library.GetSampleRateHzHT(rec.handle, int(stream), ctypes.byref(rate)), "GetSampleRateHzHT",
          "stream %d" % stream)
    return Delay(samples.value, samples.value / rate.value)


def to_fap(path, frequencies, response, *, input_units, output_units, description=None):
    """Writes a response as a frequency-amplitude-phase table in CSV: comment
    lines naming the units, a header row, then one row per frequency with the
    frequency in Hz, the amplitude (output units per input unit) and the phase in
    radians. ``path`` may be a file name or an open text file. Returns the
    (n, 3) array written."""
    if not input_units or not output_units:
        raise ValueError("name the input and the output units")
    frequencies = _as_frequencies(frequencies)
    response = np.asarray(response, dtype=np.complex128).reshape(-1)
    if response.shape != frequencies.shape:
        raise ValueError("one response value per frequency is needed")
    table = np.column_stack([frequencies, np.abs(response), np.angle(response)])
    own = not hasattr(path, "write")
    stream = open(path, "w", newline="") if own else path
    try:
        if description:
            stream.write("# %s\n" % description)
        stream.write("# input_units: %s\n# output_units: %s\n" % (input_units, output_units))
        stream.write("# amplitude: %s per %s; phase: radians\n" % (output_units, input_units))
        writer = csv.writer(stream, lineterminator="\n")
        writer.writerow(["frequency_hz", "amplitude", "phase_rad"])
        for row in table:
            writer.writerow([repr(float(v)) for v in row])
    finally:
        if own:
            stream.close()
    return table


def read_fap(path):
    """Reads a table written by to_fap: (array (n, 3), {"input_units": ...,
    "output_units": ...})."""
    units = {}
    rows = []
    with open(path, newline="") as stream:
        for line in stream:
            if line.startswith("#"):
                key, _, value = line[1:].partition(":")
                if key.strip() in ("input_units", "output_units"):
                    units[key.strip()] = value.strip()
                continue
            if line.startswith("frequency_hz"):
                continue
            rows.append([float(v) for v in line.strip().split(",")])
    return np.array(rows, dtype=np.float64).reshape(-1, 3), units
