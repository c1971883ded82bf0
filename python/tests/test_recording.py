import ctypes
import datetime as dt
import gc
import os
import re
import sys

import numpy as np
import pytest

import olmtsfil
from olmtsfil import _native
from olmtsfil.decoding import decode_samples

from conftest import ROOT


def when(text):
    return dt.datetime.fromisoformat(text)


def scanwise(library, handle, stream, channels):
    """Every remaining scan of a stream through ReadScanDblHT, as the C caller reads it."""
    values = (ctypes.c_double * 12)()
    flag = ctypes.c_int32()
    rows = []
    while True:
        status = library.ReadScanDblHT(handle, stream, ctypes.byref(flag), values)
        if status != 0:
            assert status == 1220
            return np.array(rows).reshape(-1, channels)
        rows.append(values[:channels])


def test_parameters_are_a_typed_read_only_mapping(rec, raw_rec):
    library, handle = raw_rec
    value = ctypes.c_int32()
    assert library.ReadPrmHT(handle, b"CHHX", 0, ctypes.byref(value)) == 0
    assert rec.params["CHHX"] == rec.params["chhx"] == value.value
    assert isinstance(rec.params["VER"], str) and isinstance(rec.params["FSCV"], float)
    assert len(rec.params) == library.GCodePrmHT(handle, -1, ctypes.create_string_buffer(9)) - 11000
    with pytest.raises(TypeError):
        rec.params["CHHX"] = 7
    with pytest.raises(KeyError) as error:
        rec.params["CHH"]  # a prefix of a stored name is no match
    assert error.value.code == 201
    python_types = {0: int, 1: float, 2: str, 3: type(None), 4: str, 5: dt.datetime}
    for name in rec.params:
        assert isinstance(rec.params[name], python_types[rec.params.type_code(name)]), name
    assert rec.channel_count == 5
    assert rec.channel_names == ["Ex", "Ey", "Hx", "Hy", "Hz"]


def test_streams_match_the_written_sample(rec, sample):
    for written in sample["streams"]:
        stream = rec.streams[written["stream"]]
        assert stream.sample_rate == written["rate_hz"] == stream.tag_rate
        assert stream.scans_per_record == written["scans_per_record"]
        assert stream.first_time == when(written["first_record"])
        tags = list(stream.records())
        assert len(tags) == written["records"]
        assert tags[0]["UTC"] == stream.first_time and tags[0]["NCHN"] == 5
        gaps = stream.gaps()
        assert len(gaps) == written["bursts"] - 1
        for gap in gaps:
            assert gap.missing_scans > 0 and gap.next_start > gap.end_of_previous
        # records() and gaps() leave the stream at its start
        assert stream.read(1).start == stream.first_time
    assert set(rec.streams) == {0} | {s["stream"] for s in sample["streams"]}


def test_bulk_reads_agree_exactly_with_scan_by_scan_reads(rec, raw_rec, sample):
    library, handle = raw_rec
    for written in sample["streams"]:
        k = written["stream"]
        expected = scanwise(library, handle, k, 5)
        assert len(expected) == written["records"] * written["scans_per_record"]
        whole = rec.read(stream=k, stop_at_gap=False)
        assert whole.data.dtype == np.float64 and whole.data.shape == expected.shape
        assert np.array_equal(whole.data, expected)
        # Reads that cut records anywhere give the same rows.
        rec.streams[k].rewind()
        pieces = []
        while True:
            block = rec.read(997, stream=k, stop_at_gap=False)
            if len(block.data) == 0:
                break
            pieces.append(block.data)
        assert np.array_equal(np.concatenate(pieces), expected)


def test_bulk_reads_share_the_position_of_scan_reads_and_outgrow_a_short_estimate(rec, sample, monkeypatch):
    written = next(s for s in sample["streams"] if s["bursts"] > 1)
    k, per_record, rate = written["stream"], written["scans_per_record"], written["rate_hz"]
    stream = rec.streams[k]
    whole = rec.read(None, stream=k, stop_at_gap=False)
    # Scan by scan into the middle of a record, then on in blocks: the same rows,
    # and the block's start is the time of its first scan.
    stream.rewind()
    head = stream.read_scanwise(per_record + 5)
    rest = rec.read(None, stream=k, stop_at_gap=False)
    assert np.array_equal(np.concatenate([head, rest.data]), whole.data)
    assert rest.start == whole.start + dt.timedelta(seconds=(per_record + 5) / rate)
    assert [s.start for s in rest.segments[1:]] == [s.start for s in whole.segments[1:]]
    # A whole-stream read whose first buffer is far too small grows, losing nothing.
    monkeypatch.setattr(olmtsfil.stream, "_GROWTH_ROWS", per_record // 3 + 1)
    monkeypatch.setattr(type(stream), "_remaining_bound", lambda self: per_record // 2)
    stream.rewind()
    grown = rec.read(None, stream=k, stop_at_gap=False)
    assert np.array_equal(grown.data, whole.data) and grown.segments == whole.segments
    stream.rewind()
    first_run = rec.read(None, stream=k, stop_at_gap=True)
    assert first_run.segments == whole.segments[:1]
    assert np.array_equal(first_run.data, whole.data[:whole.segments[0].rows])


def test_reads_into_a_reused_array_go_on_where_the_last_one_stopped(rec, sample):
    written = next(s for s in sample["streams"] if s["bursts"] > 1)
    k, per_record = written["stream"], written["scans_per_record"]
    stream = rec.streams[k]
    whole = rec.read(None, stream=k, stop_at_gap=False)
    # Pieces that end inside records and across gaps: the same rows and times.
    buffer = np.full((per_record + 7, whole.data.shape[1]), np.nan)
    stream.rewind()
    pieces, times = [], []
    while True:
        got = rec.read(None, stream=k, stop_at_gap=False, out=buffer)
        if len(got.data) == 0:
            break
        assert np.shares_memory(got.data, buffer) and len(got.data) <= len(buffer)
        pieces.append(got.data.copy())
        times.append(got.times())
    assert len(pieces) > 2
    assert np.array_equal(np.concatenate(pieces), whole.data)
    # A start inside a record is a datetime: true to its microsecond.
    assert np.abs(np.concatenate(times) - whole.times()).max() <= np.timedelta64(1, "us")
    # n_scans still caps the read; counts are made in the given array too.
    stream.rewind()
    few = rec.read(3, stream=k, units="counts", out=buffer)
    assert len(few.data) == 3 and np.array_equal(buffer[:3], whole.data[:3] * 2 ** 23)
    for bad in (np.zeros((4, 2)), np.zeros((4, whole.data.shape[1]), dtype=np.float32),
                np.zeros((whole.data.shape[1], 4)).T, np.zeros(4)):
        with pytest.raises(ValueError, match="out must be"):
            rec.read(None, stream=k, out=bad)


def test_concatenate_switches_continuation_into_later_files(sample):
    written = next(s for s in sample["streams"] if len(s["files"]) > 1)
    k, total = written["stream"], written["records"] * written["scans_per_record"]
    with olmtsfil.Recording(sample["base"]) as rec:
        assert rec.concatenate is False
        first_file = rec.read(stream=k, stop_at_gap=False)
        assert 0 < len(first_file.data) < total
        rec.streams[k].rewind()
        rec.concatenate = True
        assert rec.concatenate is True
        assert len(rec.read(stream=k, stop_at_gap=False).data) == total


def test_read_reports_start_times_and_stops_at_gaps(rec, sample):
    written = sample["streams"][0]
    k, rate, per_record = written["stream"], written["rate_hz"], written["scans_per_record"]
    stream = rec.streams[k]
    first = rec.read(per_record + 10, stream=k)
    assert first.start == stream.first_time and first.sample_rate == rate
    data, start = second = rec.read(5, stream=k)
    assert data.shape == (5, 5) and start == second.start
    assert second.start == stream.first_time + dt.timedelta(seconds=(per_record + 10) / rate)
    assert second.times()[0] == np.datetime64(second.start, "ns")
    # The rest of the first burst, and not one scan beyond the gap.
    gap = stream.gaps()[0]
    stream.rewind()
    burst = rec.read(stream=k)
    assert len(burst.data) == gap.record * per_record
    after = rec.read(1, stream=k)
    assert after.start == gap.next_start


def test_seek_positions_on_records(rec, sample):
    written = next(s for s in sample["streams"] if s["bursts"] == 1)
    k = written["stream"]
    first = when(written["first_record"])
    assert rec.seek(first - dt.timedelta(days=1), stream=k) == first
    target = first + dt.timedelta(seconds=7)
    assert rec.seek(target, stream=k) == target
    assert rec.read(1, stream=k).start == target
    with pytest.raises(olmtsfil.EndOfDataError) as error:
        rec.seek(first + dt.timedelta(days=3), stream=k)
    assert error.value.code == 1220
    # A stream sent past its end comes back with an earlier time.
    assert rec.seek(first, stream=k) == first
    # Every common way of writing a time, converted to UTC; a fraction of a second
    # moves on to the first record starting after it.
    iso = target.isoformat()
    for form in (iso, iso + "Z", (target + dt.timedelta(hours=1)).isoformat() + "+01:00",
                 np.datetime64(target), target.replace(tzinfo=dt.timezone(dt.timedelta(hours=-3))) + dt.timedelta(hours=-3),
                 target - dt.timedelta(seconds=0.25), np.datetime64(target) - np.timedelta64(999, "ms")):
        rec.streams[k].rewind()
        assert rec.seek(form, stream=k) == target, form
    assert rec.seek(target + dt.timedelta(seconds=0.5), stream=k) == target + dt.timedelta(seconds=1)
    assert rec.seek((target + dt.timedelta(seconds=2, milliseconds=1)).isoformat(), stream=k) == \
        target + dt.timedelta(seconds=3)
    with pytest.raises(ValueError):
        rec.seek("not a time", stream=k)
    with pytest.raises(ValueError):
        rec.seek(np.datetime64("NaT"), stream=k)
    with pytest.raises(TypeError):
        rec.seek(1773532800, stream=k)


def test_samples_convert_as_the_library_does():
    raw = np.array([[0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00]], dtype=np.uint8)
    assert decode_samples(raw, 3, 3).tolist() == [[8388607 / 2**23, -1.0, 2**-23]]
    # With four-byte samples only the low three bytes count.
    wide = np.array([[0xFF, 0xFF, 0x7F, 0x12, 0x00, 0x00, 0x80, 0xFF]], dtype=np.uint8)
    assert decode_samples(wide, 2, 4).tolist() == [[8388607 / 2**23, -1.0]]
    # Two-byte samples borrow the following byte, and zero past the scan.
    short = np.array([[0x01, 0x02, 0x03, 0x04]], dtype=np.uint8)
    assert decode_samples(short, 2, 2).tolist() == [[0x030201 / 2**23, 0x0403 / 2**23]]


def test_spectra_agree_with_the_c_interface(rec, raw_rec):
    library, handle = raw_rec
    values = (ctypes.c_double * 24)()
    flag, window, level, index = (ctypes.c_int32() for _ in range(4))
    rows = []
    status = 0
    while True:
        status = library.ReadDftScanHT(handle, ctypes.byref(flag), ctypes.byref(window), ctypes.byref(level),
                                       ctypes.byref(index), values)
        if status != 0:
            break
        rows.append((values[:10], window.value, level.value, index.value))
    if not rows:
        with pytest.raises(olmtsfil.OlmtsError) as error:
            rec.spectra()
        assert error.value.code == status
        return
    assert status == 1220
    spectra = rec.spectra()
    assert len(spectra.values) == len(rows)
    for i, (pairs, w, lv, fi) in enumerate(rows):
        assert np.array_equal(spectra.values[i], np.array(pairs[0::2]) + 1j * np.array(pairs[1::2]))
        assert (spectra.window[i], spectra.level[i], spectra.freq_index[i]) == (w, lv, fi)
        assert spectra.frequency[i] == library.GetDftFreqHT(handle, fi)


def test_a_cut_record_ends_the_read_and_the_next_read_raises(sample, tmp_path):
    # The sample with one defect: its stream-4 file loses the end of its last data block.
    import shutil
    for name in os.listdir(sample["directory"]):
        shutil.copy(os.path.join(sample["directory"], name), tmp_path / name)
    base = str(tmp_path / os.path.basename(sample["base"]))
    stream_file = base + ".TS4"
    with open(stream_file, "r+b") as f:
        f.truncate(os.path.getsize(stream_file) - 7)
    with olmtsfil.Recording(base) as rec:
        per_record = rec.streams[4].scans_per_record
        records = len(list(rec.records(4)))
        block = rec.read(stream=4)
        assert len(block.data) == (records - 1) * per_record
        with pytest.raises(olmtsfil.OlmtsError) as error:
            rec.read(stream=4)
        assert error.value.code == 1221 and error.value.function == "olmts_read_scans_dbl"


def test_failures_raise_with_code_and_meaning(rec, tmp_path):
    with pytest.raises(olmtsfil.OpenError) as error:
        olmtsfil.Recording(tmp_path / "absent")
    assert error.value.code == 1235 and "table file cannot be opened" in str(error.value)
    with pytest.raises(olmtsfil.OpenError) as error:
        olmtsfil.Recording("x" * 257)
    assert error.value.code == 1226
    (tmp_path / "empty.TBL").write_bytes(b"")
    with pytest.raises(olmtsfil.OpenError) as error:
        olmtsfil.Recording(tmp_path / "empty")
    assert error.value.code is None
    with pytest.raises(olmtsfil.StreamError) as error:
        rec.read(10, stream=1)  # the sample has no stream 1
    assert error.value.code == 1223
    with pytest.raises(olmtsfil.StreamError):
        rec.read(10, stream=0)  # spectral records have no scans
    with pytest.raises(olmtsfil.OlmtsError) as error:
        rec.stream(1)
    assert error.value.meaning == "stream number out of range or stream not usable"


def test_status_table_matches_the_header():
    header = open(os.path.join(ROOT, "include", "olmtsfil.h")).read()
    codes = {name: int(code) for name, code in re.findall(r"#define (OLMTS_\w+) (\d+)", header)
             if name in re.findall(r"case (OLMTS_\w+):", header)}
    texts = dict(re.findall(r'case (OLMTS_\w+): return "([^"]*)";', header))
    assert {code: (name, texts[name]) for name, code in codes.items()} == olmtsfil.STATUS
    declared = set(re.findall(r"OLMTS_CALL (\w+)\(", header))
    assert {n for n in _native.PROTOTYPES if n.endswith("HT")} == {n for n in declared if n.endswith("HT")}
    assert set(_native.PROTOTYPES) <= declared
    assert sum(name.endswith("HT") for name in _native.PROTOTYPES) == 25 and not _native.lib().missing


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


@pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc")
def test_handles_close_deterministically_and_on_collection(sample):
    before = open_descriptors()
    with olmtsfil.Recording(sample["base"]) as recording:
        assert open_descriptors() > before
    assert recording.closed and open_descriptors() == before
    recording.close()  # a second close does nothing
    with pytest.raises(ValueError):
        recording.read(1)
    recording = olmtsfil.Recording(sample["base"])
    stream = recording.streams[2]
    assert open_descriptors() > before
    del recording
    gc.collect()
    assert open_descriptors() == before
    with pytest.raises(ReferenceError):
        stream.read(1)


def test_a_read_across_gaps_carries_its_segments_and_true_times(rec, sample):
    written = next(s for s in sample["streams"] if s["bursts"] > 1)
    k, rate, per_record = written["stream"], written["rate_hz"], written["scans_per_record"]
    gaps = rec.gaps(k)
    block = rec.read(None, stream=k, stop_at_gap=False)
    assert len(block.segments) == written["bursts"] == len(gaps) + 1
    starts = [block.start] + [gap.next_start for gap in gaps]
    firsts = [0] + [gap.record * per_record for gap in gaps]
    assert [s.start for s in block.segments] == starts
    assert [s.first_row for s in block.segments] == firsts
    assert sum(s.rows for s in block.segments) == len(block.data)
    times = block.times()
    for segment in block.segments:
        assert times[segment.first_row] == np.datetime64(segment.start, "ns")
        last = segment.first_row + segment.rows - 1
        assert times[last] == np.datetime64(segment.start, "ns") + np.timedelta64(
            int(round((segment.rows - 1) * 1e9 / rate)), "ns")
    # Every row past a gap lies after the gap, not where counting from the start puts it.
    assert np.all(np.diff(times) > np.timedelta64(0, "ns"))
    assert np.all(times[firsts[1]:] >= np.datetime64(gaps[0].next_start, "ns"))
    # A read that stops inside a record and a later one that goes on across a gap.
    rec.streams[k].rewind()
    head = rec.read(per_record // 2, stream=k, stop_at_gap=False)
    assert [tuple(s) for s in head.segments] == [(block.start, 0, per_record // 2)]
    rest = rec.read(None, stream=k, stop_at_gap=False)
    assert rest.segments[0].start == block.start + dt.timedelta(seconds=(per_record // 2) / rate)
    assert [s.start for s in rest.segments[1:]] == starts[1:]
    assert np.array_equal(np.concatenate([head.times(), rest.times()]), times)
    # Reads that stop at gaps have one segment each.
    rec.streams[k].rewind()
    assert len(rec.read(stream=k).segments) == 1
    empty = rec.read(0, stream=k)
    assert empty.segments == () and len(empty.times()) == 0


def test_the_spectral_stream_has_records_not_gaps(rec, raw_rec):
    with pytest.raises(olmtsfil.StreamError) as error:
        rec.gaps(0)
    assert error.value.code == 1223 and "not a sampled series" in str(error.value)
    assert rec.streams[0].tag_rate is None and "spectral" in repr(rec.streams[0])
    # Each coefficient carries the time of its record.
    stamps = [tag["UTC"] for tag in rec.records(0)]
    spectra = rec.spectra()
    assert spectra.record_time.dtype == np.dtype("datetime64[s]") and len(spectra.record_time) == len(spectra.values)
    assert list(np.unique(spectra.record_time)) == [np.datetime64(t, "s") for t in stamps]
    library, handle = raw_rec
    flag, window, level, index = (ctypes.c_int32() for _ in range(4))
    values = (ctypes.c_double * 24)()
    first_record = 0
    while library.ReadDftScanHT(handle, ctypes.byref(flag), ctypes.byref(window), ctypes.byref(level),
                                ctypes.byref(index), values) == 0:
        stamp = _native.TimeStamp()
        library.ReadTagHT(handle, 0, 0, b"UTC", 5, ctypes.byref(stamp))
        if olmtsfil.timestamps.stamp_to_datetime(stamp) != stamps[0]:
            break
        first_record += 1
    assert np.count_nonzero(spectra.record_time == np.datetime64(stamps[0], "s")) == first_record


def test_recordings_and_calibrations_open_by_base_or_by_their_own_file(sample, calibrations):
    base = sample["base"]
    for given in (base, base + ".TBL", base + ".tbl", base + ".Tbl"):
        with olmtsfil.Recording(given) as rec:
            assert rec.base == base and rec.channel_count == 5
    box, sensors = calibrations
    for given in (box, box + ".CLB", box + ".clb"):
        with olmtsfil.Calibration.box(given) as cal:
            assert cal.base == box
    for given in (sensors[0], sensors[0] + ".CLC", sensors[0] + ".clc"):
        with olmtsfil.Calibration.sensor(given) as cal:
            assert cal.base == sensors[0]
    # Another calibration's extension is not stripped: the open fails naming the file it wanted.
    with pytest.raises(olmtsfil.OpenError) as error:
        olmtsfil.Calibration.box(sensors[0] + ".CLC")
    assert error.value.filename == sensors[0] + ".CLC.CLB"


def test_an_unusable_stream_is_named_with_the_library_status(rec):
    assert 1 not in rec.streams and rec.streams.get(1) is None
    for number in (1, 5, 6, "2"):
        with pytest.raises(olmtsfil.StreamNotUsableError) as error:
            rec.streams[number]
        assert isinstance(error.value, KeyError) and isinstance(error.value, olmtsfil.StreamError)
        assert error.value.code == 1223 and error.value.stream == number
        assert repr(number) in str(error.value) or ("stream %s" % number) in str(error.value)
    assert "stream 5 has no usable file (.TS5 or .TSL)" in str(pytest.raises(KeyError, rec.stream, 5).value)


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="names the Linux library file")
def test_a_missing_library_lists_the_places_searched(tmp_path):
    import shutil
    import subprocess
    shutil.copytree(os.path.join(ROOT, "python", "olmtsfil"), tmp_path / "olmtsfil",
                    ignore=shutil.ignore_patterns("*.so*", "*.dll", "__pycache__"))
    env = {k: v for k, v in os.environ.items() if k not in ("OLMTSFIL_LIBRARY", "LD_LIBRARY_PATH")}
    script = "import olmtsfil\ntry:\n    olmtsfil.library_path()\nexcept OSError as e:\n    print(e)\n"
    out = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=env, capture_output=True, text=True,
                         check=True).stdout
    assert "not found" in out and "Tried: nothing" not in out
    assert "OLMTSFIL_LIBRARY (not set)" in out and str(tmp_path / "olmtsfil" / "libolmtsfil.so") in out
    assert "library path" in out
