// Loading a table file and reading its parameters through the C interface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "olmtsfil.h"
#include "test_handles.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

using namespace olmtsfil::testdata;

class TableTest : public ::testing::Test {
 protected:
  ScratchDirectory dir{"table"};
  RecordingFiles files{dir.path(), "rec"};

  ScopedRecording Open(const TableFile& table) {
    table.Write(files.Path(".TBL"));
    return OpenRecording(files.base());
  }
  ScopedRecording OpenBytes(const Bytes& bytes) {
    WriteFile(files.Path(".TBL"), bytes);
    return OpenRecording(files.base());
  }
};

TEST_F(TableTest, ReadsEveryTypeInBothLayouts) {
  for (TableLayout layout : {TableLayout::kCurrent32, TableLayout::kOlder25}) {
    TableFile t;
    t.layout = layout;
    TimeStamp stamp = MakeStamp(2026, 3, 14, 10, 30, 5);
    t.Int("CHEX", 7).Double("FSCV", 6.4).Text("VER", "4270A2").Add(Parameter::Stamp("UTC", stamp));
    t.params[0].info_word = 513;
    t.params[0].info_byte1 = 200;
    t.params[0].info_byte2 = 3;
    ScopedRecording h = Open(t);
    ASSERT_NE(h.get(), nullptr);
    int32_t i = 0;
    EXPECT_EQ(ReadPrmHT(h, "chex", OLMTS_TYPE_INT32, &i), OLMTS_OK);
    EXPECT_EQ(i, 7);
    double d = 0;
    EXPECT_EQ(ReadPrmHT(h, "FSCV", OLMTS_TYPE_DOUBLE, &d), OLMTS_OK);
    EXPECT_EQ(d, 6.4);
    char text[16];
    EXPECT_EQ(ReadPrmHT(h, "VER", OLMTS_TYPE_TEXT16, text), OLMTS_OK);
    EXPECT_STREQ(text, "4270A2");
    TimeStamp read{};
    EXPECT_EQ(ReadPrmHT(h, "UTC", OLMTS_TYPE_TIMESTAMP, &read), OLMTS_OK);
    EXPECT_EQ(std::memcmp(&read, &stamp, 8), 0);
    char type = 0;
    int32_t word = 0, b1 = 0, b2 = 0;
    EXPECT_EQ(ReadPrmInfoHT(h, "CHEX", &type, &word, &b1, &b2), OLMTS_OK);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(word, 513);
    EXPECT_EQ(b1, 200);
    EXPECT_EQ(b2, 3);
    EXPECT_EQ(GCodePrmHT(h, -1, text), OLMTS_PARAM_COUNT_BASE + 4);
    h.Close();
    EXPECT_EQ(h.get(), nullptr);
  }
}

TEST_F(TableTest, LookupRulesAndTypeChecks) {
  TableFile t;
  t.Int("CHEX", 1).Int("CHEX", 2).Text("VER", "ABCDEFGHIJKLMNOP").Add(Parameter::None("NONE"));
  ScopedRecording h = Open(t);
  ASSERT_NE(h.get(), nullptr);
  int32_t v = -5;
  EXPECT_EQ(ReadPrmHT(h, "CHEX", 0x100, &v), OLMTS_OK);  // only the low 8 bits of the type count
  EXPECT_EQ(v, 1);                                       // the first of two equal names
  v = -5;
  EXPECT_EQ(ReadPrmHT(h, "CHE", OLMTS_TYPE_INT32, &v), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(ReadPrmHT(h, "CHEXX", OLMTS_TYPE_INT32, &v), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(ReadPrmHT(h, "VER", OLMTS_TYPE_INT32, &v), OLMTS_TYPE_MISMATCH);
  EXPECT_EQ(v, -5);  // untouched on failure
  EXPECT_EQ(ReadPrmHT(h, "NONE", OLMTS_TYPE_NONE, &v), OLMTS_TYPE_MISMATCH);
  EXPECT_EQ(ReadPrmHT(h, "CHEX", 6, &v), OLMTS_TYPE_MISMATCH);
  char text[17];
  text[16] = '#';
  EXPECT_EQ(ReadPrmHT(h, "ver", OLMTS_TYPE_TEXT16, text), OLMTS_OK);
  EXPECT_EQ(std::string(text, 16), "ABCDEFGHIJKLMNOP");  // 16 bytes, no terminator
  EXPECT_EQ(text[16], '#');
  EXPECT_EQ(ReadPrmInfoHT(h, "MISSING", nullptr, nullptr, nullptr, nullptr), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(ReadPrmInfoHT(nullptr, "CHEX", nullptr, nullptr, nullptr, nullptr), OLMTS_NULL_HANDLE);
  EXPECT_EQ(ReadPrmHT(nullptr, "CHEX", 0, &v), OLMTS_NULL_HANDLE);
  h.Close();
  h.Close();  // the second close finds NULL
}

TEST_F(TableTest, EnumeratesNamesWithFixedWidthCopy) {
  TableFile t;
  t.Int("ABCDEFGH", 1).Int("X", 2);
  ScopedRecording h = Open(t);
  ASSERT_NE(h.get(), nullptr);
  char name[9];
  std::memset(name, '#', sizeof name);
  EXPECT_EQ(GCodePrmHT(h, 0, name), OLMTS_PARAM_COUNT_BASE + 2);
  EXPECT_EQ(std::string(name, 9), "ABCDEFGH#");  // 8 bytes, no terminator
  EXPECT_EQ(GCodePrmHT(h, 1, name), OLMTS_PARAM_COUNT_BASE + 2);
  EXPECT_EQ(std::string(name, 8), std::string("X\0\0\0\0\0\0\0", 8));
  name[0] = 'Q';
  EXPECT_EQ(GCodePrmHT(h, 2, name), OLMTS_PARAM_COUNT_BASE + 2);
  EXPECT_EQ(name[0], '\0');
  int32_t v;
  EXPECT_EQ(ReadPrmHT(h, "abcdefgh", 0, &v), OLMTS_OK);
}

TEST_F(TableTest, EnumeratedNameEndsAtItsTerminator) {
  TableFile t;
  t.Int(std::string("AB\0XYZ\x01\x02", 8), 1);
  ScopedRecording h = Open(t);
  ASSERT_NE(h.get(), nullptr);
  char name[9];
  std::memset(name, '#', sizeof name);
  EXPECT_EQ(GCodePrmHT(h, 0, name), OLMTS_PARAM_COUNT_BASE + 1);
  EXPECT_EQ(std::string(name, 9), std::string("AB\0\0\0\0\0\0#", 9));
  int32_t v = 0;
  EXPECT_EQ(ReadPrmHT(h, "AB", 0, &v), OLMTS_OK);
  EXPECT_EQ(v, 1);
}

TEST_F(TableTest, ListEndsAtFirstRecordNotStartingWithLetterOrDigit) {
  TableFile t;
  t.Int("CHEX", 1).Int(" BAD", 2).Int("CHEY", 3);
  ScopedRecording h = Open(t);
  ASSERT_NE(h.get(), nullptr);
  char name[8];
  EXPECT_EQ(GCodePrmHT(h, -1, name), OLMTS_PARAM_COUNT_BASE + 1);
  h.Close();

  // Without a terminator the end of the file ends the list; a partial record is dropped.
  t = TableFile();
  t.terminator = false;
  t.Int("CHEX", 1).Int("CHEY", 2);
  Bytes bytes = t.Encode();
  h = OpenBytes(Truncated(bytes, bytes.size() - 1));
  ASSERT_NE(h.get(), nullptr);
  EXPECT_EQ(GCodePrmHT(h, -1, name), OLMTS_PARAM_COUNT_BASE + 1);
}

TEST_F(TableTest, KeepsAtMost599Parameters) {
  TableFile t;
  t.terminator = false;
  for (int i = 0; i < 650; ++i) t.Int(std::string("P").append(std::to_string(i)), i);
  ScopedRecording h = Open(t);
  ASSERT_NE(h.get(), nullptr);
  char name[8];
  EXPECT_EQ(GCodePrmHT(h, -1, name), OLMTS_PARAM_COUNT_BASE + 599);
  int32_t v = 0;
  EXPECT_EQ(ReadPrmHT(h, "P598", 0, &v), OLMTS_OK);
  EXPECT_EQ(v, 598);
  EXPECT_EQ(ReadPrmHT(h, "P599", 0, &v), OLMTS_NO_SUCH_NAME);
}

TEST_F(TableTest, NamesWithoutTerminatorNeverReadPastTheirField) {
  TableFile t;
  t.Int("LONGNAME", 4);
  t.params[0].value.assign(16, 'Z');
  ScopedRecording h = Open(t);
  ASSERT_NE(h.get(), nullptr);
  int32_t v = 0;
  EXPECT_EQ(ReadPrmHT(h, "LONGNAME", 0, &v), OLMTS_OK);
  EXPECT_EQ(ReadPrmHT(h, "LONGNAMEZ", 0, &v), OLMTS_NO_SUCH_NAME);
}

TEST_F(TableTest, BoardCorrectionForcesChainType3) {
  for (const char* version : {"4258C0", "4258c0", "7KQ01"}) {
    TableFile t;
    t.Int("SRPM", 1).Text("VER", version).Double("TALS", 7.0);
    ScopedRecording h = Open(t);
    ASSERT_NE(h.get(), nullptr);
    double stored = 0;
    // Only the first four value bytes change, whatever the stored type.
    EXPECT_EQ(ReadPrmHT(h, "TALS", OLMTS_TYPE_DOUBLE, &stored), OLMTS_OK);
    uint8_t bytes[8];
    std::memcpy(bytes, &stored, 8);
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(bytes[1] | bytes[2] | bytes[3], 0);
  }
  TableFile t;
  t.Text("VER", "4258C0").Int("TALS", 7);  // no "SRPM": stored value stays
  ScopedRecording h = Open(t);
  int32_t tals = 0;
  EXPECT_EQ(ReadPrmHT(h, "TALS", 0, &tals), OLMTS_OK);
  EXPECT_EQ(tals, 7);
}

TEST_F(TableTest, BaseNameLengthLimit) {
  // 256 characters open, 257 do not (the table file name adds 4).
  std::string base = dir.path() + "/";
  base += std::string(250 - base.size() % 250, 'a');
  while (base.size() < 256) base += 'b';
  ASSERT_EQ(base.size(), 256u);
  TypicalTable().Write(base + ".TBL");
  EXPECT_NE(OpenRecording(base).get(), nullptr);
  EXPECT_EQ(OpenRecording(base + "c").get(), nullptr);
  EXPECT_EQ(OpenRecording(std::string(5000, 'x')).get(), nullptr);
  EXPECT_EQ(ScopedRecording(TSOpenHT(nullptr)).get(), nullptr);
}

}  // namespace
