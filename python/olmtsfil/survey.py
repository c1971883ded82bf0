"""A whole survey at a time: an inventory of every recording and calibration
below a folder (record tags only, never sample data), calibrations matched to
recordings by serial number, and batch jobs over every recording on Dask.

    survey = olmtsfil.Survey("/data/survey2026")
    survey.inventory        # pandas DataFrame, one row per recording and stream
    olmtsfil.Survey("/data/survey2026", verify=True)   # every record tag read

The inventory reads, by default, the tags at the ends of each file's evenly
spaced runs of records and halves runs that do not fit until every gap is
found (olmts_survey_stream): a damaged tag, or a time jump and the jump that
makes up for it, wholly inside a run whose ends fit is not seen. With
``verify`` every tag is read. The column ``checked`` says which ("every tag",
"ends") for each stream.
    survey.unmatched        # calibration files that serve no recording
    survey.map(func)        # {base: func(base) or the exception it raised}

Matching, never guessed:
- a box calibration (".CLB") serves the recordings whose record tags carry its
  header's serial number "SNUM";
- a sensor calibration (".CLC") serves a magnetic component when the table names
  its serial ("HSNX", "HSNY", "HSNZ") and the calibration's header "HSN" is that
  serial; where the table names none, a sensor mapping file may say which one.
Two calibrations that claim the same serial are ambiguous: neither is used, both
are listed.

Sensor mapping file: CSV with the header line ``recording,component,sensor``;
``recording`` is a site folder (every recording below it), a recording's base
path relative to the survey folder, or its file stem; ``component`` is Hx, Hy or
Hz; ``sensor`` is the serial of a sensor calibration of the survey (its "HSN")
or the path of one (relative to the mapping file, with or without ".CLC").
Lines starting with ``#`` are comments. The mapping only fills components the
table names no serial for.
"""
import collections
import csv
import ctypes
import datetime as _dt
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import uuid

from . import _native
from .components import SENSOR_SERIAL
from .errors import OlmtsError, error_for, status_text
from .paths import open_error
from .timestamps import stamp_to_datetime
from .values import READABLE_TYPES, read_typed

TIME_SERIES_EXTENSIONS = (".TS1", ".TS2", ".TS3", ".TS4", ".TS5", ".TSH", ".TSL")
STREAM_EXTENSIONS = TIME_SERIES_EXTENSIONS + (".TFC",)
MAGNETIC = tuple(SENSOR_SERIAL.items())
INVENTORY_COLUMNS = ["site", "base", "stream", "sample_rate", "start", "end", "records", "gaps", "files",
                     "recorded_s", "checked", "hardware", "board", "box", "box_serial", "sensor_Hx", "sensor_Hy",
                     "sensor_Hz", "calibration_notes", "problems"]


# ---- dated file sets ----------------------------------------------------------------

def _next_candidates(path):
    """Paths the reader tries, in order, for the file after ``path`` in its
    dated set: the library's own rule (olmts_next_set_file), asked for one at
    a time as they are taken."""
    library = _native.lib()
    raw = os.fsencode(path)
    # Candidates keep the folder and the length of the name.
    out = ctypes.create_string_buffer(len(raw) + 64)
    index = 0
    while True:
        status = library.olmts_next_set_file(raw, index, out, len(out))
        if status == 1220:  # no further candidate
            return
        if status != 0:
            raise error_for(status, "olmts_next_set_file", path)
        yield os.fsdecode(out.value)
        index += 1


def _find_file(directory, stem, extension, listing):
    """The file of that stem and extension in ``listing`` (names of the folder),
    as the reader names it: the stem lower-cased (it lower-cases stems of later
    files), or as given."""
    for candidate in (stem + extension, stem.lower() + extension, stem + extension.lower(),
                      stem.lower() + extension.lower()):
        if candidate in listing:
            return os.path.join(directory, candidate)
    return None


def set_files(first_path, listing=None):
    """The files of a stream's dated set as the reader follows them from its first
    file: (reached, unreadable), where unreadable are candidates that exist but
    do not open (the reader passes over them). ``listing``: the names in the
    first file's folder, when the caller has them."""
    directory = os.path.dirname(first_path)
    listing = set(os.listdir(directory or ".")) if listing is None else listing
    reached, unreadable = [first_path], []
    seen = {first_path}
    current = first_path
    while True:
        nxt = None
        for path in _next_candidates(current):
            if path == first_path:
                break  # the set came round to its first file: the reader ends it there
            if os.path.basename(path) not in listing:
                continue
            if os.access(path, os.R_OK) and os.path.isfile(path):
                nxt = path
                break
            unreadable.append(path)
        if nxt is None or nxt in seen:
            return reached, unreadable
        reached.append(nxt)
        seen.add(nxt)
        current = nxt


def _first_stamp(path):
    try:
        with open(path, "rb") as f:
            raw = f.read(8)
    except OSError:
        return None
    if len(raw) < 8:
        return None
    return stamp_to_datetime(_native.TimeStamp.from_buffer_copy(raw))


# ---- calibrations -------------------------------------------------------------------

Calibration = collections.namedtuple("Calibration", "path kind serial problem")


def _read_calibration(path):
    """Serial of a calibration file: the header's "SNUM" for a box, its "HSN"
    text for a sensor."""
    library = _native.lib()
    base, extension = os.path.splitext(path)
    kinds = (1,) if extension.upper() == ".CLB" else (2, 3)
    for kind in kinds:
        handle = library.CalOpenHT(kind, os.fsencode(base))
        if not handle:
            continue
        try:
            if kind == 1:
                value = ctypes.c_int32()
                status = library.ReadCalPrmHT(handle, b"SNUM", 0, ctypes.byref(value))
                serial = value.value if status == 0 else None
            else:
                text = ctypes.create_string_buffer(17)
                status = library.ReadCalPrmHT(handle, b"HSN", 2, text)
                serial = text.raw[:16].split(b"\0", 1)[0].decode("latin-1").strip() if status == 0 else None
            if status != 0:
                return Calibration(path, "box" if kind == 1 else "sensor", None,
                                   "header serial unreadable: status %d (%s)" % (status, status_text(status)))
            return Calibration(path, "box" if kind == 1 else "sensor", serial, "")
        finally:
            library.CalCloseHT(ctypes.byref(handle))
    return Calibration(path, "box" if kinds == (1,) else "sensor", None,
                       "cannot be opened as a %s calibration (unreadable, damaged or of another kind)"
                       % ("box" if kinds == (1,) else "sensor"))


# ---- the inventory of one recording ----------------------------------------------------

def _survey_stream(library, handle, k, verify):
    """Records, gaps, last record time, the status that ended the pass (1221 at
    a record cut short by the end of its file), whether every tag was read and
    the bytes of a record, of stream k from where it stands: one
    olmts_survey_stream call, every tag read when ``verify``."""
    found = _native.StreamSurvey()
    status = library.olmts_survey_stream(handle, k, 1 if verify else 0, ctypes.byref(found))
    last = stamp_to_datetime(found.last) if found.records else None
    return found.records, found.gaps, last, status, found.tags_read == found.records, found.record_size


def stream_first_file(base, k, listing):
    directory, stem = os.path.split(base)
    if k == 0:
        names = [".TFC"]
    elif k in (2, 3, 4):
        names = [".TS%d" % k, ".TSH"]
    elif k == 5:
        names = [".TS5", ".TSL"]
    else:
        names = [".TS1"]
    for extension in names:
        path = _find_file(directory, stem, extension, listing)
        if path is not None:
            return path
    return None


def _parameter(library, handle, name, base, problems):
    """A table parameter by name as Recording.params gives it (None when the
    table has none of that name or no readable value; one that is listed but
    cannot be read is also a problem of the table)."""
    encoded = name.encode("latin-1")
    type_out = ctypes.create_string_buffer(1)
    if library.ReadPrmInfoHT(handle, encoded, type_out, None, None, None) != 0:
        return None
    type_code = type_out.raw[0]
    if type_code not in READABLE_TYPES:
        return None
    try:
        return read_typed(lambda n, t, o: library.ReadPrmHT(handle, n, t, o), name, type_code, "ReadPrmHT")
    except OlmtsError as error:
        problems.append("%s.TBL: parameter %s cannot be read: %s" % (base, name, error))
        return None


def _tag_int(library, handle, k, name):
    value = ctypes.c_int32()
    status = library.ReadTagHT(handle, k, 1, name, 0, ctypes.byref(value))
    return value.value if status == 0 else None


def _first_time(library, handle, k):
    stamp = _native.TimeStamp()
    if library.ReadTagHT(handle, k, 1, b"UTC", 5, ctypes.byref(stamp)) != 0:
        return None
    return stamp_to_datetime(stamp)


def _tag_rate(library, handle, k):
    rate = ctypes.c_double()
    status = library.olmts_record_rate_hz(handle, k, 1, ctypes.byref(rate))
    return rate.value if status == 0 else 0.0


def _split_listing(listing):
    """The names of a folder in order, each with its stem and upper-case extension."""
    out = []
    for name in sorted(listing):
        stem, extension = os.path.splitext(name)
        out.append((name, stem, extension.upper()))
    return out


def _inventory_recording(base, listing, root, verify=False, split_listing=None):
    """Rows of one recording (one per time-series stream) and what matching needs."""
    library = _native.lib()
    site = os.path.relpath(os.path.dirname(base), root).split(os.sep)[0]
    if site == ".":
        site = ""
    info = {"base": base, "site": site, "hardware": "", "board": "", "box_serial": None, "coil_serials": {},
            "problems": [], "streams": [], "files": []}
    # The handle alone, not a Recording: the survey needs a few values of the
    # table and the first tag of each stream, not every parameter.
    encoded = os.fsencode(base)
    handle = library.TSOpenHT(encoded)
    if not handle:
        error = open_error(base, encoded, ".TBL", 1226, 1235, "TSOpenHT",
                           "table file unreadable, in no known layout, or without parameters")
        info["problems"].append("%s.TBL: cannot be opened: %s" % (base, error))
        return info
    try:
        library.SetConcatHT(handle, 1)
        info["hardware"] = str(_parameter(library, handle, "HW", base, info["problems"]) or "")
        info["board"] = str(_parameter(library, handle, "VER", base, info["problems"]) or "")
        for component, name in MAGNETIC:
            serial = _parameter(library, handle, name, base, info["problems"])
            if isinstance(serial, str) and serial.strip():
                info["coil_serials"][component] = serial.strip()
        for k in range(1, 6):
            scans_per_record = _tag_int(library, handle, k, b"SCNT")
            if scans_per_record is None or _tag_int(library, handle, k, b"NCHN") is None:
                continue  # no usable stream
            if split_listing is None:
                split_listing = _split_listing(listing)
            info["streams"].append(_inventory_stream(library, handle, base, k, listing, split_listing,
                                                     scans_per_record, verify, info))
    finally:
        library.TSCloseHT(ctypes.byref(handle))
    return info


def _inventory_stream(library, handle, base, k, listing, split_listing, scans_per_record, verify, info):
    first_file = stream_first_file(base, k, listing)
    reached, unreadable = set_files(first_file, listing) if first_file else ([], [])
    info["files"].extend(reached + unreadable)
    problems = []
    for path in unreadable:
        problems.append("%s: exists but cannot be read; the stream continues without it" % path)
    serial = _tag_int(library, handle, k, b"SNUM")
    if serial is not None and info["box_serial"] is None:
        info["box_serial"] = serial
    start = _first_time(library, handle, k)
    rate = _tag_rate(library, handle, k)
    records, gaps, last, status, every_tag, size = _survey_stream(library, handle, k, verify)
    if not first_file:
        size = 0
    end = None
    if last is not None and rate > 0:
        end = last + _dt.timedelta(seconds=scans_per_record / rate)
    not_reached = []
    cut_at_end = False
    if size and not first_file.upper().endswith((".TSH", ".TSL")):
        # The pass stops at the first record cut short; the lengths name every
        # file of the set that ends inside a record.
        for i, path in enumerate(reached):
            rest = os.path.getsize(path) % size
            if rest:
                problems.append("%s (stream %d): ends %d bytes into a record of %d: the record is cut short"
                                % (path, k, rest, size))
                if i == len(reached) - 1 and status == 1221:
                    cut_at_end = True
    # The pass stops at a record cut short; at the set's last file that is its
    # end, already reported above.
    if status != 1220 and not cut_at_end:
        # Which file the fault lies in: the last one whose first record is not
        # later than the last record read.
        at = 0
        for i, path in enumerate(reached):
            when = _first_stamp(path)
            if when is not None and last is not None and when <= last:
                at = i
        where = reached[at] if reached else base
        not_reached = reached[at + 1:]
        problems.append("%s (stream %d): reading stopped after record %d%s: status %d (%s)%s" % (
            where, k, records, " (%s)" % last.isoformat() if last else "", status, status_text(status),
            "; not reached: %s" % ", ".join(not_reached) if not_reached else ""))
    # Files of the stream's name pattern in the folder that the set never reaches.
    if first_file:
        directory = os.path.dirname(first_file)
        stem, extension = os.path.splitext(os.path.basename(first_file))
        prefix = stem[:-4].lower()
        upper_extension = extension.upper()
        for name, n_stem, n_ext in split_listing:
            if n_ext != upper_extension or len(n_stem) != len(stem) or not n_stem.lower().startswith(prefix):
                continue
            path = os.path.join(directory, name)
            if (path not in reached and path not in unreadable and not _has_table(directory, n_stem, listing)
                    and path not in not_reached and _belongs_after(stem, n_stem)):
                problems.append("%s: not reached: the dated set breaks before it" % path)
                info["files"].append(path)
    return {"stream": k, "sample_rate": rate, "start": start, "end": end, "records": records, "gaps": gaps,
            "files": len(reached), "scans_per_record": scans_per_record,
            "recorded_s": records * scans_per_record / rate if rate > 0 else 0.0,
            "checked": "every tag" if every_tag else "ends", "problems": problems}


def _has_table(directory, stem, listing):
    return _find_file(directory, stem, ".TBL", listing) is not None


def _belongs_after(first_stem, stem):
    # Dated stems sort by month, day and letter within one prefix.
    return stem.lower() > first_stem.lower()


# ---- the survey -----------------------------------------------------------------------

def _frame(pd, rows):
    """The inventory table of the rows (dicts of INVENTORY_COLUMNS), column by
    column: times as datetime64[ns] (NaT where unknown), stream and box serial
    as nullable integers."""
    import numpy as np
    columns = {name: [row[name] for row in rows] for name in INVENTORY_COLUMNS}
    for name in ("start", "end"):
        columns[name] = np.array(columns[name], dtype="datetime64[ns]")  # None: NaT
    for name in ("stream", "box_serial"):
        values = columns[name]
        columns[name] = pd.arrays.IntegerArray(np.array([0 if v is None else v for v in values], dtype=np.int64),
                                               np.array([v is None for v in values], dtype=bool))
    return pd.DataFrame(columns, columns=INVENTORY_COLUMNS, copy=False)


class Survey:
    """Every recording and calibration below ``path``; see the module's help."""

    def __init__(self, path, sensor_map=None, verify=False):
        import pandas as pd
        self.path = os.fspath(path)
        self.sensor_map = sensor_map
        self.verify = bool(verify)
        tables, calibrations, stream_files, listings, split_listings = [], [], [], {}, {}
        for directory, dirs, names in os.walk(self.path):
            dirs.sort()
            listings[directory] = set(names)
            split_listings[directory] = _split_listing(names)
            for name, stem, upper in split_listings[directory]:
                full = os.path.join(directory, name)
                if upper == ".TBL":
                    tables.append(os.path.join(directory, stem))
                elif upper in (".CLB", ".CLC"):
                    calibrations.append(full)
                elif upper in STREAM_EXTENSIONS:
                    stream_files.append(full)
        self._infos = [_inventory_recording(base, listings[os.path.dirname(base)], self.path, self.verify,
                                            split_listings[os.path.dirname(base)]) for base in tables]
        claimed = {path for info in self._infos for path in info["files"]}
        for info in self._infos:
            for extension in (".TFC",):
                path = _find_file(os.path.dirname(info["base"]), os.path.basename(info["base"]), extension,
                                  listings[os.path.dirname(info["base"])])
                if path:
                    claimed.add(path)
        self._infos.extend(self._orphans(stream_files, claimed, listings))
        self.calibrations = [_read_calibration(path) for path in calibrations]
        self._match()
        rows = []
        for info in self._infos:
            common = {"site": info["site"], "base": info["base"], "hardware": info["hardware"],
                      "board": info["board"], "box": info["box"], "box_serial": info["box_serial"],
                      "sensor_Hx": info["sensors"].get("Hx", ""), "sensor_Hy": info["sensors"].get("Hy", ""),
                      "sensor_Hz": info["sensors"].get("Hz", ""),
                      "calibration_notes": "; ".join(info["notes"])}
            if not info["streams"]:
                rows.append(dict(common, stream=None, sample_rate=float("nan"), start=None, end=None, records=0,
                                 gaps=0, files=0, recorded_s=0.0, checked="", problems="; ".join(info["problems"])))
            for s in info["streams"]:
                rows.append(dict(common, stream=s["stream"], sample_rate=s["sample_rate"], start=s["start"],
                                 end=s["end"], records=s["records"], gaps=s["gaps"], files=s["files"],
                                 recorded_s=s["recorded_s"], checked=s["checked"],
                                 problems="; ".join(info["problems"] + s["problems"])))
        self.inventory = _frame(pd, rows)

    # ---- what was found ---------------------------------------------------------------
    @property
    def recordings(self):
        """Base paths of every recording, in inventory order."""
        return [info["base"] for info in self._infos]

    @property
    def unmatched(self):
        """Calibration files that serve no recording (also the ambiguous and the
        unreadable ones)."""
        return [c.path for c in self.calibrations if c.path not in self._used]

    @property
    def ambiguous(self):
        """Serials claimed by more than one calibration: {(kind, serial): [paths]}."""
        return dict(self._ambiguous)

    @property
    def problems(self):
        """Every problem of the survey's files, as text lines."""
        out = []
        for info in self._infos:
            out.extend(info["problems"])
            for s in info["streams"]:
                out.extend(s["problems"])
        out.extend("%s: %s" % (c.path, c.problem) for c in self.calibrations if c.problem)
        return out

    def recording(self, base):
        """The inventory entry of one recording as a dict."""
        for info in self._infos:
            if info["base"] == base:
                return info
        raise KeyError(base)

    # ---- helpers -------------------------------------------------------------------------
    def _orphans(self, stream_files, claimed, listings):
        """Stream files no table leads to, grouped by the set they start."""
        out = []
        left = sorted(p for p in stream_files if p not in claimed)
        taken = set()
        for path in left:
            if path in taken:
                continue
            directory, name = os.path.split(path)
            stem = os.path.splitext(name)[0]
            base = os.path.join(directory, stem)
            files = []
            for other in left:
                if other in taken or os.path.dirname(other) != directory:
                    continue
                if other == path or other in set_files(path, listings[directory])[0]:
                    files.append(other)
                elif os.path.splitext(os.path.basename(other))[0] == stem:
                    files.append(other)
                    for member in set_files(other, listings[directory])[0]:
                        if member in left:
                            files.append(member)
            files = sorted(set(files))
            taken.update(files)
            site = os.path.relpath(directory, self.path).split(os.sep)[0]
            out.append({"base": base, "site": "" if site == "." else site, "hardware": "", "board": "",
                        "box_serial": None, "coil_serials": {}, "streams": [], "files": files,
                        "problems": ["%s.TBL: missing: %d stream file(s) cannot be read without it (%s)" % (
                            base, len(files), ", ".join(os.path.basename(f) for f in files))]})
        return out

    def _mapping(self):
        if not self.sensor_map:
            return []
        entries = []
        folder = os.path.dirname(os.path.abspath(self.sensor_map))
        with open(self.sensor_map, newline="") as f:
            lines = [line for line in f if line.strip() and not line.lstrip().startswith("#")]
        for row in csv.DictReader(lines):
            try:
                entries.append((row["recording"].strip(), row["component"].strip(), row["sensor"].strip(), folder))
            except (KeyError, AttributeError):
                raise ValueError("%s: lines need recording,component,sensor" % self.sensor_map) from None
        return entries

    def _match(self):
        by_serial = collections.defaultdict(list)
        for c in self.calibrations:
            if c.serial is not None:
                key = (c.kind, str(c.serial).upper())
                by_serial[key].append(c.path)
        self._ambiguous = {k: v for k, v in by_serial.items() if len(v) > 1}
        self._used = set()
        mapping = self._mapping()
        sensors_by_path = {os.path.splitext(os.path.abspath(c.path))[0]: c for c in self.calibrations
                           if c.kind == "sensor"}

        def lookup(kind, serial, notes, what):
            paths = by_serial.get((kind, str(serial).upper()), [])
            if len(paths) == 1:
                self._used.add(paths[0])
                return paths[0]
            if len(paths) > 1:
                notes.append("%s: ambiguous, serial %s claimed by %s" % (what, serial, ", ".join(paths)))
            else:
                notes.append("%s: no calibration with serial %s" % (what, serial))
            return ""

        for info in self._infos:
            notes = []
            info["box"] = ""
            if info["box_serial"] is not None:
                info["box"] = lookup("box", info["box_serial"], notes, "box")
            info["sensors"] = {}
            if not info["streams"] and not info["hardware"]:
                info["notes"] = notes
                continue
            relative = os.path.relpath(info["base"], self.path)
            stem = os.path.basename(info["base"])
            for component, _name in MAGNETIC:
                serial = info["coil_serials"].get(component)
                if serial:
                    info["sensors"][component] = lookup("sensor", serial, notes, component)
                    continue
                chosen = None
                for recording, comp, sensor, folder in mapping:
                    if comp.lower() == component.lower() and recording in (info["site"], relative, stem,
                                                                             info["base"]):
                        chosen = (sensor, folder)
                if chosen is None:
                    notes.append("%s: the table names no sensor serial, and no mapping entry" % component)
                    info["sensors"][component] = ""
                    continue
                sensor, folder = chosen
                path_key = os.path.splitext(os.path.abspath(os.path.join(folder, sensor)))[0]
                if path_key in sensors_by_path:
                    found = sensors_by_path[path_key].path
                    self._used.add(found)
                    info["sensors"][component] = found
                else:
                    info["sensors"][component] = lookup("sensor", sensor, notes, component + " (mapped)")
            info["notes"] = notes
        # An ambiguous calibration serves nothing.
        for paths in self._ambiguous.values():
            self._used.difference_update(paths)

    # ---- output ------------------------------------------------------------------------------
    def to_json(self):
        """The inventory as plain JSON-ready data."""
        def when(value):
            return value.isoformat() if isinstance(value, _dt.datetime) else None
        recordings = []
        for info in self._infos:
            recordings.append({
                "site": info["site"], "base": info["base"], "hardware": info["hardware"], "board": info["board"],
                "box": info["box"], "box_serial": info["box_serial"], "sensors": info["sensors"],
                "calibration_notes": info["notes"], "problems": info["problems"],
                "streams": [{"stream": s["stream"], "sample_rate": s["sample_rate"], "start": when(s["start"]),
                             "end": when(s["end"]), "records": s["records"], "gaps": s["gaps"],
                             "files": s["files"], "recorded_s": s["recorded_s"], "checked": s["checked"],
                             "problems": s["problems"]}
                            for s in info["streams"]]})
        return {"survey": self.path, "verify": self.verify, "recordings": recordings,
                "calibrations": [{"path": c.path, "kind": c.kind, "serial": c.serial, "problem": c.problem,
                                  "used": c.path in self._used} for c in self.calibrations],
                "unmatched": self.unmatched,
                "ambiguous": [{"kind": k[0], "serial": k[1], "paths": v} for k, v in sorted(self._ambiguous.items())],
                "problems": self.problems}

    def to_text(self):
        lines = ["survey %s: %d recordings, %d calibrations" % (self.path, len(self._infos), len(self.calibrations))]
        lines.append("record tags read: %s" % ("every one (--verify)" if self.verify else
                                               "the ends of evenly spaced runs; --verify reads every one"))
        lines.append("")
        lines.append("%-8s %-28s %6s %8s %-19s %-19s %7s %4s %5s %-8s" % (
            "site", "recording", "stream", "rate_hz", "start", "end", "records", "gaps", "files", "box"))
        for info in self._infos:
            name = os.path.relpath(info["base"], self.path)
            box = os.path.basename(info["box"]) if info["box"] else "-"
            if not info["streams"]:
                lines.append("%-8s %-28s %6s" % (info["site"], name, "-"))
            for s in info["streams"]:
                lines.append("%-8s %-28s %6d %8g %-19s %-19s %7d %4d %5d %-8s" % (
                    info["site"], name, s["stream"], s["sample_rate"],
                    s["start"].isoformat() if s["start"] else "-", s["end"].isoformat() if s["end"] else "-",
                    s["records"], s["gaps"], s["files"], box))
        lines.append("")
        for info in self._infos:
            sensors = ", ".join("%s=%s" % (c, os.path.basename(p) if p else "-")
                                for c, p in sorted(info["sensors"].items()))
            if sensors or info["notes"]:
                lines.append("%s: sensors %s%s" % (os.path.relpath(info["base"], self.path), sensors or "-",
                                                   "".join("\n  note: " + n for n in info["notes"])))
        lines.append("")
        lines.append("unmatched calibrations: %s" % (", ".join(self.unmatched) or "none"))
        for (kind, serial), paths in sorted(self._ambiguous.items()):
            lines.append("ambiguous %s serial %s: %s" % (kind, serial, ", ".join(paths)))
        problems = self.problems
        lines.append("problems: %s" % ("none" if not problems else len(problems)))
        lines.extend("  " + p for p in problems)
        return "\n".join(lines)

    # ---- batch jobs ----------------------------------------------------------------------------
    def map(self, func, scheduler=None, workers=None, progress=None, recordings=None):
        """Calls ``func(base)`` for every recording (or those given) on a
        dask.distributed client and returns {base: result, or the exception the
        call raised}. ``scheduler``: None for a local cluster of ``workers``
        single-threaded processes (default: the CPU count), a scheduler address
        ("tcp://host:8786"), or an existing distributed.Client. ``progress``:
        True for Dask's progress bar (default: when stderr is a terminal)."""
        from distributed import Client, LocalCluster, as_completed
        bases = list(self.recordings if recordings is None else recordings)
        cluster = None
        if isinstance(scheduler, Client):
            client, own = scheduler, False
        elif scheduler is None:
            cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                                   processes=True, dashboard_address=None)
            client, own = Client(cluster), True
        else:
            client, own = Client(scheduler), True
        try:
            # Keys of their own per call: a key the scheduler still holds from an
            # earlier job would hand back that job's result.
            run = uuid.uuid4().hex[:12]
            # The largest recordings first (submitted and prioritised so): a
            # large one started last would leave the other workers idle while
            # it runs.
            order = sorted(range(len(bases)), key=lambda i: -self._recorded_bytes(bases[i]))
            futures = {client.submit(_call, func, bases[i], key="survey-%s-%d-%s" % (run, i, _key(bases[i])),
                                     pure=False, priority=len(bases) - rank): bases[i]
                       for rank, i in enumerate(order)}
            if progress is None:
                progress = sys.stderr.isatty()
            if progress:
                from distributed import progress as show
                show(list(futures), notebook=False)
            results = {}
            for future in as_completed(futures):
                ok, value = future.result()
                results[futures[future]] = value
            return {base: results[base] for base in bases}
        finally:
            if own:
                client.close()
                if cluster is not None:
                    cluster.close()

    def _recorded_bytes(self, base):
        """Bytes of the recording's files the inventory found (0 for a base it did not list)."""
        for info in self._infos:
            if info["base"] == base:
                return sum(os.path.getsize(path) for path in info["files"] if os.path.isfile(path))
        return 0

    def export(self, out, format="mseed", scheduler=None, workers=None, progress=None, stream=None,
               allow_errors=False):
        """Exports every recording into ``out`` on Dask, skipping outputs that
        are complete; returns {base: [written or kept paths], or the exception}.
        Formats: "mseed", by the tool's ``olmts export`` (one folder per
        recording: a miniSEED file per channel and stream and station.xml, with
        responses when the survey matched a box calibration; see find_tool for
        where the tool is looked for), and "npz" (one file per recording and
        stream: int32 counts, the segments' start times, the channel names).
        Every output is listed with its size and SHA-256 in a manifest written
        last; a rerun keeps an output only when the manifest, the files and the
        sources (recording and calibrations) all agree. A recording the
        inventory found problems in fails with RecordingProblems unless
        ``allow_errors``, which exports what can be read and lists the problems
        in the manifest; so does one whose reading meets a fault the inventory
        did not see (without ``verify`` it reads only some tags): for npz it is
        named as a RecordingProblems problem, for mseed by the tool."""
        if format not in ("npz", "mseed"):
            raise ValueError("format is mseed or npz, not %r" % (format,))
        tool = find_tool() if format == "mseed" else None
        os.makedirs(out, exist_ok=True)
        job = ExportJob(self.path, os.path.abspath(out), format, stream, self._problems_by_base(), allow_errors,
                        self._calibrations_by_base(), tool)
        return self.map(job, scheduler=scheduler, workers=workers, progress=progress)

    def spectra(self, units="deconvolved", scheduler=None, workers=None, progress=None, response_stream=None,
                allow_errors=False):
        """The spectral coefficients of every recording, calibrated, on Dask:
        {base: Spectra (with ``units`` per channel and ``base``), or the
        exception}. Each recording's are read and converted by the tool's
        ``olmts spectra`` with the box and sensor calibrations the survey
        matched: "deconvolved" divides every coefficient by the chain's
        response at its frequency, "nominal" by the gains; "fraction" and
        "counts" need no calibration. A recording without a matched box
        calibration fails for the field's units; one without spectral records
        fails with its message. The tool's listing carries no record flags:
        ``record_flag`` is None."""
        if units not in ("fraction", "counts", "nominal", "deconvolved"):
            raise ValueError("units is fraction, counts, nominal or deconvolved, not %r" % (units,))
        job = SpectraJob(units, self._problems_by_base(), allow_errors, self._calibrations_by_base(), find_tool(),
                         response_stream)
        return self.map(job, scheduler=scheduler, workers=workers, progress=progress)

    def _problems_by_base(self):
        problems = {}
        for info in self._infos:
            found = info["problems"] + [p for s in info["streams"] for p in s["problems"]]
            if found:
                problems[info["base"]] = found
        return problems

    def _calibrations_by_base(self):
        """{base: (box calibration path or "", [sensor calibration paths])}: the
        sensors in the order Hx, Hy, Hz as far as every one is matched (the
        tool assigns sensor files to magnetic components in that order, so a
        missing one ends the list rather than shifting the next)."""
        out = {}
        for info in self._infos:
            sensors = []
            for component, _name in MAGNETIC:
                path = info.get("sensors", {}).get(component, "")
                if not path:
                    break
                sensors.append(path)
            out[info["base"]] = (info.get("box", ""), sensors)
        return out


def _key(base):
    return hashlib.sha1(base.encode("utf-8", "surrogateescape")).hexdigest()[:12]


def _call(func, base):
    # The exception travels back as a value: one failing recording does not
    # stop the others, and the caller gets what it raised.
    try:
        return True, func(base)
    except Exception as error:  # noqa: BLE001 -- reported to the caller, per recording
        return False, _portable(error)


def _portable(error):
    # An exception must survive the trip back from a worker process; one that
    # does not unpickle as it was (custom constructors) travels as its text.
    import pickle
    try:
        copy = pickle.loads(pickle.dumps(error))
        if type(copy) is type(error) and str(copy) == str(error):
            return error
    except Exception:  # noqa: BLE001 -- any failure means: send the text
        pass
    return RecordingFailed("%s: %s" % (type(error).__name__, error))


class RecordingFailed(Exception):
    """An error of a batch job that could not travel back as itself: its type
    name and message."""


# ---- export jobs ---------------------------------------------------------------------------

def _source_state(base, calibrations=()):
    """Sizes and modification times of the files of a recording (and of the
    calibrations its output was made with): a completed output records them,
    and a changed source makes it incomplete again."""
    directory, stem = os.path.split(base)
    state = {}
    prefix = stem[:-4].lower() if len(stem) > 4 else stem.lower()
    for name in sorted(os.listdir(directory or ".")):
        if name.lower().startswith(prefix):
            st = os.stat(os.path.join(directory, name))
            state[name] = [st.st_size, int(st.st_mtime_ns)]
    for path in calibrations:
        if path:
            st = os.stat(path)
            state[os.path.abspath(path)] = [st.st_size, int(st.st_mtime_ns)]
    return state


# ---- the tool ------------------------------------------------------------------------------

TOOL_ENV = "OLMTSFIL_TOOL"


class ToolNotFoundError(FileNotFoundError):
    """The olmts tool, which makes the miniSEED export and the calibrated
    spectra, is not where it was looked for."""


def find_tool():
    """Path of the olmts tool: the environment variable OLMTSFIL_TOOL (the tool
    sets it for the survey it starts); else an olmts beside the loaded library,
    in ../bin or (a build tree) ../tools from it; else olmts on PATH."""
    explicit = os.environ.get(TOOL_ENV)
    if explicit:
        if os.path.isfile(explicit) and os.access(explicit, os.X_OK):
            return explicit
        raise ToolNotFoundError("%s=%s: no executable olmts tool there" % (TOOL_ENV, explicit))
    looked = []
    name = "olmts.exe" if sys.platform == "win32" else "olmts"
    try:
        library = os.path.dirname(os.path.abspath(_native.lib().path))
        for folder in (library, os.path.join(library, "..", "bin"), os.path.join(library, "..", "tools")):
            candidate = os.path.normpath(os.path.join(folder, name))
            looked.append(candidate)
            if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
                return candidate
    except OSError as error:
        looked.append("beside the library (%s)" % error)
    found = shutil.which(name)
    looked.append("PATH")
    if found:
        return found
    raise ToolNotFoundError("the olmts tool is needed for this job and was not found; set %s to its path. "
                            "Looked in: %s" % (TOOL_ENV, ", ".join(looked)))


class ToolFailed(Exception):
    """The olmts tool ended with an error for one recording: its exit status
    and what it wrote on stderr."""

    def __init__(self, base, command, status, stderr):
        super().__init__("%s: olmts %s exited with status %d: %s" % (base, command, status,
                                                                     stderr.strip() or "(nothing on stderr)"))
        self.base, self.command, self.status, self.stderr = base, command, status, stderr

    def __reduce__(self):
        return (ToolFailed, (self.base, self.command, self.status, self.stderr))


def _run_tool(tool, base, command, arguments):
    env = dict(os.environ)
    env.setdefault("OLMTSFIL_LIBRARY", _native.lib().path)
    done = subprocess.run([tool, command] + arguments, capture_output=True, text=True, env=env,
                          stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        raise ToolFailed(base, command, done.returncode, done.stderr)
    return done


def _calibration_arguments(box, sensors):
    arguments = []
    if box:
        arguments += ["--box", os.path.splitext(box)[0]]
    for path in sensors:
        arguments += ["--sensor", os.path.splitext(path)[0]]
    return arguments


def _digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def output_complete(path, source_state=None):
    """Whether ``path`` is a complete export: its manifest (path + ".done.json")
    names its size and SHA-256, both match what is on disk, and (when given) the
    source files are as they were when it was written."""
    manifest = path + ".done.json"
    try:
        with open(manifest) as f:
            done = json.load(f)
        if os.path.getsize(path) != done["size"] or _digest(path) != done["sha256"]:
            return False
    except (OSError, ValueError, KeyError, TypeError):
        return False
    return source_state is None or done.get("source") == source_state


def _finish_output(tmp, path, source_state, scans, problems=()):
    os.replace(tmp, path)
    manifest = {"size": os.path.getsize(path), "sha256": _digest(path), "source": source_state, "scans": scans,
                "problems": list(problems)}
    with open(path + ".done.json.tmp", "w") as f:
        json.dump(manifest, f)
    os.replace(path + ".done.json.tmp", path + ".done.json")


class RecordingProblems(Exception):
    """A recording whose files have problems was not exported (see .problems)."""

    def __init__(self, base, problems):
        super().__init__("%s: not exported, its files have problems: %s" % (base, "; ".join(problems)))
        self.base, self.problems = base, list(problems)

    def __reduce__(self):  # travels back from Dask workers
        return (RecordingProblems, (self.base, self.problems))


MANIFEST = "export.done.json"


def folder_complete(folder, source_state=None):
    """Whether ``folder`` holds a complete export: its manifest (written last)
    lists every file with its size and SHA-256, all match what is on disk, and
    (when given) the sources are as they were when it was written."""
    try:
        with open(os.path.join(folder, MANIFEST)) as f:
            done = json.load(f)
        for name, (size, digest) in done["files"].items():
            path = os.path.join(folder, name)
            if os.path.getsize(path) != size or _digest(path) != digest:
                return False
    except (OSError, ValueError, KeyError, TypeError):
        return False
    return source_state is None or done.get("source") == source_state


class ExportJob:
    """The per-recording export job of Survey.export (picklable for Dask)."""

    def __init__(self, root, out, format, stream=None, problems=None, allow_errors=False, calibrations=None,
                 tool=None):
        if format not in ("npz", "mseed"):
            raise ValueError("format is npz or mseed, not %r" % (format,))
        self.root, self.out, self.format, self.stream = root, out, format, stream
        self.problems, self.allow_errors = problems or {}, allow_errors
        self.calibrations, self.tool = calibrations or {}, tool

    def __call__(self, base):
        problems = self.problems.get(base, [])
        if problems and not self.allow_errors:
            raise RecordingProblems(base, problems)
        rel = os.path.relpath(base, self.root).replace(os.sep, "__")
        if self.format == "mseed":
            return self._mseed(base, rel, problems)
        return self._npz(base, rel, problems)

    def _mseed(self, base, rel, problems):
        """One folder per recording, written by ``olmts export`` into a folder
        beside it and moved into place once its manifest is written."""
        box, sensors = self.calibrations.get(base, ("", []))
        state = _source_state(base, [box] + list(sensors))
        folder = os.path.join(self.out, rel)
        if folder_complete(folder, state):
            with open(os.path.join(folder, MANIFEST)) as f:
                return [os.path.join(folder, name) for name in json.load(f)["files"]]
        part = folder + ".part"
        shutil.rmtree(part, ignore_errors=True)
        arguments = [base, "--format", "mseed", "--out", part, "--concat"] + _calibration_arguments(box, sensors)
        if self.stream is not None:
            arguments += ["--stream", str(int(self.stream))]
        if self.allow_errors:
            arguments.append("--allow-errors")
        done = _run_tool(self.tool, base, "export", arguments)
        # The export's own listing of what it completed, checked against the folder.
        listed = [line[len("wrote  "):].split("  ", 1)[0] for line in done.stdout.splitlines()
                  if line.startswith("wrote  ")]
        files = {}
        for path in listed:
            name = os.path.relpath(path, part)
            if name.startswith(os.pardir) or not os.path.isfile(os.path.join(part, name)):
                raise ToolFailed(base, "export", 0, "listed %s, which is not in %s" % (path, part))
            files[name] = [os.path.getsize(os.path.join(part, name)), _digest(os.path.join(part, name))]
        if not files:
            raise ToolFailed(base, "export", 0, "wrote nothing: %s" % done.stdout.strip())
        manifest = {"files": files, "source": state, "box": box, "sensors": list(sensors),
                    "problems": list(problems) + [line for line in done.stderr.splitlines() if line.strip()]}
        with open(os.path.join(part, MANIFEST), "w") as f:
            json.dump(manifest, f)
        shutil.rmtree(folder, ignore_errors=True)
        os.replace(part, folder)
        return [os.path.join(folder, name) for name in files]

    def _npz(self, base, rel, problems):
        import numpy as np
        from .recording import Recording
        state = _source_state(base)
        written = []
        with Recording(base, concatenate=True) as rec:
            streams = [k for k in sorted(rec.streams) if k and (self.stream is None or k == self.stream)]
            for k in streams:
                path = os.path.join(self.out, "%s.stream%d.%s" % (rel, k, self.format))
                if output_complete(path, state):
                    written.append(path)
                    continue
                tmp = path + ".part"
                rec.streams[k].rewind()
                segments, blocks, total = [], [], 0
                read_problems = []
                while True:
                    try:
                        scans = rec.read(None, stream=k, stop_at_gap=True)
                    except OlmtsError as error:
                        # A fault the inventory did not see (it reads every tag
                        # only when verifying) is named as one it saw would be.
                        problem = "%s (stream %d): reading stopped after %d scans: %s" % (base, k, total, error)
                        if not self.allow_errors:
                            raise RecordingProblems(base, list(problems) + [problem]) from error
                        read_problems.append(problem)
                        break  # named in the manifest's problems
                    if len(scans.data) == 0:
                        break
                    segments.append((np.datetime64(scans.start, "ns"), total, len(scans.data)))
                    # Fractions of full scale are counts / 2^23 exactly.
                    blocks.append(np.rint(scans.data * 8388608.0).astype(np.int32))
                    total += len(scans.data)
                data = np.concatenate(blocks) if blocks else np.empty((0, rec.streams[k].channel_count), np.int32)
                with open(tmp, "wb") as f:
                    np.savez(f, counts=data, segment_start=np.array([s[0] for s in segments], "datetime64[ns]"),
                             segment_row=np.array([s[1] for s in segments], np.int64),
                             segment_rows=np.array([s[2] for s in segments], np.int64),
                             sample_rate=np.float64(rec.streams[k].tag_rate),
                             channels=np.array(rec.channel_names[:data.shape[1]]))
                _finish_output(tmp, path, state, total, list(problems) + read_problems)
                written.append(path)
        return written


class SpectraJob:
    """The per-recording job of Survey.spectra (picklable for Dask)."""

    def __init__(self, units, problems, allow_errors, calibrations, tool, response_stream=None):
        self.units, self.problems, self.allow_errors = units, problems or {}, allow_errors
        self.calibrations, self.tool, self.response_stream = calibrations or {}, tool, response_stream

    def __call__(self, base):
        import numpy as np
        from .stream import Spectra
        problems = self.problems.get(base, [])
        if problems and not self.allow_errors:
            raise RecordingProblems(base, problems)
        box, sensors = self.calibrations.get(base, ("", []))
        arguments = [base, "--json", "--units", self.units]
        if self.units in ("nominal", "deconvolved"):
            if not box:
                raise ValueError("%s: no box calibration matched this recording: %s units cannot be formed"
                                 % (base, self.units))
            arguments += _calibration_arguments(box, sensors)
        if self.response_stream is not None:
            arguments += ["--response-stream", str(int(self.response_stream))]
        if self.allow_errors:
            arguments.append("--allow-errors")
        report = json.loads(_run_tool(self.tool, base, "spectra", arguments).stdout)
        rows = report["coefficients"]
        names = report["channels"]
        pairs = np.array([[row[name] for name in names] for row in rows], dtype=np.float64).reshape(
            len(rows), len(names), 2)
        column = lambda key, dtype: np.array([row[key] for row in rows], dtype=dtype)  # noqa: E731
        times = np.array([row["record_time"] or "NaT" for row in rows], dtype="datetime64[s]")
        out = Spectra(pairs[:, :, 0] + 1j * pairs[:, :, 1], column("window", np.int64), column("level", np.int64),
                      column("index", np.int64), column("frequency_hz", np.float64),
                      None, times)
        out.base, out.channels, out.units = base, names, report["units"]
        out.complete, out.problems = report.get("complete", True), list(problems) + list(report.get("problems", []))
        return out


# ---- command line ------------------------------------------------------------------------------

def main(argv=None):
    import argparse
    parser = argparse.ArgumentParser(prog="olmts survey", description="Inventory of every recording and "
                                     "calibration below DIR, calibrations matched by serial number.")
    parser.add_argument("dir")
    parser.add_argument("--json", action="store_true", help="machine-readable output")
    parser.add_argument("--sensor-map", help="CSV recording,component,sensor for coils the tables do not name")
    parser.add_argument("--verify", action="store_true",
                        help="read every record tag (default: the tags at the ends of each file's evenly spaced runs, "
                             "which misses a damaged tag inside such a run)")
    parser.add_argument("--export", metavar="OUT", help="export every recording into OUT on Dask")
    parser.add_argument("--format", default="mseed", choices=("mseed", "npz"),
                        help="mseed: by olmts export, one folder per recording; npz: numpy counts per stream")
    parser.add_argument("--workers", type=int, default=None, help="local worker processes (default: CPU count)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler instead of a local cluster")
    parser.add_argument("--allow-errors", action="store_true", help="exit 0 even when files have problems")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.dir):
        print("olmts: %s: not a folder" % args.dir, file=sys.stderr)
        return 1
    survey = Survey(args.dir, sensor_map=args.sensor_map, verify=args.verify)
    failed = {}
    if args.export:
        results = survey.export(args.export, format=args.format, scheduler=args.scheduler, workers=args.workers,
                                allow_errors=args.allow_errors)
        failed = {b: r for b, r in results.items() if isinstance(r, BaseException)}
        for base, error in failed.items():
            print("olmts: %s: export failed: %s: %s" % (base, type(error).__name__, error), file=sys.stderr)
    if args.json:
        report = survey.to_json()
        if args.export:
            report["export"] = {"out": args.export, "failed": {b: str(e) for b, e in failed.items()}}
        json.dump(report, sys.stdout, indent=2)
        sys.stdout.write("\n")
    else:
        print(survey.to_text())
    if failed:
        return 2
    return 0 if args.allow_errors or not survey.problems else 2


if __name__ == "__main__":
    sys.exit(main())
