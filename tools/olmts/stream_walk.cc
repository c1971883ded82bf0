#include "olmts/stream_walk.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "olmts/file_set.h"
#include "olmts/output.h"

namespace olmts {

void PrepareStream(const Recording& recording, int stream, bool concat) {
  recording.RequireStream(stream);
  SetConcatHT(recording.get(), concat ? 1 : 0);
}

StreamWalk::StreamWalk(const Recording& recording, int stream, bool concat) : recording_(recording), stream_(stream) {
  PrepareStream(recording, stream, concat);
  expected_ = FileSet(recording.StreamFile(stream), concat);
  NoteCurrentFile();
}

void StreamWalk::NoteCurrentFile() {
  int32_t index = -1;
  char path[1024] = {};
  if (olmts_stream_file(recording_.get(), stream_, &index, path, static_cast<int32_t>(sizeof path)) != OLMTS_OK) return;
  if (index != file_index_) {
    // The record consumed next is the first one of this file.
    records_in_file_ = 0;
    file_index_ = index;
  }
  if (std::find(read_.begin(), read_.end(), path) == read_.end()) read_.push_back(path);
}

void StreamWalk::BeforeRecord() { NoteCurrentFile(); }

void StreamWalk::Consumed() {
  ++records_;
  ++records_in_file_;
  TsHandle* h = recording_.get();
  if (const auto utc = TagTime(h, stream_, 0)) {
    last_time_ = FormatTime(*utc);
    const double rate = TagRate(h, stream_, 0);
    const long long scans = TagInt(h, stream_, 0, "SCNT").value_or(0);
    if (stream_ != 0 && rate > 0)
      due_time_ = FormatTime(StampToSeconds(*utc), static_cast<double>(scans) / rate, 3);
    else
      due_time_.clear();
  }
}

bool StreamWalk::WasRead(const std::string& path) const {
  return std::find(read_.begin(), read_.end(), path) != read_.end();
}

bool StreamWalk::Finish(int32_t status) {
  NoteCurrentFile();  // the library may have continued into later files at the end
  const std::string tag = " (stream " + std::to_string(stream_) + ")";
  const std::string current = read_.empty() ? recording_.StreamFile(stream_) : read_.back();
  if (status != OLMTS_END_OF_DATA && status != OLMTS_OK) {
    std::string text = current + tag + ": reading stopped at record " + std::to_string(records_) +
                       " of the stream (record " + std::to_string(records_in_file_) + " of this file)";
    if (!last_time_.empty()) {
      text += ", after the record of " + last_time_;
      if (!due_time_.empty()) text += " (the next one due at " + due_time_ + ")";
    }
    problems_.push_back(text + ": " + DescribeStatus(status));
  }
  // Files of the set that exist but that the library did not open, and those it
  // never came to because the stream ended first.
  std::size_t last_read = 0;
  for (std::size_t i = 0; i < expected_.size(); ++i)
    if (WasRead(expected_[i])) last_read = i;
  std::vector<std::string> not_reached;
  for (std::size_t i = 0; i < expected_.size(); ++i) {
    if (WasRead(expected_[i])) continue;
    if (i < last_read)
      problems_.push_back(expected_[i] + tag + ": file of the set exists but could not be read; " +
                          "the stream continues in the next file that opens");
    else
      not_reached.push_back(FileName(expected_[i]));
  }
  if (!not_reached.empty()) {
    std::string text =
        current + tag +
        (status == OLMTS_END_OF_DATA ? ": files of the set not read: " : ": files of the set not reached: ");
    for (std::size_t i = 0; i < not_reached.size(); ++i) text += (i ? ", " : "") + not_reached[i];
    if (status == OLMTS_END_OF_DATA) text += " (the next one exists but could not be read, or this file ended empty)";
    problems_.push_back(text);
  }
  for (const std::string& p : problems_) std::cerr << "olmts: " << p << '\n';
  if (!problems_.empty()) NoteReadProblem();
  return problems_.empty();
}

}  // namespace olmts
