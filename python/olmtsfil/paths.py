"""Paths of recordings and calibrations as the library takes them, and the
errors of a failed open."""
import os

from .errors import OpenError


def base_path(path, extension):
    """The base path the library takes (it appends ``extension`` itself) for a
    path given either as that base or as the file's own path, with ``extension``
    in any case: "site1_314a", "site1_314a.TBL" and "site1_314a.tbl" give
    "site1_314a". A base whose own name ends so (a file "x.TBL.TBL" exists for
    "x.TBL") is kept as it is."""
    path = os.fsdecode(os.fspath(path))
    root, suffix = os.path.splitext(path)
    if root and suffix.upper() == extension.upper() and not os.path.exists(path + extension):
        return root
    return path


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
