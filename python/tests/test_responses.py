import ctypes
import io

import numpy as np
import pytest

import olmtsfil
from olmtsfil import _native
from olmtsfil.plot import bode, time_series

FREQS = np.logspace(-2, 2.5, 23)


def c_response(function, *args, channels):
    """One frequency through the bare export, as a C caller gets it."""
    resp = (_native.Complex * 12)()
    aux = (ctypes.c_double * 12)()
    status = function(*args, resp, aux)
    return status, np.array([complex(v.re, v.im) for v in resp[:channels]]), np.array(aux[:channels])


def test_responses_equal_the_c_interface(rec, cals):
    box, sensors = cals
    library = _native.lib()
    stream = 3
    response = olmtsfil.box_response(box, rec, stream, FREQS)
    assert response.values.shape == response.aux.shape == (len(FREQS), 5)
    for i, f in enumerate(FREQS):
        status, values, aux = c_response(library.CalcBoxRespHT, box._h, rec._h, stream, f, channels=5)
        assert status == 0
        assert np.array_equal(response.values[i], values) and np.array_equal(response.aux[i], aux)
    coil = sensors["Hx"]
    response = olmtsfil.sensor_response(coil, rec, FREQS)
    assert response.values.shape == (len(FREQS), coil.channel_count)
    for i, f in enumerate(FREQS):
        status, values, aux = c_response(library.CalcSensorRespHT, coil._h, rec._h, f,
                                         channels=coil.channel_count)
        assert status == 0
        assert np.array_equal(response.values[i], values) and np.array_equal(response.aux[i], aux)
    # A scalar frequency is an array of one.
    assert olmtsfil.sensor_response(coil, rec, 1.0).values.shape == (1, coil.channel_count)


def test_stages_stay_apart(rec, cals):
    box, sensors = cals
    stages = olmtsfil.response_stages(rec, 3, FREQS, box=box, sensor=sensors)
    assert stages.channels == ["Ex", "Ey", "Hx", "Hy", "Hz"]
    # The library's box response carries the delay's linear phase; the stage does not.
    as_given = olmtsfil.box_response(box, rec, 3, FREQS).values
    shift = np.exp(-2j * np.pi * FREQS * stages.delay.seconds)[:, np.newaxis]
    assert np.allclose(stages.box * shift, as_given, rtol=1e-12, atol=0)
    assert np.allclose(np.abs(stages.box), np.abs(as_given), rtol=1e-14, atol=0)
    kept = olmtsfil.response_stages(rec, 3, FREQS, box=box, sensor=sensors, delay_in_box=True)
    assert np.array_equal(kept.box, as_given)
    for name, coil in sensors.items():
        column = stages.channels.index(name)
        assert np.array_equal(stages.sensor[:, column], olmtsfil.sensor_response(coil, rec, FREQS).values[:, 0])
    # The electric channels' first stage is the dipole: 100 m, 1e-6 V per mV/km and metre.
    assert np.array_equal(stages.sensor[:, :2], np.full((len(FREQS), 2), 100 * 1e-6 + 0j))
    assert np.array_equal(stages.total[:, :2], stages.sensor[:, :2] * stages.box[:, :2])
    assert stages.units == ["mV/km", "mV/km", "nT", "nT", "nT"]
    assert np.all(stages.digitiser == 2 ** 23 / 6.4)
    assert np.array_equal(stages.total[:, 2:], stages.sensor[:, 2:] * stages.box[:, 2:])
    # The delay is a time shift beside the responses, in samples and seconds.
    delay = ctypes.c_double()
    assert _native.lib().GetAcqDelayHT(rec._h, 3, ctypes.byref(delay)) == 0
    assert stages.delay.samples == delay.value
    assert stages.delay.seconds == pytest.approx(delay.value / 150.0)
    assert stages.delay == rec.delay(3)


def test_fap_tables_name_units_and_rebuild_the_response(rec, cals, tmp_path):
    box, sensors = cals
    stages = olmtsfil.response_stages(rec, 3, FREQS, box=box, sensor=sensors)
    path = tmp_path / "hx.csv"
    table = stages.to_fap(path, "Hx", input_units="nT", output_units="V")
    read, units = olmtsfil.read_fap(path)
    assert units == {"input_units": "nT", "output_units": "V"}
    assert np.array_equal(read, table)
    rebuilt = read[:, 1] * np.exp(1j * read[:, 2])
    assert np.allclose(rebuilt, stages.total[:, 2], rtol=1e-12, atol=0)
    assert np.all(np.abs(read[:, 2]) <= np.pi)
    text = io.StringIO()
    olmtsfil.to_fap(text, [1.0, 2.0], [1j, -1.0], input_units="mV/km", output_units="counts")
    rows = "frequency_hz,amplitude,phase_rad\n1.0,1.0,1.5707963267948966\n2.0,1.0,3.141592653589793\n"
    assert rows in text.getvalue()
    with pytest.raises(ValueError):
        stages.to_fap(path, "Hx", input_units="", output_units="V")
    with pytest.raises(ValueError):
        stages.to_fap(path, "Ex", stage="digitiser", input_units="V", output_units="counts")


def test_response_failures_raise_with_code(rec, cals, sample):
    box, sensors = cals
    with pytest.raises(olmtsfil.OutOfCalibrationRangeError) as error:
        olmtsfil.sensor_response(sensors["Hx"], rec, [1.0, 1e9])
    assert error.value.code == 1229 and "1000000000.0 Hz" in str(error.value)
    with pytest.raises(olmtsfil.OlmtsError) as error:
        olmtsfil.box_response(sensors["Hx"], rec, 3, FREQS)  # a sensor holds no box model
    assert error.value.code != 0
    with pytest.raises(olmtsfil.OpenError) as error:
        olmtsfil.Calibration.sensor(sample["box_calibration"])  # no ".CLC" of that name
    assert error.value.code == 1239
    with pytest.raises(olmtsfil.OpenError) as error:
        olmtsfil.Calibration(sample["sensor_calibrations"][0], 1)  # no ".CLB" either
    with pytest.raises(ValueError):
        olmtsfil.Calibration.sensor(sample["sensor_calibrations"][0], kind=1)


def test_nominal_gains_equal_the_c_interface(rec):
    box, sensor = rec.nominal_gains()
    library = _native.lib()
    for function, gains in ((library.CalcBoxNomGainHT, box), (library.CalcSensorNomGainHT, sensor)):
        expected = (ctypes.c_double * 12)()
        assert function(rec._h, expected) == 0
        assert gains.tolist() == expected[:]
    assert box[0] == 10 / rec.params["FSCV"]  # Ex: "EGN" over the full-scale voltage


def test_plots_draw_every_stage_and_channel(rec, cals, tmp_path):
    box, sensors = cals
    stages = olmtsfil.response_stages(rec, 3, FREQS, box=box, sensor=sensors)
    figure = bode(stages)
    amplitude = figure.axes[0]
    # the box, the first stage (dipole or sensor) and the total of all five channels
    assert len(amplitude.get_lines()) == 5 + 5 + 5
    figure.savefig(tmp_path / "bode.png")
    scans = rec.read(300, stream=3)
    figure = time_series(scans, rec.channel_names)
    assert len(figure.axes) == 5
    figure.savefig(tmp_path / "scans.png")
    assert (tmp_path / "bode.png").stat().st_size > 10000 and (tmp_path / "scans.png").stat().st_size > 10000
