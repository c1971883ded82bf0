// Which file of a dated set the reader has open, and the names it tries after
// a file, for callers that list a set and must name a file that exists but was
// not read: they follow the reader's own rule, never a copy of it.
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "c_api/handles.h"
#include "common/status.h"
#include "ts/file_set.h"

using olmtsfil::Status;
using olmtsfil::ToInt;

extern "C" {

OLMTS_API int32_t OLMTS_CALL olmts_stream_file(TsHandle* handle, int32_t stream, int32_t* file_index, char* path,
                                               int32_t path_size) {
  if (handle == nullptr) return ToInt(Status::kNullHandle);
  if (stream < 0 || stream >= olmtsfil::Recording::kStreams) return ToInt(Status::kBadStream);
  if (file_index == nullptr || path == nullptr || path_size <= 0) return OLMTS_BAD_ARGUMENT;
  const olmtsfil::StreamState& s = handle->recording.stream(stream);
  if (s.open_status != Status::kOk || s.first_path.empty()) return ToInt(Status::kBadStream);
  if (s.current_path.size() >= static_cast<std::size_t>(path_size)) return OLMTS_BAD_ARGUMENT;
  std::memcpy(path, s.current_path.c_str(), s.current_path.size() + 1);
  *file_index = s.files_after_first;
  return ToInt(Status::kOk);
}

OLMTS_API int32_t OLMTS_CALL olmts_next_set_file(const char* path, int32_t candidate, char* out, int32_t out_size) {
  if (path == nullptr || out == nullptr || out_size <= 0 || candidate < 0) return OLMTS_BAD_ARGUMENT;
  try {
    const std::vector<std::string> names = olmtsfil::NextSetFileName(path);
    if (static_cast<std::size_t>(candidate) >= names.size()) return ToInt(Status::kEndOfData);
    const std::string& name = names[static_cast<std::size_t>(candidate)];
    if (name.size() >= static_cast<std::size_t>(out_size)) return OLMTS_BAD_ARGUMENT;
    std::memcpy(out, name.c_str(), name.size() + 1);
    return ToInt(Status::kOk);
  } catch (const std::bad_alloc&) {
    return OLMTS_NO_MEMORY;
  }
}

}  // extern "C"
