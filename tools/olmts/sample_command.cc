// `sample` and `demo`: the sample recording and the walk through a typical use.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <numbers>

#include "olmts/commands.h"
#include "olmts/response.h"
#include "olmts/tool.h"
#include "writer/sample_recording.h"
#include "writer/sample_survey.h"

namespace olmts {
namespace {

using olmtsfil::testdata::SampleRecording;

olmtsfil::testdata::SampleRecording WriteSample(const std::string& directory) {
  try {
    return olmtsfil::testdata::WriteSampleRecording(directory);
  } catch (const std::exception& e) {
    throw ToolError(directory + ": cannot write the sample recording: " + e.what());
  }
}

// A description next to the files, for scripts and tests in other languages.
nlohmann::ordered_json Manifest(const SampleRecording& sample) {
  nlohmann::ordered_json j;
  j["base"] = sample.base;
  j["box_calibration"] = sample.box_calibration;
  j["sensor_calibrations"] = sample.sensor_calibrations;
  j["reference"] = FormatTime(sample.reference);
  j["noise_rms"] = sample.noise_rms;
  j["tones"] = nlohmann::ordered_json::array();
  for (const auto& tone : sample.tones) {
    j["tones"].push_back({{"component", olmtsfil::testdata::SampleComponentName(tone.component)},
                          {"channel", tone.component + 1},
                          {"frequency_hz", tone.frequency_hz},
                          {"amplitude", tone.amplitude},
                          {"unit", olmtsfil::testdata::SampleComponentUnit(tone.component)},
                          {"phase_deg", tone.phase_deg}});
  }
  j["streams"] = nlohmann::ordered_json::array();
  for (const auto& s : sample.streams) {
    j["streams"].push_back({{"stream", s.stream},
                            {"rate_hz", s.rate_hz},
                            {"scans_per_record", s.scans_per_record},
                            {"records", s.records},
                            {"bursts", s.bursts},
                            {"first_record", FormatTime(s.first_record)},
                            {"files", s.files}});
  }
  j["spectral_records"] = sample.spectral_records;
  j["analysis"] = {{"stream", sample.analysis_stream},
                   {"start", FormatTime(sample.analysis_start)},
                   {"scans", sample.analysis_scans}};
  return j;
}

std::string Leaf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Degrees in (-180, 180].
double WrapDegrees(double degrees) {
  double d = std::fmod(degrees, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d <= -180.0) d += 360.0;
  return d;
}

}  // namespace

void RunSample(const std::string& directory) {
  const SampleRecording sample = WriteSample(directory);
  const std::string manifest_path = directory + "/sample.json";
  std::ofstream manifest(manifest_path);
  manifest << Manifest(sample).dump(2) << '\n';
  if (!manifest) throw ToolError(manifest_path + ": cannot write the description");
  std::cout << "recording:  " << sample.base << "  (" << sample.streams.size() << " time-series streams, "
            << sample.spectral_records << " spectral records)\n";
  if (!sample.box_calibration.empty()) std::cout << "box:        " << sample.box_calibration << ".CLB\n";
  for (const std::string& sensor : sample.sensor_calibrations) std::cout << "sensor:     " << sensor << ".CLC\n";
  std::cout << "described:  " << manifest_path << '\n';
}

void RunSampleSurvey(const std::string& directory, int sites, int seconds_per_file) {
  olmtsfil::testdata::SampleSurvey survey;
  try {
    survey = olmtsfil::testdata::WriteSampleSurvey(directory, {sites, seconds_per_file});
  } catch (const std::exception& e) {
    throw ToolError(directory + ": cannot write the survey: " + e.what());
  }
  nlohmann::ordered_json j;
  j["directory"] = survey.directory;
  j["recordings"] = nlohmann::ordered_json::array();
  for (const auto& r : survey.recordings)
    j["recordings"].push_back({{"site", r.site},
                               {"base", r.base},
                               {"box_serial", r.box_serial},
                               {"coil_serials", r.coil_serials},
                               {"problems", r.problems}});
  j["box_calibrations"] = survey.box_calibrations;
  j["sensor_calibrations"] = survey.sensor_calibrations;
  j["unmatched_calibration"] = survey.unmatched_calibration;
  const std::string manifest_path = directory + "/survey.json";
  std::ofstream manifest(manifest_path);
  manifest << j.dump(2) << '\n';
  if (!manifest) throw ToolError(manifest_path + ": cannot write the description");
  std::cout << "survey:     " << directory << "  (" << sites << " sites, " << survey.recordings.size()
            << " recordings, " << survey.box_calibrations.size() + survey.sensor_calibrations.size() + 1
            << " calibrations)\n";
  std::cout << "described:  " << manifest_path << '\n';
}

// The typical road of use, step by step through the C interface: open the
// recording and the calibrations, seek, read scans, take the spectrum at the
// tone frequencies, divide by the responses, correct the time by the
// acquisition delay, compare with what was injected, close everything.
void RunDemo(const std::string& directory) {
  using olmtsfil::testdata::SampleComponentIsMagnetic;
  using olmtsfil::testdata::SampleComponentName;
  using olmtsfil::testdata::SampleComponentUnit;
  constexpr double kPi = std::numbers::pi;
  constexpr double kAmplitudeLimit = 0.01;  // relative
  constexpr double kPhaseLimitDeg = 0.5;

  const SampleRecording sample = WriteSample(directory);
  std::cout << "1. wrote the sample recording " << sample.base << "\n   with " << Leaf(sample.box_calibration)
            << ".CLB and";
  for (const std::string& s : sample.sensor_calibrations) std::cout << ' ' << Leaf(s) << ".CLC";
  std::cout << '\n';

  double worst_amplitude = 0, worst_phase = 0;
  {  // every handle is closed at the end of this block
    Recording recording(sample.base);
    TsHandle* h = recording.get();
    InstrumentResponse instrument(recording, sample.box_calibration, sample.sensor_calibrations, 2);
    const std::vector<std::string> names = ChannelNames(h, instrument.channels());
    std::cout << "2. opened the recording (" << instrument.channels() << " channels:";
    for (std::size_t c = 0; c < names.size(); ++c) std::cout << ' ' << names[c] << '=' << c + 1;
    std::cout << ") and " << 1 + sample.sensor_calibrations.size() << " calibrations\n";

    // Seek and read, following the stream into its next files.
    const int stream = sample.analysis_stream;
    const double rate = recording.SampleRate(stream);
    SetConcatHT(h, 1);
    const int32_t seek = SeekHT(h, stream, sample.analysis_start, 0);
    if (seek != OLMTS_OK && seek != OLMTS_SEEK_LATER)
      Check(seek, recording.Where(stream) + ": seeking " + FormatTime(sample.analysis_start));
    const int n = sample.analysis_scans;
    const int channels = instrument.channels();
    std::vector<double> scans(static_cast<std::size_t>(n) * static_cast<std::size_t>(channels));
    TimeStamp first{};
    int records = 0, gaps = 0;
    for (int i = 0; i < n; ++i) {
      int32_t flag = 0;
      Check(ReadScanDblHT(h, stream, &flag, &scans[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels)]),
            recording.Where(stream) + ": scan " + std::to_string(i));
      if (flag == 1) ++records;
      if (i == 0) first = TagTime(h, stream, 0).value_or(TimeStamp{});
      // At the end of each record: does the next one follow without a gap?
      if (flag == -1 && i + 1 < n && GapHT(h, stream) != OLMTS_OK) ++gaps;
    }
    const TimeStamp last = StampFromSeconds(StampToSeconds(first) + static_cast<int64_t>(std::floor((n - 1) / rate)));
    std::cout << "3. stream " << stream << " at " << rate << " Hz: sought " << FormatTime(sample.analysis_start)
              << " (status " << seek << "),\n   read " << n << " scans in " << records << " records up to "
              << FormatTime(last) << (first.day != last.day ? ", across midnight into the next day's file" : "") << ", "
              << gaps << " gaps\n";

    // Time of the first scan, corrected by the delay of the decimation filters.
    double delay = 0;
    Check(GetAcqDelayHT(h, stream, &delay), recording.base() + ".TBL: acquisition delay");
    const double delay_s = delay / rate;
    const double first_s = static_cast<double>(StampToSeconds(first)) - delay_s;
    std::cout << "4. acquisition delay " << delay << " samples = " << delay_s << " s:\n   the first scan, stamped "
              << FormatTime(first) << ", describes the field at "
              << FormatTime(StampToSeconds(first) - 1, 1.0 - delay_s, 6) << '\n';

    double full_scale = 0;
    Check(ReadPrmHT(h, "FSCV", OLMTS_TYPE_DOUBLE, &full_scale), recording.base() + ".TBL: FSCV");
    std::cout << "5. spectrum at the tone frequencies, divided by the box and sensor responses\n"
              << "   (full scale " << full_scale << " V; electric channels: dipole length in m x 1e-6 V per mV/km)\n\n";
    std::printf("   %-4s %7s   %-26s   %-26s   %9s %9s\n", "comp", "f_hz", "injected amplitude, phase",
                "recovered amplitude, phase", "amp_err", "phase_err");
    const double reference_s = static_cast<double>(StampToSeconds(sample.reference));
    for (const auto& tone : sample.TonesOf(stream)) {
      const int c = tone.component;  // components are recorded on channels 1 ... 5 in order
      // A direct DFT at the tone's frequency: an exact bin of the window.
      std::complex<double> sum;
      for (int i = 0; i < n; ++i) {
        const double angle = -2 * kPi * std::fmod(tone.frequency_hz * i / rate, 1.0);
        sum += scans[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] *
               std::polar(1.0, angle);
      }
      const std::complex<double> measured = sum * (2.0 / n);
      const ChannelResponse r = instrument.At(stream, tone.frequency_hz)[static_cast<std::size_t>(c)];
      if (!r.total.usable)
        throw ToolError(instrument.box_path() + ": no response for " + names[static_cast<std::size_t>(c)]);
      // The box response carries the delay's linear phase; take it out and put
      // the delay into the time instead.
      const double units = SampleComponentIsMagnetic(c) ? 1.0 : 1e-6;
      const std::complex<double> response =
          r.total.value * units / full_scale * std::polar(1.0, 2 * kPi * tone.frequency_hz * delay_s);
      const std::complex<double> field = measured / response;  // at the corrected time of the first scan
      const double amplitude = std::abs(field);
      const double cycles = std::fmod(tone.frequency_hz * (first_s - reference_s), 1.0);
      const double phase = WrapDegrees(PhaseDegrees(field) - 360.0 * cycles);
      const double amplitude_error = amplitude / tone.amplitude - 1.0;
      const double phase_error = WrapDegrees(phase - tone.phase_deg);
      worst_amplitude = std::max(worst_amplitude, std::abs(amplitude_error));
      worst_phase = std::max(worst_phase, std::abs(phase_error));
      char injected[64], recovered[64];
      std::snprintf(injected, sizeof injected, "%g %s, %.2f deg", tone.amplitude, SampleComponentUnit(c),
                    tone.phase_deg);
      std::snprintf(recovered, sizeof recovered, "%.6g %s, %.2f deg", amplitude, SampleComponentUnit(c), phase);
      std::printf("   %-4s %7g   %-26s   %-26s   %+8.4f%% %+9.3f\n", SampleComponentName(c), tone.frequency_hz,
                  injected, recovered, 100 * amplitude_error, phase_error);
    }
  }
  std::cout << "\n6. closed the calibrations and the recording\n";
  std::cout.flush();
  if (worst_amplitude > kAmplitudeLimit || worst_phase > kPhaseLimitDeg) {
    char text[160];
    std::snprintf(text, sizeof text, "demo: recovered tones differ from the injected ones by up to %.4f%% and %.3f deg",
                  100 * worst_amplitude, worst_phase);
    throw ToolError(text);
  }
  std::printf("all tones recovered: amplitudes within %.4f%%, phases within %.3f deg\n", 100 * worst_amplitude,
              worst_phase);
}

}  // namespace olmts
