// `info`: identifiers, channel map and every stream's files, records and gaps.
#include <algorithm>
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/file_set.h"
#include "olmts/output.h"
#include "olmts/stream_walk.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

struct InfoOptions {
  std::string base;
  bool concat = false;
  bool json = false;
};

struct StreamSummary {
  int stream = 0;
  bool usable = false;
  std::vector<std::string> files;
  int channels = 0;
  double rate_hz = 0;
  int scans_per_record = 0;
  long long records = 0;
  TimeStamp first{}, last{};
  long long gaps = 0;
  double recorded_s = 0;
  double span_s = 0;
  int32_t end_status = 0;
  std::vector<std::string> unread;  // files of the set the library did not read
  std::vector<std::string> problems;
};

StreamSummary Summarise(const std::string& base, int stream, bool concat) {
  Recording recording(base);
  TsHandle* h = recording.get();
  StreamSummary s;
  s.stream = stream;
  int32_t probe = 0;
  if (ReadTagHT(h, stream, 1, "SCNT", OLMTS_TYPE_INT32, &probe) == OLMTS_BAD_STREAM) return s;
  s.usable = true;
  StreamWalk walk(recording, stream, concat);
  s.files = walk.expected_files();
  s.channels = TagInt(h, stream, 1, "NCHN").value_or(0);
  s.scans_per_record = TagInt(h, stream, 1, "SCNT").value_or(0);
  s.rate_hz = TagRate(h, stream, 1);
  s.first = TagTime(h, stream, 1).value_or(TimeStamp{});
  int32_t status = OLMTS_OK;
  for (;;) {
    walk.BeforeRecord();
    if ((status = SkipRecHT(h, stream)) != OLMTS_OK) break;
    walk.Consumed();
    ++s.records;
    s.last = TagTime(h, stream, 0).value_or(s.last);
    // A gap only between two records that both exist.
    if (stream != 0 && TagTime(h, stream, 1) && GapHT(h, stream) == OLMTS_GAP) ++s.gaps;
  }
  s.end_status = status;
  walk.Finish(status);
  s.problems = walk.problems();
  for (const std::string& f : s.files)
    if (!walk.WasRead(f)) s.unread.push_back(FileName(f));
  // A spectral record's scans are coefficients, not samples in time.
  const double record_s = s.rate_hz > 0 && stream != 0 ? s.scans_per_record / s.rate_hz : 0;
  s.recorded_s = static_cast<double>(s.records) * record_s;
  if (s.records > 0) s.span_s = static_cast<double>(StampToSeconds(s.last) - StampToSeconds(s.first)) + record_s;
  return s;
}

void RunInfo(const InfoOptions& options) {
  Recording recording(options.base);
  TsHandle* h = recording.get();
  const int channels = recording.ChannelCount();
  const std::vector<std::string> names = ChannelNames(h, 12);
  std::vector<StreamSummary> streams;
  for (int k = 0; k <= 5; ++k) streams.push_back(Summarise(recording.base(), k, options.concat));

  if (options.json) {
    Json j;
    j["base"] = options.base;
    j["hardware"] = TableText(h, "HW");
    j["board"] = TableText(h, "VER");
    j["channels"] = channels;
    Json map = Json::object();
    for (int n = 0; n < 12; ++n)
      if (names[static_cast<std::size_t>(n)].rfind("ch", 0) != 0) map[names[static_cast<std::size_t>(n)]] = n + 1;
    j["channel_map"] = map;
    j["streams"] = Json::array();
    for (const StreamSummary& s : streams) {
      if (!s.usable) continue;
      Json js;
      js["stream"] = s.stream;
      js["kind"] = s.stream == 0 ? "spectral" : "time series";
      js["files"] = Json::array();
      for (const std::string& f : s.files) js["files"].push_back(FileName(f));
      js["files_not_read"] = s.unread;
      js["channels"] = s.channels;
      js["records"] = s.records;
      js["first_record"] = s.records > 0 ? Json(FormatTime(s.first)) : Json();
      js["last_record"] = s.records > 0 ? Json(FormatTime(s.last)) : Json();
      if (s.stream == 0) {
        // Windows of coefficients: no sample rate, no recorded time, no gaps.
        js["coefficients_per_record"] = s.scans_per_record;
        js["span_s"] = s.records > 0 ? Json(StampToSeconds(s.last) - StampToSeconds(s.first)) : Json();
      } else {
        js["sample_rate_hz"] = s.rate_hz;
        js["scans_per_record"] = s.scans_per_record;
        js["gaps"] = s.gaps;
        js["duration_s"] = s.span_s;
        js["recorded_s"] = s.recorded_s;
      }
      js["end_status"] = s.end_status;
      js["complete"] = s.problems.empty();
      js["problems"] = s.problems;
      j["streams"].push_back(js);
    }
    std::cout << j.dump(2) << '\n';
    return;
  }

  std::cout << "recording   " << options.base << '\n';
  std::cout << "hardware    " << TableText(h, "HW") << "  board " << TableText(h, "VER") << '\n';
  std::cout << "channels    " << channels << ':';
  for (int n = 0; n < 12; ++n)
    if (names[static_cast<std::size_t>(n)].rfind("ch", 0) != 0)
      std::cout << ' ' << names[static_cast<std::size_t>(n)] << '=' << n + 1;
  std::cout << '\n';
  for (const StreamSummary& s : streams) {
    if (!s.usable) continue;
    std::cout << "\nstream " << s.stream << (s.stream == 0 ? " (spectral)" : "") << "  ";
    for (std::size_t i = 0; i < s.files.size(); ++i) {
      const std::string name = FileName(s.files[i]);
      const bool unread = std::find(s.unread.begin(), s.unread.end(), name) != s.unread.end();
      std::cout << (i ? ", " : "") << name << (unread ? " (not read)" : "");
    }
    if (s.stream == 0)
      std::cout << "\n  " << s.channels << " channels, " << s.scans_per_record << " coefficients per record, "
                << s.records << " records\n";
    else
      std::cout << "\n  " << s.channels << " channels, " << Number(s.rate_hz) << " Hz, " << s.scans_per_record
                << " scans per record, " << s.records << " records\n";
    if (s.records > 0) {
      std::cout << "  first " << FormatTime(s.first) << "  last " << FormatTime(s.last);
      if (s.stream != 0) std::cout << "  gaps " << s.gaps;
      std::cout << "\n  duration " << Number(s.span_s) << " s";
      if (s.stream != 0) std::cout << " (" << Number(s.recorded_s) << " s recorded)";
      std::cout << '\n';
    }
    for (const std::string& p : s.problems) std::cout << "  read with problems: " << p << '\n';
  }
}

}  // namespace

void AddInfoCommand(CLI::App& app) {
  const auto [command, options] =
      AddSubcommand(app, "info", "identifiers, channel map and every stream's files, records and gaps", RunInfo);
  AddBase(command, &options->base);
  command->add_flag("--concat", options->concat, "follow each stream over its dated file set");
  AddJson(command, &options->json);
  AddAllowErrors(command);
}

}  // namespace olmts
