#include "writer/spectral_writer.h"

#include <stdexcept>

namespace olmtsfil::testdata {
namespace {

// The value whose sample bytes are the filler's, 00 00 80 (the most negative).
constexpr int32_t kFillerValue = -8388608;
static_assert(layout::spectral::kFillerSample[0] == 0x00 && layout::spectral::kFillerSample[1] == 0x00 &&
              layout::spectral::kFillerSample[2] == 0x80);

int LowestSetBit(uint64_t value) {
  int bit = 0;
  while (bit < 63 && ((value >> bit) & 1u) == 0) ++bit;
  return bit;
}

}  // namespace

TagSpec SpectralTag(int levtp, int leval, int nfrqt, int nfrqd, int nchn, int cycles) {
  TagSpec t;
  t.kind = layout::spectral::kRecordKind;
  t.ltag = layout::tag::kMaxSize;
  t.lsmp = 6;
  t.nchn = static_cast<uint8_t>(nchn);
  t.levtp = static_cast<uint8_t>(levtp);
  t.leval = static_cast<uint8_t>(leval);
  t.nfrqt = static_cast<uint8_t>(nfrqt);
  t.nfrqd = static_cast<uint8_t>(nfrqd);
  t.nfreq = static_cast<uint8_t>(nfrqt + (leval - levtp + 1) * nfrqd);
  t.rate = 1024;
  t.wiscn = 64;
  t.windx = 1 << levtp;
  t.scnt = static_cast<uint16_t>(cycles * CycleLength(t));
  return t;
}

int CycleLength(const TagSpec& t) { return (t.leval - t.levtp + 1) * t.nfrqd + t.nfrqt; }

DftPosition PositionInCycle(const TagSpec& t, int32_t windx, int scan) {
  const int cycle_length = CycleLength(t);
  if (cycle_length <= 0 || t.nfrqd == 0) throw std::invalid_argument("layout without a cycle");
  const int64_t step = int64_t{1} << (t.leval + 1);
  const int64_t first_window = static_cast<int64_t>(static_cast<uint32_t>(windx)) & ~(step - 1);
  const int64_t window = first_window + (scan / cycle_length) * step;
  int f = scan % cycle_length;
  DftPosition p;
  if (f < t.nfrqt) {  // the top level's group
    p.level = t.levtp;
    p.freq_index = f;
    p.window = static_cast<int32_t>(window | (int64_t{1} << p.level));
    return p;
  }
  f -= t.nfrqt;
  const int group = f / t.nfrqd;  // 0 ... LEVAL - LEVTP: levels below the top, then the carry
  const int within = f % t.nfrqd;
  if (group < t.leval - t.levtp) {
    p.level = t.levtp + 1 + group;
    p.freq_index = t.nfrqt + group * t.nfrqd + within;
    p.window = static_cast<int32_t>(window | (int64_t{1} << p.level));
    return p;
  }
  // The carry: the next window's count decides how deep this cycle reaches.
  const int64_t next = window + step;
  p.level = LowestSetBit(static_cast<uint64_t>(next) | (uint64_t{1} << 24));
  p.freq_index = t.nfrqt + (p.level - t.levtp - 1) * t.nfrqd + within;
  p.window = static_cast<int32_t>(next);
  return p;
}

int32_t CoefficientReal(const DftPosition& p, int channel) {
  return static_cast<int32_t>(
             (static_cast<int64_t>(p.window) * 131 + p.level * 8191 + p.freq_index * 977 + channel * 100003) %
             4000000) -
         1000000;
}

int32_t CoefficientImag(const DftPosition& p, int channel) {
  return -static_cast<int32_t>(
             (static_cast<int64_t>(p.window) * 37 + p.level * 4099 + p.freq_index * 613 + channel * 70001) % 3000000) +
         1500000;
}

SpectralFile EncodeSpectralStream(const SpectralSpec& desc) {
  SpectralFile file;
  TagSpec tag = desc.tag;
  const TimeStamp start = tag.utc;
  const int cycle_length = CycleLength(tag);
  const int cycles_per_record = (tag.scnt + cycle_length - 1) / cycle_length;
  const uint8_t half = static_cast<uint8_t>(tag.lsmp / 2);
  const int64_t step = int64_t{1} << (tag.leval + 1);
  int64_t windx = static_cast<uint32_t>(tag.windx);
  for (int r = 0; r < desc.records; ++r) {
    tag.utc = AddSeconds(start, static_cast<int64_t>(r) * desc.record_seconds);
    tag.windx = static_cast<int32_t>(windx);
    file.record_windx.push_back(tag.windx);
    Bytes record = EncodeTag(tag);
    for (int s = 0; s < tag.scnt; ++s) {
      if (desc.is_filler && desc.is_filler(r, s)) {
        for (int c = 0; c < tag.nchn; ++c) {
          PutSample(record, c == 0 ? kFillerValue : 0, half);
          PutSample(record, 0, static_cast<uint8_t>(tag.lsmp - half));
        }
        continue;
      }
      DftCoefficient coefficient;
      coefficient.record = r;
      coefficient.scan = s;
      coefficient.position = PositionInCycle(tag, tag.windx, s);
      for (int c = 0; c < tag.nchn; ++c) {
        coefficient.real.push_back(CoefficientReal(coefficient.position, c));
        coefficient.imag.push_back(CoefficientImag(coefficient.position, c));
        PutSample(record, coefficient.real.back(), half);
        PutSample(record, coefficient.imag.back(), static_cast<uint8_t>(tag.lsmp - half));
      }
      file.coefficients.push_back(std::move(coefficient));
    }
    const std::size_t trailer = static_cast<std::size_t>(tag.nchn) * tag.trailer_factor * tag.sbrec;
    for (std::size_t i = 0; i < trailer; ++i) record.push_back(static_cast<uint8_t>(0x33 ^ i));
    Append(file.bytes, record);
    // The next record goes on with the window after the last cycle of this one.
    windx = ((windx & ~(step - 1)) + cycles_per_record * step) | (int64_t{1} << tag.levtp);
    windx &= 0xFFFFFFFF;
  }
  return file;
}

}  // namespace olmtsfil::testdata
