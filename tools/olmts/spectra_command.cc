// `spectra`: the spectral coefficients of stream 0 with their record's time,
// window, level and frequency.
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/stream_walk.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

struct SpectraOptions {
  std::string base;
  std::optional<std::string> start;
  std::optional<long long> count;
  bool json = false;
};

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
  const std::vector<std::string> names = ChannelNames(h, channels);
  if (!options.json) {
    std::cout << "record_time,window,level,index,frequency_hz";
    for (const std::string& name : names) std::cout << ',' << name << "_re," << name << "_im";
    std::cout << '\n';
  }
  Json rows = Json::array();
  std::vector<double> values(2 * static_cast<std::size_t>(channels));
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
    const double frequency = GetDftFreqHT(h, index);
    if (options.json) {
      Json row{{"record_time", record_time},
               {"window", window},
               {"level", level},
               {"index", index},
               {"frequency_hz", frequency}};
      for (int c = 0; c < channels; ++c)
        row[names[static_cast<std::size_t>(c)]] = {JsonNumber(values[2 * static_cast<std::size_t>(c)]),
                                                   JsonNumber(values[2 * static_cast<std::size_t>(c) + 1])};
      rows.push_back(row);
    } else {
      std::cout << record_time << ',' << window << ',' << level << ',' << index << ',' << Number(frequency);
      for (double v : values) std::cout << ',' << Number(v);
      std::cout << '\n';
    }
    ++written;
  }
  // A walk cut short by --count has not met the end of the stream.
  const bool complete = status == OLMTS_OK || walk.Finish(status);
  if (options.json)
    std::cout << Json{{"base", recording.base()},
                      {"channels", names},
                      {"coefficients", rows},
                      {"complete", complete},
                      {"problems", walk.problems()}}
                     .dump(2)
              << '\n';
}

}  // namespace

void AddSpectraCommand(CLI::App& app) {
  auto options = std::make_shared<SpectraOptions>();
  CLI::App* command =
      app.add_subcommand("spectra", "spectral coefficients with their record's time, window, level and frequency");
  AddBase(command, &options->base);
  AddStart(command, &options->start, "first spectral record");
  AddCount(command, &options->count, "coefficients");
  AddJson(command, &options->json);
  AddAllowErrors(command);
  command->callback([options] { RunSpectra(*options); });
}

}  // namespace olmts
