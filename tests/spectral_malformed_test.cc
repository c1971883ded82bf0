// Damaged and cut-short spectral files.
#include <gtest/gtest.h>

#include <string>

#include "malformed_input.h"

namespace {

using namespace olmtsfil::testdata;

TEST_F(MalformedInputTest, SpectralFileCutShortDeliversItsWholeRecordsThenAStatus) {
  // Three records of one 10-scan cycle of 2 channels, a filler scan first in each.
  SpectralSpec stream;
  stream.tag = SpectralTag(/*levtp=*/0, /*leval=*/2, /*nfrqt=*/4, /*nfrqd=*/2);
  stream.records = kRecords;
  stream.is_filler = [](int, int scan) { return scan == 0; };
  const Bytes full = EncodeSpectralStream(stream).bytes;
  const std::size_t record = full.size() / kRecords;
  for (std::size_t size = 0; size <= full.size(); ++size) {
    files.Write(".TFC", Truncated(full, size));
    ScopedRecording h = Open();
    const std::size_t whole = size / record, rest = size % record;
    const Drained d = DrainSpectral(h);
    if (size < 60) {
      EXPECT_TRUE(d.status == OLMTS_BAD_STREAM || d.status == OLMTS_NO_MEMORY) << "size " << size;
      EXPECT_EQ(d.scans, 0);
    } else {
      EXPECT_EQ(d.scans, static_cast<int>(whole) * 9) << "size " << size;
      EXPECT_EQ(d.status, rest >= 60 ? OLMTS_READ_ERROR : OLMTS_END_OF_DATA) << "size " << size;
    }
    ProbeStream(h, 0);
  }
}

}  // namespace
