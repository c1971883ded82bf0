#include "writer/stream_writer.h"

#include <cstdio>

namespace olmtsfil::testdata {
namespace {

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

TimeStamp MakeStamp(int year, int month, int day, int hour, int minute, int second) {
  TimeStamp s{};
  s.second = static_cast<uint8_t>(second);
  s.minute = static_cast<uint8_t>(minute);
  s.hour = static_cast<uint8_t>(hour);
  s.day = static_cast<uint8_t>(day);
  s.month = static_cast<uint8_t>(month);
  s.year = static_cast<uint8_t>(year % 100);
  s.century = static_cast<uint8_t>(year / 100);
  return s;
}

int64_t StampToUnix(const TimeStamp& s) {
  const int64_t year = s.century * 100 + s.year;
  return DaysFromCivil(year, s.month, s.day) * 86400 + s.hour * 3600 + s.minute * 60 + s.second;
}

TimeStamp StampFromUnix(int64_t t) {
  int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  int64_t rem = t - days * 86400;
  // Civil from days (proleptic Gregorian).
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  return MakeStamp(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d), static_cast<int>(rem / 3600),
                   static_cast<int>(rem / 60 % 60), static_cast<int>(rem % 60));
}

TimeStamp AddSeconds(const TimeStamp& stamp, int64_t seconds) {
  TimeStamp out = StampFromUnix(StampToUnix(stamp) + seconds);
  out.reserved = stamp.reserved;
  return out;
}

uint64_t TagSpec::DataBlockSize() const {
  return static_cast<uint64_t>(scnt) * nchn * StoredLsmp() +
         static_cast<uint64_t>(nchn) * StoredTrailerFactor() * StoredSbrec();
}

// A tag shorter than a field's end does not store it, and the reader takes the
// field as 0 (the older 16-byte kind implies 3-byte samples).
uint8_t TagSpec::StoredLsmp() const { return ltag == 0 ? 3 : (ltag > 17 ? lsmp : 0); }
uint8_t TagSpec::StoredTrailerFactor() const { return ltag > 27 ? trailer_factor : 0; }
uint8_t TagSpec::StoredSbrec() const { return ltag > 28 ? sbrec : 0; }
uint64_t TagSpec::RecordSize() const {
  return (ltag < layout::tag::kBaseSize ? layout::tag::kBaseSize : ltag) + DataBlockSize();
}

Bytes EncodeTag(const TagSpec& t) {
  namespace f = layout::tag;
  Bytes out;
  out.insert(out.end(), reinterpret_cast<const uint8_t*>(&t.utc), reinterpret_cast<const uint8_t*>(&t.utc) + 8);
  PutField(out, 0, f::kSnum, t.snum);
  PutField(out, 0, f::kScnt, t.scnt);
  PutField(out, 0, f::kNchn, t.nchn);
  PutField(out, 0, f::kLtag, t.ltag);
  PutField(out, 0, f::kStat, t.stat);
  PutField(out, 0, f::kSatc, t.satc);
  if (t.ltag == 0) return out;  // the older kind ends here
  PutField(out, 0, f::kKind, t.kind);
  PutField(out, 0, f::kLsmp, t.lsmp);
  PutField(out, 0, f::kRate, t.rate);
  PutField(out, 0, f::kRunt, static_cast<uint8_t>(t.runt));
  PutField(out, 0, f::kClst, t.clst);
  PutField(out, 0, f::kTerr, t.terr);
  PutField(out, 0, f::kByte26, t.byte26);
  PutField(out, 0, f::kTrailerFactor, t.trailer_factor);
  PutField(out, 0, f::kSbrec, t.sbrec);
  PutField(out, 0, f::kByte29, t.byte29);
  PutField(out, 0, f::kBytes30, t.bytes30);
  PutField(out, 0, f::kWindx, static_cast<uint32_t>(t.windx));
  PutField(out, 0, f::kWiscn, t.wiscn);
  PutField(out, 0, f::kLevtp, t.levtp);
  PutField(out, 0, f::kLeval, t.leval);
  PutField(out, 0, f::kNfrqt, t.nfrqt);
  PutField(out, 0, f::kNfrqd, t.nfrqd);
  PutField(out, 0, f::kNfreq, t.nfreq);
  // The bytes without a field: a pattern the reader must not interpret.
  out.resize(f::kFirstUnnamedByte, 0);
  while (out.size() < f::kMaxSize) out.push_back(static_cast<uint8_t>(0xC0 + out.size()));
  out.resize(t.ltag < f::kBaseSize ? f::kBaseSize : t.ltag, 0);
  return out;
}

TagSpec DecodeTag(const Bytes& bytes, std::size_t base) {
  namespace f = layout::tag;
  auto get = [&](const layout::Field& field) { return FieldValue(bytes, field, base); };
  TagSpec t;
  const uint64_t utc = get(f::kUtc);
  for (std::size_t i = 0; i < sizeof t.utc; ++i)
    reinterpret_cast<uint8_t*>(&t.utc)[i] = static_cast<uint8_t>(utc >> (8 * i));
  t.snum = static_cast<uint16_t>(get(f::kSnum));
  t.scnt = static_cast<uint16_t>(get(f::kScnt));
  t.nchn = static_cast<uint8_t>(get(f::kNchn));
  t.ltag = static_cast<uint8_t>(get(f::kLtag));
  t.stat = static_cast<uint8_t>(get(f::kStat));
  t.satc = static_cast<uint8_t>(get(f::kSatc));
  // The older kind ends after SATC: what follows is the data block.
  const bool full = t.ltag != 0;
  auto rest = [&](const layout::Field& field) { return full ? get(field) : 0; };
  t.kind = static_cast<uint8_t>(rest(f::kKind));
  t.lsmp = static_cast<uint8_t>(rest(f::kLsmp));
  t.rate = static_cast<uint16_t>(rest(f::kRate));
  t.runt = static_cast<int8_t>(rest(f::kRunt));
  t.clst = static_cast<uint8_t>(rest(f::kClst));
  t.terr = static_cast<uint32_t>(rest(f::kTerr));
  t.byte26 = static_cast<uint8_t>(rest(f::kByte26));
  t.trailer_factor = static_cast<uint8_t>(rest(f::kTrailerFactor));
  t.sbrec = static_cast<uint8_t>(rest(f::kSbrec));
  t.byte29 = static_cast<uint8_t>(rest(f::kByte29));
  t.bytes30 = static_cast<uint16_t>(rest(f::kBytes30));
  t.windx = static_cast<int32_t>(static_cast<uint32_t>(rest(f::kWindx)));
  t.wiscn = static_cast<uint16_t>(rest(f::kWiscn));
  t.levtp = static_cast<uint8_t>(rest(f::kLevtp));
  t.leval = static_cast<uint8_t>(rest(f::kLeval));
  t.nfrqt = static_cast<uint8_t>(rest(f::kNfrqt));
  t.nfrqd = static_cast<uint8_t>(rest(f::kNfrqd));
  t.nfreq = static_cast<uint8_t>(rest(f::kNfreq));
  return t;
}

void PutSample(Bytes& out, int32_t value, uint8_t lsmp) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (uint8_t i = 0; i < lsmp; ++i)
    out.push_back(i < 3 ? static_cast<uint8_t>(v >> (8 * i)) : static_cast<uint8_t>(0xA5 + i));
}

Bytes EncodeRecord(const TagSpec& tag, const std::vector<int32_t>& samples) {
  Bytes out = EncodeTag(tag);
  const uint8_t lsmp = tag.StoredLsmp();
  const std::size_t count = static_cast<std::size_t>(tag.scnt) * tag.nchn;
  for (std::size_t i = 0; i < count; ++i) PutSample(out, i < samples.size() ? samples[i] : 0, lsmp);
  const std::size_t trailer = static_cast<std::size_t>(tag.nchn) * tag.StoredTrailerFactor() * tag.StoredSbrec();
  for (std::size_t i = 0; i < trailer; ++i) out.push_back(static_cast<uint8_t>(0x5A ^ i));
  return out;
}

int32_t PatternSample(int64_t global_scan, int channel) {
  // Spans the 24-bit range, differs per channel, and wraps within full scale.
  int64_t v = (global_scan * 7919 + channel * 1000003) % 16777216;
  return static_cast<int32_t>(v - 8388608);
}

Bytes EncodeStream(TagSpec tag, int records, const SampleFunction& sample, int64_t first_global_scan) {
  Bytes out;
  const uint16_t rate = tag.ltag == 0 ? tag.scnt : tag.rate;
  const double scans_per_second = tag.runt == 0 ? rate : rate / 60.0;
  int64_t global = first_global_scan;
  const TimeStamp start = tag.utc;
  std::vector<int32_t> samples;
  for (int r = 0; r < records; ++r) {
    const double elapsed =
        scans_per_second > 0 ? static_cast<double>(global - first_global_scan) / scans_per_second : 0;
    tag.utc = AddSeconds(start, static_cast<int64_t>(elapsed + 0.5));
    samples.clear();
    for (int s = 0; s < tag.scnt; ++s)
      for (int c = 0; c < tag.nchn; ++c) samples.push_back(sample(global + s, c));
    Append(out, EncodeRecord(tag, samples));
    global += tag.scnt;
  }
  return out;
}

std::string DatedStem(const std::string& prefix, int month, int day, char sequence) {
  char field[8];
  std::snprintf(field, sizeof field, "%01x%02d%c", static_cast<unsigned>(month), day, sequence);
  return prefix + field;
}

RecordingFiles::RecordingFiles(std::string directory, std::string stem)
    : directory_(std::move(directory)), stem_(std::move(stem)) {}

}  // namespace olmtsfil::testdata
