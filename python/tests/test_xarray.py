"""Streams as xarray Datasets: one per contiguous run, on true times, with the
attributes a processing code reads, through netCDF and back, eager and lazy."""
import numpy as np
import pytest

xr = pytest.importorskip("xarray")


def sample_stream(sample, number):
    return next(s for s in sample["streams"] if s["stream"] == number)


def whole_stream(rec, number):
    s = rec.stream(number)
    s.rewind()
    scans = s.read(None, stop_at_gap=False)
    s.rewind()
    return scans


@pytest.mark.parametrize("number", [2, 3, 4])
def test_counts_one_dataset_per_run_holding_every_scan_at_its_stamp(rec, sample, number):
    scans = whole_stream(rec, number)
    datasets = rec.to_xarray(number)
    assert len(datasets) == len(scans.segments) == sample_stream(sample, number)["bursts"]
    names = [n.lower() for n in rec.channel_names]
    for ds, seg in zip(datasets, scans.segments):
        assert list(ds.data_vars) == names
        assert ds.time.dtype == np.dtype("datetime64[ns]")
        assert ds.sizes["time"] == seg.rows
        expected = scans.times()[seg.first_row:seg.first_row + seg.rows]
        np.testing.assert_array_equal(ds.time.values, expected)
        for j, name in enumerate(names):
            assert ds[name].dtype == np.int32
            counts = scans.data[seg.first_row:seg.first_row + seg.rows, j] * 2.0 ** 23
            np.testing.assert_array_equal(ds[name].values, counts)
        assert ds.attrs["delay_applied"] == 0
        assert ds.attrs["units_mode"] == "counts"
        assert ds.attrs["sample_rate"] == scans.sample_rate
        assert ds.attrs["start"].startswith(str(expected[0]))
    # Runs follow each other without overlap: a gap lies between every pair.
    for before, after in zip(datasets, datasets[1:]):
        assert after.time.values[0] > before.time.values[-1] + np.timedelta64(int(1e9 / scans.sample_rate), "ns")
    assert [ds.attrs["run"] for ds in datasets] == ["%03d" % (i + 1) for i in range(len(datasets))]


def test_attributes_describe_every_channel(rec, cals):
    box, sensors = cals
    ds = rec.to_xarray(3, units="nominal", box=box, sensor=sensors)[0]
    params = rec.params
    assert ds.attrs["station"] == params["SITE"].strip()
    assert ds.attrs["stream"] == 3
    for name in ("ex", "ey"):
        attrs = ds[name].attrs
        assert attrs["type"] == "electric" and attrs["units"] == "mV/km"
        assert attrs["dipole_length"] == pytest.approx(params["E%sLN" % name[1].upper()])
        assert attrs["channel_number"] == rec.channel_numbers[name.capitalize()]
    assert ds["ey"].attrs["measurement_azimuth"] == pytest.approx(params.get("EYAZ", 90.0) % 360)
    for name in ("hx", "hy", "hz"):
        attrs = ds[name].attrs
        assert attrs["type"] == "magnetic" and attrs["units"] == "nT"
        assert attrs["sensor_serial"] == sensors[name.capitalize()].params["HSN"].strip()
    assert ds["hz"].attrs["measurement_tilt"] == 90.0
    assert ds["hx"].attrs["component"] == "hx"


@pytest.mark.parametrize("units", ["nominal", "deconvolved"])
def test_field_stands_at_stamp_minus_delay_with_the_librarys_values(rec, cals, units):
    box, sensors = cals
    ds = rec.to_xarray(3, units=units, box=box, sensor=sensors)[0]
    s = rec.stream(3)
    s.rewind()
    expected = rec.read(None, stream=3, units=units, box=box, sensor=sensors)
    s.rewind()
    assert ds.attrs["delay_applied"] == 1
    assert ds.attrs["delay_s"] == pytest.approx(expected.delay)
    shift = np.timedelta64(int(np.rint(expected.delay * 1e9)), "ns")
    np.testing.assert_array_equal(ds.time.values, expected.times() - shift)
    for j, name in enumerate(rec.channel_names):
        np.testing.assert_array_equal(ds[name.lower()].values, expected.data[:, j])


def test_units_are_checked(rec, cals):
    with pytest.raises(ValueError):
        rec.to_xarray(3, units="mV/km")
    with pytest.raises(ValueError):
        rec.to_xarray(3, units="nominal")  # no box
    with pytest.raises(TypeError):
        rec.to_xarray(3, units="counts", frobnicate=1)


@pytest.mark.parametrize("engine", ["netcdf4", "h5netcdf"])
def test_netcdf_reads_back_equal(rec, cals, tmp_path, engine):
    pytest.importorskip("netCDF4" if engine == "netcdf4" else "h5netcdf")
    box, sensors = cals
    for units, extra in (("counts", {}), ("deconvolved", {"box": box, "sensor": sensors})):
        for i, ds in enumerate(rec.to_xarray(3, units=units, **extra)):
            path = tmp_path / ("%s-%s-%d.nc" % (engine, units, i))
            ds.to_netcdf(path, engine=engine)
            with xr.open_dataset(path, engine=engine) as back:
                back.load()
                xr.testing.assert_identical(back, ds)
                assert back.time.dtype == np.dtype("datetime64[ns]")
                assert back.attrs == ds.attrs
                for name in ds.data_vars:
                    assert back[name].dtype == ds[name].dtype
                    assert back[name].attrs == ds[name].attrs


@pytest.mark.parametrize("units", ["counts", "fraction", "nominal", "deconvolved"])
def test_lazy_datasets_equal_the_eager_ones(rec, cals, units):
    pytest.importorskip("dask")
    box, sensors = cals
    extra = {"box": box, "sensor": sensors} if units in ("nominal", "deconvolved") else {}
    if units == "deconvolved":
        extra["block"] = 16384  # several blocks a chunk
    eager = rec.to_xarray(3, units=units, **extra)
    lazy = rec.to_xarray(3, units=units, chunks=1 << 20, **extra)
    assert len(lazy) == len(eager)
    for a, b in zip(lazy, eager):
        assert a.ex.chunks is not None  # dask-backed until computed
        assert a.attrs == b.attrs
        if units == "nominal":
            xr.testing.assert_allclose(a.compute(), b, rtol=1e-12, atol=0)
        else:
            xr.testing.assert_identical(a.compute(), b)
