// The realistic sample recording: a five-component site recorded over a day
// boundary, with a box calibration and one calibration per induction coil. The
// time series carry known tones of known physical amplitude, passed through the
// instrument's response, plus a little noise, so that a reader can check a
// calibrated spectrum against the truth. Shared by the tool's `sample` and `demo`
// commands, the tests, the benchmarks and the Python package's test data.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "olmtsfil.h"

namespace olmtsfil::testdata {

// Field components in channel order: Ex, Ey on channels 1-2, Hx, Hy, Hz on 3-5.
inline constexpr int kSampleComponents = 5;
const char* SampleComponentName(int component);  // "Ex" ... "Hz"
const char* SampleComponentUnit(int component);  // "mV/km" or "nT"
inline bool SampleComponentIsMagnetic(int component) { return component >= 2; }

// A sinusoid of the field at the site: amplitude * cos(2 pi f (t - reference) + phase).
struct SampleTone {
  int component = 0;        // 0 ... 4, see above
  double frequency_hz = 0;  // exact multiple of every analysis window's bin spacing
  double amplitude = 0;     // physical units of the component (SampleComponentUnit)
  double phase_deg = 0;     // at SampleRecording::reference
};

// One time-series stream of the recording.
struct SampleStream {
  int stream = 0;  // 1 ... 5
  double rate_hz = 0;
  int scans_per_record = 0;
  std::vector<std::string> files;  // every file of its dated set, in order
  TimeStamp first_record{};
  int64_t records = 0;
  int bursts = 1;  // separate runs of records (gaps between them)
};

struct SampleRecording {
  std::string directory;
  std::string base;                              // recording base path (base + ".TBL")
  std::string box_calibration;                   // base path of the box calibration (+ ".CLB"), empty if none
  std::vector<std::string> sensor_calibrations;  // base paths (+ ".CLC") of the Hx, Hy, Hz coils, empty if none
  TimeStamp reference{};                         // time origin of every tone's phase
  std::vector<SampleTone> tones;
  std::vector<SampleStream> streams;
  double noise_rms = 0;      // white noise, fraction of full scale
  int spectral_records = 0;  // records of the ".TFC" stream

  // The walk of the demo: stream 3 from 23:59:50 for 20 s, across midnight and
  // into the next day's file.
  int analysis_stream = 3;
  TimeStamp analysis_start{};
  int analysis_scans = 0;

  // Tones a stream carries: those well below its Nyquist frequency.
  std::vector<SampleTone> TonesOf(int stream) const;
  const SampleStream* Stream(int stream) const;
};

// Writes the sample recording into `directory` (created when missing; existing
// sample files are overwritten) and returns its description. Throws
// std::runtime_error when a file cannot be written or the library refuses the
// written calibrations.
SampleRecording WriteSampleRecording(const std::string& directory);

// Total response of a component's measuring chain on one stream, as the library
// computes it from the written calibrations: fraction of full scale per physical
// unit (sensor x box / full-scale voltage). Needs the written sample files.
std::complex<double> SampleChainResponse(const SampleRecording& sample, int stream, int component, double frequency_hz);

}  // namespace olmtsfil::testdata
