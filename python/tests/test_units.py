"""Physical units from Python: the chain's stages, the conversions of read(),
and the checks of the calibrations given."""
import shutil
import warnings

import numpy as np
import pytest

import olmtsfil
from olmtsfil import units


def fit_tones(t, y, freqs):
    """Amplitude and phase (degrees, of A cos(2 pi f t + phase)) of each tone."""
    columns = [np.ones_like(t)]
    for f in freqs:
        columns += [np.cos(2 * np.pi * f * t), np.sin(2 * np.pi * f * t)]
    coef = np.linalg.lstsq(np.column_stack(columns), y, rcond=None)[0]
    return [(np.hypot(coef[1 + 2 * k], coef[2 + 2 * k]), np.degrees(np.arctan2(-coef[2 + 2 * k], coef[1 + 2 * k])))
            for k in range(len(freqs))]


def wrap(degrees):
    return (degrees + 180.0) % 360.0 - 180.0


def test_deconvolved_read_gives_back_every_tone_across_midnight(rec, cals, sample):
    box, sensors = cals
    scans = rec.read(None, stream=3, units="deconvolved", box=box, sensor=sensors)
    assert scans.units == ["mV/km", "mV/km", "nT", "nT", "nT"]
    assert scans.data.shape == (135000, 5)  # three files, two days
    assert scans.delay == pytest.approx(rec.delay(3).seconds)
    reference = np.datetime64(sample["reference"])
    # Time of the field: the stamp minus the delay, in seconds after the tones' reference.
    t = (scans.times() - reference) / np.timedelta64(1, "ns") * 1e-9 - scans.delay
    inner = slice(9000, len(t) - 9000)
    for c, name in enumerate(rec.channel_names):
        tones = [tone for tone in sample["tones"] if tone["component"] == name and tone["frequency_hz"] < 45]
        fitted = fit_tones(t[inner], scans.data[inner, c], [tone["frequency_hz"] for tone in tones])
        for tone, (amplitude, phase) in zip(tones, fitted):
            assert amplitude == pytest.approx(tone["amplitude"], rel=0.005), (name, tone)
            assert abs(wrap(phase - tone["phase_deg"])) < 0.5, (name, tone)


def test_counts_and_nominal_units(rec, cals):
    box, sensors = cals
    fractions = rec.read(3000, stream=3).data
    rec.stream(3).rewind()
    counts = rec.read(3000, stream=3, units="counts")
    assert counts.units == ["counts"] * 5
    assert np.array_equal(counts.data, fractions * 2 ** 23)
    assert np.array_equal(counts.data, np.rint(counts.data))
    rec.stream(3).rewind()
    nominal = rec.read(3000, stream=3, units="nominal", box=box, sensor=sensors)
    gains = [ch.total.gain for ch in nominal.chain.channels]
    assert np.allclose(nominal.data, fractions * 2 ** 23 / np.array(gains), rtol=1e-14, atol=0)
    with pytest.raises(ValueError):
        rec.read(10, stream=3, units="volts", box=box)
    with pytest.raises(ValueError):
        rec.read(10, stream=3, units="deconvolved", box=box, sensor=sensors, stop_at_gap=False)


def test_missing_or_foreign_calibrations_are_named(rec, cals, tmp_path, sample):
    box, sensors = cals
    with pytest.warns(units.UnitsWarning, match=r"Hy \(channel 4\).*HNOM"):
        chain = units.Chain(rec, 3, box, {"Hx": sensors["Hx"], "Hz": sensors["Hz"]})
    assert chain.channels[3].stages[0].flags & units.TABLE_NOMINAL
    assert chain.channels[3].stages[0].gain == 0.8
    with pytest.raises(olmtsfil.OlmtsError) as error:
        units.Chain(rec, 3, box, {"Hx": sensors["Hx"]}, require_sensors=True)
    assert error.value.code == 1301 and "Hy, Hz" in str(error.value)
    with pytest.warns(units.UnitsWarning, match="serial differs.*COIL201"):
        units.Chain(rec, 3, box, {"Hx": sensors["Hy"], "Hy": sensors["Hx"], "Hz": sensors["Hz"]})
    # The calibration of box 777 for the recording of box 101.
    other = tmp_path / "box777.CLB"
    shutil.copy(sample["box_calibration"] + ".CLB", other)
    with open(other, "r+b") as f:
        f.seek(8)
        f.write((777).to_bytes(2, "little"))
    with olmtsfil.Calibration.box(str(tmp_path / "box777")) as foreign:
        with pytest.raises(olmtsfil.OlmtsError) as error:
            units.Chain(rec, 3, foreign, sensors)
        assert error.value.code == 1302 and "force_box" in str(error.value)
        with pytest.warns(units.UnitsWarning, match="another box"):
            forced = units.Chain(rec, 3, foreign, sensors, force_box=True)
        assert forced.channels[0].stages[1].flags & units.BOX_FORCED


def test_chain_responses_mark_extrapolation(rec, cals):
    box, sensors = cals
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # every channel served: no warning
        chain = units.Chain(rec, 2, box, sensors)
    values, outside = chain.response([0.005, 1.0, 100.0], "box")
    assert outside[0].all() and not outside[1:].any()
    total, _ = chain.response([1.0])
    names = [[s.name for s in ch.stages] for ch in chain.channels]
    assert names[0] == ["dipole", "box", "digitiser"] and names[2] == ["sensor", "box", "digitiser"]
    product = np.ones(5, dtype=complex)
    for stage in ("sensor", "box", "digitiser"):
        product *= chain.response([1.0], stage)[0][0]
    assert np.allclose(total[0], product, rtol=1e-14, atol=0)


def test_tool_and_python_agree_number_for_number(rec, cals, sample):
    """One meaning of "box" (without the delay's phase) in both clients."""
    import json
    import subprocess
    from conftest import TOOL
    box, sensors = cals
    freqs = [0.02, 0.5, 1.0, 7.3, 40.0]
    args = [TOOL, "response", "--json", sample["base"], "--stream", "3",
            "--box", sample["box_calibration"]]
    for path in sample["sensor_calibrations"]:
        args += ["--sensor", path]
    for f in freqs:
        args += ["--freq", repr(f)]
    tool = json.loads(subprocess.run(args, check=True, capture_output=True, text=True).stdout)
    stages = olmtsfil.response_stages(rec, 3, freqs, box=box, sensor=sensors)
    for i, at in enumerate(tool["responses"]):
        for c, ch in enumerate(at["channels"]):
            for name in ("sensor", "box", "total"):
                assert complex(ch[name]["re"], ch[name]["im"]) == getattr(stages, name)[i, c], (name, c, freqs[i])
            library = olmtsfil.box_response(box, rec, 3, [freqs[i]]).values[0, c]
            assert complex(ch["box_with_delay"]["re"], ch["box_with_delay"]["im"]) == library
    assert tool["delay_s"] == stages.delay.seconds


def test_tool_scans_give_the_same_field_as_python(rec, cals, sample):
    import subprocess
    from conftest import TOOL
    box, sensors = cals
    args = [TOOL, "scans", sample["base"], "--stream", "3", "--concat",
            "--units", "deconvolved", "--box", sample["box_calibration"]]
    for path in sample["sensor_calibrations"]:
        args += ["--sensor", path]
    text = subprocess.run(args, check=True, capture_output=True, text=True).stdout.splitlines()
    comments = [line for line in text if line.startswith("#")]
    assert "# columns: time=UTC, Ex=mV/km, Ey=mV/km, Hx=nT, Hy=nT, Hz=nT" in comments
    rows = [line.split(",") for line in text if line and not line.startswith(("#", "time"))]
    tool = np.array([[float(v) for v in row[1:]] for row in rows])
    python = rec.read(None, stream=3, units="deconvolved", box=box, sensor=sensors)
    assert tool.shape == python.data.shape
    scale = np.abs(python.data).max(axis=0)
    assert np.all(np.abs(tool - python.data) <= 1e-9 * scale)
    # The tool's time column is the field's: the stamp minus the delay.
    times = python.times() - np.timedelta64(int(round(python.delay * 1e9)), "ns")
    first, last = np.datetime64(rows[0][0]), np.datetime64(rows[-1][0])
    assert abs((first - times[0]) / np.timedelta64(1, "us")) <= 1
    assert abs((last - times[-1]) / np.timedelta64(1, "us")) <= 1


def test_a_band_beyond_the_calibrations_is_named(rec, cals):
    box, sensors = cals
    chain = units.Chain(rec, 3, box, sensors)
    with pytest.warns(units.UnitsWarning, match="extrapolated"):
        chain.converter("deconvolved", fmin=0.005, fmax=30)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert chain.converter("deconvolved", fmin=0.05, fmax=30).band == (0.05, 30.0)
