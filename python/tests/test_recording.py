import ctypes
import datetime as dt
import gc
import os
import re

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
    with pytest.raises(TypeError):
        rec.seek("2026-03-14", stream=k)


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
        assert error.value.code == 1221 and error.value.function == "ReadRecHT"


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
    assert set(_native.PROTOTYPES) == set(re.findall(r"OLMTS_CALL (\w+HT)\(", header))
    assert len(_native.PROTOTYPES) == 25 and not _native.lib().missing


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
