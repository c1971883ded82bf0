// `olmts export` run as a user runs it, its files read back by independent
// readers: every miniSEED record through libmseed's own reader against the scans
// and record times the library gives, station.xml against the FDSN schema.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "olmts/export/seed_codes.h"
#include "olmtsfil.h"
#include "writer/bytes_io.h"
#include "writer/sample_recording.h"
#include "writer/stream_writer.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace {

using namespace olmtsfil::testdata;
namespace fs = std::filesystem;

struct Result {
  int exit_code = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Result RunTool(const std::string& args) {
  static ScratchDirectory io("olmts_export_io");
  static int serial = 0;
  const std::string out = io.File("out" + std::to_string(serial)), err = io.File("err" + std::to_string(serial++));
  const std::string command =
      std::string("\"") + OLMTS_TOOL_PATH + "\" " + args + " >\"" + out + "\" 2>\"" + err + "\"";
  const int status = std::system(command.c_str());
  Result r;
#if defined(_WIN32)
  r.exit_code = status;
#else
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

// One sample as a reader sees it: its count and its time in microseconds.
struct Sample {
  int32_t count = 0;
  double time_us = 0;
};

// The scans of one channel of a stream as the library hands them out, each at
// its record's tag time plus its place in the record over the tag's rate.
std::vector<Sample> LibrarySamples(const std::string& base, int stream, int channel) {
  TsHandle* h = TSOpenHT(base.c_str());
  EXPECT_NE(h, nullptr);
  std::vector<Sample> out;
  if (h == nullptr) return out;
  SetConcatHT(h, 1);
  int32_t nchn = 0, lsmp = 0, rate = 0;
  ReadTagHT(h, stream, 1, "NCHN", OLMTS_TYPE_INT32, &nchn);
  ReadTagHT(h, stream, 1, "LSMP", OLMTS_TYPE_INT32, &lsmp);
  std::vector<unsigned char> scan(static_cast<std::size_t>(nchn * lsmp));
  int32_t flag = 0, index = 0;
  double record_us = 0;
  while (ReadScanHT(h, stream, &flag, scan.data()) == OLMTS_OK) {
    if (flag == 1) {
      TimeStamp utc{};
      ReadTagHT(h, stream, 0, "UTC", OLMTS_TYPE_TIMESTAMP, &utc);
      ReadTagHT(h, stream, 0, "RATE", OLMTS_TYPE_INT32, &rate);
      std::tm tm{};
      tm.tm_year = utc.century * 100 + utc.year - 1900;
      tm.tm_mon = utc.month - 1;
      tm.tm_mday = utc.day;
      tm.tm_hour = utc.hour;
      tm.tm_min = utc.minute;
      tm.tm_sec = utc.second;
      record_us = static_cast<double>(timegm(&tm)) * 1e6;
      index = 0;
    }
    const unsigned char* s = scan.data() + (channel - 1) * lsmp;
    const int32_t value = static_cast<int32_t>((uint32_t{s[0]} | uint32_t{s[1]} << 8 | uint32_t{s[2]} << 16) << 8) >> 8;
    out.push_back({value, record_us + index++ * 1e6 / rate});
  }
  TSCloseHT(&h);
  return out;
}

struct MseedFile {
  std::vector<Sample> samples;
  int records = 0;
  int discontinuities = 0;         // records that do not start where the last one ended
  bool microsecond_times = false;  // a record start the 100 us header field alone cannot hold
  std::string network, station, location, channel;
  int encoding = -1;
  double rate = 0;
};

// libmseed's reader, record by record.
MseedFile ReadMseed(const std::string& path) {
  MseedFile f;
  MSRecord* msr = nullptr;
  MSFileParam* fp = nullptr;
  double next_us = 0;
  int status;
  while ((status = ms_readmsr_r(&fp, &msr, path.c_str(), 0, nullptr, nullptr, 1, 1, 0)) == MS_NOERROR) {
    EXPECT_EQ(msr->sampletype, 'i');
    f.network = msr->network;
    f.station = msr->station;
    f.location = msr->location;
    f.channel = msr->channel;
    f.encoding = msr->encoding;
    f.rate = msr->samprate;
    const double start = static_cast<double>(msr->starttime);
    if (f.records > 0 && std::fabs(start - next_us) > 1.0) ++f.discontinuities;
    if (msr->starttime % 100 != 0) f.microsecond_times = true;
    const auto* data = static_cast<const int32_t*>(msr->datasamples);
    for (int64_t i = 0; i < msr->numsamples; ++i)
      f.samples.push_back({data[i], start + static_cast<double>(i) * 1e6 / msr->samprate});
    next_us = start + static_cast<double>(msr->numsamples) * 1e6 / msr->samprate;
    ++f.records;
  }
  EXPECT_EQ(status, MS_ENDOFFILE) << path << ": " << ms_errorstr(status);
  ms_readmsr_r(&fp, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
  return f;
}

// Counts equal sample for sample, times within the microsecond of rounding.
void ExpectSameSamples(const std::vector<Sample>& library, const std::vector<Sample>& exported,
                       const std::string& what) {
  ASSERT_EQ(exported.size(), library.size()) << what;
  std::size_t bad_count = 0, bad_time = 0;
  for (std::size_t i = 0; i < library.size(); ++i) {
    bad_count += exported[i].count != library[i].count;
    bad_time += std::fabs(exported[i].time_us - library[i].time_us) > 1.0;
  }
  EXPECT_EQ(bad_count, 0u) << what;
  EXPECT_EQ(bad_time, 0u) << what;
}

// The sample's components on their channels with the codes the export must
// give them, and each stream's band code.
const struct {
  int channel;
  const char* code;
} kComponents[] = {{1, "QN"}, {2, "QE"}, {3, "FN"}, {4, "FE"}, {5, "FZ"}};
const std::map<int, char> kBands = {{2, 'F'}, {3, 'H'}, {4, 'B'}};

std::string MseedName(const std::string& dir, char band, const char* code) {
  return dir + "/XX.SAMPL.." + band + code + ".mseed";
}

class Export : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDirectory("olmts_export");
    sample_ = new SampleRecording(WriteSampleRecording(dir_->File("sample")));
  }
  static void TearDownTestSuite() {
    delete sample_;
    delete dir_;
  }
  static std::string Calibrations() {
    std::string args = " --box " + sample_->box_calibration;
    for (const std::string& s : sample_->sensor_calibrations) args += " --sensor " + s;
    return args;
  }
  static ScratchDirectory* dir_;
  static SampleRecording* sample_;
};
ScratchDirectory* Export::dir_ = nullptr;
SampleRecording* Export::sample_ = nullptr;

TEST_F(Export, EveryStreamReadsBackThroughLibmseedAsTheLibrarysCountsAtTheSameTimes) {
  const std::string out = dir_->File("all");
  const Result r = RunTool("export " + sample_->base + " --concat --out " + out + Calibrations());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("station SAMPL (from the site name \"Sample site 1\""), std::string::npos) << r.out;
  for (const SampleStream& s : sample_->streams) {
    const char band = kBands.at(s.stream);
    for (const auto& c : kComponents) {
      const std::string path = MseedName(out, band, c.code);
      SCOPED_TRACE(path);
      ASSERT_TRUE(fs::exists(path));
      const MseedFile f = ReadMseed(path);
      EXPECT_EQ(f.network, "XX");
      EXPECT_EQ(f.station, "SAMPL");
      EXPECT_EQ(f.location, "");
      EXPECT_EQ(f.channel, std::string{band} + c.code);
      EXPECT_EQ(f.encoding, DE_STEIM2);
      EXPECT_DOUBLE_EQ(f.rate, s.rate_hz);
      const std::vector<Sample> library = LibrarySamples(sample_->base, s.stream, c.channel);
      EXPECT_EQ(static_cast<int64_t>(library.size()), s.records * s.scans_per_record);
      ExpectSameSamples(library, f.samples, path);
      // A new run of records wherever the recording has a gap, and only there.
      EXPECT_EQ(f.discontinuities, s.bursts - 1);
      // 150 Hz puts record starts between the 100 us steps of the header.
      if (s.rate_hz == 150) {
        EXPECT_TRUE(f.microsecond_times);
      }
    }
  }
  for (const auto& entry : fs::directory_iterator(out)) EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

TEST_F(Export, ADamagedRecordEndsItsStreamWithExitTwoAndKeepsEveryScanBeforeIt) {
  // A copy of the sample whose stream-3 file has record 40 of another box.
  const std::string copy = dir_->File("damaged");
  fs::copy(dir_->File("sample"), copy, fs::copy_options::recursive);
  const std::string base = copy + "/site1_314a";
  const std::string ts3 = base + ".TS3";
  Bytes bytes = ReadFile(ts3);
  ASSERT_GT(bytes.size(), 60u);
  const TagSpec first = DecodeTag(bytes);
  const std::size_t record = first.RecordSize();
  const int damaged = 40;
  ASSERT_GT(bytes.size(), record * (damaged + 1));
  WriteFile(ts3, WithField(bytes, olmtsfil::layout::tag::kSnum, first.snum + 1u, record * damaged));

  const std::string out = dir_->File("damaged-out");
  const Result r = RunTool("export " + base + " --concat --stream 3 --out " + out + Calibrations());
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_NE(r.err.find(ts3), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("status 1225"), std::string::npos) << r.err;
  for (const auto& c : kComponents) {
    const std::string path = MseedName(out, 'H', c.code);
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::exists(path));
    const std::vector<Sample> library = LibrarySamples(base, 3, c.channel);
    EXPECT_EQ(library.size(), static_cast<std::size_t>(damaged) * first.scnt);
    ExpectSameSamples(library, ReadMseed(path).samples, path);
  }
  EXPECT_TRUE(fs::exists(out + "/station.xml"));
}

TEST_F(Export, StationXmlValidatesAgainstTheFdsnSchemaWithAndWithoutResponses) {
  if (!fs::exists(OLMTS_FDSN_SCHEMA))
    GTEST_SKIP() << "no FDSN schema at " << OLMTS_FDSN_SCHEMA << ": validation skipped";
  for (const std::string& extra : {Calibrations(), std::string(" --station S1 --network ZZ --location 01")}) {
    const std::string out = dir_->File("xml" + std::to_string(extra.size()));
    const Result r = RunTool("export " + sample_->base + " --concat --out " + out + extra);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string log = out + "/xmllint.txt";
    const int status = std::system(
        ("xmllint --noout --schema \"" OLMTS_FDSN_SCHEMA "\" \"" + out + "/station.xml\" >\"" + log + "\" 2>&1")
            .c_str());
    EXPECT_EQ(status, 0) << extra << "\n" << Slurp(log);
  }
}

TEST_F(Export, AFailedWriteLeavesNoPartialFileAndNamesTheCompleteOnes) {
  // A folder standing where the last 150 Hz file goes: every write succeeds but
  // that file cannot take its final name, and nothing after it is written.
  const std::string out = dir_->File("blocked");
  fs::create_directories(MseedName(out, 'H', "FZ") + "/inside");
  const Result r = RunTool("export " + sample_->base + " --concat --out " + out);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("cannot rename"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("complete files:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(MseedName(out, 'F', "QN")), std::string::npos) << r.err;  // stream 2 came first
  for (const auto& entry : fs::directory_iterator(out)) {
    EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    // Whatever stands under a final name is complete, and said to be.
    if (entry.is_regular_file()) {
      EXPECT_NE(r.err.find(entry.path().string()), std::string::npos) << entry.path() << " not named complete";
    }
  }
  EXPECT_FALSE(fs::exists(out + "/station.xml"));
}

TEST_F(Export, RefusesBadCodesBeforeWritingAnything) {
  const std::string out = dir_->File("refused");
  for (const char* bad : {"--network XYZ", "--network x1", "--station TOOLONG", "--location ABC", "--stream 1"}) {
    const Result r = RunTool("export " + sample_->base + " --out " + out + " " + bad);
    EXPECT_EQ(r.exit_code, 1) << bad << ": " << r.err;
    EXPECT_FALSE(fs::exists(out)) << bad;
  }
}

TEST(SeedCodes, BandFromRateInstrumentFromFieldOrientationFromAzimuth) {
  using namespace olmts::exporting;
  EXPECT_EQ(BandCode(24000), 'J');
  EXPECT_EQ(BandCode(2400), 'F');
  EXPECT_EQ(BandCode(1000), 'F');
  EXPECT_EQ(BandCode(999.9), 'C');
  EXPECT_EQ(BandCode(150), 'H');
  EXPECT_EQ(BandCode(15), 'B');
  EXPECT_EQ(BandCode(10), 'B');
  EXPECT_EQ(BandCode(4), 'M');
  EXPECT_EQ(BandCode(1), 'L');
  EXPECT_EQ(BandCode(1.0 / 60), 'V');
  EXPECT_EQ(BandCode(0), 0);
  EXPECT_EQ(BandCode(std::nan("")), 0);

  Component hx{"Hx", 3, true, 'x', 0, 0, false};
  EXPECT_EQ(ChannelCode(150, hx), "HFN");
  hx.azimuth_from_table = true;
  hx.azimuth_deg = 357;  // within 5 degrees of north
  EXPECT_EQ(ChannelCode(150, hx), "HFN");
  hx.azimuth_deg = 30;
  EXPECT_EQ(ChannelCode(150, hx), "HF1");
  Component ey{"Ey", 2, false, 'y', 120, 0, true};
  EXPECT_EQ(ChannelCode(1, ey), "LQ2");
  Component hz{"Hz", 5, true, 'z', 0, 90, false};
  EXPECT_EQ(ChannelCode(15, hz), "BFZ");

  EXPECT_EQ(StationFromSite("Sample site 1"), "SAMPL");
  EXPECT_EQ(StationFromSite("  a-1 "), "A1");
  EXPECT_EQ(StationFromSite("\xc3\xa9t\xc3\xa9"), "T");
  EXPECT_EQ(StationFromSite("--"), "");
  EXPECT_FALSE(CheckCode("XX", "network", 1, 2));
  EXPECT_TRUE(CheckCode("", "network", 1, 2));
  EXPECT_TRUE(CheckCode("x", "network", 1, 2));
  EXPECT_FALSE(CheckCode("", "location", 0, 2));
}

}  // namespace
