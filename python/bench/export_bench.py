"""Cost of `olmts export`: a 2-hour 150 Hz five-channel stream exported to
miniSEED (Steim-2) and station.xml against `olmts scans --binary` of the same
stream, wall time and peak resident memory of each process, both measured in
this one run (best of --repeat). Not part of CI.

    python3 python/bench/export_bench.py [--build build] [--hours 2] [--repeat 3]

Wall time includes GNU time's start (the same for every row). The recording is
units_bench.py's: the sample's 150 Hz stream repeated with
advancing record times to the length asked.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from units_bench import ROOT, make_recording  # noqa: E402

TIME = "/usr/bin/time"  # GNU time (scripts/install-deps.sh bench)


def run(args, repeat, sink):
    """Best wall time of `repeat` runs, and the peak RSS (kB) of that run as GNU
    time reports it: a child of this interpreter would inherit its high-water
    mark across exec, so the program is measured through a small parent."""
    best = None
    with tempfile.TemporaryDirectory() as scratch:
        report = os.path.join(scratch, "rss")
        for _ in range(repeat):
            t0 = time.perf_counter()
            with open(sink, "wb") as out, tempfile.TemporaryFile() as errors:
                result = subprocess.run([TIME, "-f", "%M", "-o", report] + args, stdout=out, stderr=errors)
                errors.seek(0)
                err = errors.read()
            elapsed = time.perf_counter() - t0
            if result.returncode != 0:
                raise SystemExit("%s failed:\n%s" % (" ".join(args), err.decode(errors="replace")))
            with open(report) as f:
                peak_kb = int(f.read().split()[-1])
            if best is None or elapsed < best[0]:
                best = (elapsed, peak_kb)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--hours", type=float, default=2.0)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh"), "bench"], check=True)
    tool = os.path.join(args.build, "tools", "olmts")
    directory = tempfile.mkdtemp(prefix="olmts-export-bench-")
    try:
        base, description = make_recording(args.build, directory, args.hours)
        cals = ["--box", description["box_calibration"]]
        for sensor in description["sensor_calibrations"]:
            cals += ["--sensor", sensor]
        out = os.path.join(directory, "out")
        sink = os.path.join(directory, "sink")
        scans = run([tool, "scans", base, "--stream", "3", "--binary"], args.repeat, sink)
        plain = run([tool, "export", base, "--stream", "3", "--out", out + "1"], args.repeat, os.devnull)
        full = run([tool, "export", base, "--stream", "3", "--out", out + "2"] + cals, args.repeat, os.devnull)
        scans_bytes = os.path.getsize(sink)
        mseed_bytes = sum(os.path.getsize(os.path.join(out + "2", f)) for f in os.listdir(out + "2")
                          if f.endswith(".mseed"))
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    rows = scans_bytes // (5 * 8)
    print("stream: %d scans x 5 channels at 150 Hz (%.3g hours)" % (rows, args.hours))
    print("%-34s %7.3f s  peak RSS %6.1f MB" % ("scans --binary (baseline)", scans[0], scans[1] / 1024))
    for name, r in (("export, no calibrations", plain), ("export, box and sensors (response)", full)):
        print("%-34s %7.3f s  peak RSS %6.1f MB  speed %.2fx the baseline's"
              % (name, r[0], r[1] / 1024, scans[0] / r[0]))
    print("miniSEED %.1f MB for %.1f MB of doubles" % (mseed_bytes / 1e6, scans_bytes / 1e6))


if __name__ == "__main__":
    main()
