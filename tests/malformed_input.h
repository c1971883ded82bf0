// Scaffolding of the malformed-input tests (one file of them per format): a
// recording with a valid table, callers that read everything a damaged file
// gives with buffers of exactly the promised size, and the statuses a reading
// call may answer with.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "test_handles.h"
#include "writer/calibration_writer.h"
#include "writer/spectral_writer.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace olmtsfil::testdata {

inline TagSpec SmallTag() {
  TagSpec t;
  t.nchn = 3;
  t.scnt = 4;
  t.rate = 4;
  return t;
}

// Every status a reading call may give on a bad file; anything else is a fault.
inline const std::set<int32_t> kReadingStatuses = {OLMTS_OK,           OLMTS_BAD_SEEK_MODE, OLMTS_GAP,
                                                   OLMTS_SEEK_LATER,   OLMTS_END_OF_DATA,   OLMTS_READ_ERROR,
                                                   OLMTS_NULL_HANDLE,  OLMTS_BAD_STREAM,    OLMTS_TAG_MISMATCH,
                                                   OLMTS_NO_MEMORY,    OLMTS_CANNOT_REOPEN, OLMTS_BAD_WINDOW,
                                                   OLMTS_NO_SUCH_NAME, OLMTS_TYPE_MISMATCH};

// Buffers of exactly the size a call promises to fill: under the sanitizers a
// byte written past the promise is reported.
template <typename T>
std::unique_ptr<T[]> Exact(std::size_t count) {
  return std::unique_ptr<T[]>(new T[count]);
}

// How a stream ended after reading everything it would give.
struct Drained {
  int scans = 0;       // scans delivered
  int32_t status = 0;  // the status that ended the reading
};

// Reads every scan of stream k with buffers sized from its first tag, as a caller
// that looked at the tag right after the open would.
inline Drained DrainScans(TsHandle* h, int k, int limit = 100000) {
  int32_t channels = 0, sample_size = 0;
  ReadTagHT(h, k, 1, "NCHN", OLMTS_TYPE_INT32, &channels);
  ReadTagHT(h, k, 1, "LSMP", OLMTS_TYPE_INT32, &sample_size);
  Drained d;
  for (int i = 0; i < limit; ++i) {
    int32_t flag = 0;
    auto values = Exact<double>(static_cast<std::size_t>(channels));
    auto scan = Exact<uint8_t>(static_cast<std::size_t>(channels * sample_size));
    d.status = (i % 2 == 0 || k == 0) ? ReadScanHT(h, k, &flag, scan.get()) : ReadScanDblHT(h, k, &flag, values.get());
    if (d.status != OLMTS_OK) break;
    ++d.scans;
  }
  return d;
}

inline Drained DrainSpectral(TsHandle* h, int limit = 100000) {
  int32_t channels = 0;
  ReadTagHT(h, 0, 1, "NCHN", OLMTS_TYPE_INT32, &channels);
  Drained d;
  for (int i = 0; i < limit; ++i) {
    int32_t flag = 0, window = 0, level = 0, index = 0;
    auto values = Exact<double>(2 * static_cast<std::size_t>(channels));
    d.status = ReadDftScanHT(h, &flag, &window, &level, &index, values.get());
    if (d.status != OLMTS_OK) break;
    GetDftFreqHT(h, index);
    ++d.scans;
  }
  return d;
}

// Every other reading call once on stream k; each must answer with a known status.
inline void ProbeStream(TsHandle* h, int k) {
  const TimeStamp early = MakeStamp(1999, 1, 1), late = MakeStamp(2099, 1, 1);
  std::vector<int32_t> statuses;
  statuses.push_back(SeekHT(h, k, late, 0));
  statuses.push_back(SeekHT(h, k, early, 0));
  statuses.push_back(GapHT(h, k));
  statuses.push_back(SkipRecHT(h, k));
  statuses.push_back(GapHT(h, k));
  for (int32_t size : {0, 1, 37, 4096}) {
    auto buffer = Exact<uint8_t>(static_cast<std::size_t>(size));
    statuses.push_back(ReadRecHT(h, k, size, buffer.get()));
  }
  for (const char* name : {"UTC", "SCNT", "NCHN", "LTAG", "LSMP", "SBREC", "CLST", "WINDX"}) {
    for (int32_t which : {0, 1}) {
      auto out = Exact<uint8_t>(std::string(name) == "UTC" ? 8 : 4);
      statuses.push_back(
          ReadTagHT(h, k, which, name, std::string(name) == "UTC" ? OLMTS_TYPE_TIMESTAMP : 0, out.get()));
    }
  }
  for (int32_t status : statuses) EXPECT_TRUE(kReadingStatuses.count(status)) << "status " << status;
}

class MalformedInputTest : public ::testing::Test {
 protected:
  ScratchDirectory dir{"malformed"};
  RecordingFiles files{dir.path(), "x314a"};

  void SetUp() override { TypicalTable().Write(files.Path(".TBL")); }

  // Opens the recording; the table is valid, so the open never fails on account
  // of the stream files.
  ScopedRecording Open() {
    ScopedRecording h = OpenRecording(files.base());
    EXPECT_NE(h.get(), nullptr);
    return h;
  }
};

// Three records of 4 scans of 3 channels, 32-byte tags: 68 bytes each.
inline constexpr int kRecords = 3;
inline Bytes SmallStream() { return EncodeStream(SmallTag(), kRecords); }

// Opens a calibration and evaluates it the way a caller would, with arrays of the
// channel counts the calls promise to fill; returns whether it opened.
inline bool OpenAndEvaluate(int32_t kind, const std::string& base, TsHandle* recording) {
  ScopedCalibration cal = OpenCalibration(kind, base);
  if (!cal) return false;
  int32_t nchn = 0;
  EXPECT_EQ(ReadCalPrmHT(cal, "NCHN", OLMTS_TYPE_INT32, &nchn), OLMTS_OK);
  EXPECT_TRUE(nchn >= 1 && nchn <= 12) << nchn;
  int32_t recording_channels = 0;
  GetNumChnHT(recording, &recording_channels);
  const std::set<int32_t> allowed = {OLMTS_OK,
                                     OLMTS_COMB_UNSUPPORTED,
                                     OLMTS_DECIMATION_UNSUPPORTED,
                                     OLMTS_NO_SUCH_NAME,
                                     OLMTS_TYPE_MISMATCH,
                                     OLMTS_NULL_HANDLE,
                                     OLMTS_BAD_STREAM,
                                     OLMTS_OUT_OF_CAL_RANGE,
                                     OLMTS_BAD_CAL_KIND,
                                     OLMTS_NO_RESPONSE,
                                     OLMTS_BAD_RATE_CODE,
                                     OLMTS_NO_MODEL,
                                     OLMTS_CHANNEL_COUNT_MISMATCH};
  for (double f : {0.0, -1.0, 1e-3, 1.0, 50.0, 1e4, 1e300, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    auto resp = Exact<Complex>(static_cast<std::size_t>(nchn));
    auto aux = Exact<double>(static_cast<std::size_t>(nchn));
    int32_t status = CalcSensorRespHT(cal, recording, f, resp.get(), aux.get());
    EXPECT_TRUE(allowed.count(status)) << "sensor response status " << status << " at " << f;
    for (int32_t stream : {1, 2}) {
      auto box = Exact<Complex>(static_cast<std::size_t>(recording_channels));
      auto box_aux = Exact<double>(static_cast<std::size_t>(recording_channels));
      status = CalcBoxRespHT(cal, recording, stream, f, box.get(), box_aux.get());
      EXPECT_TRUE(allowed.count(status)) << "box response status " << status << " at " << f;
    }
  }
  cal.Close();
  EXPECT_EQ(cal.get(), nullptr);
  return true;
}

inline BoxSpec SmallBox() {
  BoxSpec box;
  box.nchn = 5;  // the channel count of the typical recording
  box.tables = 4;
  box.points = 3;
  return box;
}

}  // namespace olmtsfil::testdata
