// Windows forms of paths: drive letters, backslashes, drive-relative names and
// mixed separators must keep a dated file set going. Built for Windows only; the
// 64-bit DLL's test run under wine executes it.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "test_handles.h"
#include "ts/file_set.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

using namespace olmtsfil::testdata;
using olmtsfil::NextSetFileName;
using Candidates = std::vector<std::string>;

TEST(WindowsPathTest, DrivesAndBackslashesAreKept) {
  EXPECT_EQ(NextSetFileName("C:\\data\\site.1\\s228b.TS3"),
            (Candidates{"C:\\data\\site.1\\s228c.TS3", "C:\\data\\site.1\\s229a.TS3", "C:\\data\\site.1\\s301a.TS3"}));
  // Drive-relative: the colon ends the drive, the stem follows it directly.
  EXPECT_EQ(NextSetFileName("d:sc31c.tsl"), (Candidates{"d:sc31d.tsl", "d:s101a.tsl"}));
  EXPECT_EQ(NextSetFileName("C:/data\\run.a\\sb30a.TS1"),
            (Candidates{"C:/data\\run.a\\sb30b.TS1", "C:/data\\run.a\\sc01a.TS1"}));
  // A drive or folder alone has no stem to advance.
  EXPECT_TRUE(NextSetFileName("C:").empty());
  EXPECT_TRUE(NextSetFileName("C:\\data.a\\").empty());
}

// Three files of stream 1, two one-second records each, named for 28 February
// (a, b) and, as the year has no 29 February, 1 March (a).
class WindowsDatedSetTest : public ::testing::Test {
 protected:
  static constexpr int kRecordsPerFile = 2;
  ScratchDirectory dir{"winpath"};
  TagSpec tag;
  std::vector<std::string> stems{DatedStem("s", 2, 28, 'a'), DatedStem("s", 2, 28, 'b'), DatedStem("s", 3, 1, 'a')};

  void SetUp() override {
    tag.utc = MakeStamp(2026, 2, 28, 23, 59, 57);
    RecordingFiles first(dir.path(), stems[0]);
    TypicalTable().Write(first.Path(".TBL"));
    for (std::size_t i = 0; i < stems.size(); ++i) {
      TagSpec file_tag = tag;
      file_tag.utc = AddSeconds(tag.utc, static_cast<int64_t>(i) * kRecordsPerFile);
      RecordingFiles(dir.path(), stems[i])
          .Write(".TS1", EncodeStream(file_tag, kRecordsPerFile, PatternSample,
                                      static_cast<int64_t>(i) * kRecordsPerFile * tag.scnt));
    }
  }

  // Absolute with drive letter and backslashes; the same with a lower-case drive
  // and a slash before the stem; and the generic form with forward slashes.
  std::vector<std::string> BaseForms() const {
    std::vector<std::string> forms{dir.path() + "/" + stems[0]};
    std::filesystem::path native = std::filesystem::absolute(std::filesystem::path(dir.path()) / stems[0]);
    std::string backslashed = native.make_preferred().string();
    EXPECT_TRUE(backslashed.size() > 3 && std::isalpha(static_cast<unsigned char>(backslashed[0])) &&
                backslashed[1] == ':' && backslashed[2] == '\\')
        << backslashed;
    forms.push_back(backslashed);
    std::string lower_drive = backslashed;
    lower_drive[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower_drive[0])));
    std::string mixed = lower_drive;
    mixed[mixed.rfind('\\')] = '/';
    forms.push_back(mixed);
    return forms;
  }
};

TEST_F(WindowsDatedSetTest, ContinuesAcrossTheSetInEveryPathForm) {
  const int total = kRecordsPerFile * static_cast<int>(stems.size());
  std::vector<uint8_t> block(tag.DataBlockSize());
  for (const std::string& base : BaseForms()) {
    SCOPED_TRACE(base);
    const ScopedRecording h = OpenRecording(base);
    ASSERT_NE(h.get(), nullptr);
    EXPECT_EQ(SetConcatHT(h, 1), 1);
    for (int record = 0; record < total; ++record) {
      ASSERT_EQ(ReadRecHT(h, 1, static_cast<int32_t>(block.size()), block.data()), OLMTS_OK) << "record " << record;
      TimeStamp utc{};
      ASSERT_EQ(ReadTagHT(h, 1, 0, "UTC", OLMTS_TYPE_TIMESTAMP, &utc), OLMTS_OK);
      EXPECT_EQ(StampToUnix(utc), StampToUnix(tag.utc) + record) << "record " << record;
      if (record + 1 < total) {
        EXPECT_EQ(GapHT(h, 1), OLMTS_OK) << "after record " << record;
      }
    }
    EXPECT_EQ(ReadRecHT(h, 1, static_cast<int32_t>(block.size()), block.data()), OLMTS_END_OF_DATA);
  }
}

}  // namespace

#endif  // _WIN32
