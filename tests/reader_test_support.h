// Shared scaffolding of the reader tests: a scratch recording with a typical
// table or one of the test's own, and short ways to read tag fields through the
// C interface.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "olmtsfil.h"
#include "test_handles.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace olmtsfil::testdata {

class RecordingTest : public ::testing::Test {
 protected:
  explicit RecordingTest(const std::string& label = "reader") : dir_(label), files(dir_.path(), "rec") {}
  // Writes the typical table (if no table was written yet) and opens the recording.
  TsHandle* Open() {
    if (!table_written_) TypicalTable().Write(files.Path(".TBL"));
    table_written_ = true;
    handle.Close();
    handle = OpenRecording(files.base());
    return handle;
  }
  // Writes `table` and opens the recording with it, which must open. The handle
  // is closed first: Windows replaces no file that is open.
  TsHandle* Open(const TableFile& table) {
    handle.Close();
    table.Write(files.Path(".TBL"));
    table_written_ = true;
    handle = OpenRecording(files.base());
    EXPECT_NE(handle.get(), nullptr);
    return handle;
  }
  std::string Dir() const { return dir_.path(); }

  ScratchDirectory dir_;
  RecordingFiles files;
  ScopedRecording handle;
  bool table_written_ = false;
};

// A type-0 tag field, or -1 when the read fails (the status goes to *status).
inline int64_t TagInt(TsHandle* h, int stream, int which, const char* name, int32_t* status = nullptr) {
  int32_t value = 0;
  int32_t s = ReadTagHT(h, stream, which, name, OLMTS_TYPE_INT32, &value);
  if (status != nullptr) *status = s;
  if (s != OLMTS_OK) return -1;
  return static_cast<uint32_t>(value);
}

inline TimeStamp TagUtc(TsHandle* h, int stream, int which) {
  TimeStamp t{};
  EXPECT_EQ(ReadTagHT(h, stream, which, "UTC", OLMTS_TYPE_TIMESTAMP, &t), OLMTS_OK);
  return t;
}

inline bool SameStamp(const TimeStamp& a, const TimeStamp& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline std::string StampText(const TimeStamp& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d-%02d-%02d %02d:%02d:%02d", t.century, t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

}  // namespace olmtsfil::testdata
