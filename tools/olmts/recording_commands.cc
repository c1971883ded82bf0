// `info`, `params`, `tags`, `gaps`, `scans` and `spectra`: what is in a
// recording, whether it is complete and what its samples look like.
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "olmts/commands.h"
#include "olmts/tool.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define OLMTS_ISATTY _isatty
#define OLMTS_FILENO _fileno
#else
#include <unistd.h>
#define OLMTS_ISATTY isatty
#define OLMTS_FILENO fileno
#endif

namespace olmts {
namespace {

using Json = nlohmann::ordered_json;

// Shortest text that reads back as the same double.
std::string Number(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  if (ec != std::errc()) return "nan";
  return std::string(text, end);
}

std::string Text16(const char* bytes) { return std::string(bytes, strnlen(bytes, 16)); }

std::string TableText(TsHandle* recording, const char* name) {
  char text[17] = {};
  if (ReadPrmHT(recording, name, OLMTS_TYPE_TEXT16, text) != OLMTS_OK) return "";
  return Text16(text);
}

// Samples per second of a record from its tag: RATE per second, or per minute
// for any other unit code (as the library's gap test counts them).
double TagRate(TsHandle* recording, int stream, int which) {
  const auto rate = TagInt(recording, stream, which, "RATE");
  const auto unit = TagInt(recording, stream, which, "RUNT");
  if (!rate) return 0;
  return unit && *unit != 0 ? *rate / 60.0 : static_cast<double>(*rate);
}

// The files of a stream's dated set, in the order the library continues into
// them: next sequence letter the same day, else the first file of the next day.
std::vector<std::string> FileSet(const std::string& first, bool follow) {
  std::vector<std::string> files{first};
  std::error_code ec;
  if (!follow || !std::filesystem::exists(first, ec)) return files;
  for (int guard = 0; guard < 1000; ++guard) {
    const std::filesystem::path current(files.back());
    const std::string original = current.stem().string();
    std::string stem = original;
    for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (stem.size() < 2 || stem.back() < 'a' || stem.back() > 'y') break;
    // The recorder writes lower-case stems; the library also follows a set
    // copied in upper case, trying each name also in the case of the current one.
    std::vector<std::string> candidates;
    const bool upper = std::isupper(static_cast<unsigned char>(original.back())) != 0;
    const auto add = [&](const std::string& next_stem, std::size_t suffix) {
      const auto path = [&](const std::string& s) {
        return (current.parent_path() / (s + current.extension().string())).string();
      };
      candidates.push_back(path(next_stem));
      if (!upper) return;
      std::string cased = original.substr(0, original.size() - suffix) + next_stem.substr(next_stem.size() - suffix);
      for (std::size_t i = cased.size() - suffix; i < cased.size(); ++i)
        cased[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(cased[i])));
      candidates.push_back(path(cased));
    };
    std::string next = stem;
    next.back() = static_cast<char>(next.back() + 1);
    add(next, 1);
    unsigned month = 0;
    int day = 0;
    if (stem.size() >= 4 && std::sscanf(stem.c_str() + stem.size() - 4, "%1x%2d", &month, &day) == 2 && month >= 1 &&
        month <= 12 && day >= 1 && day <= 31) {
      // Day rollover as the recorder names its files: 31-day months roll after
      // the 31st, 30-day months after the 30th, February after the 29th; so the
      // 28th of February is followed by a 29th, and that by the 1st of March.
      static const int kLast[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      if (day >= kLast[month - 1]) {
        day = 1;
        month = month % 12 + 1;
      } else {
        ++day;
      }
      const auto dated = [&](unsigned m, int d) {
        char field[8];
        std::snprintf(field, sizeof field, "%01x%02da", m, d);
        add(stem.substr(0, stem.size() - 4) + field, 4);
      };
      dated(month, day);
      if (month == 2 && day == 29) dated(3, 1);
    }
    std::string found;
    for (const std::string& c : candidates)
      if (std::filesystem::exists(c, ec)) {
        found = c;
        break;
      }
    if (found.empty()) break;
    files.push_back(found);
  }
  return files;
}

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
};

StreamSummary Summarise(const std::string& base, int stream, bool concat) {
  Recording recording(base);
  TsHandle* h = recording.get();
  StreamSummary s;
  s.stream = stream;
  int32_t probe = 0;
  if (ReadTagHT(h, stream, 1, "SCNT", OLMTS_TYPE_INT32, &probe) == OLMTS_BAD_STREAM) return s;
  s.usable = true;
  SetConcatHT(h, concat ? 1 : 0);
  s.files = FileSet(recording.StreamFile(stream), concat);
  s.channels = TagInt(h, stream, 1, "NCHN").value_or(0);
  s.scans_per_record = TagInt(h, stream, 1, "SCNT").value_or(0);
  s.rate_hz = TagRate(h, stream, 1);
  s.first = TagTime(h, stream, 1).value_or(TimeStamp{});
  int32_t status = OLMTS_OK;
  while ((status = SkipRecHT(h, stream)) == OLMTS_OK) {
    ++s.records;
    s.last = TagTime(h, stream, 0).value_or(s.last);
    // A gap only between two records that both exist.
    if (stream != 0 && TagTime(h, stream, 1) && GapHT(h, stream) == OLMTS_GAP) ++s.gaps;
  }
  s.end_status = status;
  // A spectral record's scans are coefficients, not samples in time.
  const double record_s = s.rate_hz > 0 && stream != 0 ? s.scans_per_record / s.rate_hz : 0;
  s.recorded_s = static_cast<double>(s.records) * record_s;
  if (s.records > 0) s.span_s = static_cast<double>(StampToSeconds(s.last) - StampToSeconds(s.first)) + record_s;
  return s;
}

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

// ---- info -----------------------------------------------------------------------

void RunInfo(const InfoOptions& options) {
  Recording recording(options.base);
  TsHandle* h = recording.get();
  const int channels = recording.ChannelCount();
  const std::vector<std::string> names = ChannelNames(h, 12);
  std::vector<StreamSummary> streams;
  for (int k = 0; k <= 5; ++k) streams.push_back(Summarise(options.base, k, options.concat));

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
      js["channels"] = s.channels;
      js["sample_rate_hz"] = s.rate_hz;
      js["scans_per_record"] = s.scans_per_record;
      js["records"] = s.records;
      js["first_record"] = s.records > 0 ? Json(FormatTime(s.first)) : Json();
      js["last_record"] = s.records > 0 ? Json(FormatTime(s.last)) : Json();
      js["gaps"] = s.stream == 0 ? Json() : Json(s.gaps);
      js["duration_s"] = s.span_s;
      js["recorded_s"] = s.recorded_s;
      js["end_status"] = s.end_status;
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
    for (std::size_t i = 0; i < s.files.size(); ++i) std::cout << (i ? ", " : "") << FileName(s.files[i]);
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
    if (s.end_status != OLMTS_END_OF_DATA)
      std::cout << "  reading stopped early: " << DescribeStatus(s.end_status) << '\n';
  }
}

// ---- params ---------------------------------------------------------------------

namespace {

const char* TypeName(int type) {
  switch (type) {
    case OLMTS_TYPE_INT32: return "int32";
    case OLMTS_TYPE_DOUBLE: return "double";
    case OLMTS_TYPE_TEXT16: return "text16";
    case OLMTS_TYPE_NONE: return "none";
    case OLMTS_TYPE_TEXT: return "text";
    case OLMTS_TYPE_TIMESTAMP: return "time";
    default: return "unknown";
  }
}

// The value of a parameter as text; a JSON value beside it.
std::pair<std::string, Json> ParamValue(TsHandle* h, const char* name, int type) {
  switch (type) {
    case OLMTS_TYPE_INT32: {
      int32_t v = 0;
      if (ReadPrmHT(h, name, type, &v) == OLMTS_OK) return {std::to_string(v), v};
      break;
    }
    case OLMTS_TYPE_DOUBLE: {
      double v = 0;
      if (ReadPrmHT(h, name, type, &v) == OLMTS_OK) return {Number(v), std::isfinite(v) ? Json(v) : Json(Number(v))};
      break;
    }
    case OLMTS_TYPE_TEXT16:
    case OLMTS_TYPE_TEXT: {
      char v[17] = {};
      if (ReadPrmHT(h, name, type, v) == OLMTS_OK) return {Text16(v), Text16(v)};
      break;
    }
    case OLMTS_TYPE_TIMESTAMP: {
      TimeStamp v{};
      if (ReadPrmHT(h, name, type, &v) == OLMTS_OK) return {FormatTime(v), FormatTime(v)};
      break;
    }
    default: break;
  }
  return {"-", Json()};
}

}  // namespace

void RunParams(const ParamsOptions& options) {
  Recording recording(options.base);
  TsHandle* h = recording.get();
  char name_bytes[9] = {};
  const int count = GCodePrmHT(h, -1, name_bytes) - OLMTS_PARAM_COUNT_BASE;
  Json list = Json::array();
  if (!options.json) std::printf("%-8s  %-6s  %-20s  %10s  %5s  %5s\n", "name", "type", "value", "info", "byte1", "byte2");
  for (int i = 0; i < count; ++i) {
    std::memset(name_bytes, 0, sizeof name_bytes);
    GCodePrmHT(h, i, name_bytes);  // 8 bytes, not terminated when all are used
    char type = 0;
    int32_t word = 0, byte1 = 0, byte2 = 0;
    Check(ReadPrmInfoHT(h, name_bytes, &type, &word, &byte1, &byte2), options.base + ".TBL: parameter " + name_bytes);
    const auto [text, value] = ParamValue(h, name_bytes, static_cast<unsigned char>(type));
    if (options.json) {
      list.push_back({{"name", name_bytes},
                      {"type", TypeName(static_cast<unsigned char>(type))},
                      {"type_code", static_cast<unsigned char>(type)},
                      {"value", value},
                      {"info_word", word},
                      {"info_byte1", byte1},
                      {"info_byte2", byte2}});
    } else {
      std::printf("%-8s  %-6s  %-20s  %10d  %5d  %5d\n", name_bytes, TypeName(static_cast<unsigned char>(type)),
                  text.c_str(), word, byte1, byte2);
    }
  }
  if (options.json) std::cout << Json{{"base", options.base}, {"parameters", list}}.dump(2) << '\n';
}

// ---- tags and gaps --------------------------------------------------------------

namespace {

const char* const kTagFields[] = {"SNUM",  "SCNT",  "NCHN",  "LTAG",  "STAT",  "SATC",  "LSMP",
                                  "RATE",  "RUNT",  "CLST",  "TERR",  "SBREC", "WINDX", "WISCN",
                                  "LEVTP", "LEVAL", "NFRQT", "NFRQD", "NFREQ"};

// Opens the recording, checks the stream and applies --concat.
void PrepareStream(const Recording& recording, int stream, bool concat) {
  recording.RequireStream(stream);
  SetConcatHT(recording.get(), concat ? 1 : 0);
}

// The status that ended a walk over the records: the end of the data is the
// normal end, anything else is an error in the file.
void CheckEnd(const Recording& recording, int stream, int32_t status, long long records) {
  if (status != OLMTS_END_OF_DATA)
    Check(status, recording.Where(stream) + ": after record " + std::to_string(records));
}

}  // namespace

void RunTags(const RecordOptions& options) {
  Recording recording(options.base);
  PrepareStream(recording, options.stream, options.concat);
  TsHandle* h = recording.get();
  std::cout << "record,UTC";
  for (const char* f : kTagFields) std::cout << ',' << f;
  std::cout << '\n';
  long long record = 0;
  int32_t status;
  while ((status = SkipRecHT(h, options.stream)) == OLMTS_OK) {
    const auto utc = TagTime(h, options.stream, 0);
    std::cout << record++ << ',' << (utc ? FormatTime(*utc) : "");
    for (const char* f : kTagFields) {
      std::cout << ',';
      // CLST exists only in the longer tags; an empty cell says so.
      if (auto v = TagInt(h, options.stream, 0, f)) std::cout << *v;
    }
    std::cout << '\n';
  }
  CheckEnd(recording, options.stream, status, record);
}

void RunGaps(const RecordOptions& options) {
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

// ---- scans ----------------------------------------------------------------------

namespace {

// A progress bar on stderr, drawn only when stderr is a terminal and only once
// an export has run long enough to wait for; a count of scans when the total is
// not known.
class Progress {
 public:
  explicit Progress(long long total)
      : total_(total), enabled_(OLMTS_ISATTY(OLMTS_FILENO(stderr)) != 0), start_(Clock::now()), last_(start_) {}
  ~Progress() {
    if (drawn_) std::fprintf(stderr, "\r%60s\r", "");
  }
  void Update(long long done) {
    if (!enabled_ || (done & 1023) != 0) return;  // the clock is not free either
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    drawn_ = true;
    if (total_ <= 0) {
      std::fprintf(stderr, "\r%lld scans", done);
    } else {
      const int percent = static_cast<int>(done * 100 / total_);
      const int width = 40, filled = percent * width / 100;
      std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", width - filled,
                   "", percent);
    }
    std::fflush(stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  long long total_;
  bool enabled_;
  bool drawn_ = false;
  Clock::time_point start_, last_;
};

}  // namespace

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
    const int64_t record_s = rate > 0 ? static_cast<int64_t>(std::ceil(TagInt(h, stream, 1, "SCNT").value_or(0) / rate)) : 0;
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

// ---- spectra --------------------------------------------------------------------

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

}  // namespace olmts
