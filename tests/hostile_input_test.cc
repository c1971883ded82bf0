// Damaged, cut-short and hostile files: every one gives a status from the table of
// codes, writes nothing past a caller's buffer and leaves a handle that closes
// cleanly. Regression tests of faults found by fuzzing are named after the fault.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "ts/recording.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

using namespace olmtsfil::testdata;

TagSpec SmallTag() {
  TagSpec t;
  t.nchn = 3;
  t.scnt = 4;
  t.rate = 4;
  return t;
}

class HostileInputTest : public ::testing::Test {
 protected:
  ScratchDirectory dir{"hostile"};
  RecordingFiles files{dir.path(), "x314a"};

  void SetUp() override { TypicalTable().Write(files.Path(".TBL")); }
};

// Regression: a tag whose sizes promise a data block of gigabytes made the scan
// reader allocate a buffer of that size for a file of a few bytes.
TEST_F(HostileInputTest, HugeDataBlockInShortFileAllocatesNoBuffer) {
  TagSpec t = SmallTag();
  t.scnt = 65535;
  t.nchn = 255;
  t.lsmp = 255;
  t.trailer_factor = 255;
  t.sbrec = 255;
  files.Write(".TS1", EncodeTag(t));
  olmtsfil::Recording recording;
  ASSERT_EQ(recording.Open(files.base().c_str()), olmtsfil::Status::kOk);
  int32_t flag = 7;
  std::vector<uint8_t> scan(255 * 255);
  EXPECT_EQ(recording.ReadScan(1, &flag, scan.data()), olmtsfil::Status::kReadError);
  EXPECT_EQ(flag, 0);
  EXPECT_FALSE(recording.stream(1).record_buffer);
  // The failure is sticky, as for any record that cannot be read.
  EXPECT_EQ(recording.ReadScan(1, &flag, scan.data()), olmtsfil::Status::kReadError);
  EXPECT_FALSE(recording.stream(1).record_buffer);
}

}  // namespace
