"""Paths of recordings and calibrations as the library takes them, and the
errors of a failed open."""
import os

from .errors import OpenError


def open_error(path, encoded, extension, too_long_code, missing_code, function, other):
    """The exception for a failed open. The library gives no status then; the
    reasons that can be told from outside get their code."""
    if len(encoded) > 256:
        return OpenError(too_long_code, function, path)
    if not os.path.exists(path + extension):
        error = OpenError(missing_code, function, path + extension)
        error.errno, error.filename = 2, path + extension
        return error
    return OpenError(None, function, "%s%s: %s" % (path, extension, other))
