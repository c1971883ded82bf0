// Named fields of the last and the next record tag.
#include <gtest/gtest.h>

#include <cstring>

#include "reader_test_support.h"
#include "ts/tag.h"

namespace {

using namespace olmtsfil::testdata;

class TagTest : public RecordingTest {};

TagSpec EveryField() {
  TagSpec t;
  t.utc = MakeStamp(2026, 11, 22, 13, 44, 55);
  t.utc.reserved = 0x77;
  t.snum = 0xBEEF;
  t.scnt = 1000;  // E8 03
  t.nchn = 0xFF;
  t.ltag = 60;
  t.stat = 0x81;
  t.satc = 0x82;
  t.kind = 3;
  t.lsmp = 0;  // keeps the data block small despite 255 channels
  t.rate = 0xFEDC;
  t.runt = -1;
  t.clst = 0x91;
  t.terr = 0xDEADBEEF;
  t.trailer_factor = 1;
  t.sbrec = 2;
  t.windx = -2;
  t.wiscn = 0xABCD;
  t.levtp = 0xA1;
  t.leval = 0xA2;
  t.nfrqt = 0xA3;
  t.nfrqd = 0xA4;
  t.nfreq = 0xA5;
  return t;
}

TEST_F(TagTest, EveryNamedFieldOfTheNextTag) {
  const TagSpec t = EveryField();
  files.Write(".TS1", EncodeRecord(t, {}));
  ASSERT_NE(Open(), nullptr);
  const struct {
    const char* name;
    int64_t value;
  } fields[] = {
      {"SNUM", 0xBEEF},     {"SCNT", 1000},  {"NCHN", 255},         {"LTAG", 60},      {"STAT", 0x81},
      {"SATC", 0x82},       {"LSMP", 0},     {"RATE", 0xFEDC},      {"RUNT", 255},     {"CLST", 0x91},
      {"TERR", 0xDEADBEEF}, {"SBREC", 2},    {"WINDX", 0xFFFFFFFE}, {"WISCN", 0xABCD}, {"LEVTP", 0xA1},
      {"LEVAL", 0xA2},      {"NFRQT", 0xA3}, {"NFRQD", 0xA4},       {"NFREQ", 0xA5},
  };
  for (const auto& f : fields) EXPECT_EQ(TagInt(handle, 1, 1, f.name), f.value) << f.name;
  TimeStamp utc{};
  ASSERT_EQ(ReadTagHT(handle, 1, 5, "utc", OLMTS_TYPE_TIMESTAMP, &utc), OLMTS_OK);
  EXPECT_TRUE(SameStamp(utc, t.utc));  // all 8 bytes, the uninterpreted one too
}

TEST_F(TagTest, LookupAndTypeRules) {
  TagSpec t = EveryField();
  files.Write(".TS1", EncodeRecord(t, {}));
  ASSERT_NE(Open(), nullptr);
  int32_t v = -7;
  EXPECT_EQ(ReadTagHT(handle, 1, 1, "scnt", OLMTS_TYPE_INT32, &v), OLMTS_OK);
  EXPECT_EQ(v, 1000);
  v = -7;
  EXPECT_EQ(ReadTagHT(handle, 1, 1, "SCNT", 0x100, &v), OLMTS_OK);  // only the low 8 bits count
  EXPECT_EQ(v, 1000);
  v = -7;
  for (const char* name : {"SCN", "SCNTX", "", "XYZ", "KIND"}) {
    EXPECT_EQ(ReadTagHT(handle, 1, 1, name, OLMTS_TYPE_INT32, &v), OLMTS_NO_SUCH_NAME) << name;
  }
  EXPECT_EQ(ReadTagHT(handle, 1, 1, nullptr, OLMTS_TYPE_INT32, &v), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(ReadTagHT(handle, 1, 1, "UTC", OLMTS_TYPE_INT32, &v), OLMTS_TYPE_MISMATCH);
  for (int32_t type : {1, 2, 3, 4, 5, 6, 255})
    EXPECT_EQ(ReadTagHT(handle, 1, 1, "SCNT", type, &v), OLMTS_TYPE_MISMATCH) << type;
  for (int32_t type : {1, 2, 3, 4, 6}) EXPECT_EQ(ReadTagHT(handle, 1, 1, "UTC", type, &v), OLMTS_TYPE_MISMATCH) << type;
  EXPECT_EQ(v, -7);
}

TEST_F(TagTest, ClusterFieldOnlyInTagsOfThirtyTwoBytesOrMore) {
  TagSpec t = EveryField();
  t.nchn = 1;
  t.ltag = 0;  // the older kind: byte 21 exists in the buffer, but not in the tag
  files.Write(".TS1", EncodeStream(t, 1));
  t.ltag = 31;
  files.Write(".TS2", EncodeStream(t, 1));
  t.ltag = 32;
  files.Write(".TS3", EncodeStream(t, 1));
  files.Write(".TS4", {});  // keeps streams 2-4 on their own files, whatever their rates
  ASSERT_NE(Open(), nullptr);
  int32_t status = 0;
  for (int k : {1, 2}) {
    EXPECT_EQ(TagInt(handle, k, 1, "clst", &status), -1);
    EXPECT_EQ(status, OLMTS_NO_SUCH_NAME) << k;
    EXPECT_EQ(TagInt(handle, k, 1, "SCNT"), 1000);
  }
  EXPECT_EQ(TagInt(handle, 3, 1, "CLST"), 0x91);
  // Fields beyond a 31-byte tag's length read as 0.
  EXPECT_EQ(TagInt(handle, 2, 1, "WINDX"), 0);
}

TEST_F(TagTest, LastAndNextTags) {
  TagSpec t;
  t.scnt = 2;
  t.nchn = 1;
  t.rate = 2;
  files.Write(".TS1", EncodeStream(t, 2));
  ASSERT_NE(Open(), nullptr);
  int32_t status = 0;
  EXPECT_EQ(TagInt(handle, 1, 0, "SCNT", &status), -1);
  EXPECT_EQ(status, OLMTS_END_OF_DATA);  // nothing consumed yet
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), t.utc));
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, -3), t.utc));  // any non-zero selects the next tag
  ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), t.utc));
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), AddSeconds(t.utc, 1)));
  ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), AddSeconds(t.utc, 1)));
  EXPECT_EQ(TagInt(handle, 1, 1, "SCNT", &status), -1);
  EXPECT_EQ(status, OLMTS_END_OF_DATA);
}

TEST_F(TagTest, HandleAndStreamChecks) {
  files.Write(".TS1", EncodeStream(TagSpec{}, 1));
  ASSERT_NE(Open(), nullptr);
  int32_t v = -7;
  EXPECT_EQ(ReadTagHT(nullptr, 1, 1, "CLST", OLMTS_TYPE_INT32, &v), OLMTS_NULL_HANDLE);
  EXPECT_EQ(ReadTagHT(nullptr, 9, 1, "SCNT", OLMTS_TYPE_INT32, &v), OLMTS_NULL_HANDLE);
  EXPECT_EQ(ReadTagHT(handle, 6, 1, "SCNT", OLMTS_TYPE_INT32, &v), OLMTS_BAD_STREAM);
  EXPECT_EQ(ReadTagHT(handle, -1, 1, "SCNT", OLMTS_TYPE_INT32, &v), OLMTS_BAD_STREAM);
  EXPECT_EQ(ReadTagHT(handle, 2, 1, "SCNT", OLMTS_TYPE_INT32, &v), OLMTS_BAD_STREAM);  // no file
  EXPECT_EQ(ReadTagHT(handle, 2, 1, "NOPE", 77, &v), OLMTS_BAD_STREAM);
  EXPECT_EQ(v, -7);
}

// ---- The tag's rules, on tag bytes ----------------------------------------------

namespace core {

using olmtsfil::Tag;

namespace field = olmtsfil::layout::tag;

// A tag whose every byte differs from its neighbours, of the given kind.
Tag TagOfKind(uint8_t kind) {
  Tag tag;
  for (std::size_t i = 0; i < tag.bytes.size(); ++i) tag.bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  tag.bytes[field::kKind.offset] = kind;
  return tag;
}

// The tag the writer encodes for `t`.
Tag TagOf(const TagSpec& t) {
  const Bytes bytes = EncodeTag(t);
  Tag tag;
  std::copy(bytes.begin(), bytes.end(), tag.bytes.begin());
  return tag;
}

// Which bytes a following record must repeat, stated apart from the field table
// the rule reads: SNUM ... LTAG (8-13), kind and LSMP (16-17), bytes 26-28 and
// 30-31; RATE and RUNT (18-20) for kinds 0 and 15; LEVTP, LEVAL, NFRQD (38, 39, 41)
// for kind 15.
bool MustAgree(uint8_t kind, int byte) {
  if ((byte >= 8 && byte <= 13) || byte == 16 || byte == 17 || (byte >= 26 && byte <= 28) || byte == 30 || byte == 31)
    return true;
  if ((kind == 0 || kind == 15) && byte >= 18 && byte <= 20) return true;
  return kind == 15 && (byte == 38 || byte == 39 || byte == 41);
}

TEST(TagRulesTest, AgreementRuleCoversExactlyItsBytes) {
  for (uint8_t kind : {uint8_t{0}, uint8_t{15}, uint8_t{3}}) {
    const Tag first = TagOfKind(kind);
    EXPECT_TRUE(olmtsfil::TagsAgree(first, first));
    for (int byte = 0; byte < Tag::kMaxSize; ++byte) {
      if (byte == field::kKind.offset) continue;  // a changed kind is judged by the rules of the new kind
      Tag next = first;
      next.bytes[static_cast<std::size_t>(byte)] ^= 0x10;
      EXPECT_EQ(olmtsfil::TagsAgree(first, next), !MustAgree(kind, byte)) << "kind " << int{kind} << " byte " << byte;
    }
    Tag other_kind = first;
    other_kind.bytes[field::kKind.offset] = kind == 0 ? 15 : 0;
    EXPECT_FALSE(olmtsfil::TagsAgree(first, other_kind));
  }
}

TEST(TagRulesTest, GapTestAndSpectralFrequenciesReadTheRateUnitApart) {
  TagSpec t;
  t.rate = 4800;
  const struct {
    uint8_t unit;
    double gap_rate;
    double spectral_unit;
  } cases[] = {{0x00, 4800.0, 1.0}, {0x01, 80.0, 1.0 / 60}, {0x02, 80.0, 1.0 / 3600}, {0xFF, 80.0, 10.0},
               {0xFE, 80.0, 100.0}, {0x03, 80.0, 0.0},      {0x80, 80.0, 0.0}};
  for (const auto& c : cases) {
    t.runt = static_cast<int8_t>(c.unit);
    const Tag tag = TagOf(t);
    EXPECT_NEAR(olmtsfil::GapTestRate(tag), c.gap_rate, 1e-12) << int{c.unit};
    EXPECT_NEAR(olmtsfil::SpectralRateUnit(tag), c.spectral_unit, 1e-15) << int{c.unit};
  }
}

}  // namespace core

}  // namespace
