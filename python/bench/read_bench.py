"""Reading benchmark: a whole stream of at least 100 MB into numpy.

Compares, in one run and on the same file:
- bulk:      Recording.read() (block reads through olmts_read_scans_dbl), into
             a new array and (out=) into one that earlier reads filled;
- scanwise:  one ReadScanDblHT call per scan through ctypes, as a plain ctypes
             caller reads (timed on a subset and extrapolated when slow);
- C++ loop:  the baseline loop of bench/reading_bench.cc, when that program is
             built (pass --cpp-bench, or it is looked for in the build folder).
Figures are reported as ratios against the bulk read of the same run.

Usage:
  /usr/bin/python3 python/bench/read_bench.py [--build build] [--megabytes 120]
      [--scanwise-scans 2000000] [--repeat 3] [--cpp-bench PATH]
The recording is written by the build's olmtsfil_python_bench_recording target
(the project's test-data writer) into a temporary folder.
"""
import argparse
import ctypes
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def build_recording(build, directory, megabytes):
    subprocess.run(["cmake", "--build", build, "--target", "olmtsfil_python_bench_recording"], check=True,
                   stdout=subprocess.DEVNULL)
    program = os.path.join(build, "python", "olmtsfil_python_bench_recording")
    out = subprocess.run([program, directory, str(megabytes)], check=True, capture_output=True, text=True).stdout
    base, records, scans_per_record, channels = out.split()
    return base, int(records), int(scans_per_record), int(channels)


def best_of(repeat, function):
    times = []
    result = None
    for _ in range(repeat):
        start = time.perf_counter()
        result = function()
        times.append(time.perf_counter() - start)
    return min(times), result


def find_cpp_bench(build, explicit):
    if explicit:
        return explicit
    for pattern in ("bench/*reading_bench*", "bench/*read*bench*"):
        for path in sorted(glob.glob(os.path.join(build, pattern))):
            if os.access(path, os.X_OK) and os.path.isfile(path):
                return path
    return None


# The scan-reading benchmarks of bench/reading_bench.cc, on a stream of the same layout.
CPP_FILTER = "BM_BaselineBlockReadAndConvert|BM_ReadScanDblHT|BM_ReadScanHT"


def run_cpp_bench(path):
    """items_per_second (scans per second) of the scan-reading benchmarks."""
    out = subprocess.run([path, "--benchmark_format=json", "--benchmark_filter=" + CPP_FILTER], check=True,
                         capture_output=True, text=True).stdout
    report = json.loads(out)
    return {b["name"]: b.get("items_per_second") for b in report.get("benchmarks", [])}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.environ.get("OLMTSFIL_BUILD_DIR", os.path.join(ROOT, "build")))
    parser.add_argument("--megabytes", type=float, default=108.0)
    parser.add_argument("--scanwise-scans", type=int, default=500_000,
                        help="scans read one call at a time before extrapolating (0: the whole stream)")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--cpp-bench", default=None, help="path of the built reading benchmark program")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    os.environ.setdefault("OLMTSFIL_LIBRARY", os.path.join(build, "src", "libolmtsfil.so"))
    sys.path.insert(0, os.path.join(ROOT, "python"))
    import numpy as np
    import olmtsfil
    from olmtsfil import _native

    work = tempfile.mkdtemp(prefix="olmtsfil-bench-")
    try:
        base, records, per_record, channels = build_recording(build, work, args.megabytes)
        size = os.path.getsize(base + ".TS1")
        total_scans = records * per_record
        print("stream: %s.TS1, %.1f MB, %d records, %d scans of %d channels" % (base, size / 1e6, records,
                                                                                   total_scans, channels))

        def bulk():
            with olmtsfil.Recording(base) as rec:
                return rec.read(stream=1, stop_at_gap=False).data

        bulk_time, data = best_of(args.repeat, bulk)
        assert data.shape == (total_scans, channels), data.shape
        bulk_rate = total_scans / bulk_time

        # The same read into an array that earlier reads have filled: the new
        # array's first fill by the system (page faults and zeroing) left out.
        reused = np.empty_like(data)

        def bulk_reused():
            with olmtsfil.Recording(base) as rec:
                return rec.read(stream=1, stop_at_gap=False, out=reused).data

        reused_time, again = best_of(args.repeat, bulk_reused)
        assert np.array_equal(again, data), "reads into a new and a reused array differ"
        reused_rate = total_scans / reused_time

        library = _native.lib()
        subset = total_scans if args.scanwise_scans <= 0 else min(args.scanwise_scans, total_scans)

        def scanwise():
            handle = library.TSOpenHT(os.fsencode(base))
            values = (ctypes.c_double * 12)()
            flag = ctypes.c_int32()
            read = library.ReadScanDblHT
            out = np.empty((subset, channels))
            try:
                for i in range(subset):
                    if read(handle, 1, ctypes.byref(flag), values) != 0:
                        raise RuntimeError("scan %d not read" % i)
                    out[i] = values[:channels]
            finally:
                library.TSCloseHT(ctypes.byref(handle))
            return out

        scan_time, scans = best_of(args.repeat, scanwise)
        assert np.array_equal(scans, data[:subset]), "bulk and scan-by-scan reads differ"
        scan_rate = subset / scan_time

        print("bulk read (Recording.read):           %12.0f scans/s  (%.3f s for the stream, %.0f MB/s)"
              % (bulk_rate, bulk_time, size / bulk_time / 1e6))
        print("bulk read into a reused array (out=): %12.0f scans/s  (%.3f s)" % (reused_rate, reused_time))
        print("scan by scan (ReadScanDblHT, ctypes): %12.0f scans/s  (%d scans timed%s)"
              % (scan_rate, subset, ", extrapolated: %.1f s for the stream" % (total_scans / scan_rate)
                 if subset < total_scans else ""))
        print("ratio bulk / scan-by-scan:            %12.1f" % (bulk_rate / scan_rate))

        cpp = find_cpp_bench(build, args.cpp_bench)
        if cpp:
            try:
                figures = run_cpp_bench(cpp)
            except (subprocess.CalledProcessError, ValueError) as error:
                print("C++ reading benchmark %s failed: %s" % (cpp, error))
                figures = {}
            for name, rate in figures.items():
                if rate:
                    print("C++ %-33s %12.0f scans/s; bulk Python / this: %.2f (reused array: %.2f)"
                          % (name + ":", rate, bulk_rate / rate, reused_rate / rate))
        else:
            print("C++ reading benchmark not built (configure with -DOLMTSFIL_BUILD_BENCH=ON, or pass --cpp-bench)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
