"""Plots of response stages and of scans, with matplotlib.

The figures are built on matplotlib.figure.Figure directly, so they work with
any backend and need no display: save them with fig.savefig(path).
"""
import numpy as np
from matplotlib.figure import Figure

_STAGE_STYLES = (("box", "--", "box"), ("sensor", ":", "sensor"), ("total", "-", "total"))


def bode(stages, channels=None, title=None, unwrap=True):
    """Bode plot of the box, sensor and total response per channel: amplitude
    (log-log) above, phase in radians below. ``stages`` is a Stages result;
    ``channels`` a list of component names or channel numbers (default: all).
    Stages that are NaN (no sensor for a channel) are left out."""
    if channels is None:
        columns = list(range(len(stages.channels)))
    else:
        columns = [stages.channels.index(c) if isinstance(c, str) else int(c) - 1 for c in channels]
    fig = Figure(figsize=(8, 6.5), layout="constrained")
    amplitude, phase = fig.subplots(2, 1, sharex=True)
    colours = [amplitude._get_lines.get_next_color() for _ in columns]
    f = stages.frequencies
    for colour, column in zip(colours, columns):
        name = stages.channels[column]
        for stage, style, label in _STAGE_STYLES:
            values = stages.stage(stage)[:, column]
            if not np.all(np.isfinite(values)):
                continue
            angle = np.angle(values)
            if unwrap:
                angle = np.unwrap(angle)
            amplitude.loglog(f, np.abs(values), style, color=colour, label="%s %s" % (name, label))
            phase.semilogx(f, angle, style, color=colour)
    amplitude.set_ylabel("amplitude")
    amplitude.grid(True, which="both", alpha=0.3)
    amplitude.legend(fontsize="small", ncol=max(1, len(columns) // 2 + len(columns) % 2), loc="best")
    phase.set_ylabel("phase [rad]")
    phase.set_xlabel("frequency [Hz]")
    phase.grid(True, which="both", alpha=0.3)
    fig.suptitle(title or "Response stages (box dashed, sensor dotted, total solid)")
    return fig


def time_series(scans, channel_names=None, title=None, sharey=False):
    """Time-series plot of a block of scans (a Scans result), one panel per
    channel, time in seconds from the block's start."""
    data = scans.data
    channels = data.shape[1]
    names = channel_names or ["ch%d" % (i + 1) for i in range(channels)]
    fig = Figure(figsize=(8, 1.4 * channels + 1.0), layout="constrained")
    axes = np.atleast_1d(fig.subplots(channels, 1, sharex=True, sharey=sharey))
    if scans.sample_rate and len(data):
        # True times, so a block read across gaps shows them as breaks.
        times = scans.times()
        t = (times - times[0]) / np.timedelta64(1, "s")
    else:
        t = np.arange(len(data))
    for i, ax in enumerate(axes):
        ax.plot(t, data[:, i], linewidth=0.7)
        ax.set_ylabel(names[i] if i < len(names) else "ch%d" % (i + 1))
        ax.grid(True, alpha=0.3)
    axes[-1].set_xlabel("seconds after %s" % scans.start if scans.start is not None else "scan")
    fig.suptitle(title or "Scans, fractions of full scale")
    return fig
