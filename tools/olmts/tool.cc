#include "olmts/tool.h"

#include "table/components.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace olmts {

std::string DescribeStatus(int32_t status) {
  return "status " + std::to_string(status) + " (" + olmts_status_text(status) + ")";
}

void Check(int32_t status, const std::string& what) {
  if (status != OLMTS_OK) throw ToolError(what + ": " + DescribeStatus(status));
}

namespace {

bool read_problems = false;
bool read_problems_allowed = false;

}  // namespace

void NoteReadProblem() { read_problems = true; }
void AllowReadProblems() { read_problems_allowed = true; }
bool ReadProblemsChangeExitCode() { return read_problems && !read_problems_allowed; }

namespace {

// A base path given with its file's extension (any case), as a shell's
// completion offers it, names the same file.
std::string WithoutExtension(const std::string& base, const std::string& extension) {
  std::error_code ec;
  if (base.size() > extension.size() && !std::filesystem::exists(base + extension, ec) &&
      std::filesystem::is_regular_file(base, ec)) {
    std::string tail = base.substr(base.size() - extension.size());
    for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (tail == extension) return base.substr(0, base.size() - extension.size());
  }
  return base;
}

}  // namespace

Recording::Recording(const std::string& base) : base_(WithoutExtension(base, ".TBL")) {
  const std::string table = base_ + ".TBL";
  // The library reports only NULL; find the likely reason for the message.
  if (base_.size() > 256) throw ToolError(table + ": cannot open the recording: base path longer than 256 characters");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(table, ec))
    throw ToolError(table + ": cannot open the recording: no such table file");
  handle_ = TSOpenHT(base_.c_str());
  if (handle_ == nullptr)
    throw ToolError(table + ": cannot open the recording: the table file is unreadable or holds no parameter");
}

std::string Recording::StreamFile(int stream) const {
  if (stream == 0) return base_ + ".TFC";
  const std::string own = base_ + ".TS" + std::to_string(stream);
  std::error_code ec;
  if (stream >= 2 && stream <= 4 && !std::filesystem::exists(own, ec)) return base_ + ".TSH";
  if (stream == 5 && !std::filesystem::exists(own, ec)) return base_ + ".TSL";
  return own;
}

std::string Recording::Where(int stream) const {
  if (stream < 0 || stream > 5) return base_ + " (stream " + std::to_string(stream) + ")";
  return StreamFile(stream) + " (stream " + std::to_string(stream) + ")";
}

void Recording::RequireStream(int stream) const {
  if (stream < 0 || stream > 5)
    throw ToolError(base_ + ": stream " + std::to_string(stream) + ": " + DescribeStatus(OLMTS_BAD_STREAM) +
                    "; streams are 0 (spectral) and 1 ... 5");
  // The library refuses a stream without a usable file with the same status
  // on every call; asking for a tag field costs nothing and moves nothing.
  int32_t value = 0;
  if (ReadTagHT(handle_, stream, 1, "SCNT", OLMTS_TYPE_INT32, &value) == OLMTS_BAD_STREAM)
    throw ToolError(Where(stream) + ": " + DescribeStatus(OLMTS_BAD_STREAM) +
                    "; the file is missing or unreadable, or holds no record of the stream's rate class");
}

int Recording::ChannelCount() const {
  int32_t count = 0;
  GetNumChnHT(handle_, &count);
  return count;
}

double Recording::SampleRate(int stream) const {
  double rate = 0;
  Check(GetSampleRateHzHT(handle_, stream, &rate), base_ + ".TBL: sample rate of stream " + std::to_string(stream));
  return rate;
}

Calibration::Calibration(int kind, const std::string& given) {
  const std::string extension = kind == 1 ? ".CLB" : ".CLC";
  const std::string base = WithoutExtension(given, extension);
  path_ = base + extension;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path_, ec))
    throw ToolError(path_ + ": cannot open the calibration: no such file");
  handle_ = CalOpenHT(kind, base.c_str());
  if (handle_ != nullptr) return;
  // The library reports only NULL. A file that opens as another kind is the
  // likely reason, and the one worth naming.
  const auto name = [](int k) {
    return k == 1 ? std::string("a box calibration") : "a kind-" + std::to_string(k) + " sensor calibration";
  };
  for (int other : {1, 2, 3}) {
    if (other == kind) continue;
    CalHandle* probe = CalOpenHT(other, base.c_str());
    if (probe == nullptr) continue;
    CalCloseHT(&probe);
    throw ToolError(path_ + ": cannot open the calibration: not " + name(kind) + ", the file holds " + name(other) +
                    (kind != 1 && other != 1 ? " (--sensor-kind " + std::to_string(other) + ")" : ""));
  }
  throw ToolError(path_ + ": cannot open the calibration: not " + std::string(kind == 1 ? "a box" : "a sensor") +
                  " calibration, or its header or tables are malformed");
}

int Calibration::ChannelCount() const {
  int32_t count = 0;
  Check(ReadCalPrmHT(handle_, "NCHN", OLMTS_TYPE_INT32, &count), path_ + ": NCHN");
  return count;
}

// ---- Times ----------------------------------------------------------------------

namespace {

int DaysInMonth(int year, int month) {
  const auto last = std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} / std::chrono::last;
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

TimeStamp Stamp(int64_t year, unsigned month, unsigned day, int64_t hour, int64_t minute, int64_t second) {
  const auto byte = [](int64_t v) { return static_cast<uint8_t>(v); };
  return TimeStamp{byte(second), byte(minute),     byte(hour), byte(day),
                   byte(month),  byte(year % 100), 0,          byte(year / 100)};
}

}  // namespace

int64_t StampToSeconds(const TimeStamp& s) {
  const int year = s.century * 100 + s.year;
  const unsigned month = s.month >= 1 && s.month <= 12 ? s.month : 1;
  const unsigned day = s.day >= 1 && s.day <= 31 ? s.day : 1;
  // A day past the end of its month (a stamp of 31 February) counts on into the next.
  const std::chrono::sys_days date = std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day};
  return int64_t{date.time_since_epoch().count()} * 86400 + s.hour * 3600 + s.minute * 60 + s.second;
}

TimeStamp StampFromSeconds(int64_t t) {
  const int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  const int64_t rem = t - days * 86400;
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  return Stamp(static_cast<int>(date.year()), static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
               rem / 3600, rem / 60 % 60, rem % 60);
}

std::string FormatTime(const TimeStamp& s) {
  char text[40];
  std::snprintf(text, sizeof text, "%02u%02u-%02u-%02uT%02u:%02u:%02u", s.century, s.year, s.month, s.day, s.hour,
                s.minute, s.second);
  return text;
}

std::string FormatTime(int64_t seconds, double fraction_s, int decimals) {
  // Carry a fraction that rounds up to a whole second into the seconds.
  const double scale = std::pow(10.0, decimals);
  int64_t ticks = static_cast<int64_t>(std::llround(fraction_s * scale));
  const int64_t per_second = static_cast<int64_t>(scale);
  seconds += ticks / per_second;
  ticks %= per_second;
  std::string text = FormatTime(StampFromSeconds(seconds));
  if (decimals > 0) {
    char frac[32];
    std::snprintf(frac, sizeof frac, ".%0*lld", decimals < 18 ? decimals : 18, static_cast<long long>(ticks));
    text += frac;
  }
  return text;
}

TimeStamp ParseTime(const std::string& text, double* fraction_s) {
  auto fail = [&]() -> TimeStamp {
    throw ToolError("bad time '" + text +
                    "': expected ISO 8601 such as 2026-03-14T10:00:00, optionally with Z or an offset like +01:00");
  };
  std::string t = text;
  // A UTC offset ("+01:00", "-0530", "+02") or a trailing Z: the time is given
  // in that zone and converted to UTC, the recorder's time.
  int64_t offset_s = 0;
  if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) {
    t.pop_back();
  } else if (const std::size_t sign = t.find_last_of("+-"); sign != std::string::npos && sign > 10) {
    const std::string zone = t.substr(sign + 1);
    int hours = 0, minutes = 0;
    if (zone.size() == 5 && zone[2] == ':' && std::isdigit(static_cast<unsigned char>(zone[0])) &&
        std::isdigit(static_cast<unsigned char>(zone[1])) && std::isdigit(static_cast<unsigned char>(zone[3])) &&
        std::isdigit(static_cast<unsigned char>(zone[4]))) {
      hours = std::stoi(zone.substr(0, 2));
      minutes = std::stoi(zone.substr(3, 2));
    } else if ((zone.size() == 4 || zone.size() == 2) && zone.find_first_not_of("0123456789") == std::string::npos) {
      hours = std::stoi(zone.substr(0, 2));
      minutes = zone.size() == 4 ? std::stoi(zone.substr(2, 2)) : 0;
    } else {
      return fail();
    }
    if (hours > 23 || minutes > 59) return fail();
    offset_s = (t[sign] == '+' ? 1 : -1) * (hours * 3600 + minutes * 60);
    t.resize(sign);
  }
  // A fraction of a second, where the caller can use one.
  double fraction = 0;
  if (const std::size_t dot = t.find('.'); dot != std::string::npos) {
    const std::string digits = t.substr(dot + 1);
    if (fraction_s == nullptr || dot != 19 || digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return fail();
    fraction = std::stod("0." + digits);
    t.resize(dot);
  }
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int used = 0;
  if (t.size() < 10 || t.find_first_not_of("0123456789-", 0) < 10) return fail();
  if (std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 || used != 10) return fail();
  if (t.size() > 10) {
    const char sep = t[10];
    if (sep != 'T' && sep != 't' && sep != ' ') return fail();
    const std::string clock = t.substr(11);
    if (clock.find_first_not_of("0123456789:") != std::string::npos) return fail();
    int used_time = 0;
    if (clock.size() == 8 && std::sscanf(clock.c_str(), "%2d:%2d:%2d%n", &hour, &minute, &second, &used_time) == 3 &&
        used_time == 8) {
    } else if (clock.size() == 5 && std::sscanf(clock.c_str(), "%2d:%2d%n", &hour, &minute, &used_time) == 2 &&
               used_time == 5 && fraction == 0) {
    } else {
      return fail();
    }
  }
  if (fraction_s != nullptr) *fraction_s = fraction;
  if (year < 1970 || year > 2099 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59 || hour < 0 || minute < 0 || second < 0)
    return fail();
  TimeStamp stamp = Stamp(year, static_cast<unsigned>(month), static_cast<unsigned>(day), hour, minute, second);
  if (offset_s != 0) {
    // A time given with a zone offset: the fields above are local time.
    stamp = StampFromSeconds(StampToSeconds(stamp) - offset_s);
    const int utc_year = stamp.century * 100 + stamp.year;
    if (utc_year < 1970 || utc_year > 2099) return fail();
  }
  return stamp;
}

// ---- Channels -------------------------------------------------------------------

std::vector<std::string> ChannelNames(TsHandle* recording, int count) {
  if (count < 0) count = 0;
  std::vector<std::string> names(static_cast<std::size_t>(count));
  for (int n = 0; n < count; ++n) names[static_cast<std::size_t>(n)] = "ch" + std::to_string(n + 1);
  for (const olmtsfil::ComponentName& component : olmtsfil::kComponentNames) {
    int32_t channel = 0;
    if (ReadPrmHT(recording, component.parameter, OLMTS_TYPE_INT32, &channel) == OLMTS_OK && channel >= 1 &&
        channel <= count)
      names[static_cast<std::size_t>(channel - 1)] = component.name;
  }
  return names;
}

std::optional<int32_t> TagInt(TsHandle* recording, int stream, int which, const char* name) {
  int32_t value = 0;
  if (ReadTagHT(recording, stream, which, name, OLMTS_TYPE_INT32, &value) != OLMTS_OK) return std::nullopt;
  return value;
}

std::optional<TimeStamp> TagTime(TsHandle* recording, int stream, int which) {
  TimeStamp value{};
  if (ReadTagHT(recording, stream, which, "UTC", OLMTS_TYPE_TIMESTAMP, &value) != OLMTS_OK) return std::nullopt;
  return value;
}

double TagRate(TsHandle* recording, int stream, int which) {
  double rate = 0;
  if (olmts_record_rate_hz(recording, stream, which, &rate) != OLMTS_OK) return 0;
  return rate;
}

std::string TableText(TsHandle* recording, const char* name) {
  char text[17] = {};
  if (ReadPrmHT(recording, name, OLMTS_TYPE_TEXT16, text) != OLMTS_OK) return "";
  return std::string(text, strnlen(text, 16));
}

}  // namespace olmts
