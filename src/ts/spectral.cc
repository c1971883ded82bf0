// Spectral records of stream 0: one scan per Fourier coefficient, real and
// imaginary part per channel, in a fixed cycle over the levels of a decimation
// cascade. Each cycle carries one group per level LEVTP ... LEVAL and one group of
// a deeper level chosen by the window counter (LEVAL + 1 every second cycle,
// LEVAL + 2 every fourth, ...).
#include <cstdint>

#include "common/byte_layouts.h"
#include "ts/recording.h"
#include "ts/sample.h"

namespace olmtsfil {
namespace {

int32_t PowerOfTwo(int64_t exponent) {
  if (exponent < 0 || exponent >= 32) return 0;
  return static_cast<int32_t>(uint32_t{1} << exponent);
}

// Filler scans (first sample 00 00 80, the most negative value) carry no coefficient.
bool IsFiller(const uint8_t* scan, uint32_t scan_size) {
  constexpr const uint8_t(&kFiller)[3] = layout::spectral::kFillerSample;
  return scan_size >= 3 && scan[0] == kFiller[0] && scan[1] == kFiller[1] && scan[2] == kFiller[2];
}

int LowestSetBit(uint32_t value) {
  int bit = 0;
  while ((value & 1u) == 0) {
    value >>= 1;
    ++bit;
  }
  return bit;
}

}  // namespace

Status Recording::LocateDftValue(int32_t windx, int32_t pos, int32_t* window, int32_t* level,
                                 int32_t* freq_index) const {
  const StreamState& s = stream(0);
  if (s.open_status != Status::kOk) return Status::kBadStream;
  const int32_t levtp = s.first_tag.Levtp(), leval = s.first_tag.Leval();
  const int32_t nfrqt = s.first_tag.Nfrqt(), nfrqd = s.first_tag.Nfrqd();
  const int32_t cycle = dft_.cycle_length;
  // The bits of the window number below bit LEVAL + 1 must be exactly bit LEVTP.
  if (((windx & dft_.level_mask) | dft_.base_bit) != windx) return Status::kBadWindow;
  // Without coefficients per level the cycle cannot be divided into levels.
  if (nfrqd == 0 || cycle <= 0) return Status::kBadWindow;

  // Window arithmetic wraps in 32 bits, as the recorder's counter does.
  uint32_t w = static_cast<uint32_t>(windx & dft_.level_mask) +
               static_cast<uint32_t>(pos / cycle) * static_cast<uint32_t>(dft_.level_step);
  const int32_t f = pos % cycle;
  if (f < cycle - nfrqd) {
    int32_t l = (f - nfrqt + nfrqd) / nfrqd + levtp;
    if (l < 0) l = 0;
    *window = static_cast<int32_t>(w | static_cast<uint32_t>(PowerOfTwo(l)));
    *level = l;
    *freq_index = f;
  } else {
    w += static_cast<uint32_t>(dft_.level_step);
    const int32_t l = LowestSetBit(w | (uint32_t{1} << 24));
    *window = static_cast<int32_t>(w);
    *level = l;
    *freq_index = f + (l - leval - 1) * nfrqd;
  }
  return Status::kOk;
}

Status Recording::ReadDftScan(int32_t* record_flag, int32_t* window, int32_t* level, int32_t* freq_index,
                              double* values) {
  int32_t unused_window, unused_level, unused_index;
  if (window == nullptr) window = &unused_window;
  if (level == nullptr) level = &unused_level;
  if (freq_index == nullptr) freq_index = &unused_index;
  *record_flag = 0;

  const StreamState& s = stream(0);
  const uint32_t scan_size = s.first_tag.ScanSize();
  const uint8_t* scan = nullptr;
  Status status;
  do {
    status = NextScan(0, record_flag, &scan);
  } while (status == Status::kOk && IsFiller(scan, scan_size));
  if (status != Status::kOk) return status;

  const int32_t pos = static_cast<int32_t>(s.last_tag.Scnt()) - s.scans_left - 1;
  int32_t w = 0, l = 0, index = 0;
  status = LocateDftValue(s.last_tag.Windx(), pos, &w, &l, &index);
  if (status != Status::kOk) return status;
  *window = w;
  *level = l;
  *freq_index = index;

  if (*record_flag == 0) {
    const int32_t nfrqt = s.last_tag.Nfrqt(), nfrqd = s.last_tag.Nfrqd();
    if (l != 0 && nfrqd != 0) {
      const int32_t r = (index - nfrqt + nfrqd) % nfrqd;
      if (r == 0)
        *record_flag = 2;
      else if (r == nfrqd - 1)
        *record_flag = -2;
    } else if (l == 0) {
      if (index == 0)
        *record_flag = 2;
      else if (index == nfrqt - 1)
        *record_flag = -2;
    }
  }

  const uint32_t sample_size = s.last_tag.Lsmp();
  const uint32_t half = sample_size / 2;
  for (uint32_t i = 0; i < s.last_tag.Nchn(); ++i) {
    values[2 * i] = BoundedSampleFraction(scan, scan_size, i * sample_size);
    values[2 * i + 1] = BoundedSampleFraction(scan, scan_size, i * sample_size + half);
  }

  // Trailing fillers of the record go with this coefficient, so that the next call
  // starts on a coefficient or a new record.
  while (s.scans_left > 0 && IsFiller(s.record_buffer.get() + s.scan_cursor, scan_size)) {
    status = NextScan(0, record_flag, &scan);
    if (status != Status::kOk) break;
  }
  return status;
}

double Recording::DftFrequency(int32_t freq_index) const {
  const StreamState& s = stream(0);
  if (s.open_status != Status::kOk || freq_index < 0) return 0.0;
  const Tag& t = s.first_tag;
  const int64_t levtp = t.Levtp(), nfrqt = t.Nfrqt(), nfrqd = t.Nfrqd();
  if (nfrqd == 0) return 0.0;
  int64_t level = (freq_index - nfrqt + nfrqd) / nfrqd + levtp;
  if (level < 0) level = 0;
  if (level > 23) return 0.0;
  double scale = 0.0;
  if (t.Wiscn() != 0) {
    const double unit = SpectralRateUnit(t);
    scale = (unit * 0.5 * t.Rate()) / (static_cast<double>(int64_t{1} << level) * t.Wiscn());
  }
  const int64_t j = nfrqd + (level - levtp) * nfrqd + nfrqt - freq_index;
  return static_cast<double>(2 * j - 1) * scale;
}

}  // namespace olmtsfil
