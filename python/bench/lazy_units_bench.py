"""Cost of deconvolving lazily: the per-channel mean of a long 150 Hz
five-channel stream in "deconvolved" units, through rec.to_dask (chunk by
chunk, on one thread and on two) against the eager read of the whole stream
(rec.read, then the mean), time and peak resident memory, all measured in this
one run (each in a fresh process, best of --repeat). Not part of CI.

    python3 python/bench/lazy_units_bench.py [--build build] [--hours 8] [--repeat 2] [--chunk-mb 32]

The recording is the one of units_bench.py: the sample's 150 Hz stream repeated
with advancing record times to the length asked, one contiguous run.
"""
import argparse
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

from units_bench import best_child, make_recording  # noqa: E402

CHILD = r"""
import json, resource, sys, time
sys.path.insert(0, sys.argv[1])
import numpy as np
import olmtsfil
mode, base, box, sensors, chunk_mb = sys.argv[2], sys.argv[3], sys.argv[4], json.loads(sys.argv[5]), sys.argv[6]
with olmtsfil.Recording(base, concatenate=True) as rec:
    b = olmtsfil.Calibration.box(box)
    cals = [olmtsfil.Calibration.sensor(s) for s in sensors]
    kw = dict(units="deconvolved", box=b, sensor=dict(zip(("Hx", "Hy", "Hz"), cals)))
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    t0 = time.perf_counter()
    if mode == "eager":
        scans = rec.read(None, stream=3, **kw)
        rows, block = len(scans.data), 0
        mean = scans.data.mean(axis=0)
    else:
        import dask
        lazy = rec.to_dask(3, chunk_bytes=int(float(chunk_mb) * (1 << 20)), **kw)
        rows, block = lazy.data.shape[0], lazy.block
        if mode == "lazy-1":
            mean = lazy.data.mean(axis=0).compute(scheduler="sync")
        else:
            mean = lazy.data.mean(axis=0).compute(scheduler="threads", num_workers=2)
    elapsed = time.perf_counter() - t0
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"seconds": elapsed, "rows": int(rows), "peak_kb": peak, "before_kb": before,
                  "mean": [float(v) for v in mean], "block": int(block)}))
"""


def run(mode, base, description, repeat, chunk_mb):
    return best_child(CHILD, mode, base, description, repeat, chunk_mb)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--hours", type=float, default=8.0)
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--chunk-mb", type=float, default=32.0)
    args = parser.parse_args()
    os.environ.setdefault("OLMTSFIL_LIBRARY", os.path.join(args.build, "src", "libolmtsfil.so"))
    directory = tempfile.mkdtemp(prefix="olmts-lazy-units-bench-")
    try:
        base, description = make_recording(args.build, directory, args.hours)
        results = [(mode, run(mode, base, description, args.repeat, args.chunk_mb))
                   for mode in ("eager", "lazy-1", "lazy-2")]
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    eager = results[0][1]
    lazy = results[1][1]
    print("stream: %d scans x 5 channels at 150 Hz (%.3g hours), one run; blocks of %d scans, chunks of %g MB"
          % (eager["rows"], args.hours, lazy["block"], args.chunk_mb))
    for mode, r in results:
        # The data are the same bit for bit; the sums run in another order.
        off = max(abs(a - b) / max(abs(b), 1e-300) for a, b in zip(r["mean"], eager["mean"]))
        print("%-8s %8.3f s  peak RSS %7.1f MB  (%.2fx the eager time, %.2fx its RSS)  means within %.1e"
              % (mode, r["seconds"], r["peak_kb"] / 1024, r["seconds"] / eager["seconds"],
                 r["peak_kb"] / eager["peak_kb"], off))


if __name__ == "__main__":
    main()
