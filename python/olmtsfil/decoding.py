"""Samples of time-series records as fractions of full scale, decoded with
numpy exactly as the library's scan reader converts them."""
import numpy as np

FULL_SCALE_STEP = 4.656612873077393e-10  # 2^-31: the library's scale of a sample shifted into the top bytes
_DECODE_BYTES = 1 << 21  # work buffer of one decoding step; stays in cache


def decode_records(buf, first, records, scans, stride, channels, sample_bytes, out):
    """Decodes ``records`` records whose ``scans`` scans start at
    buf[first + r * stride] into ``out`` (records x scans rows, float64) and
    returns ``out``.

    Each sample's three bytes are read, together with the byte before them, as a
    little-endian 32-bit word; clearing that lowest byte leaves the 24-bit value
    shifted left by 8, which the library scales by 2^-31. So the result equals
    its ReadScanDblHT value bit for bit. Needs ``first`` >= 1 for that borrowed
    byte; with samples shorter than 3 bytes the library's own rule applies (the
    following bytes of the scan, zeros past its end)."""
    scan_size = channels * sample_bytes
    rows = out.reshape(records, scans, channels)
    if sample_bytes >= 3:
        words = np.ndarray((records, scans, channels), dtype="<i4", buffer=buf, offset=first - 1,
                           strides=(stride, scan_size, sample_bytes))
        group = max(1, _DECODE_BYTES // max(1, scans * channels * 4))
        work = np.empty((min(group, records), scans, channels), dtype=np.int32)
        for r in range(0, records, group):
            part = work[:min(group, records - r)]
            np.bitwise_and(words[r:r + group], -256, out=part)
            np.multiply(part, FULL_SCALE_STEP, out=rows[r:r + group])
        return out
    starts = np.arange(channels) * sample_bytes
    for r in range(records):
        at = first + r * stride
        padded = np.zeros((scans, scan_size + 3), dtype=np.uint8)
        padded[:, :scan_size] = buf[at:at + scans * scan_size].reshape(scans, scan_size)
        word = np.zeros((scans, channels, 4), dtype=np.uint8)
        for j in range(3):
            word[:, :, 1 + j] = padded[:, starts + j]
        np.multiply(word.view("<i4")[:, :, 0], FULL_SCALE_STEP, out=rows[r])
    return out


def decode_samples(raw, channels, sample_bytes):
    """Converts scans of 24-bit two's-complement little-endian samples, a
    (n, channels x sample_bytes) uint8 array, to fractions of full scale exactly
    as the library does (value / 2^23; only the first three bytes of a sample
    count). Returns an (n, channels) float64 array."""
    raw = np.asarray(raw, dtype=np.uint8)
    n = raw.shape[0]
    scan_size = channels * sample_bytes
    out = np.empty((n, channels), dtype=np.float64)
    if n == 0 or channels == 0:
        return out
    buf = np.empty(n * scan_size + 1, dtype=np.uint8)
    buf[1:] = raw.reshape(-1)
    return decode_records(buf, 1, 1, n, n * scan_size, channels, sample_bytes, out)
