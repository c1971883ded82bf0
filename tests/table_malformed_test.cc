// Damaged and cut-short table files: what is whole opens, the rest is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "malformed_input.h"

namespace {

using namespace olmtsfil::testdata;

TEST_F(MalformedInputTest, TableCutShortOpensItsWholeParametersOrNothing) {
  for (TableLayout layout : {TableLayout::kCurrent32, TableLayout::kOlder25}) {
    TableFile table = TypicalTable();
    table.layout = layout;
    const Bytes full = table.Encode();
    const std::size_t header = layout == TableLayout::kCurrent32 ? 32 : 0;
    const std::size_t record = layout == TableLayout::kCurrent32 ? 32 : 25;
    for (std::size_t size = 0; size <= full.size(); ++size) {
      WriteFile(files.Path(".TBL"), Truncated(full, size));
      ScopedRecording h = OpenRecording(files.base());
      const std::size_t whole = size < 32 ? 0 : std::min((size - header) / record, table.params.size());
      if (whole == 0) {
        EXPECT_EQ(h.get(), nullptr) << "size " << size;
        continue;
      }
      ASSERT_NE(h.get(), nullptr) << "size " << size;
      char name[8];
      EXPECT_EQ(GCodePrmHT(h, -1, name), OLMTS_PARAM_COUNT_BASE + static_cast<int32_t>(whole)) << "size " << size;
      int32_t channel = 0;
      EXPECT_EQ(ReadPrmHT(h, "CHEX", OLMTS_TYPE_INT32, &channel), OLMTS_OK);
      h.Close();
      EXPECT_EQ(h.get(), nullptr);
    }
  }
}

TEST_F(MalformedInputTest, TableInNeitherLayoutOrWithoutParametersIsRefused) {
  auto open_bytes = [&](const Bytes& bytes) {
    WriteFile(files.Path(".TBL"), bytes);
    return OpenRecording(files.base());
  };
  TableFile one;
  one.layout = TableLayout::kOlder25;
  one.terminator = false;
  one.Int("CHEX", 1);
  EXPECT_EQ(open_bytes(one.Encode()).get(), nullptr);  // 25 bytes: shorter than 32

  TableFile empty;
  EXPECT_EQ(open_bytes(empty.Encode()).get(), nullptr);  // header then a NUL record
  TableFile blank;
  blank.Int(" X", 1);
  EXPECT_EQ(open_bytes(blank.Encode()).get(), nullptr);

  EXPECT_EQ(open_bytes(Bytes(64, 0xEE)).get(), nullptr);
  EXPECT_EQ(OpenRecording(dir.path() + "/missing").get(), nullptr);
}

}  // namespace
