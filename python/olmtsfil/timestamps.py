"""Conversion between the library's 8-byte TimeStamp and datetime.

Stamps carry no time zone. They come back as naive datetimes; an aware datetime
given to seek() is converted to UTC first, since record stamps are UTC.
"""
import datetime as _dt

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
