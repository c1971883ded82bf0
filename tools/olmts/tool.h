// Shared pieces of the olmts tool: errors that name the file and the status,
// owning wrappers of the library's handles, ISO 8601 times and channel names.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "olmtsfil.h"

namespace olmts {

// Every failure the tool reports: main prints the message and exits with 1.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A fault met while reading that the command reported on stderr and read past
// or stopped at: the command finishes its output, and olmts exits with 2 unless
// --allow-errors was given.
void NoteReadProblem();
void AllowReadProblems();
bool ReadProblemsChangeExitCode();

// "status 1223 (stream number out of range or stream not usable)".
std::string DescribeStatus(int32_t status);
// Throws a ToolError "<what>: status N (meaning)" unless status is 0.
void Check(int32_t status, const std::string& what);

// An open recording; closes itself.
class Recording {
 public:
  explicit Recording(const std::string& base);
  ~Recording() { TSCloseHT(&handle_); }
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  TsHandle* get() const { return handle_; }
  const std::string& base() const { return base_; }
  // Path of the first file of a stream's set as the library forms it (the file
  // may not exist).
  std::string StreamFile(int stream) const;
  // "BASE.TS3 (stream 3)" for messages.
  std::string Where(int stream) const;
  // Refuses a stream number outside 0 ... 5 or a stream without a usable file.
  void RequireStream(int stream) const;
  int ChannelCount() const;
  double SampleRate(int stream) const;  // from the table; throws on failure

 private:
  std::string base_;
  TsHandle* handle_ = nullptr;
};

// An open calibration; closes itself. kind 1 box, 2 or 3 sensor.
class Calibration {
 public:
  Calibration(int kind, const std::string& base);
  ~Calibration() { CalCloseHT(&handle_); }
  Calibration(const Calibration&) = delete;
  Calibration& operator=(const Calibration&) = delete;

  CalHandle* get() const { return handle_; }
  const std::string& path() const { return path_; }
  int ChannelCount() const;

 private:
  std::string path_;
  CalHandle* handle_ = nullptr;
};

// ---- Times ----------------------------------------------------------------------
// Seconds since 1970 of a calendar stamp (no time zone, proleptic Gregorian).
int64_t StampToSeconds(const TimeStamp& stamp);
TimeStamp StampFromSeconds(int64_t seconds);
// "2026-03-14T23:59:50", with `decimals` digits of a fraction of a second when
// fraction_s is given.
std::string FormatTime(const TimeStamp& stamp);
std::string FormatTime(int64_t seconds, double fraction_s, int decimals);
// Accepts "YYYY-MM-DDTHH:MM:SS" (also with a space for T, without seconds, or a
// date alone for midnight) and an optional "Z"; years 1970 ... 2099. With
// fraction_s, also "HH:MM:SS.fff", the fraction going there. Throws a ToolError
// naming the text otherwise.
TimeStamp ParseTime(const std::string& text, double* fraction_s = nullptr);

// ---- Channels -------------------------------------------------------------------
// Name of each channel number 1 ... count: the component recorded on it ("Ex"
// ... "Hz") from the table's channel map, else "ch<N>".
std::vector<std::string> ChannelNames(TsHandle* recording, int count);

// Reads a tag field of the record consumed last (which = 0) or the next one.
std::optional<int32_t> TagInt(TsHandle* recording, int stream, int which, const char* name);
std::optional<TimeStamp> TagTime(TsHandle* recording, int stream, int which);
// Samples per second of the last (which = 0) or next record, from the library's gap
// test (olmts_record_rate_hz), so that every command counts scans as GapHT does;
// 0 when the tag is not held.
double TagRate(TsHandle* recording, int stream, int which);
// A 16-byte text parameter of the table; empty when it has none.
std::string TableText(TsHandle* recording, const char* name);

}  // namespace olmts
