"""Draws the two figures of the README's Python section from the sample
recording written by `olmts sample DIR`:

  /usr/bin/python3 python/examples/figures.py DIR docs/

docs/python-bode.png   box, sensor and total response of stream 3 per channel
docs/python-scans.png  8 s of stream 3 across midnight, into the next day's file
"""
import datetime as dt
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")

import numpy as np  # noqa: E402

import olmtsfil  # noqa: E402
from olmtsfil.plot import bode, time_series  # noqa: E402


def main(sample_dir, out_dir):
    with open(os.path.join(sample_dir, "sample.json")) as f:
        sample = json.load(f)
    os.makedirs(out_dir, exist_ok=True)
    with olmtsfil.Recording(sample["base"], concatenate=True) as rec:
        stream = 3
        rec.seek(dt.datetime(2026, 3, 14, 23, 59, 56), stream=stream)
        scans = rec.read(8 * 150, stream=stream)
        fig = time_series(scans, rec.channel_names, title="Stream 3 (150 Hz) across midnight")
        fig.savefig(os.path.join(out_dir, "python-scans.png"), dpi=72)

        if sample.get("box_calibration"):
            sensors = {name: olmtsfil.Calibration.sensor(path)
                       for name, path in zip(("Hx", "Hy", "Hz"), sample["sensor_calibrations"])}
            with olmtsfil.Calibration.box(sample["box_calibration"]) as box:
                freqs = np.logspace(-3, np.log10(70), 200)
                stages = olmtsfil.response_stages(rec, stream, freqs, box=box, sensor=sensors)
            fig = bode(stages, channels=["Ex", "Hx"],
                       title="Stream 3: box (dashed), sensor (dotted), total (solid); delay %.4f s"
                       % stages.delay.seconds)
            fig.savefig(os.path.join(out_dir, "python-bode.png"), dpi=72)
            for sensor in sensors.values():
                sensor.close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
