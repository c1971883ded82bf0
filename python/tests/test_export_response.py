"""The response station.xml declares, evaluated from the document alone (stage
by stage, at the frequencies it lists), against the library's total response."""
import os
import subprocess

import numpy as np
import pytest

import olmtsfil

from conftest import built_program

etree = pytest.importorskip("lxml.etree")
NS = {"s": "http://www.fdsn.org/xml/station/1"}


def exported(sample, calibrations, out):
    box, sensors = calibrations
    args = [built_program("tools", "olmts"), "export", sample["base"], "--concat", "--out", str(out), "--box", box]
    for sensor in sensors:
        args += ["--sensor", sensor]
    result = subprocess.run(args, capture_output=True, text=True)
    if result.returncode != 0 and "not available" in result.stderr:
        pytest.skip("olmts was built without the export")
    assert result.returncode == 0, result.stderr
    return etree.parse(os.path.join(str(out), "station.xml"))


def stage_response(stage, freqs):
    """One stage's complex response at `freqs`, from its elements only."""
    gain = float(stage.findtext("s:StageGain/s:Value", namespaces=NS))
    listed = stage.find("s:ResponseList", NS)
    if listed is not None:
        table = {}
        for element in listed.findall("s:ResponseListElement", NS):
            f = float(element.findtext("s:Frequency", namespaces=NS))
            amplitude = float(element.findtext("s:Amplitude", namespaces=NS))
            phase = np.radians(float(element.findtext("s:Phase", namespaces=NS)))
            table[f] = amplitude * np.exp(1j * phase)
        return np.array([table[f] for f in freqs]) * gain
    coefficients = stage.find("s:Coefficients", NS)
    assert coefficients is not None, "a stage this export does not write"
    numerator = [float(n.text) for n in coefficients.findall("s:Numerator", NS)]
    denominator = [float(d.text) for d in coefficients.findall("s:Denominator", NS)] or [1.0]
    kind = coefficients.findtext("s:CfTransferFunctionType", namespaces=NS)
    assert kind in ("ANALOG (HERTZ)", "DIGITAL")
    if kind == "DIGITAL":
        rate = float(stage.findtext("s:Decimation/s:InputSampleRate", namespaces=NS))
        z = np.exp(-2j * np.pi * np.asarray(freqs) / rate)
        value = np.polyval(numerator[::-1], z) / np.polyval(denominator[::-1], z)
    else:
        s = 2j * np.pi * np.asarray(freqs)
        value = np.polyval(numerator[::-1], s) / np.polyval(denominator[::-1], s)
    return value * gain


def channel_listed_frequencies(channel):
    lists = channel.findall("s:Response/s:Stage/s:ResponseList", NS)
    assert lists, "every channel has a measured stage"
    grids = [[float(f) for f in r.xpath("s:ResponseListElement/s:Frequency/text()", namespaces=NS)] for r in lists]
    for grid in grids[1:]:
        assert grid == grids[0], "the measured stages of a channel share their frequencies"
    return grids[0]


def test_document_response_equals_the_librarys_total(sample, calibrations, tmp_path):
    doc = exported(sample, calibrations, tmp_path / "out")
    box_path, sensor_paths = calibrations
    channels = doc.findall(".//s:Channel", NS)
    assert channels
    rates = {}
    for channel in channels:
        rates.setdefault(float(channel.findtext("s:SampleRate", namespaces=NS)), []).append(channel)
    with olmtsfil.Recording(sample["base"], concatenate=True) as rec, olmtsfil.Calibration.box(box_path) as box:
        sensors = [olmtsfil.Calibration.sensor(p) for p in sensor_paths]
        try:
            by_rate = {s.tag_rate: s.number for s in (rec.stream(k) for k in rec.streams if k)}
            for rate, group in rates.items():
                chain = olmtsfil.Chain(rec, by_rate[rate], box, dict(zip(("Hx", "Hy", "Hz"), sensors)))
                numbers = {ch.number: j for j, ch in enumerate(chain.channels)}
                for channel in group:
                    number = int(channel.findtext("s:Description", namespaces=NS).rsplit(" ", 1)[-1])
                    freqs = channel_listed_frequencies(channel)
                    assert max(freqs) == pytest.approx(rate / 2)
                    product = np.ones(len(freqs), dtype=complex)
                    for stage in channel.findall("s:Response/s:Stage", NS):
                        product *= stage_response(stage, freqs)
                    library, _ = chain.response(freqs)
                    expected = library[:, numbers[number]]
                    np.testing.assert_allclose(product, expected, rtol=1e-6, atol=0,
                                               err_msg=channel.get("code") + " at %g Hz" % rate)
                    # The sensitivity is the total at its stated frequency.
                    f0 = float(channel.findtext("s:Response/s:InstrumentSensitivity/s:Frequency", namespaces=NS))
                    value = float(channel.findtext("s:Response/s:InstrumentSensitivity/s:Value", namespaces=NS))
                    assert value == pytest.approx(abs(chain.response([f0])[0][0, numbers[number]]), rel=1e-9)
        finally:
            for sensor in sensors:
                sensor.close()


def test_measured_stages_list_their_calibration_frequencies_and_the_band_to_nyquist(sample, calibrations, tmp_path):
    doc = exported(sample, calibrations, tmp_path / "out")
    box_path, sensor_paths = calibrations
    with olmtsfil.Recording(sample["base"], concatenate=True) as rec, olmtsfil.Calibration.box(box_path) as box:
        sensors = [olmtsfil.Calibration.sensor(p) for p in sensor_paths]
        try:
            by_rate = {s.tag_rate: s.number for s in (rec.stream(k) for k in rec.streams if k)}
            for channel in doc.findall(".//s:Channel", NS):
                rate = float(channel.findtext("s:SampleRate", namespaces=NS))
                number = int(channel.findtext("s:Description", namespaces=NS).rsplit(" ", 1)[-1])
                freqs = channel_listed_frequencies(channel)
                assert freqs == sorted(set(freqs))
                # The digital filters' fall is described up to Nyquist.
                assert sum(f >= rate / 20 for f in freqs) >= 40
                chain = olmtsfil.Chain(rec, by_rate[rate], box, dict(zip(("Hx", "Hy", "Hz"), sensors)))
                ch = next(c for c in chain.channels if c.number == number)
                # Listed where every calibration of the channel is measured, up to Nyquist:
                # no stage is extrapolated below its records.
                measured = [stage for stage in ch.stages if stage.fmax > 0]
                low = max(stage.fmin for stage in measured)
                assert min(freqs) == low
                for stage in measured:
                    if low <= stage.fmax <= rate / 2:
                        assert stage.fmax in freqs, (channel.get("code"), stage.name, stage.fmax)
        finally:
            for sensor in sensors:
                sensor.close()
