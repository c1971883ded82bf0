// Walking a stream's records for the commands that read one stream, and the
// report of every way a walk can end short: a status other than the clean end
// of the data, a file of the set that exists but was not read, files never
// reached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "olmts/tool.h"

namespace olmts {

// Checks the stream number and that the stream is usable, then applies --concat.
void PrepareStream(const Recording& recording, int stream, bool concat);

class StreamWalk {
 public:
  // Prepares the stream (as PrepareStream) and lists the files of its set the
  // library should read.
  StreamWalk(const Recording& recording, int stream, bool concat);

  // Call before each read that may consume a new record: notes the file that
  // holds the next record.
  void BeforeRecord();
  // Call after a record was consumed.
  void Consumed();
  // Call with the status that ended the walk. Reports on stderr what ended it
  // short, notes a read problem for the exit code, and returns false when the
  // walk ended short.
  bool Finish(int32_t status);

  const std::vector<std::string>& expected_files() const { return expected_; }
  // Expected files the library read (opened); valid after Finish.
  bool WasRead(const std::string& path) const;
  long long records() const { return records_; }
  // What Finish reported, one line each (without the "olmts: " prefix).
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  // The file holding the next record as the library tells it.
  void NoteCurrentFile();

  const Recording& recording_;
  int stream_;
  std::vector<std::string> expected_;
  std::vector<std::string> read_;  // in the order the library opened them
  int32_t file_index_ = -1;
  long long records_ = 0;          // consumed, over the whole set
  long long records_in_file_ = 0;  // consumed from the file now open
  std::string last_time_;          // time of the last consumed record
  std::string due_time_;           // when the record after it is due
  std::vector<std::string> problems_;
};

}  // namespace olmts
