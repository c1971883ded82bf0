"""A stream as xarray Datasets, one per contiguous run of records, laid out as
mth5's RunTS holds a run: a ``time`` dimension of datetime64[ns], one variable
per component named in lower case (ex, ey, hx, hy, hz), and the metadata a
processing code looks for in the attributes.

A gap ends a run: the data are never joined across one, and a list of Datasets
(one per segment, in time order) keeps every run on its own true time axis, as
each RunTS does. ``xarray.concat(datasets, "time")`` joins them where a caller
wants one axis with holes.

Times: counts and fractions stand at the record stamps (the time the recorder
gave the scan); the field in physical units stands at the stamp minus the
acquisition delay, the one place the delay is applied (docs/units.md). The
attributes ``delay_s`` and ``delay_applied`` say which.
"""
import os

import numpy as np

from .components import AZIMUTH, DIPOLE_LENGTH, ELECTRIC, SENSOR_SERIAL
from . import units as _units

UNITS = ("counts", "fraction", "nominal", "deconvolved")



def _number(params, name):
    value = params.get(name)
    if isinstance(value, (int, float)) and np.isfinite(value):
        return float(value)
    return None


def _text(params, name):
    value = params.get(name)
    return value.strip() if isinstance(value, str) and value.strip() else None


def _iso(t):
    return str(np.datetime_as_string(np.datetime64(t, "ns"), unit="ns")) + "+00:00"


def _channel_attrs(rec, name, number, rate, units, chain_channel):
    """Attributes of one variable in mt_metadata's names where it has them."""
    params = rec.params
    attrs = {"component": name.lower(), "channel_number": int(number), "sample_rate": float(rate), "units": units}
    if name in ELECTRIC:
        attrs["type"] = "electric"
        length = _number(params, DIPOLE_LENGTH[name])
        if length is not None:
            attrs["dipole_length"] = length
    elif name.startswith("H"):
        attrs["type"] = "magnetic"
        serial = None
        if chain_channel is not None and chain_channel.stages and chain_channel.stages[0].name == "sensor":
            serial = chain_channel.stages[0].serial or None
        serial = serial or _text(params, SENSOR_SERIAL[name])
        if serial:
            attrs["sensor_serial"] = serial
    else:
        attrs["type"] = "auxiliary"
    if name[:1] in "EH" and len(name) == 2:
        axis = name[1].lower()
        azimuth = _number(params, AZIMUTH[name]) if name in AZIMUTH else None
        attrs["measurement_azimuth"] = (azimuth % 360.0) if azimuth is not None else (90.0 if axis == "y" else 0.0)
        attrs["measurement_tilt"] = 90.0 if axis == "z" else 0.0
    return attrs


def _dataset_attrs(rec, stream, rate, units, delay, applied, index, start, end):
    params = rec.params
    attrs = {
        "station": _text(params, "SITE") or os.path.basename(rec.base),
        "run": "%03d" % (index + 1),
        "segment": int(index),
        "stream": int(stream),
        "sample_rate": float(rate),
        "start": _iso(start),
        "end": _iso(end),
        "units_mode": units,
        "delay_s": float(delay.seconds),
        "delay_samples": float(delay.samples),
        # netCDF has no boolean attribute.
        "delay_applied": int(applied),
        "source": "olmtsfil %s" % rec.base,
    }
    for name, key in (("LAT", "latitude"), ("LON", "longitude"), ("ELEV", "elevation")):
        value = _number(params, name)
        if value is not None:
            attrs[key] = value
    return attrs


def _segment_times(start, rows, rate, shift_ns):
    offsets = np.rint(np.arange(rows) * (1e9 / rate)).astype("timedelta64[ns]")
    return np.datetime64(start, "ns") + offsets - np.timedelta64(shift_ns, "ns")


def _build(rec, stream, columns, times, rate, units, channel_units, delay, applied, chain, index):
    import xarray as xr
    names = rec.channel_names
    by_number = {ch.number: ch for ch in chain.channels} if chain is not None else {}
    variables = {}
    for j, name in enumerate(names):
        attrs = _channel_attrs(rec, name, j + 1, rate, channel_units[j], by_number.get(j + 1))
        variables[name.lower()] = xr.Variable(("time",), columns[j], attrs)
    attrs = _dataset_attrs(rec, stream, rate, units, delay, applied, index, times[0], times[-1])
    return xr.Dataset(variables, coords={"time": ("time", times)}, attrs=attrs)


def _chain(rec, stream, units, box, sensor, options):
    if units in ("counts", "fraction"):
        return None
    chain_options = {k: options.pop(k) for k in ("sensor_channels", "require_sensors", "force_box", "gain_frequency")
                     if k in options}
    return _units.Chain(rec, stream, box, sensor, **chain_options)


def _units_delay(chain):
    from .stream import Delay
    return Delay(chain.delay_samples, chain.delay_seconds)


def to_xarray(rec, stream=None, units="counts", box=None, sensor=None, chunks=None, **options):
    """The stream (default: the recording's first time-series stream) from its
    first record as a list of xarray.Dataset, one per contiguous segment (see
    Recording.to_xarray)."""
    if units not in UNITS:
        raise ValueError("units is one of %s, not %r" % (", ".join(UNITS), units))
    s = rec.stream(stream)
    s.require_time_series()
    converter_options = {k: options.pop(k) for k in ("fmin", "fmax", "block") if k in options}
    chain_keywords = {k: options[k] for k in ("sensor_channels", "require_sensors", "force_box", "gain_frequency")
                      if k in options}
    chain = _chain(rec, s.number, units, box, sensor, options)
    if options:
        raise TypeError("to_xarray got unexpected keywords: %s" % ", ".join(sorted(options)))
    applied = chain is not None
    delay = _units_delay(chain) if applied else s.delay
    shift_ns = int(np.rint(chain.delay_seconds * 1e9)) if applied else 0
    channel_units = chain.units if applied else [units] * s.channel_count
    if chunks is not None:
        return _lazy(rec, s, units, chain, chunks, channel_units, delay, shift_ns, box, sensor, chain_keywords,
                     converter_options)

    s.rewind()
    scans = s.read(None, stop_at_gap=False)
    # read() hands out what it read before a fault and raises the fault on the next call.
    s.read(1)
    s.rewind()
    data = scans.data
    out = []
    for index, seg in enumerate(scans.segments):
        block = data[seg.first_row:seg.first_row + seg.rows]
        if units == "counts":
            block = np.rint(block * _units.COUNTS_PER_FULL_SCALE).astype(np.int32)
        elif chain is not None:
            with chain.converter(units, **converter_options) as converter:
                block = converter.convert(np.ascontiguousarray(block), in_place=True)
        times = _segment_times(seg.start, seg.rows, scans.sample_rate, shift_ns)
        columns = [block[:, j] for j in range(block.shape[1])]
        out.append(_build(rec, s.number, columns, times, scans.sample_rate, units, channel_units, delay, applied,
                          chain, index))
    return out


def _lazy(rec, s, units, chain, chunks, channel_units, delay, shift_ns, box, sensor, chain_keywords,
          converter_options):
    from .lazy import DEFAULT_CHUNK_BYTES, to_dask
    chunk_bytes = DEFAULT_CHUNK_BYTES if chunks is True or chunks == "auto" else int(chunks)
    if units in ("nominal", "deconvolved"):
        # Converted chunk by chunk by the library's converter on the workers.
        lazy = to_dask(rec, s.number, units, chunk_bytes, box=box, sensor=sensor, **chain_keywords,
                       **(converter_options if units == "deconvolved" else {}))
    else:
        lazy = to_dask(rec, s.number, units, chunk_bytes)
    data = lazy.data
    # Segments from the library's gap test: each gap starts a run at its record.
    rows_per_record = s.scans_per_record
    starts = [(0, s.first_time)] + [(gap.record * rows_per_record, gap.next_start) for gap in s.gaps()]
    total = data.shape[0]
    out = []
    for index, (first, start) in enumerate(starts):
        end = starts[index + 1][0] if index + 1 < len(starts) else total
        if end <= first:
            continue
        times = _segment_times(start, end - first, lazy.sample_rate, shift_ns)
        columns = [data[first:end, j] for j in range(s.channel_count)]
        out.append(_build(rec, s.number, columns, times, lazy.sample_rate, units, channel_units, delay,
                          chain is not None, chain, len(out)))
    return out
