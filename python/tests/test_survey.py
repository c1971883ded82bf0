"""A survey at a time: the inventory of the synthetic survey (every problem and
every match), lazy reading equal to eager reading, and batch jobs on Dask."""
import json
import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest

from conftest import TOOL


def _unstamped(data):
    """The file with station.xml's creation time (the second it was written) masked."""
    return re.sub(rb"<Created>[^<]*</Created>", b"<Created/>", data)


pd = pytest.importorskip("pandas")
da = pytest.importorskip("dask.array")


@pytest.fixture(scope="session")
def survey_dir(tmp_path_factory):
    directory = str(tmp_path_factory.mktemp("survey"))
    subprocess.run([TOOL, "sample", "--survey", directory, "--sites", "3", "--seconds", "8"], check=True,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(directory, "survey.json")) as f:
        return directory, json.load(f)


@pytest.fixture(scope="session")
def survey(survey_dir):
    import olmtsfil.survey
    return olmtsfil.survey.Survey(survey_dir[0])


@pytest.fixture(scope="session")
def verified(survey_dir):
    import olmtsfil.survey
    return olmtsfil.survey.Survey(survey_dir[0], verify=True)


def rows_of(survey, base):
    return survey.inventory[survey.inventory["base"] == base]


def test_inventory_lists_every_recording_problem_and_match(survey, verified, survey_dir):
    directory, truth = survey_dir
    assert sorted(survey.recordings) == sorted(r["base"] for r in truth["recordings"])
    assert set(survey.inventory["site"]) == {"site01", "site02", "site03"}
    for r in truth["recordings"]:
        rows = rows_of(survey, r["base"])
        problems = " ".join(p for p in rows["problems"] if p)
        kinds = r["problems"]
        if "no-table" in kinds:
            assert len(rows) == 1 and ".TBL: missing" in problems, problems
            assert rows["box"].iloc[0] == ""
            continue
        assert sorted(rows["stream"]) == [4, 5]
        assert (rows["box"] == "%s/calibrations/box%d.CLB" % (directory, r["box_serial"])).all()
        assert (rows["box_serial"] == r["box_serial"]).all()
        for component, serial in zip(("Hx", "Hy", "Hz"), r["coil_serials"]):
            column = rows["sensor_" + component]
            if serial:
                expected = "%s/calibrations/coil%s%s.CLC" % (directory, serial[1:3], serial[3].lower())
                assert (column == expected).all(), (component, list(column))
            else:
                assert (column == "").all()
                assert "Hz: the table names no sensor serial" in rows["calibration_notes"].iloc[0]
        if not kinds:
            assert problems == "", problems
            medium = rows[rows["stream"] == 4].iloc[0]
            assert medium["records"] == 3 * 8 and medium["gaps"] == 0 and medium["files"] == 3
            assert medium["sample_rate"] == 150.0
            assert (medium["end"] - medium["start"]).total_seconds() == 24.0
        if "damaged" in kinds:
            # Inside a file whose end tags fit: only reading every tag finds it.
            assert rows[rows["stream"] == 4].iloc[0]["checked"] == "ends"
            medium = rows_of(verified, r["base"])
            medium = medium[medium["stream"] == 4].iloc[0]
            assert medium["checked"] == "every tag"
            stem = os.path.basename(r["base"])[:-1]
            assert "%sb.TS4 (stream 4): reading stopped after record 12" % stem in medium["problems"]
            assert "not reached: " in medium["problems"] and stem + "c.TS4" in medium["problems"]
            assert medium["records"] == 12
        if "missing-file" in kinds:
            stem = os.path.basename(r["base"])[:-1]
            assert stem + "c.TS4: not reached" in problems
            assert rows[rows["stream"] == 4].iloc[0]["files"] == 1
        if "cut" in kinds:
            low = rows[rows["stream"] == 5].iloc[0]
            assert "ends 157 bytes into a record of 257" in low["problems"] and low["records"] == 2 * 12 - 1
    # A recording without a coil serial is no problem of its files.
    assert survey.unmatched == [truth["unmatched_calibration"] + ".CLB"]
    assert survey.ambiguous == {}


def test_the_quick_survey_finds_what_reading_every_tag_finds_where_it_can_see(survey, verified, survey_dir):
    directory, truth = survey_dir
    columns = ["base", "stream", "start", "end", "records", "gaps", "files", "recorded_s", "problems"]
    damaged = {r["base"] for r in truth["recordings"] if "damaged" in r["problems"]}
    assert damaged
    quick = survey.inventory[~survey.inventory["base"].isin(damaged)]
    full = verified.inventory[~verified.inventory["base"].isin(damaged)]
    assert quick[columns].astype(str).values.tolist() == full[columns].astype(str).values.tolist()
    assert set(quick["checked"]) == {"ends", ""} and set(full["checked"]) == {"every tag", ""}
    assert set(survey.problems) < set(verified.problems)
    env = dict(os.environ, OLMTSFIL_PYTHON=sys.executable)
    out = subprocess.run([TOOL, "survey", directory, "--json", "--verify"], capture_output=True, text=True, env=env)
    report = json.loads(out.stdout)
    assert report["verify"] is True and report["problems"] == verified.problems
    assert {s["checked"] for r in report["recordings"] for s in r["streams"]} == {"every tag"}


def test_sensor_mapping_fills_what_the_table_does_not_name(survey_dir, tmp_path):
    import olmtsfil.survey
    directory, truth = survey_dir
    mapping = tmp_path / "sensors.csv"
    mapping.write_text("# coil of the Hz component, not entered in the field\nrecording,component,sensor\n"
                       "site02,Hz,C02Z\n")
    survey = olmtsfil.survey.Survey(directory, sensor_map=str(mapping))
    unnamed = [r for r in truth["recordings"] if r["site"] == "site02" and not r["coil_serials"][2]][0]
    rows = rows_of(survey, unnamed["base"])
    assert (rows["sensor_Hz"] == directory + "/calibrations/coil02z.CLC").all()
    assert "Hz" not in rows["calibration_notes"].iloc[0]
    # By path too; a mapping never overrides a serial the table names.
    mapping.write_text("recording,component,sensor\n%s,Hz,%s/calibrations/coil01z\nsite01,Hx,C02X\n" % (
        os.path.relpath(unnamed["base"], directory), directory))
    survey = olmtsfil.survey.Survey(directory, sensor_map=str(mapping))
    assert (rows_of(survey, unnamed["base"])["sensor_Hz"] == directory + "/calibrations/coil01z.CLC").all()
    site01 = survey.inventory[survey.inventory["site"] == "site01"]
    assert (site01["sensor_Hx"] == directory + "/calibrations/coil01x.CLC").all()


def test_two_calibrations_of_one_serial_are_listed_not_guessed(survey_dir, tmp_path):
    import olmtsfil.survey
    copy = str(tmp_path / "copy")
    shutil.copytree(survey_dir[0], copy)
    shutil.copy(copy + "/calibrations/box101.CLB", copy + "/calibrations/spare.CLB")
    survey = olmtsfil.survey.Survey(copy)
    site01 = survey.inventory[survey.inventory["site"] == "site01"]
    assert (site01["box"] == "").all()
    assert "ambiguous, serial 101" in site01["calibration_notes"].iloc[0]
    assert {copy + "/calibrations/box101.CLB", copy + "/calibrations/spare.CLB"} <= set(survey.unmatched)
    assert survey.ambiguous == {("box", "101"): [copy + "/calibrations/box101.CLB", copy + "/calibrations/spare.CLB"]}


def test_the_tool_and_python_give_the_same_survey(survey, survey_dir):
    env = dict(os.environ, OLMTSFIL_PYTHON=sys.executable)
    out = subprocess.run([TOOL, "survey", survey_dir[0], "--json"], capture_output=True, text=True, env=env)
    assert out.returncode == 2, out.stderr  # the survey has problems
    assert json.loads(out.stdout) == json.loads(json.dumps(survey.to_json()))
    text = subprocess.run([TOOL, "survey", survey_dir[0], "--allow-errors"], capture_output=True, text=True, env=env)
    assert text.returncode == 0 and "unmatched calibrations: %s" % survey.unmatched[0] in text.stdout


# ---- lazy reading -----------------------------------------------------------------------

def eager_with_times(rec, k):
    """Whole stream across gaps, and the true time of every scan."""
    rec.streams[k].rewind()
    blocks, times = [], []
    while True:
        scans = rec.read(None, stream=k, stop_at_gap=True)
        if len(scans.data) == 0:
            break
        blocks.append(scans.data)
        times.append(np.datetime64(scans.start, "ns") +
                     np.rint(np.arange(len(scans.data)) * (1e9 / scans.sample_rate)).astype("timedelta64[ns]"))
    rec.streams[k].rewind()
    return np.concatenate(blocks), np.concatenate(times)


@pytest.mark.parametrize("k", [2, 3])  # three bursts in one file; one run over three files
def test_lazy_slices_equal_eager_reads_across_files_and_gaps(rec, k):
    import dask
    import olmtsfil.lazy
    data, times = eager_with_times(rec, k)
    lazy = rec.to_dask(k, chunk_bytes=200_000)
    assert lazy.data.shape == data.shape and len(lazy.chunks) > 3
    if k == 3:
        assert {c.file for c in lazy.chunks} == {0, 1, 2}
    with dask.config.set(scheduler="threads", num_workers=2):
        whole = lazy.data.compute()
        assert whole.tobytes() == data.tobytes()
        assert np.array_equal(lazy.times.compute(), times)
        n = len(data)
        for a, b in ((0, 1), (n // 3, n // 3 + 1000), (n - 7, n), (n // 2 - 5000, n // 2 + 5000)):
            assert lazy.data[a:b].compute().tobytes() == data[a:b].tobytes(), (a, b)
            assert np.array_equal(lazy.times[a:b].compute(), times[a:b])
    counts = rec.to_dask(k, units="counts", chunk_bytes=200_000).data[100:200].compute(scheduler="sync")
    assert np.array_equal(counts, np.rint(data[100:200] * 2 ** 23).astype(np.int32))


def test_a_lazy_slice_reads_only_its_chunks(rec, monkeypatch):
    import olmtsfil.lazy
    read = []
    original = olmtsfil.lazy.read_chunk

    def counting(base, k, chunk, *rest):
        read.append(chunk)
        return original(base, k, chunk, *rest)

    monkeypatch.setattr(olmtsfil.lazy, "read_chunk", counting)
    lazy = rec.to_dask(3, chunk_bytes=200_000)
    per_chunk = lazy.chunks[0].records * rec.streams[3].scans_per_record
    lazy.data[5 * per_chunk + 3:6 * per_chunk + 2].compute(scheduler="sync")
    assert read == lazy.chunks[5:7]


# ---- batch jobs ---------------------------------------------------------------------------

def load(path):
    with np.load(path) as f:
        return {name: f[name] for name in f.files}


def test_batch_export_on_two_workers_equals_a_serial_run(survey, survey_dir, cluster, tmp_path):
    import olmtsfil.survey
    out = str(tmp_path / "parallel")
    results = survey.export(out, format="npz", scheduler=cluster, progress=False)
    assert set(results) == set(survey.recordings)
    failed = {b: r for b, r in results.items() if isinstance(r, BaseException)}
    # Recordings with problems fail with them named; nothing of theirs is
    # passed off as a complete export.
    troubled = sorted(r["base"] for r in survey_dir[1]["recordings"] if r["problems"])
    assert sorted(failed) == troubled
    assert all(isinstance(e, olmtsfil.survey.RecordingProblems) and e.problems for e in failed.values())
    assert not any(os.path.basename(b) in name for b in troubled for name in os.listdir(out))

    serial = str(tmp_path / "serial")
    os.makedirs(serial)
    job = olmtsfil.survey.ExportJob(survey.path, serial, "npz")
    for base, written in results.items():
        if base in failed:
            continue
        assert len(written) == 2
        for path in written:
            assert olmtsfil.survey.output_complete(path)
        for mine, theirs in zip(job(base), written):
            a, b = load(mine), load(theirs)
            assert a.keys() == b.keys() and all(np.array_equal(a[key], b[key]) for key in a)

    # A rerun redoes nothing; an output cut short is written again, alone.
    stamps = {p: os.stat(p).st_mtime_ns for w in results.values() if isinstance(w, list) for p in w}
    cut = sorted(stamps)[0]
    with open(cut, "r+b") as f:
        f.truncate(100)
    again = survey.export(out, format="npz", scheduler=cluster, progress=False)
    changed = [p for p in stamps if os.stat(p).st_mtime_ns != stamps[p]]
    assert changed == [cut] and olmtsfil.survey.output_complete(cut)
    assert sorted(b for b, r in again.items() if isinstance(r, BaseException)) == troubled


def test_miniseed_export_is_the_tools_and_a_rerun_redoes_only_what_is_incomplete(survey, survey_dir, cluster,
                                                                                  tmp_path):
    import olmtsfil.survey
    out = str(tmp_path / "mseed")
    results = survey.export(out, format="mseed", scheduler=cluster, progress=False)
    troubled = sorted(r["base"] for r in survey_dir[1]["recordings"] if r["problems"])
    failed = sorted(b for b, r in results.items() if isinstance(r, BaseException))
    assert failed == troubled
    done = {b: w for b, w in results.items() if b not in troubled}
    assert done
    for base, written in done.items():
        folder = os.path.dirname(written[0])
        assert olmtsfil.survey.folder_complete(folder)
        names = sorted(os.path.basename(p) for p in written)
        assert "station.xml" in names and any(n.endswith(".mseed") for n in names), names
        assert sorted(os.listdir(folder)) == sorted(names + [olmtsfil.survey.MANIFEST])
        # The matched calibrations went into the export: responses in station.xml.
        with open(os.path.join(folder, "station.xml")) as f:
            assert "<Response" in f.read()
    # Byte for byte what the tool writes for that recording run by hand.
    base = sorted(done)[0]
    box, sensors = survey._calibrations_by_base()[base]
    by_hand = str(tmp_path / "by-hand")
    subprocess.run([TOOL, "export", base, "--out", by_hand, "--concat"] + olmtsfil.survey._calibration_arguments(
        box, sensors), check=True, capture_output=True)
    for path in done[base]:
        with open(path, "rb") as mine, open(os.path.join(by_hand, os.path.basename(path)), "rb") as theirs:
            assert _unstamped(mine.read()) == _unstamped(theirs.read()), path

    stamps = {p: os.stat(p).st_mtime_ns for w in done.values() for p in w}
    again = survey.export(out, format="mseed", scheduler=cluster, progress=False)
    assert {b: again[b] for b in done} == done
    assert all(os.stat(p).st_mtime_ns == stamps[p] for p in stamps)
    # A file changed after the export makes its recording's folder incomplete: redone, alone.
    cut = sorted(p for p in stamps if p.endswith(".mseed"))[0]
    with open(cut, "r+b") as f:
        f.truncate(os.path.getsize(cut) // 2)
    again = survey.export(out, format="mseed", scheduler=cluster, progress=False)
    redone = {p for p in stamps if os.stat(p).st_mtime_ns != stamps[p]}
    assert cut in redone and {os.path.dirname(p) for p in redone} == {os.path.dirname(cut)}
    assert olmtsfil.survey.folder_complete(os.path.dirname(cut))


CALLED = []


def note_call(base):  # by reference, so that the worker in this process appends here
    CALLED.append(base)


def test_batch_jobs_start_with_the_largest_recordings(survey):
    # One worker taking one job at a time runs them in the order the
    # scheduler hands them out; results still come back for every base.
    distributed = pytest.importorskip("distributed")
    called = CALLED
    called.clear()
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as c, distributed.Client(c) as client:
        results = survey.map(note_call, scheduler=client, progress=False)
    assert list(results) == survey.recordings
    sizes = [survey._recorded_bytes(base) for base in called]
    assert sorted(called) == sorted(survey.recordings)
    assert sizes == sorted(sizes, reverse=True) and sizes[0] > sizes[-1]


def test_jobs_that_need_the_tool_say_where_it_was_looked_for(survey, tmp_path, monkeypatch):
    import olmtsfil.survey
    monkeypatch.setenv("OLMTSFIL_TOOL", str(tmp_path / "no-such-olmts"))
    with pytest.raises(olmtsfil.survey.ToolNotFoundError, match="OLMTSFIL_TOOL"):
        survey.export(str(tmp_path / "out"), format="mseed")
    with pytest.raises(olmtsfil.survey.ToolNotFoundError):
        survey.spectra()
    assert not os.path.exists(tmp_path / "out")


# ---- calibrated spectra and the field, lazily ---------------------------------------------------

def test_survey_spectra_are_the_coefficients_divided_by_the_matched_chain(sample, threads):
    import olmtsfil
    import olmtsfil.survey
    from olmtsfil import units
    survey = olmtsfil.survey.Survey(sample["directory"])
    base = sample["base"]
    assert base in survey.recordings
    box, sensors = survey._calibrations_by_base()[base]
    assert box and len(sensors) == 3
    raw = survey.spectra(units="fraction", scheduler=threads, progress=False)[base]
    field = survey.spectra(scheduler=threads, progress=False)[base]
    with olmtsfil.Recording(base) as rec:
        eager = rec.spectra()
        assert np.array_equal(raw.values, eager.values) and np.array_equal(raw.frequency, eager.frequency)
        assert np.array_equal(raw.record_time, eager.record_time)
        # The chain of the time-series stream at the spectral rate, with the matched files.
        k = next(n for n in rec.streams if n and rec.sample_rate(n) == rec.sample_rate(0))
        with olmtsfil.Calibration.box(box) as b:
            cals = [olmtsfil.Calibration.sensor(p) for p in sensors]
            chain = units.Chain(rec, k, b, dict(zip(("Hx", "Hy", "Hz"), cals)))
            response, _ = chain.response(eager.frequency)
        names = rec.channel_names
    assert field.units == "deconvolved" and field.channels == names
    np.testing.assert_allclose(field.values, eager.values * 2 ** 23 / response, rtol=1e-12)


def test_lazy_nominal_units_equal_the_eager_conversion(rec, cals, threads):
    box, sensors = cals
    for k in (2, 3):  # three bursts in one file; one run over three files
        rec.streams[k].rewind()
        runs = []
        while True:
            scans = rec.read(None, stream=k, units="nominal", box=box, sensor=sensors)
            if len(scans.data) == 0:
                break
            runs.append(scans.data)
            eager_units, delay = scans.units, scans.delay
        rec.streams[k].rewind()
        lazy = rec.to_dask(k, units="nominal", chunk_bytes=200_000, box=box.base, sensor=sensors)
        assert len(lazy.chunks) > 3 and lazy.units == eager_units and lazy.delay == delay
        assert threads.compute(lazy.data).result().tobytes() == np.concatenate(runs).tobytes()
    with pytest.raises(ValueError, match="box calibration"):
        rec.to_dask(3, units="nominal")
    with pytest.raises(ValueError, match="nominal"):
        rec.to_dask(3, units="counts", box=box)
    with pytest.raises(ValueError, match="deconvolved"):
        rec.to_dask(3, units="nominal", box=box, fmin=0.1)


def eager_runs(rec, k, **units):
    """Every contiguous run of stream k read eagerly in the given units, end to end."""
    rec.streams[k].rewind()
    runs = []
    while True:
        scans = rec.read(None, stream=k, **units)
        if len(scans.data) == 0:
            break
        runs.append(scans)
    rec.streams[k].rewind()
    return runs


# Stream 2: three bursts in one file (gaps inside chunks); stream 3: one run over
# three files (margins read across file boundaries); 8192-scan blocks make many
# per run, 65536 ones reach past short runs and small chunks.
@pytest.mark.parametrize("k, block, chunk_bytes", [(2, 8192, 200_000), (3, 8192, 300_000), (3, 65536, 1 << 20)])
def test_lazy_deconvolved_units_are_the_eager_runs_bit_for_bit(rec, cals, threads, k, block, chunk_bytes):
    box, sensors = cals
    field = dict(units="deconvolved", box=box, sensor=sensors, block=block)
    runs = eager_runs(rec, k, **field)
    eager = np.concatenate([r.data for r in runs])
    if k == 2:
        assert len(runs) == 3
    position = rec.streams[k].seek(runs[-1].start)
    lazy = rec.to_dask(k, chunk_bytes=chunk_bytes, **field)
    assert rec.streams[k].tag()["UTC"] == position  # the caller's stream stays where it was
    assert lazy.units == runs[0].units and lazy.delay == runs[0].delay and lazy.band == runs[0].band
    assert lazy.block == block and len(lazy.chunks) > 3
    assert threads.compute(lazy.data).result().tobytes() == eager.tobytes()
    n = len(eager)
    ends = np.cumsum([len(r.data) for r in runs])
    for a, b in ((0, 1), (n - 3, n), (n // 2 - 7000, n // 2 + 9000)) + tuple((e - 5, e + 5) for e in ends[:-1]):
        assert threads.compute(lazy.data[a:b]).result().tobytes() == eager[a:b].tobytes(), (a, b)
    rec.streams[k].rewind()


def test_lazy_deconvolved_units_are_checked_when_the_array_is_made(rec, cals):
    box, sensors = cals
    with pytest.raises(ValueError, match="box calibration"):
        rec.to_dask(3, units="deconvolved")
    with pytest.raises(Exception, match="olmts_converter_open"):
        rec.to_dask(3, units="deconvolved", box=box, sensor=sensors, block=1000)
    with pytest.warns(UserWarning, match="extrapolated"):
        rec.to_dask(3, units="deconvolved", box=box, sensor=sensors, fmin=0.005)


def test_dated_sets_follow_the_readers_successor_rule(tmp_path):
    import olmtsfil.survey
    # Copied from another system in upper case; a day's file of another case of
    # extension is not the reader's, so the set ends before it.
    for name in ("SITE314A.TS4", "SITE314B.TS4", "site315a.TS4", "SITE316A.ts4", "SITE317A.TS4"):
        (tmp_path / name).write_bytes(b"")
    first = str(tmp_path / "SITE314A.TS4")
    reached, unreadable = olmtsfil.survey.set_files(first)
    assert reached == [first, str(tmp_path / "SITE314B.TS4"), str(tmp_path / "site315a.TS4")]
    assert unreadable == []
    # A name that exists but does not open is passed over for the next
    # candidate, as the reader does.
    (tmp_path / "site314c.TS4").mkdir()
    assert olmtsfil.survey.set_files(first) == (reached, [str(tmp_path / "site314c.TS4")])
