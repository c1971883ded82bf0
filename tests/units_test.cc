// The physical-units extension through the C interface, on the sample
// recording: the stages of every channel and what they are made of, the checks
// of the calibrations given, and the tones coming back from the conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "olmtsfil.h"
#include "test_handles.h"
#include "writer/bytes_io.h"
#include "writer/sample_recording.h"
#include "writer/tone_fit.h"

namespace {

using namespace olmtsfil::testdata;
constexpr double kPi = std::numbers::pi;

std::complex<double> Z(Complex c) { return {c.re, c.im}; }

class UnitsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDirectory("units");
    sample_ = new SampleRecording(WriteSampleRecording(dir_->path()));
  }
  static void TearDownTestSuite() {
    delete sample_;
    delete dir_;
  }

  void SetUp() override {
    ts_ = OpenRecording(sample_->base);
    box_ = OpenCalibration(1, sample_->box_calibration);
    ASSERT_NE(ts_.get(), nullptr);
    ASSERT_NE(box_.get(), nullptr);
    for (int i = 0; i < 3; ++i) {
      coils_[i] = OpenCalibration(2, sample_->sensor_calibrations[static_cast<std::size_t>(i)]);
      ASSERT_NE(coils_[i].get(), nullptr);
    }
  }
  // The chain goes before the handles it was formed from.
  void TearDown() override { olmts_chain_close(&chain_); }

  // The sample's sensors: Hx, Hy, Hz on channels 3 ... 5.
  int32_t Open(int stream, int32_t options = 0, CalHandle* box = nullptr) {
    CalHandle* sensors[12] = {nullptr, nullptr, coils_[0], coils_[1], coils_[2]};
    return olmts_chain_open(ts_, stream, box != nullptr ? box : box_.get(), sensors, nullptr, options, 0.0, &chain_);
  }

  OlmtsStageInfo Info(int channel, int stage) {
    OlmtsStageInfo info{};
    EXPECT_EQ(olmts_chain_stage_info(chain_, channel, stage, &info), OLMTS_OK);
    return info;
  }

  std::complex<double> Response(int channel, int stage, double f, int32_t* outside = nullptr) {
    Complex c{};
    EXPECT_EQ(olmts_chain_stage_response(chain_, channel, stage, f, &c, outside), OLMTS_OK) << f;
    return Z(c);
  }

  // Every scan of one contiguous stream, concatenated over its files.
  std::vector<double> ReadAll(int stream) {
    SetConcatHT(ts_, 1);
    std::vector<double> out;
    double v[12];
    int32_t flag = 0;
    while (ReadScanDblHT(ts_, stream, &flag, v) == OLMTS_OK) out.insert(out.end(), v, v + 5);
    return out;
  }

  // Pushes `piece` scans at a time, each time pulling all that is ready, at
  // most `pull` scans per call.
  std::vector<double> Convert(int mode, const std::vector<double>& in, const OlmtsConvertOptions* options,
                              int piece = 977, int32_t pull = INT32_MAX) {
    OlmtsConverter* conv = nullptr;
    EXPECT_EQ(olmts_converter_open(chain_, mode, options, &conv), OLMTS_OK);
    const int32_t scans = static_cast<int32_t>(in.size() / 5);
    std::vector<double> out(in.size());
    int32_t got = 0, n = 0;
    const auto drain = [&] {
      do {
        EXPECT_EQ(olmts_converter_pull(conv, out.data() + got * 5, std::min(pull, scans - got), &n), OLMTS_OK);
        got += n;
      } while (n > 0 && got < scans);
    };
    for (int32_t i = 0; i < scans; i += piece) {
      EXPECT_EQ(olmts_converter_push(conv, in.data() + i * 5, std::min(piece, scans - i)), OLMTS_OK);
      drain();
    }
    EXPECT_EQ(olmts_converter_finish(conv), OLMTS_OK);
    drain();
    EXPECT_EQ(got, scans);
    olmts_converter_close(&conv);
    EXPECT_EQ(conv, nullptr);
    return out;
  }

  // Scans [first, end) of the run `in` from a converter started late, fed only
  // the input it asks for, in pieces; end < 0: to the run's end.
  std::vector<double> Window(int mode, const std::vector<double>& in, int64_t first, int64_t end,
                             const OlmtsConvertOptions* options, OlmtsConverter* conv = nullptr) {
    const bool own = conv == nullptr;
    if (own) {
      EXPECT_EQ(olmts_converter_open(chain_, mode, options, &conv), OLMTS_OK);
    }
    const int64_t scans = static_cast<int64_t>(in.size() / 5);
    int64_t from = -2, to = -2;
    EXPECT_EQ(olmts_converter_start(conv, first, end, &from, &to), OLMTS_OK);
    EXPECT_GE(from, 0);
    EXPECT_LE(from, first);
    if (end > first) {
      EXPECT_GE(to, end);
    }
    const int64_t stop = to < 0 ? scans : std::min(to, scans);
    const int64_t wanted = std::max<int64_t>(0, (end < 0 ? scans : std::min(end, scans)) - first);
    std::vector<double> out(static_cast<std::size_t>(wanted) * 5 + 5);
    int32_t got = 0, n = 0;
    for (int64_t i = from; i < stop; i += 3001) {
      const int32_t piece = static_cast<int32_t>(std::min<int64_t>(3001, stop - i));
      EXPECT_EQ(olmts_converter_push(conv, in.data() + i * 5, piece), OLMTS_OK);
      EXPECT_EQ(olmts_converter_pull(conv, out.data() + got * 5, static_cast<int32_t>(wanted + 1) - got, &n), OLMTS_OK);
      got += n;
    }
    EXPECT_EQ(olmts_converter_finish(conv), OLMTS_OK);
    EXPECT_EQ(olmts_converter_pull(conv, out.data() + got * 5, static_cast<int32_t>(wanted + 1) - got, &n), OLMTS_OK);
    got += n;
    EXPECT_EQ(got, wanted) << first << " " << end;
    out.resize(static_cast<std::size_t>(got) * 5);
    if (own) olmts_converter_close(&conv);
    return out;
  }

  static std::vector<double> Slice(const std::vector<double>& whole, int64_t first, int64_t end) {
    const int64_t scans = static_cast<int64_t>(whole.size() / 5);
    end = end < 0 ? scans : std::min(end, scans);
    return {whole.begin() + first * 5, whole.begin() + std::max(first, end) * 5};
  }

  static ScratchDirectory* dir_;
  static SampleRecording* sample_;
  ScopedRecording ts_;
  ScopedCalibration box_;
  ScopedCalibration coils_[3];
  OlmtsChain* chain_ = nullptr;
};
ScratchDirectory* UnitsTest::dir_ = nullptr;
SampleRecording* UnitsTest::sample_ = nullptr;

TEST_F(UnitsTest, StagesCarryUnitsSourcesAndTheLibrarysResponses) {
  ASSERT_EQ(Open(3), OLMTS_OK);
  int32_t n = 0;
  ASSERT_EQ(olmts_chain_channels(chain_, &n), OLMTS_OK);
  ASSERT_EQ(n, 5);
  char component[4], units[8];
  ASSERT_EQ(olmts_chain_channel(chain_, 1, component, units), OLMTS_OK);
  EXPECT_STREQ(component, "Ex");
  EXPECT_STREQ(units, "mV/km");
  ASSERT_EQ(olmts_chain_channel(chain_, 4, component, units), OLMTS_OK);
  EXPECT_STREQ(component, "Hy");
  EXPECT_STREQ(units, "nT");

  const char* electric[] = {"dipole", "box", "digitiser"};
  const char* magnetic[] = {"sensor", "box", "digitiser"};
  for (int c = 1; c <= 5; ++c) {
    int32_t count = 0;
    ASSERT_EQ(olmts_chain_stage_count(chain_, c, &count), OLMTS_OK);
    ASSERT_EQ(count, 3);
    for (int s = 0; s < 3; ++s) EXPECT_STREQ(Info(c, s).name, (c <= 2 ? electric : magnetic)[s]) << c;
    // Each stage's output is the next one's input, physical units to counts.
    EXPECT_STREQ(Info(c, 0).input_units, c <= 2 ? "mV/km" : "nT");
    EXPECT_STREQ(Info(c, 0).output_units, "V");
    EXPECT_STREQ(Info(c, 1).input_units, "V");
    EXPECT_STREQ(Info(c, 1).output_units, "V");
    EXPECT_STREQ(Info(c, 2).output_units, "counts");
    EXPECT_EQ(Info(c, OLMTS_STAGE_TOTAL).flags, 0) << c;
  }
  EXPECT_DOUBLE_EQ(Info(1, 0).gain, 100 * 1e-6);  // 100 m dipole
  EXPECT_NE(std::string(Info(1, 0).source).find("EXLN"), std::string::npos);
  EXPECT_DOUBLE_EQ(Info(3, 2).gain, 8388608.0 / 6.4);
  EXPECT_STREQ(Info(3, 0).serial, "COIL201");
  EXPECT_DOUBLE_EQ(Info(3, 0).gain_frequency_hz, 1.5);

  double samples = 0, seconds = 0, rate = 0, delay = 0;
  ASSERT_EQ(olmts_chain_delay(chain_, &samples, &seconds), OLMTS_OK);
  ASSERT_EQ(olmts_chain_sample_rate(chain_, &rate), OLMTS_OK);
  ASSERT_EQ(GetAcqDelayHT(ts_, 3, &delay), OLMTS_OK);
  EXPECT_EQ(samples, delay);
  EXPECT_DOUBLE_EQ(seconds, delay / 150.0);

  for (double f : {0.05, 1.0, 12.0, 40.0}) {
    Complex box[12], sensor[1];
    double aux[12];
    ASSERT_EQ(CalcBoxRespHT(box_, ts_, 3, f, box, aux), OLMTS_OK);
    ASSERT_EQ(CalcSensorRespHT(coils_[1], ts_, f, sensor, aux), OLMTS_OK);
    // The box stage is the library's box response without the delay's phase.
    const std::complex<double> library = Z(box[3]);
    const std::complex<double> stage = Response(4, 1, f);
    EXPECT_NEAR(std::abs(stage / library - std::polar(1.0, 2 * kPi * f * seconds)), 0.0, 1e-12) << f;
    EXPECT_NEAR(std::abs(Response(4, 0, f) / Z(sensor[0]) - 1.0), 0.0, 1e-15) << f;
    const std::complex<double> total = Response(4, 0, f) * stage * (8388608.0 / 6.4);
    EXPECT_NEAR(std::abs(Response(4, OLMTS_STAGE_TOTAL, f) / total - 1.0), 0.0, 1e-12) << f;
    // The writer's chain (fraction per unit, delay included) is the same thing.
    const std::complex<double> written = SampleChainResponse(*sample_, 3, 3, f) * 8388608.0;
    EXPECT_NEAR(std::abs(Response(4, OLMTS_STAGE_TOTAL, f) * std::polar(1.0, -2 * kPi * f * seconds) / written - 1.0),
                0.0, 1e-12)
        << f;
  }
}

TEST_F(UnitsTest, FrequenciesOutsideTheCalibrationsAreFlagged) {
  ASSERT_EQ(Open(2), OLMTS_OK);
  int32_t outside = -1;
  Response(3, 1, 100.0, &outside);
  EXPECT_EQ(outside, 0);
  Response(3, 1, 0.005, &outside);  // below the box's lowest table
  EXPECT_EQ(outside, 1);
  Response(3, OLMTS_STAGE_TOTAL, 0.005, &outside);
  EXPECT_EQ(outside, 1);
  Response(1, 0, 1e-6, &outside);  // a dipole has no calibrated range
  EXPECT_EQ(outside, 0);
  // Far above every table the library refuses: that status passes through.
  Complex c;
  EXPECT_EQ(olmts_chain_stage_response(chain_, 3, 0, 1e6, &c, &outside), OLMTS_OUT_OF_CAL_RANGE);
  const OlmtsStageInfo box = Info(3, 1);
  EXPECT_NEAR(box.fmin_hz, 0.01, 1e-6);
  EXPECT_NEAR(box.fmax_hz, 20000.0, 1e-2);
}

TEST_F(UnitsTest, MissingSensorsFallBackToTheTablesValueSaidSoOrAreRefused) {
  CalHandle* sensors[12] = {nullptr, nullptr, coils_[0], nullptr, coils_[2]};
  ASSERT_EQ(olmts_chain_open(ts_, 3, box_, sensors, nullptr, 0, 0.0, &chain_), OLMTS_OK);
  const OlmtsStageInfo hy = Info(4, 0);
  EXPECT_EQ(hy.flags & OLMTS_STAGE_TABLE_NOMINAL, OLMTS_STAGE_TABLE_NOMINAL);
  EXPECT_DOUBLE_EQ(hy.gain, 0.8);  // "HNOM", in V/nT like the calibrations' own value
  EXPECT_NE(std::string(hy.source).find("HNOM"), std::string::npos);
  EXPECT_STREQ(hy.input_units, "nT");
  EXPECT_EQ(Info(4, OLMTS_STAGE_TOTAL).flags & OLMTS_STAGE_TABLE_NOMINAL, OLMTS_STAGE_TABLE_NOMINAL);
  EXPECT_EQ(Info(3, 0).flags, 0);
  olmts_chain_close(&chain_);

  OlmtsChain* refused = nullptr;
  EXPECT_EQ(olmts_chain_open(ts_, 3, box_, sensors, nullptr, OLMTS_CHAIN_REQUIRE_SENSORS, 0.0, &refused),
            OLMTS_SENSOR_REQUIRED);
  EXPECT_EQ(refused, nullptr);
}

TEST_F(UnitsTest, CalibrationsOfOtherInstrumentsAreRefusedOrReported) {
  // The box calibration of another box.
  const std::string other = dir_->path() + "/box777";
  WriteFile(other + ".CLB",
            WithField(ReadFile(sample_->box_calibration + ".CLB"), olmtsfil::layout::cal_header::kSnum, 777));
  const ScopedCalibration foreign = OpenCalibration(1, other);
  ASSERT_NE(foreign.get(), nullptr);
  EXPECT_EQ(Open(3, 0, foreign), OLMTS_BOX_SERIAL_MISMATCH);
  EXPECT_EQ(chain_, nullptr);
  ASSERT_EQ(Open(3, OLMTS_CHAIN_FORCE_BOX, foreign), OLMTS_OK);
  EXPECT_EQ(Info(1, 1).flags & OLMTS_STAGE_BOX_FORCED, OLMTS_STAGE_BOX_FORCED);
  EXPECT_NE(std::string(Info(1, 1).source).find("101"), std::string::npos);  // the records' serial
  olmts_chain_close(&chain_);

  // Hy's coil on Hx: the table names COIL201 there.
  CalHandle* swapped[12] = {nullptr, nullptr, coils_[1], coils_[0], coils_[2]};
  ASSERT_EQ(olmts_chain_open(ts_, 3, box_, swapped, nullptr, 0, 0.0, &chain_), OLMTS_OK);
  EXPECT_EQ(Info(3, 0).flags & OLMTS_STAGE_SERIAL_MISMATCH, OLMTS_STAGE_SERIAL_MISMATCH);
  EXPECT_NE(std::string(Info(3, 0).source).find("COIL201"), std::string::npos);
  EXPECT_EQ(Info(5, 0).flags & OLMTS_STAGE_SERIAL_MISMATCH, 0);
}

TEST_F(UnitsTest, ArgumentsAreCheckedBeforeAnythingIsMade) {
  OlmtsChain* chain = nullptr;
  EXPECT_EQ(olmts_chain_open(nullptr, 3, box_, nullptr, nullptr, 0, 0.0, &chain), OLMTS_NULL_HANDLE);
  EXPECT_EQ(olmts_chain_open(ts_, 3, nullptr, nullptr, nullptr, 0, 0.0, &chain), OLMTS_NULL_CAL_HANDLE);
  EXPECT_EQ(olmts_chain_open(ts_, 3, box_, nullptr, nullptr, 0, 0.0, nullptr), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_chain_open(ts_, 3, box_, nullptr, nullptr, 0x100, 0.0, &chain), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_chain_open(ts_, 0, box_, nullptr, nullptr, 0, 0.0, &chain), OLMTS_BAD_STREAM);
  EXPECT_EQ(olmts_chain_open(ts_, 6, box_, nullptr, nullptr, 0, 0.0, &chain), OLMTS_BAD_STREAM);
  CalHandle* sensors[12] = {nullptr, nullptr, coils_[0]};
  const int32_t blocks[12] = {0, 0, 1};  // a one-channel coil has no block 1
  EXPECT_EQ(olmts_chain_open(ts_, 3, box_, sensors, blocks, 0, 0.0, &chain), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(chain, nullptr);

  ASSERT_EQ(Open(3), OLMTS_OK);
  OlmtsStageInfo info;
  Complex c;
  int32_t count;
  EXPECT_EQ(olmts_chain_stage_info(chain_, 0, 0, &info), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_chain_stage_info(chain_, 6, 0, &info), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_chain_stage_info(chain_, 1, 3, &info), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_chain_stage_info(chain_, 1, -2, &info), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_chain_stage_response(chain_, 1, 0, NAN, &c, nullptr), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_chain_stage_count(nullptr, 1, &count), OLMTS_BAD_ARGUMENT);

  OlmtsConverter* conv = nullptr;
  EXPECT_EQ(olmts_converter_open(chain_, 3, nullptr, &conv), OLMTS_BAD_ARGUMENT);
  OlmtsConvertOptions bad{0, 0, 1000, 0};  // not a power of two
  EXPECT_EQ(olmts_converter_open(chain_, OLMTS_UNITS_DECONVOLVED, &bad, &conv), OLMTS_BAD_ARGUMENT);
  OlmtsConvertOptions above{0, 80, 0, 0};  // above the 75 Hz Nyquist frequency
  EXPECT_EQ(olmts_converter_open(chain_, OLMTS_UNITS_DECONVOLVED, &above, &conv), OLMTS_BAD_ARGUMENT);
  OlmtsConvertOptions inverted{10, 5, 0, 0};
  EXPECT_EQ(olmts_converter_open(chain_, OLMTS_UNITS_DECONVOLVED, &inverted, &conv), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(conv, nullptr);
  ASSERT_EQ(olmts_converter_open(chain_, OLMTS_UNITS_NOMINAL, nullptr, &conv), OLMTS_OK);
  int32_t got = 0;
  EXPECT_EQ(olmts_converter_push(conv, nullptr, 1), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_converter_pull(conv, nullptr, 1, &got), OLMTS_BAD_ARGUMENT);
  olmts_converter_close(&conv);
  olmts_converter_close(&conv);  // already NULL: nothing happens
  olmts_chain_close(nullptr);
}

TEST_F(UnitsTest, NominalRunsStartedLateGiveTheirWindowAndAreRefusedOncePushed) {
  ASSERT_EQ(Open(3), OLMTS_OK);
  const std::vector<double> fractions = ReadAll(3);
  const std::vector<double> whole = Convert(OLMTS_UNITS_NOMINAL, fractions, nullptr);
  for (auto [first, end] : {std::pair<int64_t, int64_t>{0, 10}, {777, 5000}, {5000, -1}, {9, 9}})
    EXPECT_EQ(Window(OLMTS_UNITS_NOMINAL, fractions, first, end, nullptr), Slice(whole, first, end)) << first;

  OlmtsConverter* conv = nullptr;
  ASSERT_EQ(olmts_converter_open(chain_, OLMTS_UNITS_NOMINAL, nullptr, &conv), OLMTS_OK);
  int64_t from = -2, to = -2;
  EXPECT_EQ(olmts_converter_start(conv, -1, 10, &from, &to), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_converter_start(conv, 10, 9, &from, &to), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_converter_start(conv, 0, (int64_t{1} << 62) + 1, &from, &to), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_converter_start(conv, 0, 10, nullptr, &to), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_converter_start(nullptr, 0, 10, &from, &to), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_converter_start(conv, int64_t{1} << 62, -1, &from, &to), OLMTS_OK);
  EXPECT_EQ(olmts_converter_start(conv, 0, -1, &from, &to), OLMTS_OK);  // not pushed yet: may start again
  ASSERT_EQ(olmts_converter_push(conv, fractions.data(), 1), OLMTS_OK);
  from = to = -2;
  EXPECT_EQ(olmts_converter_start(conv, 0, 10, &from, &to), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(from, -2);
  EXPECT_EQ(olmts_converter_finish(conv), OLMTS_OK);
  // Refused, the run went on as it was; finished, the next run may start late.
  std::vector<double> one(5);
  int32_t got = 0;
  EXPECT_EQ(olmts_converter_pull(conv, one.data(), 1, &got), OLMTS_OK);
  EXPECT_EQ(one, Slice(whole, 0, 1));
  EXPECT_EQ(Window(OLMTS_UNITS_NOMINAL, fractions, 40, 50, nullptr, conv), Slice(whole, 40, 50));
  olmts_converter_close(&conv);
}

#if !defined(_WIN32)
// The tones of every component come back from the deconvolved series of each
// stream that resolves them, the 150 Hz one across midnight and its files.
TEST_F(UnitsTest, DeconvolvedSeriesGiveBackTheInjectedTones) {
  for (int stream : {3, 4}) {
    SCOPED_TRACE(stream);
    ASSERT_EQ(Open(stream), OLMTS_OK);
    const std::vector<double> fractions = ReadAll(stream);
    const std::size_t scans = fractions.size() / 5;
    ASSERT_EQ(scans, stream == 3 ? 135000u : 18000u);
    const std::vector<double> field = Convert(OLMTS_UNITS_DECONVOLVED, fractions, nullptr);
    double rate = 0, delay = 0;
    olmts_chain_sample_rate(chain_, &rate);
    olmts_chain_delay(chain_, nullptr, &delay);
    // Both streams start at the tones' reference; the edges carry the filter's
    // transients and are left out of the fit.
    const std::size_t edge = static_cast<std::size_t>(60 * rate);
    for (int c = 0; c < 5; ++c) {
      std::vector<double> freqs;
      std::vector<SampleTone> tones;
      for (const SampleTone& t : sample_->TonesOf(stream))
        if (t.component == c) {
          freqs.push_back(t.frequency_hz);
          tones.push_back(t);
        }
      std::vector<double> t, y;
      for (std::size_t i = edge; i < scans - edge; ++i) {
        t.push_back(static_cast<double>(i) / rate - delay);
        y.push_back(field[i * 5 + static_cast<std::size_t>(c)]);
      }
      const auto fitted = FitTones(t, y, freqs);
      for (std::size_t k = 0; k < tones.size(); ++k) {
        EXPECT_NEAR(fitted[k].first / tones[k].amplitude, 1.0, 0.005) << c << " " << freqs[k];
        EXPECT_NEAR(WrapDegrees(fitted[k].second - tones[k].phase_deg), 0.0, 0.5) << c << " " << freqs[k];
      }
    }
    olmts_chain_close(&chain_);
    ts_.Close();
    ts_ = OpenRecording(sample_->base);
  }
}

// Tones made through the chain's own response, between the transform's bins and
// one per channel: the deconvolution gives each back exactly, far inside the
// tolerance of the sample's tones, and lets none leak into another channel.
TEST_F(UnitsTest, DeconvolutionUndoesTheChainsOwnResponseChannelByChannel) {
  ASSERT_EQ(Open(3), OLMTS_OK);
  const double rate = 150.0;
  const std::vector<double> freqs = {0.0371, 0.613, 3.29, 17.77, 43.1};
  const std::size_t scans = 300000;
  std::vector<double> fractions(scans * 5);
  for (int c = 0; c < 5; ++c) {
    const std::complex<double> h = Response(c + 1, OLMTS_STAGE_TOTAL, freqs[static_cast<std::size_t>(c)]);
    const double amplitude = 10.0 + c, phase = 0.3 * c;
    for (std::size_t i = 0; i < scans; ++i) {
      const double t = static_cast<double>(i) / rate;
      fractions[i * 5 + static_cast<std::size_t>(c)] =
          std::abs(h) * amplitude * std::cos(2 * kPi * freqs[static_cast<std::size_t>(c)] * t + phase + std::arg(h)) /
          8388608.0;
    }
  }
  const std::vector<double> field = Convert(OLMTS_UNITS_DECONVOLVED, fractions, nullptr, 65536);
  const std::size_t edge = 70000;  // beyond the first and last blocks' transients
  for (int c = 0; c < 5; ++c) {
    SCOPED_TRACE(c);
    std::vector<double> t, y;
    for (std::size_t i = edge; i < scans - edge; ++i) {
      t.push_back(static_cast<double>(i) / rate);
      y.push_back(field[i * 5 + static_cast<std::size_t>(c)]);
    }
    const auto fitted = FitTones(t, y, freqs);
    for (int k = 0; k < 5; ++k) {
      if (k == c) {
        EXPECT_NEAR(fitted[static_cast<std::size_t>(k)].first / (10.0 + c), 1.0, 1e-4);
        EXPECT_NEAR(WrapDegrees(fitted[static_cast<std::size_t>(k)].second - 0.3 * c * 180 / kPi), 0.0, 0.01);
      } else {
        EXPECT_LT(fitted[static_cast<std::size_t>(k)].first, 1e-4 * (10.0 + c)) << "leak of " << k;
      }
    }
  }
}

// A channel whose chain cannot be formed (here Ex, its dipole length renamed
// away in the table) is NaN in both conversions; its partner in the shared
// transform keeps its own values.
TEST_F(UnitsTest, AChannelWithoutAResponseIsNaNAndSparesItsPartner) {
  ASSERT_EQ(Open(3), OLMTS_OK);
  const std::vector<double> fractions = ReadAll(3);
  const std::vector<double> whole = Convert(OLMTS_UNITS_DECONVOLVED, fractions, nullptr);
  olmts_chain_close(&chain_);
  ts_.Close();

  ScratchDirectory dir("units-no-dipole");
  const SampleRecording copy = WriteSampleRecording(dir.path());
  Bytes table = ReadFile(copy.base + ".TBL");
  namespace entry = olmtsfil::layout::table_entry;
  bool renamed = false;
  for (std::size_t at = entry::kHeaderSize; !renamed && at + entry::kSize <= table.size(); at += entry::kSize) {
    if (std::memcmp(table.data() + at + entry::kName.offset, "EXLN", 5) != 0) continue;
    PutTextField(table, at, entry::kName, "EXLX");
    renamed = true;
  }
  ASSERT_TRUE(renamed);
  WriteFile(copy.base + ".TBL", table);
  ts_ = OpenRecording(copy.base);
  ASSERT_NE(ts_.get(), nullptr);
  ASSERT_EQ(Open(3), OLMTS_OK);
  EXPECT_NE(Info(1, 0).flags & OLMTS_STAGE_UNUSABLE, 0);
  const std::vector<double> patched = ReadAll(3);
  for (int mode : {OLMTS_UNITS_NOMINAL, OLMTS_UNITS_DECONVOLVED}) {
    SCOPED_TRACE(mode);
    const std::vector<double> out = Convert(mode, patched, nullptr);
    ASSERT_EQ(out.size(), fractions.size());
    for (std::size_t i = 0; i < out.size(); i += 5 * 997) {
      EXPECT_TRUE(std::isnan(out[i])) << i;
      EXPECT_TRUE(std::isfinite(out[i + 1])) << i;
      if (mode == OLMTS_UNITS_DECONVOLVED) {
        EXPECT_NEAR(out[i + 1], whole[i + 1], 1e-9 * std::abs(whole[i + 1])) << i;
      }
    }
  }
}

TEST_F(UnitsTest, BlocksJoinWithoutSeamsWhateverTheirLengthThePiecesAndTheThreads) {
  ASSERT_EQ(Open(3), OLMTS_OK);
  const std::vector<double> fractions = ReadAll(3);
  OlmtsConvertOptions small{0.3, 40, 8192, 1}, large{0.3, 40, 65536, 0};
  const std::vector<double> a = Convert(OLMTS_UNITS_DECONVOLVED, fractions, &small, 150);
  const std::vector<double> b = Convert(OLMTS_UNITS_DECONVOLVED, fractions, &large, 20000);
  const std::vector<double> c = Convert(OLMTS_UNITS_DECONVOLVED, fractions, &small, 7001);
  EXPECT_EQ(a, c);  // the pieces pushed do not matter, nor those pulled
  EXPECT_EQ(Convert(OLMTS_UNITS_DECONVOLVED, fractions, &small, 7001, 1000), a);
  EXPECT_EQ(Convert(OLMTS_UNITS_NOMINAL, fractions, nullptr, 7001, 333),
            Convert(OLMTS_UNITS_NOMINAL, fractions, nullptr, 150));
  // Nor does the number of threads the blocks are shared out among, even when
  // a push brings fewer blocks than threads, or a single scan.
  for (int32_t threads : {0, 3, 8}) {
    OlmtsConvertOptions shared = small;
    shared.threads = threads;
    for (int piece : {1, 150, 40000})
      EXPECT_EQ(Convert(OLMTS_UNITS_DECONVOLVED, fractions, &shared, piece), a) << threads << " " << piece;
  }
  OlmtsConvertOptions negative = small;
  negative.threads = -1;
  OlmtsConverter* refused = nullptr;
  EXPECT_EQ(olmts_converter_open(chain_, OLMTS_UNITS_DECONVOLVED, &negative, &refused), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(refused, nullptr);
  // 8192-scan blocks restore 4096 scans each: every seam lies inside the
  // compared span, where both results are the same filter's.
  double worst = 0, scale = 0;
  for (std::size_t i = 5 * 20000; i < a.size() - 5 * 20000; ++i) {
    worst = std::max(worst, std::abs(a[i] - b[i]));
    scale = std::max(scale, std::abs(b[i]));
  }
  EXPECT_LT(worst, 1e-4 * scale) << worst << " " << scale;
}

TEST_F(UnitsTest, NominalMatchesDeconvolvedInThePassband) {
  ASSERT_EQ(Open(3), OLMTS_OK);
  const std::vector<double> fractions = ReadAll(3);
  const std::vector<double> nominal = Convert(OLMTS_UNITS_NOMINAL, fractions, nullptr);
  const std::vector<double> deconvolved = Convert(OLMTS_UNITS_DECONVOLVED, fractions, nullptr);
  // Ey's 1 Hz tone, near the 1.5 Hz gain frequency where the box is flat.
  std::vector<double> t, yn, yd;
  for (std::size_t i = 9000; i < fractions.size() / 5 - 9000; ++i) {
    t.push_back(static_cast<double>(i) / 150.0);
    yn.push_back(nominal[i * 5 + 1]);
    yd.push_back(deconvolved[i * 5 + 1]);
  }
  const double an = FitTones(t, yn, {1.0, 12.0})[0].first, ad = FitTones(t, yd, {1.0, 12.0})[0].first;
  EXPECT_NEAR(an / ad, 1.0, 0.01);
  // A nominal value is one scalar per channel: the total gain at the gain frequency.
  const double gain = Info(2, OLMTS_STAGE_TOTAL).gain;
  EXPECT_NEAR(nominal[5 * 1000 + 1], fractions[5 * 1000 + 1] * 8388608.0 / gain,
              1e-12 * std::abs(nominal[5 * 1000 + 1]));
}

TEST_F(UnitsTest, DeconvolvedRunsStartedLateAreSlicesOfTheWholeRunBitForBit) {
  ASSERT_EQ(Open(3), OLMTS_OK);
  const std::vector<double> stream = ReadAll(3);
  // 8192-scan blocks: each restores K = 4096 scans and reaches M = 2048 to either side.
  OlmtsConvertOptions options{0.3, 40, 8192, 0};
  constexpr int64_t K = 4096;
  // A run that ends inside a block, and one that ends within a block's margin.
  for (int64_t length : {int64_t{20} * K + 1234, int64_t{12} * K + 100}) {
    const std::vector<double> run(stream.begin(), stream.begin() + length * 5);
    const std::vector<double> whole = Convert(OLMTS_UNITS_DECONVOLVED, run, &options);
    const std::pair<int64_t, int64_t> windows[] = {
        {0, 100},                    // inside the first block
        {100, 3 * K + 5},            // from inside the first block
        {K, 2 * K},                  // exactly block 1, fed from K - M
        {3 * K + 17, 7 * K + 5},     // from and to inside blocks
        {5 * K - 1, 5 * K + 1},      // across a block boundary
        {length - K - 7, length},    // up to the run's end
        {length - 300, length + K},  // the run ends inside the window
        {length - 2 * K + 1, -1},    // open-ended
        {length - 1, length},        // the last scan alone
        {6 * K + 3, 6 * K + 3},      // empty
    };
    OlmtsConverter* conv = nullptr;
    ASSERT_EQ(olmts_converter_open(chain_, OLMTS_UNITS_DECONVOLVED, &options, &conv), OLMTS_OK);
    for (auto [first, end] : windows) {
      // The same converter serves window after window: nothing of one leaks into the next.
      EXPECT_EQ(Window(OLMTS_UNITS_DECONVOLVED, run, first, end, nullptr, conv), Slice(whole, first, end))
          << length << ": " << first << " ... " << end;
    }
    int64_t from = -2, to = -2;
    ASSERT_EQ(olmts_converter_start(conv, 3 * K + 17, 7 * K + 5, &from, &to), OLMTS_OK);
    EXPECT_EQ(from, 3 * K - K / 2);
    EXPECT_EQ(to, 7 * K + K + K / 2);
    ASSERT_EQ(olmts_converter_push(conv, run.data() + from * 5, 10), OLMTS_OK);
    EXPECT_EQ(olmts_converter_start(conv, 0, -1, &from, &to), OLMTS_BAD_ARGUMENT);
    EXPECT_EQ(olmts_converter_finish(conv), OLMTS_OK);
    olmts_converter_close(&conv);
  }
}
#endif

}  // namespace
