#include "ts/tag.h"

namespace olmtsfil {

bool TagsAgree(const Tag& first, const Tag& tag) {
  const auto& a = first.bytes;
  const auto& b = tag.bytes;
  auto same_bytes = [&](int offset, int length) {
    for (int i = offset; i < offset + length; ++i)
      if (a[static_cast<std::size_t>(i)] != b[static_cast<std::size_t>(i)]) return false;
    return true;
  };
  auto same = [&](const layout::Field& field) { return same_bytes(field.offset, field.width); };
  using namespace tag_field;
  if (!same(kSnum) || !same(kScnt) || !same(kNchn) || !same(kLtag) || !same(kKind) || !same(kLsmp) || !same(kByte26) ||
      !same(kTrailerFactor) || !same(kSbrec) || !same(kBytes30))
    return false;
  if (tag.Kind() == 0) return same(kRate) && same(kRunt);
  if (tag.Kind() == layout::spectral::kRecordKind)
    return same(kRate) && same(kRunt) && same(kLevtp) && same(kLeval) && same(kNfrqd);
  return true;
}

int RateClassStream(const Tag& tag) {
  uint16_t rate = tag.Rate();
  if (rate >= 10000) return 2;
  if (rate >= 1000) return 3;
  return 4;
}

double GapTestRate(const Tag& tag) {
  double rate = static_cast<double>(tag.Rate());
  if (tag.Runt() != 0) rate *= 0.016666666666666666;
  return rate;
}

double SpectralRateUnit(const Tag& tag) {
  switch (*tag.At(tag_field::kRunt)) {
    case 0x00:
      return 1.0;
    case 0x01:
      return 0.01666666666666667;
    case 0x02:
      return 0.0002777777777777778;
    case 0xFF:
      return 10.0;
    case 0xFE:
      return 100.0;
    default:
      return 0.0;
  }
}

}  // namespace olmtsfil
