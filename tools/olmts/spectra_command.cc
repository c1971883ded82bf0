// `spectra`: the spectral coefficients of stream 0 with their record's time,
// window, level and frequency.
#include <complex>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/scan_units.h"
#include "olmts/stream_walk.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

struct SpectraOptions {
  std::string base;
  std::optional<std::string> start;
  std::optional<long long> count;
  bool json = false;
  UnitsOptions units;
  int response_stream = 0;  // 0: the time-series stream of the spectral stream's rate
};

// The stream whose chain calibrates the spectral records: the time-series
// stream the recorder ran at the spectral stream's rate.
int ResponseStream(const Recording& recording, int asked) {
  if (asked != 0) return asked;
  double spectral = 0;
  if (GetSampleRateHzHT(recording.get(), 0, &spectral) == OLMTS_OK && spectral > 0)
    for (int k = 1; k <= 5; ++k) {
      double rate = 0;
      if (GetSampleRateHzHT(recording.get(), k, &rate) == OLMTS_OK && rate == spectral) return k;
    }
  throw ToolError(recording.base() +
                  ".TBL: no time-series stream runs at the spectral stream's rate; name the one "
                  "whose response applies with --response-stream");
}

void RunSpectra(const SpectraOptions& options) {
  Recording recording(options.base);
  StreamWalk walk(recording, 0, false);
  TsHandle* h = recording.get();
  const int channels = TagInt(h, 0, 1, "NCHN").value_or(0);
  if (channels <= 0 || channels > 12)
    throw ToolError(recording.Where(0) + ": " + std::to_string(channels) + " channels per scan cannot be read");
  if (options.start) {
    const TimeStamp start = ParseTime(*options.start);
    const int32_t status = SeekHT(h, 0, start, 0);
    if (status == OLMTS_END_OF_DATA)
      throw ToolError(recording.Where(0) + ": no spectral record at or after " + FormatTime(start) + ": " +
                      DescribeStatus(status));
    if (status == OLMTS_SEEK_LATER)
      if (const auto next = TagTime(h, 0, 1))
        std::cerr << "olmts: " << recording.Where(0) << ": no record at " << FormatTime(start)
                  << "; starting with the next one, at " << FormatTime(*next) << '\n';
    if (status != OLMTS_OK && status != OLMTS_SEEK_LATER)
      Check(status, recording.Where(0) + ": seeking " + FormatTime(start));
  }
  // The units lines are comments of the CSV; JSON carries the units as a field.
  std::ostringstream units_lines;
  // Calibrated coefficients: each divided by its channel's response at the
  // coefficient's frequency (deconvolved) or by the passband gain (nominal).
  std::unique_ptr<InstrumentResponse> instrument;
  const std::string& units = options.units.units;
  if (units == "nominal" || units == "deconvolved") {
    if (options.units.box.empty()) throw ToolError("--units " + units + " needs the box calibration (--box)");
    const int stream = ResponseStream(recording, options.response_stream);
    instrument = std::make_unique<InstrumentResponse>(recording, stream, options.units.box, options.units.sensors,
                                                      options.units.chain);
    for (const std::string& w : instrument->Warnings()) std::cerr << "olmts: warning: " << w << '\n';
    if (instrument->channels() != channels)
      throw ToolError(recording.Where(0) + ": the records hold " + std::to_string(channels) +
                      " channels, the table names " + std::to_string(instrument->channels()));
    units_lines << "# units: " << units << " (coefficients divided by the chain of stream " << stream
                << "; phases refer to the field at the window's time minus the delay of "
                << Number(instrument->DelaySeconds()) << " s)\n# columns:";
    for (int c = 0; c < channels; ++c)
      units_lines << (c ? ", " : " ") << ChannelNames(h, channels)[static_cast<std::size_t>(c)] << '='
                  << instrument->ChannelUnits(c);
    units_lines << '\n';
  } else if (units == "counts") {
    units_lines << "# units: counts\n";
  } else if (!options.units.box.empty() || !options.units.sensors.empty()) {
    throw ToolError("--box and --sensor serve --units nominal or deconvolved only");
  }
  std::map<int32_t, std::vector<std::complex<double>>> per_fraction;  // field per fraction, by frequency index
  const auto scale = [&](int32_t index, double f) -> const std::vector<std::complex<double>>& {
    auto it = per_fraction.find(index);
    if (it != per_fraction.end()) return it->second;
    std::vector<std::complex<double>> k(static_cast<std::size_t>(channels), 1.0);
    for (int c = 0; c < channels; ++c) {
      OlmtsStageInfo total{};
      Check(olmts_chain_stage_info(instrument->chain(), c + 1, OLMTS_STAGE_TOTAL, &total), "chain");
      Complex r{};
      if (units == "nominal") {
        r = {total.gain, 0.0};
      } else {
        Check(olmts_chain_stage_response(instrument->chain(), c + 1, OLMTS_STAGE_TOTAL, f, &r, nullptr),
              instrument->box_path() + ": response at " + Number(f) + " Hz");
      }
      k[static_cast<std::size_t>(c)] = 8388608.0 / std::complex<double>(r.re, r.im);
    }
    return per_fraction.emplace(index, std::move(k)).first->second;
  };
  const std::vector<std::string> names = ChannelNames(h, channels);
  if (!options.json) {
    std::cout << units_lines.str() << "record_time,window,level,index,frequency_hz";
    for (const std::string& name : names) std::cout << ',' << name << "_re," << name << "_im";
    std::cout << '\n';
  }
  Json rows = Json::array();
  std::vector<double> values(2 * static_cast<std::size_t>(channels));
  std::vector<double> out(values.size());
  long long written = 0;
  bool opens_record = true;
  std::string record_time;
  int32_t status = OLMTS_OK;
  while (!options.count || written < *options.count) {
    int32_t flag = 0, window = 0, level = 0, index = 0;
    if (opens_record) walk.BeforeRecord();
    status = ReadDftScanHT(h, &flag, &window, &level, &index, values.data());
    if (status != OLMTS_OK) break;
    if (opens_record) {
      walk.Consumed();
      const auto utc = TagTime(h, 0, 0);
      record_time = utc ? FormatTime(*utc) : "";
    }
    opens_record = flag == -1;  // the last coefficient of its record
    const double f = GetDftFreqHT(h, index);
    if (instrument) {
      const std::vector<std::complex<double>>& k = scale(index, f);
      for (std::size_t i = 0; i < static_cast<std::size_t>(channels); ++i) {
        const std::complex<double> v = std::complex<double>(values[2 * i], values[2 * i + 1]) * k[i];
        out[2 * i] = v.real();
        out[2 * i + 1] = v.imag();
      }
    } else {
      for (std::size_t i = 0; i < values.size(); ++i) out[i] = units == "counts" ? values[i] * 8388608.0 : values[i];
    }
    if (options.json) {
      Json row{
          {"record_time", record_time}, {"window", window}, {"level", level}, {"index", index}, {"frequency_hz", f}};
      for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c)
        row[names[c]] = {JsonNumber(out[2 * c]), JsonNumber(out[2 * c + 1])};
      rows.push_back(row);
    } else {
      std::cout << record_time << ',' << window << ',' << level << ',' << index << ',' << Number(f);
      for (double v : out) std::cout << ',' << Number(v);
      std::cout << '\n';
    }
    ++written;
  }
  // A walk cut short by --count has not met the end of the stream.
  const bool complete = status == OLMTS_OK || walk.Finish(status);
  if (options.json)
    std::cout << Json{{"base", recording.base()}, {"units", units},       {"channels", names},
                      {"coefficients", rows},     {"complete", complete}, {"problems", walk.problems()}}
                     .dump(2)
              << '\n';
}

}  // namespace

void AddSpectraCommand(CLI::App& app) {
  const auto [command, options] = AddSubcommand(
      app, "spectra", "spectral coefficients with their record's time, window, level and frequency", RunSpectra);
  AddBase(command, &options->base);
  AddStart(command, &options->start, "first spectral record");
  AddCount(command, &options->count, "coefficients");
  AddJson(command, &options->json);
  AddAllowErrors(command);
  AddUnitsOptions(command, &options->units);
  command
      ->add_option("--response-stream", options->response_stream,
                   "time-series stream whose chain calibrates the coefficients (default: the one at the spectral "
                   "stream's rate)")
      ->check(CLI::Range(1, 5));
}

}  // namespace olmts
