"""Conversion between the library's 8-byte TimeStamp and datetime.

Stamps carry no time zone. They come back as naive datetimes; an aware datetime
given to seek() is converted to UTC first, since record stamps are UTC.
"""
import datetime as _dt

import numpy as np

from ._native import TimeStamp


def stamp_to_datetime(stamp):
    """datetime of a TimeStamp, or None when its fields form no valid date."""
    try:
        return _dt.datetime(stamp.century * 100 + stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute,
                            stamp.second)
    except ValueError:
        return None


def datetime_to_stamp(when):
    """TimeStamp of a datetime (fractions of a second are dropped, as stamps hold
    whole seconds)."""
    if isinstance(when, _dt.date) and not isinstance(when, _dt.datetime):
        when = _dt.datetime(when.year, when.month, when.day)
    if not isinstance(when, _dt.datetime):
        raise TypeError("expected a datetime, got %r" % (type(when).__name__,))
    if when.tzinfo is not None:
        when = when.astimezone(_dt.timezone.utc).replace(tzinfo=None)
    if not 1900 <= when.year <= 2099:
        raise ValueError("time stamps hold the years 1900 ... 2099, not %d" % when.year)
    return TimeStamp(when.second, when.minute, when.hour, when.day, when.month, when.year % 100, 0,
                     when.year // 100)


def stamp_from_bytes(raw):
    return TimeStamp.from_buffer_copy(bytes(raw[:8]))


def stamp_fields(stamp):
    """The eight fields of a stamp as a tuple, for stamps that are no valid date."""
    return tuple(getattr(stamp, name) for name, _ in TimeStamp._fields_)


def stamp_to_datetime64(stamp):
    """numpy.datetime64 (seconds) of a TimeStamp; NaT when it is no valid date."""
    when = stamp_to_datetime(stamp)
    return np.datetime64("NaT", "s") if when is None else np.datetime64(when, "s")


def to_utc_datetime(when):
    """A naive UTC datetime of a time given as a datetime or date (naive: taken as
    UTC; aware: converted), a numpy.datetime64 (UTC), or an ISO 8601 string (a
    trailing Z or an offset converted to UTC, none: UTC). Fractions of a second
    are kept to the microsecond."""
    if isinstance(when, np.datetime64):
        if np.isnat(when):
            raise ValueError("not a time: NaT")
        micros = int(when.astype("datetime64[us]").astype(np.int64))
        return _dt.datetime(1970, 1, 1) + _dt.timedelta(microseconds=micros)
    if isinstance(when, str):
        text = when.strip()
        if text[-1:] in ("Z", "z"):
            text = text[:-1] + "+00:00"
        try:
            when = _dt.datetime.fromisoformat(text)
        except ValueError:
            try:  # forms older Pythons' fromisoformat does not read, e.g. 2026-03-14T23:59:56.5
                return to_utc_datetime(np.datetime64(text))
            except ValueError:
                raise ValueError("not an ISO 8601 time: %r" % (when,)) from None
    if isinstance(when, _dt.date) and not isinstance(when, _dt.datetime):
        when = _dt.datetime(when.year, when.month, when.day)
    if not isinstance(when, _dt.datetime):
        raise TypeError("expected a datetime, numpy.datetime64 or ISO 8601 string, got %r" % (type(when).__name__,))
    if when.tzinfo is not None:
        when = when.astimezone(_dt.timezone.utc).replace(tzinfo=None)
    return when


def seek_stamp(when):
    """The TimeStamp to seek to for the first record starting at or after
    ``when`` (any form to_utc_datetime takes): stamps hold whole seconds, so a
    fraction of a second moves on to the next whole second."""
    when = to_utc_datetime(when)
    if when.microsecond:
        when = when.replace(microsecond=0) + _dt.timedelta(seconds=1)
    return datetime_to_stamp(when)
