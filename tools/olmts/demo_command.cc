// `demo`: the walk through a typical use, on a freshly written sample
// recording.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <numbers>
#include <vector>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/response.h"
#include "olmts/sample.h"
#include "olmts/tool.h"
#include "writer/tone_fit.h"

namespace olmts {
namespace {

using olmtsfil::testdata::SampleRecording;

std::string Leaf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The typical road of use, step by step through the C interface: open the
// recording and the calibrations, seek, read scans, take the spectrum at the
// tone frequencies, divide by the responses, correct the time by the
// acquisition delay, compare with what was injected, close everything.
void RunDemo(const std::string& directory) {
  using olmtsfil::testdata::FitTones;
  using olmtsfil::testdata::SampleComponentName;
  using olmtsfil::testdata::SampleComponentUnit;
  using olmtsfil::testdata::WrapDegrees;
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
    InstrumentResponse instrument(recording, sample.analysis_stream, sample.box_calibration, sample.sensor_calibrations,
                                  ChainOptions{});
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
              << "   (the chain of stages: dipole or sensor, box, full scale " << full_scale << " V)\n\n";
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
      const ChannelResponse r = instrument.At(tone.frequency_hz)[static_cast<std::size_t>(c)];
      if (!r.total.usable)
        throw ToolError(instrument.box_path() + ": no response for " + names[static_cast<std::size_t>(c)]);
      // Volts at the converter per mV/km or nT (the box without the delay's
      // phase: the delay is in the time instead), over the full-scale voltage.
      const std::complex<double> response = r.total.value / full_scale;
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

    // The same tones from the field itself: the whole stream from its first
    // record, deconvolved by the library, fitted in the time domain.
    std::vector<double> all;
    {
      Recording whole(sample.base);
      SetConcatHT(whole.get(), 1);
      std::vector<double> v(static_cast<std::size_t>(channels));
      int32_t flag = 0;
      while (ReadScanDblHT(whole.get(), stream, &flag, v.data()) == OLMTS_OK) all.insert(all.end(), v.begin(), v.end());
    }
    const std::size_t count = all.size() / static_cast<std::size_t>(channels);
    OlmtsConverter* converter = nullptr;
    Check(olmts_converter_open(instrument.chain(), OLMTS_UNITS_DECONVOLVED, nullptr, &converter), "deconvolution");
    std::vector<double> field(all.size());
    int32_t got = 0, pulled = 0;
    Check(olmts_converter_push(converter, all.data(), static_cast<int32_t>(count)), "deconvolution");
    Check(olmts_converter_finish(converter), "deconvolution");
    Check(olmts_converter_pull(converter, field.data(), static_cast<int32_t>(count), &pulled), "deconvolution");
    got += pulled;
    double band_lo = 0, band_hi = 0;
    olmts_converter_band(converter, &band_lo, &band_hi, nullptr);
    olmts_converter_close(&converter);
    std::printf(
        "\n5b. the whole stream (%d scans in %zu files from %s) in deconvolved units (%g ... %g Hz restored),\n"
        "    tones fitted in the time domain over the field's times (stamps minus the delay)\n\n",
        got, sample.Stream(stream)->files.size(), Leaf(sample.Stream(stream)->files.front()).c_str(), band_lo, band_hi);
    std::printf("   %-4s %7s   %-26s   %-26s   %9s %9s\n", "comp", "f_hz", "injected amplitude, phase",
                "recovered amplitude, phase", "amp_err", "phase_err");
    const double start_s = static_cast<double>(StampToSeconds(sample.Stream(stream)->first_record)) - reference_s;
    const std::size_t edge = static_cast<std::size_t>(60 * rate);  // the conversion's transients at either end
    for (int c = 0; c < channels; ++c) {
      std::vector<double> freqs;
      std::vector<olmtsfil::testdata::SampleTone> tones;
      for (const auto& tone : sample.TonesOf(stream))
        if (tone.component == c) {
          freqs.push_back(tone.frequency_hz);
          tones.push_back(tone);
        }
      if (tones.empty() || count <= 2 * edge) continue;
      std::vector<double> t, y;
      for (std::size_t i = edge; i < count - edge; ++i) {
        t.push_back(start_s + static_cast<double>(i) / rate - delay_s);
        y.push_back(field[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)]);
      }
      const auto fitted = FitTones(t, y, freqs);
      for (std::size_t k = 0; k < tones.size(); ++k) {
        const double amplitude_error = fitted[k].first / tones[k].amplitude - 1.0;
        const double phase_error = WrapDegrees(fitted[k].second - tones[k].phase_deg);
        worst_amplitude = std::max(worst_amplitude, std::abs(amplitude_error));
        worst_phase = std::max(worst_phase, std::abs(phase_error));
        char injected[64], recovered[64];
        std::snprintf(injected, sizeof injected, "%g %s, %.2f deg", tones[k].amplitude, SampleComponentUnit(c),
                      tones[k].phase_deg);
        std::snprintf(recovered, sizeof recovered, "%.6g %s, %.2f deg", fitted[k].first, SampleComponentUnit(c),
                      WrapDegrees(fitted[k].second));
        std::printf("   %-4s %7g   %-26s   %-26s   %+8.4f%% %+9.3f\n", SampleComponentName(c), freqs[k], injected,
                    recovered, 100 * amplitude_error, phase_error);
      }
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

}  // namespace

void AddDemoCommand(CLI::App& app) {
  auto directory = std::make_shared<std::string>("olmts-demo");
  CLI::App* command = app.add_subcommand(
      "demo", "write the sample recording, calibrate a stretch of it and compare with the injected tones");
  command->add_option("DIR", *directory, "folder for the sample recording")->capture_default_str();
  command->callback([directory] { RunDemo(*directory); });
}

}  // namespace olmts
