"""Cost of physical units: a 2-hour 150 Hz five-channel stream read in
"deconvolved" units against a plain "fraction" read of the same stream, time
and peak resident memory, both measured in this one run (each mode in a fresh
process, best of --repeat), wall-clock and CPU time. The deconvolution runs
on --threads threads (0: the machine's cores) and, for comparison, on one.
Not part of CI.

    python3 python/bench/units_bench.py [--build build] [--hours 2] [--repeat 3] [--threads 0]

The recording is the sample's (written by the built `olmts sample`), its
150 Hz stream repeated with advancing record times to the length asked.
"""
import argparse
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def stamp_bytes(seconds):
    t = time.gmtime(seconds)
    return bytes([t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon, t.tm_year % 100, 0, t.tm_year // 100])


def stamp_seconds(raw):
    import calendar
    return calendar.timegm((raw[7] * 100 + raw[5], raw[4], raw[3], raw[2], raw[1], raw[0]))


def make_recording(build, directory, hours):
    sample = os.path.join(directory, "sample")
    subprocess.run([os.path.join(build, "tools", "olmts"), "sample", sample], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(sample, "sample.json")) as f:
        description = json.load(f)
    stream = next(s for s in description["streams"] if s["stream"] == 3)
    blob = b"".join(open(path, "rb").read() for path in stream["files"])
    record = len(blob) // stream["records"]
    records = [blob[i:i + record] for i in range(0, len(blob), record)]
    first = stamp_seconds(records[0][:8])
    wanted = int(hours * 3600 * stream["rate_hz"] / stream["scans_per_record"])
    os.makedirs(os.path.join(directory, "long"))
    base = os.path.join(directory, "long", os.path.basename(description["base"]))
    shutil.copy(description["base"] + ".TBL", base + ".TBL")
    # The other per-stream files stay: without one of them the library reads
    # streams 2-4 by their rate class, as from a shared file.
    for other in (2, 4):
        shutil.copy(description["base"] + ".TS%d" % other, base + ".TS%d" % other)
    with open(base + ".TS3", "wb") as out:
        for i in range(wanted):
            r = records[i % len(records)]
            out.write(stamp_bytes(first + i) + r[8:])  # one record per second
    return base, description


CHILD = r"""
import json, resource, sys, time
sys.path.insert(0, sys.argv[1])
import olmtsfil
mode, base, box, sensors, threads = sys.argv[2], sys.argv[3], sys.argv[4], json.loads(sys.argv[5]), int(sys.argv[6])
with olmtsfil.Recording(base, concatenate=True) as rec:
    kw = {}
    cals = []
    if mode != "fraction":
        kw["box"] = olmtsfil.Calibration.box(box)
        cals = [olmtsfil.Calibration.sensor(s) for s in sensors]
        kw["sensor"] = dict(zip(("Hx", "Hy", "Hz"), cals))
    if mode == "deconvolved":
        kw["threads"] = threads
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    t0, c0 = time.perf_counter(), time.process_time()
    scans = rec.read(None, stream=3, units=mode, **kw)
    elapsed, cpu = time.perf_counter() - t0, time.process_time() - c0
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"seconds": elapsed, "cpu": cpu, "rows": len(scans.data), "peak_kb": peak, "before_kb": before}))
"""


def best_child(child, mode, base, description, repeat, *extra):
    """The fastest of ``repeat`` runs of ``child`` in fresh processes (each
    prints one JSON object with "seconds"), given the package, the mode, the
    recording, its calibrations and ``extra``."""
    best = None
    for _ in range(repeat):
        out = subprocess.run([sys.executable, "-c", child, os.path.join(ROOT, "python"), mode, base,
                              description["box_calibration"], json.dumps(description["sensor_calibrations"])]
                             + [str(e) for e in extra], capture_output=True, text=True)
        if out.returncode != 0:
            raise SystemExit("%s failed:\n%s" % (mode, out.stderr))
        result = json.loads(out.stdout)
        if best is None or result["seconds"] < best["seconds"]:
            best = result
    return best


def run(mode, base, description, repeat, threads=0):
    return best_child(CHILD, mode, base, description, repeat, threads)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--hours", type=float, default=2.0)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--threads", type=int, default=0, help="deconvolution threads (0: the machine's cores)")
    args = parser.parse_args()
    os.environ.setdefault("OLMTSFIL_LIBRARY", os.path.join(args.build, "src", "libolmtsfil.so"))
    directory = tempfile.mkdtemp(prefix="olmts-units-bench-")
    try:
        base, description = make_recording(args.build, directory, args.hours)
        fraction = run("fraction", base, description, args.repeat)
        deconvolved = run("deconvolved", base, description, args.repeat, args.threads)
        single = run("deconvolved", base, description, args.repeat, 1) if args.threads != 1 else None
        nominal = run("nominal", base, description, args.repeat)
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    print("stream: %d scans x 5 channels at 150 Hz (%.3g hours)" % (fraction["rows"], args.hours))
    rows = [("fraction", fraction), ("nominal", nominal), ("deconvolved", deconvolved)]
    if single:
        rows.append(("deconv. 1 thr", single))
    for name, r in rows:
        print("%-13s %7.3f s (cpu %6.3f s)  peak RSS %7.1f MB  (%.2fx the fraction read, cpu %.2fx, RSS %+.1f MB)"
              % (name, r["seconds"], r["cpu"], r["peak_kb"] / 1024, r["seconds"] / fraction["seconds"],
                 r["cpu"] / fraction["cpu"], (r["peak_kb"] - fraction["peak_kb"]) / 1024))


if __name__ == "__main__":
    main()
