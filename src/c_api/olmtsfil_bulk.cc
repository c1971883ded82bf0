// Block reading of scans, the tag walk and the survey, extensions beside the 25 exports:
// argument checks, then the stream's own block read or walk.
#include <cstdint>
#include <new>

#include "c_api/handles.h"
#include "common/status.h"
#include "olmtsfil.h"

namespace {

using olmtsfil::Status;
using olmtsfil::ToInt;

int32_t ReadBlock(TsHandle* handle, int32_t stream, int32_t stop_at_gap, double* values, int32_t* counts,
                  int64_t capacity, int64_t* scans_read) {
  if (scans_read != nullptr) *scans_read = 0;
  if (handle == nullptr) return ToInt(Status::kNullHandle);
  // The spectral stream holds coefficients, not scans.
  if (stream < 1 || stream > 5) return ToInt(Status::kBadStream);
  if (scans_read == nullptr || capacity < 0 || (values == nullptr && counts == nullptr))
    return ToInt(Status::kNullHandle);  // nowhere to deliver, as ReadRecHT with too small a buffer
  const olmtsfil::StreamState& s = handle->recording.stream(stream);
  if (s.open_status != Status::kOk) return ToInt(Status::kBadStream);
  const int64_t channels = s.first_tag.Nchn();
  const int64_t max_scans = channels == 0 ? 0 : capacity / channels;
  try {
    return ToInt(handle->recording.ReadScanBlock(stream, stop_at_gap != 0, max_scans, values, counts, scans_read));
  } catch (const std::bad_alloc&) {
    return ToInt(Status::kNoMemory);
  } catch (...) {
    return ToInt(Status::kReadError);
  }
}

}  // namespace

extern "C" {

OLMTS_API int32_t OLMTS_CALL olmts_read_scans_dbl(TsHandle* handle, int32_t stream, int32_t stop_at_gap, double* values,
                                                  int64_t capacity, int64_t* scans_read) {
  return ReadBlock(handle, stream, stop_at_gap, values, nullptr, capacity, scans_read);
}

OLMTS_API int32_t OLMTS_CALL olmts_read_scans_i32(TsHandle* handle, int32_t stream, int32_t stop_at_gap,
                                                  int32_t* counts, int64_t capacity, int64_t* scans_read) {
  return ReadBlock(handle, stream, stop_at_gap, nullptr, counts, capacity, scans_read);
}

OLMTS_API int32_t OLMTS_CALL olmts_walk_stream(TsHandle* handle, int32_t stream, OlmtsStreamWalk* walk) {
  if (walk != nullptr) *walk = OlmtsStreamWalk{};
  if (handle == nullptr || walk == nullptr) return ToInt(Status::kNullHandle);
  if (stream < 0 || stream >= olmtsfil::Recording::kStreams) return ToInt(Status::kBadStream);
  if (handle->recording.stream(stream).open_status != Status::kOk) return ToInt(Status::kBadStream);
  olmtsfil::StreamWalk found;
  const Status status = handle->recording.WalkStream(stream, &found);
  walk->records = found.records;
  walk->gaps = found.gaps;
  walk->first = found.first;
  walk->last = found.last;
  return ToInt(status);
}

OLMTS_API int32_t OLMTS_CALL olmts_survey_stream(TsHandle* handle, int32_t stream, int32_t every_tag,
                                                 OlmtsStreamSurvey* survey) {
  if (survey != nullptr) *survey = OlmtsStreamSurvey{};
  if (handle == nullptr || survey == nullptr) return ToInt(Status::kNullHandle);
  if (stream < 0 || stream >= olmtsfil::Recording::kStreams) return ToInt(Status::kBadStream);
  if (handle->recording.stream(stream).open_status != Status::kOk) return ToInt(Status::kBadStream);
  olmtsfil::StreamSurvey found;
  const Status status = handle->recording.SurveyStream(stream, every_tag != 0, &found);
  survey->records = found.walk.records;
  survey->gaps = found.walk.gaps;
  survey->first = found.walk.first;
  survey->last = found.walk.last;
  survey->tags_read = found.tags_read;
  survey->record_size = static_cast<int64_t>(found.record_size);
  return ToInt(status);
}

}  // extern "C"
