// `scans`: the samples of a stream as CSV (time and one column per channel, in
// fractions of full scale) or as raw little-endian doubles.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/progress.h"
#include "olmts/scan_units.h"
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
  bool across_gaps = false;
  bool json = false;
  UnitsOptions units;
};

struct Segment {
  int64_t start_s = 0;  // whole seconds of the first scan's time
  double start_fraction = 0;
  long long first_row = 0;
  long long rows = 0;
};

std::string WriteFailure(const char* what) {
  return std::string("cannot write ") + what + ": " + (errno != 0 ? std::strerror(errno) : "output error");
}

void RunScans(const ScansOptions& options) {
  Recording recording(options.base);
  if (options.stream == 0)
    throw ToolError(recording.Where(0) + ": " + DescribeStatus(OLMTS_BAD_STREAM) +
                    "; stream 0 holds spectral records, see 'olmts spectra'");
  StreamWalk walk(recording, options.stream, options.concat);
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
  const std::vector<std::string> names = ChannelNames(h, channels);
  Json rows = Json::array();
  std::string line;
  ScanUnits units(recording, stream, channels, options.units,
                  [&options, &line, &rows, channels](int64_t seconds, double fraction, const double* v) {
                    if (options.json) {
                      Json row = Json::array({FormatTime(seconds, fraction, 6)});
                      for (int c = 0; c < channels; ++c) row.push_back(JsonNumber(v[c]));
                      rows.push_back(row);
                    } else if (options.binary) {
                      if (std::fwrite(v, sizeof(double), static_cast<std::size_t>(channels), stdout) !=
                          static_cast<std::size_t>(channels))
                        throw ToolError(WriteFailure("the scans"));
                    } else {
                      line = FormatTime(seconds, fraction, 6);
                      for (int c = 0; c < channels; ++c) line += ',' + Number(v[c]);
                      line += '\n';
                      if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size())
                        throw ToolError(WriteFailure("the scans"));
                    }
                  });
  if (!options.binary && !options.json) {
    units.Describe(std::cout, names);
    std::cout << "time";
    for (const std::string& name : names) std::cout << ',' << name;
    std::cout << '\n';
    std::cout.flush();
  }
  Progress progress(wanted);
  std::vector<double> values(static_cast<std::size_t>(channels));
  std::vector<Segment> segments;
  long long written = 0, index = 0, remaining = 0;
  int64_t record_start = 0;
  double rate = 0;
  bool at_record_end = true;  // the next read opens a record
  bool stopped_at_gap = false;
  int32_t status = OLMTS_OK;
  errno = 0;
  while (wanted < 0 || written < wanted) {
    if (at_record_end) {
      // Between two records: does the next one join the last? Only once a scan
      // was written does a gap break what the user gets.
      if (written > 0 && TagTime(h, stream, 1) && GapHT(h, stream) == OLMTS_GAP) {
        int64_t expected = 0, scans = 0;
        double gap_rate = 0;
        olmts_gap_scans(h, stream, &expected, &scans, &gap_rate);
        const std::string text = recording.Where(stream) + ": gap after the record of " +
                                 FormatTime(TagTime(h, stream, 0).value_or(TimeStamp{})) + ", next record at " +
                                 FormatTime(*TagTime(h, stream, 1)) + " (" + std::to_string(expected - scans) +
                                 " scans missing)";
        if (!options.across_gaps) {
          std::cerr << "olmts: " << text << "; stopped after " << written
                    << " scans (--across-gaps continues past gaps)\n";
          stopped_at_gap = true;
          break;
        }
        std::cerr << "olmts: " << text << "; a new segment starts\n";
        units.EndRun();  // a conversion to the field never runs across a gap
        segments.push_back(Segment{});
      }
      walk.BeforeRecord();
    }
    int32_t flag = 0;
    status = ReadScanDblHT(h, stream, &flag, values.data());
    if (status != OLMTS_OK) break;
    if (flag == 1 || remaining == 0) {  // the scan opens a record: its tag is now the last one
      walk.Consumed();
      record_start = StampToSeconds(TagTime(h, stream, 0).value_or(TimeStamp{}));
      rate = TagRate(h, stream, 0);
      remaining = TagInt(h, stream, 0, "SCNT").value_or(1);
      index = 0;
    }
    const double offset = rate > 0 ? static_cast<double>(index) / rate : 0;
    ++index;
    --remaining;
    at_record_end = flag == -1 || remaining <= 0;
    if (start_s && static_cast<double>(record_start) - *start_s + offset < -1e-9) continue;
    if (written == 0 && start_s && static_cast<double>(record_start) - *start_s + offset > (rate > 0 ? 1 / rate : 0))
      std::cerr << "olmts: " << recording.Where(stream) << ": no scan at " << *options.start
                << " (it lies in a gap or before the first record); starting at " << FormatTime(record_start, offset, 6)
                << '\n';
    if (segments.empty()) segments.push_back(Segment{});
    Segment& segment = segments.back();
    if (segment.rows == 0) {
      segment.start_s = record_start;
      segment.start_fraction = offset;
      segment.first_row = written;
    }
    ++segment.rows;
    units.Push(record_start, offset, values.data());
    ++written;
    progress.Update(written);
  }
  units.EndRun();
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw ToolError(WriteFailure("the scans"));
  // A read cut short by --count, --duration or a gap has not met the end.
  const bool complete = status == OLMTS_OK || walk.Finish(status);
  if (!stopped_at_gap && status == OLMTS_END_OF_DATA && wanted > 0 && written < wanted)
    std::cerr << "olmts: " << recording.Where(stream) << ": end of data after " << written << " of " << wanted
              << " scans\n";
  Json segment_list = Json::array();
  for (const Segment& seg : segments)
    segment_list.push_back(
        {{"start", FormatTime(seg.start_s, seg.start_fraction, 6)}, {"first_row", seg.first_row}, {"rows", seg.rows}});
  if (options.json) {
    const Json metadata = units.Metadata(names);
    std::cout << Json{{"base", recording.base()},
                      {"stream", stream},
                      {"channels", names},
                      {"units", options.units.units},
                      {"columns", metadata["columns"]},
                      {"conversion", metadata["conversion"]},
                      {"scans", written},
                      {"segments", segment_list},
                      {"stopped_at_gap", stopped_at_gap},
                      {"complete", complete},
                      {"problems", walk.problems()},
                      {"rows", rows}}
                     .dump(1)
              << '\n';
  } else if (options.binary && options.across_gaps) {
    // Raw doubles carry no time: the segments say where each row lies.
    for (const Segment& seg : segments)
      std::cerr << "olmts: segment start " << FormatTime(seg.start_s, seg.start_fraction, 6) << " first_row "
                << seg.first_row << " rows " << seg.rows << '\n';
  }
}

}  // namespace

void AddScansCommand(CLI::App& app) {
  const auto [command, options] = AddSubcommand(
      app, "scans", "samples as CSV (time and one column per channel, fractions of full scale) or raw doubles",
      RunScans);
  AddBase(command, &options->base);
  AddStream(command, &options->stream);
  AddStart(command, &options->start, "first scan");
  CLI::Option* count = AddCount(command, &options->count, "scans");
  command->add_option("--duration", options->duration_s, "seconds of data")->check(kFiniteNonNegative)->excludes(count);
  command->add_flag("--concat", options->concat, "continue into the next files of the stream's set");
  CLI::Option* binary =
      command->add_flag("--binary", options->binary, "raw little-endian doubles, one per channel and scan, no time");
  command->add_flag("--across-gaps", options->across_gaps,
                    "continue past gaps (each scan keeps its true time; with --binary, one line per contiguous "
                    "segment on stderr: 'olmts: segment start TIME first_row N rows N')");
  AddJson(command, &options->json)->excludes(binary);
  AddUnitsOptions(command, &options->units);
  AddAllowErrors(command);
}

}  // namespace olmts
