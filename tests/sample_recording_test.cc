// The sample recording shared by the tool, the benchmarks and the Python
// package: its tones, noise, streams and calibrations, read back through the C
// interface.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "olmtsfil.h"
#include "test_handles.h"
#include "writer/bytes_io.h"
#include "writer/sample_recording.h"
#include "writer/stream_writer.h"

namespace {

using namespace olmtsfil::testdata;
constexpr double kPi = std::numbers::pi;

class SampleRecordingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDirectory("sample_recording");
    sample_ = new SampleRecording(WriteSampleRecording(dir_->path()));
  }
  static void TearDownTestSuite() {
    delete sample_;
    delete dir_;
  }

  // `count` scans of a stream from `start`, every channel.
  static std::vector<std::vector<double>> ReadScans(int stream, const TimeStamp& start, int count,
                                                    TimeStamp* first_record) {
    const ScopedRecording h = OpenRecording(sample_->base);
    EXPECT_NE(h.get(), nullptr);
    SetConcatHT(h, 1);
    EXPECT_EQ(SeekHT(h, stream, start, 0), OLMTS_OK);
    std::vector<std::vector<double>> scans;
    for (int i = 0; i < count; ++i) {
      std::vector<double> values(5);
      int32_t flag = 0;
      EXPECT_EQ(ReadScanDblHT(h, stream, &flag, values.data()), OLMTS_OK) << i;
      if (i == 0) {
        EXPECT_EQ(ReadTagHT(h, stream, 0, "UTC", OLMTS_TYPE_TIMESTAMP, first_record), OLMTS_OK);
      }
      scans.push_back(values);
    }
    return scans;
  }

  // Every tone the stream carries, recovered from `count` scans by a direct DFT
  // and divided by the chain's response: amplitude and phase at the reference.
  static void ExpectTones(int stream, const TimeStamp& start, int count) {
    TimeStamp first{};
    const auto scans = ReadScans(stream, start, count, &first);
    const double rate = sample_->Stream(stream)->rate_hz;
    const double offset_s = static_cast<double>(StampToUnix(first) - StampToUnix(sample_->reference));
    int checked = 0;
    for (const SampleTone& tone : sample_->TonesOf(stream)) {
      std::complex<double> sum;
      for (int i = 0; i < count; ++i)
        sum += scans[static_cast<std::size_t>(i)][static_cast<std::size_t>(tone.component)] *
               std::polar(1.0, -2 * kPi * std::fmod(tone.frequency_hz * i / rate, 1.0));
      const std::complex<double> field = sum * (2.0 / count) /
                                         SampleChainResponse(*sample_, stream, tone.component, tone.frequency_hz) *
                                         std::polar(1.0, -2 * kPi * std::fmod(tone.frequency_hz * offset_s, 1.0));
      EXPECT_NEAR(std::abs(field) / tone.amplitude, 1.0, 0.01) << stream << ' ' << tone.frequency_hz;
      double phase_error = std::arg(field) * 180 / kPi - tone.phase_deg;
      phase_error = std::remainder(phase_error, 360.0);
      EXPECT_NEAR(phase_error, 0.0, 0.5) << stream << ' ' << tone.frequency_hz;
      ++checked;
    }
    EXPECT_GT(checked, 0);
  }

  static ScratchDirectory* dir_;
  static SampleRecording* sample_;
};

ScratchDirectory* SampleRecordingTest::dir_ = nullptr;
SampleRecording* SampleRecordingTest::sample_ = nullptr;

TEST_F(SampleRecordingTest, EveryStreamCarriesItsTonesAtTheirPhysicalAmplitude) {
  // The last burst of the high-rate stream (4 s, 0.25 Hz bins: the 250 Hz tone
  // as well), a minute of the low-rate stream across midnight, and the medium
  // stream in its second file.
  ExpectTones(2, MakeStamp(2026, 3, 14, 23, 54, 0), 4 * 2400);
  ExpectTones(4, MakeStamp(2026, 3, 14, 23, 59, 30), 60 * 15);
  ExpectTones(3, MakeStamp(2026, 3, 14, 23, 56, 0), 20 * 150);
  EXPECT_EQ(sample_->TonesOf(2).size(), 15u);
  EXPECT_EQ(sample_->TonesOf(3).size(), 10u);
  EXPECT_EQ(sample_->TonesOf(4).size(), 6u);  // tones up to 4 Hz at 15 Hz
}

TEST_F(SampleRecordingTest, NoiseIsPresentAndSmall) {
  // What is left after taking out the tones is the noise: about its stated rms.
  TimeStamp first{};
  const int count = 30 * 150;
  const auto scans = ReadScans(3, MakeStamp(2026, 3, 15, 0, 1, 0), count, &first);
  const double offset_s = static_cast<double>(StampToUnix(first) - StampToUnix(sample_->reference));
  const std::vector<SampleTone> tones = sample_->TonesOf(3);
  std::vector<std::complex<double>> responses;
  for (const SampleTone& tone : tones)
    responses.push_back(SampleChainResponse(*sample_, 3, tone.component, tone.frequency_hz));
  for (int c = 0; c < 5; ++c) {
    double sum_squares = 0;
    for (int i = 0; i < count; ++i) {
      double model = 0;
      for (std::size_t k = 0; k < tones.size(); ++k) {
        const SampleTone& tone = tones[k];
        if (tone.component != c) continue;
        const std::complex<double> r = responses[k];
        const double t = offset_s + i / 150.0;
        model += tone.amplitude * std::abs(r) *
                 std::cos(2 * kPi * std::fmod(tone.frequency_hz * t, 1.0) + tone.phase_deg * kPi / 180 + std::arg(r));
      }
      const double residual = scans[static_cast<std::size_t>(i)][static_cast<std::size_t>(c)] - model;
      sum_squares += residual * residual;
    }
    const double rms = std::sqrt(sum_squares / count);
    EXPECT_NEAR(rms / sample_->noise_rms, 1.0, 0.1) << c;
  }
}

TEST_F(SampleRecordingTest, TableHoldsEveryParameterTheExportedFunctionsRead) {
  const ScopedRecording h = OpenRecording(sample_->base);
  ASSERT_NE(h.get(), nullptr);
  double gains[12];
  EXPECT_EQ(CalcBoxNomGainHT(h, gains), OLMTS_OK);
  EXPECT_DOUBLE_EQ(gains[0], 10 / 6.4);
  EXPECT_DOUBLE_EQ(gains[2], 2 * 0.2 / 6.4);
  EXPECT_EQ(CalcSensorNomGainHT(h, gains), OLMTS_OK);
  EXPECT_EQ(gains[1], 100.0);
  int32_t channels = 0;
  EXPECT_EQ(GetNumChnHT(h, &channels), OLMTS_OK);
  EXPECT_EQ(channels, 5);
  const ScopedCalibration box = OpenCalibration(1, sample_->box_calibration);
  ASSERT_NE(box.get(), nullptr);
  for (int stream = 0; stream <= 5; ++stream) {
    double rate = 0, delay = 0;
    EXPECT_EQ(GetSampleRateHzHT(h, stream, &rate), OLMTS_OK) << stream;
    EXPECT_EQ(GetAcqDelayHT(h, stream, &delay), OLMTS_OK) << stream;
    Complex resp[12];
    double aux[12];
    EXPECT_EQ(CalcBoxRespHT(box, h, stream, 1.0, resp, aux), OLMTS_OK) << stream;
  }
  for (const std::string& coil : sample_->sensor_calibrations) {
    const ScopedCalibration sensor = OpenCalibration(2, coil);
    ASSERT_NE(sensor.get(), nullptr) << coil;
    Complex resp[1];
    double aux[1];
    EXPECT_EQ(CalcSensorRespHT(sensor, h, 1.0, resp, aux), OLMTS_OK) << coil;
  }
}

TEST_F(SampleRecordingTest, SpectralRecordsFollowTheirLevelLayout) {
  const ScopedRecording h = OpenRecording(sample_->base);
  ASSERT_NE(h.get(), nullptr);
  double values[10];
  int32_t flag = 0, window = 0, level = 0, index = 0, status = OLMTS_OK, count = 0;
  while ((status = ReadDftScanHT(h, &flag, &window, &level, &index, values)) == OLMTS_OK) {
    EXPECT_GT(GetDftFreqHT(h, index), 0.0) << count;
    ++count;
  }
  EXPECT_EQ(status, OLMTS_END_OF_DATA);
  EXPECT_EQ(count, sample_->spectral_records * 10);
}

TEST_F(SampleRecordingTest, WritingAgainGivesTheSameBytes) {
  // Tests in other languages compare against a sample written elsewhere.
  ScratchDirectory again("sample_again");
  const SampleRecording second = WriteSampleRecording(again.path());
  for (const SampleStream& s : second.streams)
    for (const std::string& path : s.files) {
      const std::string name = path.substr(again.path().size());
      EXPECT_EQ(ReadFile(path), ReadFile(dir_->path() + name)) << name;
    }
  for (const char* name : {"/site1_314a.TBL", "/site1_314a.TFC", "/box101.CLB", "/coil203.CLC"})
    EXPECT_EQ(ReadFile(again.path() + name), ReadFile(dir_->path() + name)) << name;
  ASSERT_EQ(second.tones.size(), sample_->tones.size());
  for (std::size_t i = 0; i < second.tones.size(); ++i)
    EXPECT_EQ(second.tones[i].amplitude, sample_->tones[i].amplitude);
}

}  // namespace
