// `spectra`: the spectral coefficients of stream 0 with window, level and
// frequency.
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

struct SpectraOptions {
  std::string base;
  std::optional<long long> count;
};

void RunSpectra(const SpectraOptions& options) {
  Recording recording(options.base);
  recording.RequireStream(0);
  TsHandle* h = recording.get();
  const int channels = TagInt(h, 0, 1, "NCHN").value_or(0);
  if (channels <= 0 || channels > 12)
    throw ToolError(recording.Where(0) + ": " + std::to_string(channels) + " channels per scan cannot be read");
  std::cout << "window,level,index,frequency_hz";
  for (const std::string& name : ChannelNames(h, channels)) std::cout << ',' << name << "_re," << name << "_im";
  std::cout << '\n';
  std::vector<double> values(2 * static_cast<std::size_t>(channels));
  long long written = 0;
  int32_t status = OLMTS_OK;
  while (!options.count || written < *options.count) {
    int32_t flag = 0, window = 0, level = 0, index = 0;
    status = ReadDftScanHT(h, &flag, &window, &level, &index, values.data());
    if (status != OLMTS_OK) break;
    std::cout << window << ',' << level << ',' << index << ',' << Number(GetDftFreqHT(h, index));
    for (double v : values) std::cout << ',' << Number(v);
    std::cout << '\n';
    ++written;
  }
  if (status != OLMTS_OK && status != OLMTS_END_OF_DATA)
    Check(status, recording.Where(0) + ": after " + std::to_string(written) + " coefficients");
}

}  // namespace

void AddSpectraCommand(CLI::App& app) {
  auto options = std::make_shared<SpectraOptions>();
  CLI::App* command = app.add_subcommand("spectra", "spectral coefficients with window, level and frequency");
  AddBase(command, &options->base);
  AddCount(command, &options->count, "coefficients");
  command->callback([options] { RunSpectra(*options); });
}

}  // namespace olmts
