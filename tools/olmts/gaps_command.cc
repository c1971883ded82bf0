// `gaps`: every break between the records of a stream, with its time and size.
#include <cmath>
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/stream_walk.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

struct GapsOptions {
  std::string base;
  int stream = 1;
  bool concat = false;
};

void RunGaps(const GapsOptions& options) {
  Recording recording(options.base);
  PrepareStream(recording, options.stream, options.concat);
  TsHandle* h = recording.get();
  std::cout << "after_record,last_record,next_record,expected_scans,record_scans,missing_scans,missing_s\n";
  long long record = 0, gaps = 0;
  int32_t status;
  while ((status = SkipRecHT(h, options.stream)) == OLMTS_OK) {
    ++record;
    const auto next = TagTime(h, options.stream, 1);
    if (!next || GapHT(h, options.stream) != OLMTS_GAP) continue;
    const TimeStamp last = TagTime(h, options.stream, 0).value_or(TimeStamp{});
    const double rate = TagRate(h, options.stream, 1);
    const long long scans = TagInt(h, options.stream, 0, "SCNT").value_or(0);
    const double delta = static_cast<double>(StampToSeconds(*next) - StampToSeconds(last));
    const long long expected = static_cast<long long>(std::floor(rate * delta + 0.5));
    const long long missing = expected - scans;
    std::cout << record - 1 << ',' << FormatTime(last) << ',' << FormatTime(*next) << ',' << expected << ',' << scans
              << ',' << missing << ',' << (rate > 0 ? Number(missing / rate) : "") << '\n';
    ++gaps;
  }
  CheckEnd(recording, options.stream, status, record);
  std::cerr << gaps << (gaps == 1 ? " gap" : " gaps") << " in " << record << " records\n";
}

}  // namespace

void AddGapsCommand(CLI::App& app) {
  auto options = std::make_shared<GapsOptions>();
  CLI::App* command = app.add_subcommand("gaps", "every gap of a stream with its time and size");
  AddBase(command, &options->base);
  AddStream(command, &options->stream);
  AddConcat(command, &options->concat);
  command->callback([options] { RunGaps(*options); });
}

}  // namespace olmts
