#include "olmts/export/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "olmts/tool.h"

namespace olmts::exporting {

OutputFile::OutputFile(std::string final_path)
    : final_path_(std::move(final_path)), temporary_path_(final_path_ + ".part") {
  file_ = std::fopen(temporary_path_.c_str(), "wb");
  if (file_ == nullptr) Fail("cannot create");
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_) std::remove(temporary_path_.c_str());
}

void OutputFile::Fail(const char* what) {
  const int error = errno;
  throw ToolError(temporary_path_ + ": " + what + ": " + std::strerror(error));
}

void OutputFile::Write(const void* bytes, std::size_t size) {
  if (file_ == nullptr) throw ToolError(temporary_path_ + ": written after it was closed");
  if (size != 0 && std::fwrite(bytes, 1, size, file_) != size) Fail("cannot write");
}

void OutputFile::Commit() {
  if (file_ == nullptr) throw ToolError(temporary_path_ + ": committed twice");
  const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  const int error = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) {
    errno = flushed ? errno : error;
    Fail("cannot write");
  }
  // std::filesystem::rename replaces an existing file on Windows too.
  std::error_code ec;
  std::filesystem::rename(temporary_path_, final_path_, ec);
  if (ec) throw ToolError(final_path_ + ": cannot rename " + temporary_path_ + " to it: " + ec.message());
  committed_ = true;
}

}  // namespace olmts::exporting
