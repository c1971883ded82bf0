// `scans`: the samples of a stream as CSV (time and one column per channel, in
// fractions of full scale) or as raw little-endian doubles.
#include <cmath>
#include <cstdio>
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/progress.h"
#include "olmts/stream_walk.h"
#include "olmts/tool.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace olmts {
namespace {

struct ScansOptions {
  std::string base;
  int stream = 1;
  std::optional<std::string> start;
  std::optional<long long> count;
  std::optional<double> duration_s;
  bool concat = false;
  bool binary = false;
};

void RunScans(const ScansOptions& options) {
  Recording recording(options.base);
  if (options.stream == 0)
    throw ToolError(recording.Where(0) + ": " + DescribeStatus(OLMTS_BAD_STREAM) +
                    "; stream 0 holds spectral records, see 'olmts spectra'");
  PrepareStream(recording, options.stream, options.concat);
  TsHandle* h = recording.get();
  const int stream = options.stream;
  const int channels = TagInt(h, stream, 1, "NCHN").value_or(0);
  if (channels <= 0 || channels > 12)
    throw ToolError(recording.Where(stream) + ": " + std::to_string(channels) + " channels per scan cannot be read");

  // Start: the record holding the start time, then drop the scans before it.
  std::optional<double> start_s;  // seconds since 1970
  if (options.start) {
    double fraction = 0;
    const TimeStamp start = ParseTime(*options.start, &fraction);
    start_s = static_cast<double>(StampToSeconds(start)) + fraction;
    const double rate = TagRate(h, stream, 1);
    const int64_t record_s =
        rate > 0 ? static_cast<int64_t>(std::ceil(TagInt(h, stream, 1, "SCNT").value_or(0) / rate)) : 0;
    const int32_t status = SeekHT(h, stream, StampFromSeconds(StampToSeconds(start) - record_s), 0);
    if (status == OLMTS_END_OF_DATA)
      throw ToolError(recording.Where(stream) + ": no data at or after " + *options.start + ": " +
                      DescribeStatus(status) + (options.concat ? "" : "; --concat follows the stream's later files"));
    if (status != OLMTS_SEEK_LATER) Check(status, recording.Where(stream) + ": seeking " + FormatTime(start));
  }

  long long wanted = -1;  // all
  if (options.count) wanted = *options.count;
  if (options.duration_s) wanted = std::llround(*options.duration_s * TagRate(h, stream, 1));

#if defined(_WIN32)
  if (options.binary) _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (!options.binary) {
    std::cout << "time";
    for (const std::string& name : ChannelNames(h, channels)) std::cout << ',' << name;
    std::cout << '\n';
  }
  Progress progress(wanted);
  std::vector<double> values(static_cast<std::size_t>(channels));
  std::string line;
  long long written = 0, index = 0, remaining = 0;
  int64_t record_start = 0;
  double rate = 0;
  int32_t status = OLMTS_OK;
  while (wanted < 0 || written < wanted) {
    int32_t flag = 0;
    status = ReadScanDblHT(h, stream, &flag, values.data());
    if (status != OLMTS_OK) break;
    if (flag == 1 || remaining == 0) {  // the scan opens a record: its tag is now the last one
      record_start = StampToSeconds(TagTime(h, stream, 0).value_or(TimeStamp{}));
      rate = TagRate(h, stream, 0);
      remaining = TagInt(h, stream, 0, "SCNT").value_or(1);
      index = 0;
    }
    const double offset = rate > 0 ? static_cast<double>(index) / rate : 0;
    ++index;
    --remaining;
    if (start_s && static_cast<double>(record_start) - *start_s + offset < -1e-9) continue;
    if (options.binary) {
      std::fwrite(values.data(), sizeof(double), values.size(), stdout);
    } else {
      line = FormatTime(record_start, offset, 6);
      for (double v : values) line += ',' + Number(v);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), stdout);
    }
    ++written;
    progress.Update(written);
  }
  std::fflush(stdout);
  if (std::ferror(stdout)) throw ToolError("cannot write the scans");
  if (status != OLMTS_OK && status != OLMTS_END_OF_DATA)
    Check(status, recording.Where(stream) + ": after " + std::to_string(written) + " scans");
  if (wanted > 0 && written < wanted)
    std::cerr << "olmts: " << recording.Where(stream) << ": end of data after " << written << " of " << wanted
              << " scans\n";
}

}  // namespace

void AddScansCommand(CLI::App& app) {
  auto options = std::make_shared<ScansOptions>();
  CLI::App* command = app.add_subcommand(
      "scans", "samples as CSV (time and one column per channel, fractions of full scale) or raw doubles");
  AddBase(command, &options->base);
  AddStream(command, &options->stream);
  AddStart(command, &options->start, "first scan");
  CLI::Option* count = AddCount(command, &options->count, "scans");
  command->add_option("--duration", options->duration_s, "seconds of data")->check(kFiniteNonNegative)->excludes(count);
  command->add_flag("--concat", options->concat, "continue into the next files of the stream's set");
  command->add_flag("--binary", options->binary, "raw little-endian doubles, one per channel and scan, no time");
  command->callback([options] { RunScans(*options); });
}

}  // namespace olmts
