// `gaps`: every break between the records of a stream, with its time and size.
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/stream_walk.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

void RunGaps(const StreamWalkOptions& options) {
  Recording recording(options.base);
  // Spectral records are windows of coefficients, not a sampled series: their
  // scan counts and rates say nothing about time between records.
  if (options.stream == 0)
    throw ToolError(recording.Where(0) +
                    ": stream 0 holds spectral records, not a sampled series, so it has no gaps; 'olmts info' "
                    "gives their count and first and last time, 'olmts spectra' each record's time");
  StreamWalk walk(recording, options.stream, options.concat);
  TsHandle* h = recording.get();
  if (!options.json)
    std::cout << "after_record,last_record,next_record,expected_scans,record_scans,missing_scans,missing_s\n";
  Json rows = Json::array();
  long long record = 0, gaps = 0;
  int32_t status;
  for (;;) {
    walk.BeforeRecord();
    if ((status = SkipRecHT(h, options.stream)) != OLMTS_OK) break;
    walk.Consumed();
    ++record;
    const auto next = TagTime(h, options.stream, 1);
    if (!next || GapHT(h, options.stream) != OLMTS_GAP) continue;
    // The counts are the gap test's own, so that they agree with GapHT.
    int64_t expected = 0, scans = 0;
    double rate = 0;
    if (olmts_gap_scans(h, options.stream, &expected, &scans, &rate) != OLMTS_OK) continue;
    const TimeStamp last = TagTime(h, options.stream, 0).value_or(TimeStamp{});
    const long long missing = expected - scans;
    const std::string missing_s = rate > 0 ? Number(static_cast<double>(missing) / rate) : "";
    if (options.json)
      rows.push_back({{"after_record", record - 1},
                      {"last_record", FormatTime(last)},
                      {"next_record", FormatTime(*next)},
                      {"expected_scans", expected},
                      {"record_scans", scans},
                      {"missing_scans", missing},
                      {"missing_s", rate > 0 ? JsonNumber(static_cast<double>(missing) / rate) : Json()}});
    else
      std::cout << record - 1 << ',' << FormatTime(last) << ',' << FormatTime(*next) << ',' << expected << ',' << scans
                << ',' << missing << ',' << missing_s << '\n';
    ++gaps;
  }
  const bool complete = walk.Finish(status);
  if (options.json)
    std::cout << Json{{"base", recording.base()}, {"stream", options.stream},   {"records", record}, {"gaps", rows},
                      {"complete", complete},     {"problems", walk.problems()}}
                     .dump(2)
              << '\n';
  std::cerr << gaps << (gaps == 1 ? " gap" : " gaps") << " in " << record << " records"
            << (complete ? "" : " read (the stream did not end cleanly)") << '\n';
}

}  // namespace

void AddGapsCommand(CLI::App& app) {
  const auto [command, options] = AddSubcommand(app, "gaps", "every gap of a stream with its time and size", RunGaps);
  AddStreamWalkOptions(command, options);
}

}  // namespace olmts
