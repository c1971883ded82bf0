"""Survey benchmarks (not run in CI), ratios within one run:

- inventory: Survey(DIR) (record tags only: those at the ends of evenly
  spaced runs) and Survey(DIR, verify=True) (every tag) against reading every
  sample of every recording, and the cost per recording;
- export: Survey.export on a local cluster of 2 worker processes against 1;
- lazy: a stream of --lazy-gb GB reduced chunk by chunk (per-channel mean)
  through to_dask, with the peak resident size of the process (the file is
  written into --work and removed afterwards; df is checked first).

Usage: /usr/bin/python3 python/bench/survey_bench.py [--build build] [--work /tmp]
       [--seconds 1200] [--sites 4] [--lazy-gb 4] [--skip-lazy] [--skip-export]
       [--formats mseed,npz]
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def peak_rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--work", default=tempfile.gettempdir())
    parser.add_argument("--sites", type=int, default=4)
    parser.add_argument("--seconds", type=int, default=1200)
    parser.add_argument("--lazy-gb", type=float, default=4.0)
    parser.add_argument("--skip-lazy", action="store_true")
    parser.add_argument("--skip-export", action="store_true")
    parser.add_argument("--formats", default="mseed,npz", help="export formats timed, comma-separated")
    parser.add_argument("--lazy-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    os.environ.setdefault("OLMTSFIL_LIBRARY", os.path.join(build, "src", "libolmtsfil.so"))
    sys.path.insert(0, os.path.join(ROOT, "python"))
    import numpy as np
    import olmtsfil
    import olmtsfil.survey
    tool = os.path.join(build, "tools", "olmts")
    work = tempfile.mkdtemp(prefix="olmtsfil-survey-bench-", dir=args.work)
    try:
        if args.lazy_only:
            return lazy_bench(args, tool, work)
        directory = os.path.join(work, "survey")
        subprocess.run([tool, "sample", "--survey", directory, "--sites", str(args.sites), "--seconds",
                        str(args.seconds)], check=True, stdout=subprocess.DEVNULL)
        size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(directory) for f in fs)

        import pandas  # noqa: F401 -- its import (seconds) is a one-time cost, not the inventory's
        start = time.perf_counter()
        survey = olmtsfil.survey.Survey(directory)
        inventory_s = time.perf_counter() - start
        n = len(survey.recordings)
        start = time.perf_counter()
        olmtsfil.survey.Survey(directory, verify=True)
        verify_s = time.perf_counter() - start

        start = time.perf_counter()
        scans = 0
        for base in survey.recordings:
            try:
                with olmtsfil.Recording(base, concatenate=True) as rec:
                    for k in sorted(rec.streams):
                        if k == 0:
                            continue
                        while True:
                            try:
                                got = rec.read(None, stream=k, stop_at_gap=True)
                            except olmtsfil.OlmtsError:
                                break
                            if len(got.data) == 0:
                                break
                            scans += len(got.data)
            except olmtsfil.OlmtsError:
                pass
        read_s = time.perf_counter() - start
        print("survey: %d recordings, %.1f MB" % (n, size / 1e6))
        print("inventory (tags only): %.3f s, %.1f ms per recording" % (inventory_s, 1e3 * inventory_s / n))
        print("reading all data:      %.3f s (%d scans)" % (read_s, scans))
        print("inventory, every tag:  %.3f s, %.1f ms per recording" % (verify_s, 1e3 * verify_s / n))
        print("inventory speed-up:    %.1fx (every tag: %.1fx)" % (read_s / inventory_s, read_s / verify_s))

        if not args.skip_export:
            from distributed import Client, LocalCluster
            os.environ.setdefault("OLMTSFIL_TOOL", tool)
            for fmt in args.formats.split(","):
                times = {}
                for workers in (1, 2):
                    out = os.path.join(work, "export-%s-%d" % (fmt, workers))
                    # The cluster's start (seconds) is not the export's cost.
                    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                      dashboard_address=None) as cluster, Client(cluster) as client:
                        start = time.perf_counter()
                        results = survey.export(out, format=fmt, scheduler=client, progress=False,
                                                allow_errors=True)
                        times[workers] = time.perf_counter() - start
                        start = time.perf_counter()
                        survey.export(out, format=fmt, scheduler=client, progress=False, allow_errors=True)
                        rerun = time.perf_counter() - start
                    failed = sum(isinstance(r, BaseException) for r in results.values())
                    print("export %s on %d worker(s): %.2f s (%d of %d recordings failed); rerun, all complete: "
                          "%.2f s" % (fmt, workers, times[workers], failed, len(results), rerun))
                print("export %s speed-up 2 vs 1 workers: %.2fx" % (fmt, times[1] / times[2]))

        if not args.skip_lazy:
            # In a process of its own, so that its peak resident size is its own.
            subprocess.run([sys.executable, os.path.abspath(__file__), "--lazy-only", "--build", build, "--work",
                            args.work, "--lazy-gb", str(args.lazy_gb)], check=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def lazy_bench(args, tool, work):
    import numpy as np
    import olmtsfil
    import olmtsfil.survey
    need = args.lazy_gb * 1e9 * 1.1
    free = shutil.disk_usage(work).free
    if free < need:
        print("lazy: skipped, %.1f GB free in %s, %.1f GB needed" % (free / 1e9, work, need / 1e9))
        return
    big = os.path.join(work, "big")
    # One recording: 3 files of the 150 Hz stream of 2282-byte records.
    seconds = int(args.lazy_gb * 1e9 / (3 * 2282))
    subprocess.run([tool, "sample", "--survey", big, "--sites", "1", "--recordings", "1", "--seconds", str(seconds)],
                   check=True,
                   stdout=subprocess.DEVNULL)
    base = os.path.join(big, "site01", "s01a_410a")
    import dask
    before = peak_rss_mb()
    with olmtsfil.Recording(base, concatenate=True) as rec:
        lazy = rec.to_dask(4)
        nbytes = sum(os.path.getsize(f) for f in olmtsfil.survey.set_files(base + ".TS4")[0])
        start = time.perf_counter()
        with dask.config.set(scheduler="threads", num_workers=2):
            mean = lazy.data.mean(axis=0).compute()
        lazy_s = time.perf_counter() - start
    print("lazy: %.2f GB stream, %d chunks, per-channel mean in %.1f s; peak RSS %.0f MB (%.0f MB before)"
          % (nbytes / 1e9, len(lazy.chunks), lazy_s, peak_rss_mb(), before))
    print("  mean", np.round(mean, 6))


if __name__ == "__main__":
    main()
