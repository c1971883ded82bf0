"""The package and the olmts tool agree on what they both report."""
import csv
import datetime as dt
import io
import re
import subprocess

import numpy as np

import olmtsfil

from conftest import built_program


def tool_gaps(base, stream):
    result = subprocess.run([built_program("tools", "olmts"), "gaps", base, "--stream", str(stream)],
                            capture_output=True, text=True, check=True)
    rows = list(csv.DictReader(io.StringIO(result.stdout)))
    count = int(re.search(r"(\d+) gaps? in (\d+) records", result.stderr).group(1))
    return rows, count


def test_tool_and_package_count_gaps_alike_with_non_zero_rate_units(rate_unit_base):
    with olmtsfil.Recording(rate_unit_base) as rec:
        for stream, rate, gap_scans in ((4, 15.0, 75), (5, 10.0, 30)):
            rows, count = tool_gaps(rate_unit_base, stream)
            gaps = rec.gaps(stream)
            assert len(gaps) == count == len(rows) > 0
            assert [g.missing_scans for g in gaps] == [int(r["missing_scans"]) for r in rows] == [gap_scans] * count
            assert [g.record for g in gaps] == [int(r["after_record"]) + 1 for r in rows]
            assert [g.next_start.isoformat() for g in gaps] == [r["next_record"] for r in rows]
            # The rate the gap test counts with is the one times are computed with.
            assert rec.streams[stream].tag_rate == rate
            block = rec.read(None, stream=stream, stop_at_gap=False)
            assert len(block.segments) == count + 1
            for gap, segment in zip(gaps, block.segments):
                assert gap.end_of_previous == segment.start + dt.timedelta(seconds=segment.rows / rate)
            times = block.times()
            steps = np.diff(times[:block.segments[1].first_row]).astype(np.int64)
            assert np.all(np.abs(steps - 1e9 / rate) <= 1)
