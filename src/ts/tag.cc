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
  auto same = [&](const TagField& field) { return same_bytes(field.offset, field.length); };
  constexpr TagField kSnum = TagFieldNamed("SNUM"), kScnt = TagFieldNamed("SCNT"), kNchn = TagFieldNamed("NCHN"),
                     kLtag = TagFieldNamed("LTAG"), kLsmp = TagFieldNamed("LSMP"), kSbrec = TagFieldNamed("SBREC"),
                     kRate = TagFieldNamed("RATE"), kRunt = TagFieldNamed("RUNT"), kLevtp = TagFieldNamed("LEVTP"),
                     kLeval = TagFieldNamed("LEVAL"), kNfrqd = TagFieldNamed("NFRQD");
  // Bytes 26 and 30-31 have no name but must agree as well.
  if (!same(kSnum) || !same(kScnt) || !same(kNchn) || !same(kLtag) || !same_bytes(kTagKindOffset, 1) || !same(kLsmp) ||
      !same_bytes(26, 1) || !same_bytes(kTagTrailerFactorOffset, 1) || !same(kSbrec) || !same_bytes(30, 2))
    return false;
  if (tag.Kind() == 0) return same(kRate) && same(kRunt);
  if (tag.Kind() == 15) return same(kRate) && same(kRunt) && same(kLevtp) && same(kLeval) && same(kNfrqd);
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
  switch (tag.bytes[20]) {
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
