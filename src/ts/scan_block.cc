// Block reading of scans: the same records and values as scan-by-scan reading,
// converted a record at a time so that a caller crossing a language boundary
// pays one call per block instead of one per scan.
#include <algorithm>
#include <bit>
#include <cstring>

#include "ts/recording.h"
#include "ts/sample.h"

namespace olmtsfil {
namespace {

// Sign-extended 24-bit value: the scan reader's fraction times 2^23, exactly.
inline int32_t SampleCount(const uint8_t* scan, uint32_t scan_size, uint32_t offset) {
  return static_cast<int32_t>(BoundedSampleFraction(scan, scan_size, offset) * 8388608.0);
}

// `samples` packed 3-byte samples from `p` as fractions, bit for bit as
// SampleFraction. On little-endian hosts every sample but the first is taken as
// the 32-bit word ending with it (its byte before is the previous sample's, and
// inside the buffer), its lowest byte cleared: one load instead of three.
inline void ConvertPacked(const uint8_t* p, std::size_t samples, double* out) {
  if (samples == 0) return;
  out[0] = SampleFraction(p);
  if constexpr (std::endian::native == std::endian::little) {
    for (std::size_t i = 1; i < samples; ++i) {
      uint32_t word;
      std::memcpy(&word, p + 3 * i - 1, sizeof word);
      out[i] = static_cast<double>(static_cast<int32_t>(word & 0xFFFFFF00u)) * 4.656612873077393e-10;
    }
  } else {
    for (std::size_t i = 1; i < samples; ++i) out[i] = SampleFraction(p + 3 * i);
  }
}

}  // namespace

Status Recording::ReadScanBlock(int k, bool stop_at_gap, int64_t max_scans, double* values, int32_t* counts,
                                int64_t* scans_read) {
  StreamState& s = mutable_stream(k);
  *scans_read = 0;
  if (s.open_status != Status::kOk) return Status::kBadStream;
  const uint32_t channels = s.first_tag.Nchn();
  const uint32_t scan_size = s.first_tag.ScanSize();
  const uint32_t sample_size = s.first_tag.Lsmp();
  int64_t done = 0;
  Status stop = Status::kOk;
  while (done < max_scans) {
    // A record boundary: the next record may not join. A failed or ended stream
    // is left to the scan reader, which reports its own status.
    if (stop_at_gap && done > 0 && s.scans_left == 0 && s.next_status == Status::kOk && Gap(k) != Status::kOk) {
      stop = Status::kGap;
      break;
    }
    int32_t flag = 0;
    const uint8_t* scan = nullptr;
    if (Status read = NextScan(k, &flag, &scan); read != Status::kOk) {
      stop = read;
      break;
    }
    // NextScan handed out one scan; the rest of its record follows it in the buffer.
    const int64_t n = std::min<int64_t>(1 + s.scans_left, max_scans - done);
    if (values != nullptr && sample_size == 3 && scan_size == channels * 3) {
      // Packed 3-byte samples: the scans of the record are one run of samples,
      // every one inside the buffer, converted without the per-sample bound test.
      double* out = values + static_cast<std::size_t>(done) * channels;
      const std::size_t samples = static_cast<std::size_t>(n) * channels;
      ConvertPacked(scan, samples, out);
    } else {
      for (int64_t i = 0; i < n; ++i, scan += scan_size) {
        const std::size_t row = static_cast<std::size_t>(done + i) * channels;
        if (values != nullptr) {
          for (uint32_t c = 0; c < channels; ++c)
            values[row + c] = BoundedSampleFraction(scan, scan_size, c * sample_size);
        } else {
          for (uint32_t c = 0; c < channels; ++c) counts[row + c] = SampleCount(scan, scan_size, c * sample_size);
        }
      }
    }
    s.scan_cursor += static_cast<uint64_t>(n - 1) * scan_size;
    s.scans_left -= static_cast<int32_t>(n - 1);
    done += n;
  }
  *scans_read = done;
  return stop;
}

}  // namespace olmtsfil
