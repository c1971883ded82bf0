// The gap test's numbers for callers that report gaps (the tool, the Python
// package): they get the missing-scan count and the rate from the rule GapHT
// applies instead of restating it.
#include <cstdint>

#include "c_api/handles.h"
#include "common/status.h"

using olmtsfil::Status;
using olmtsfil::ToInt;

extern "C" {

OLMTS_API int32_t OLMTS_CALL olmts_gap_scans(TsHandle* handle, int32_t stream, int64_t* expected_scans,
                                             int64_t* record_scans, double* rate_hz) {
  if (handle == nullptr) return ToInt(Status::kNullHandle);
  if (stream < 0 || stream >= olmtsfil::Recording::kStreams) return ToInt(Status::kBadStream);
  olmtsfil::GapCounts counts;
  if (Status s = handle->recording.CountGap(stream, &counts); s != Status::kOk) return ToInt(s);
  // Both counts are whole numbers far inside int64: stamps span at most two
  // centuries and rates at most 65535 per second.
  if (expected_scans != nullptr) *expected_scans = static_cast<int64_t>(counts.expected_scans);
  if (record_scans != nullptr) *record_scans = static_cast<int64_t>(counts.record_scans);
  if (rate_hz != nullptr) *rate_hz = counts.rate_hz;
  return ToInt(Status::kOk);
}

OLMTS_API int32_t OLMTS_CALL olmts_record_rate_hz(TsHandle* handle, int32_t stream, int32_t which, double* rate_hz) {
  if (handle == nullptr) return ToInt(Status::kNullHandle);
  if (stream < 0 || stream >= olmtsfil::Recording::kStreams) return ToInt(Status::kBadStream);
  if (rate_hz == nullptr) return ToInt(Status::kNullHandle);
  return ToInt(handle->recording.TagRate(stream, which, rate_hz));
}

}  // extern "C"
