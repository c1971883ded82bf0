// The exported C interface: each function checks its arguments in the documented
// order, unwraps the handle and calls the core. No logic about the data lives here,
// and no exception crosses this boundary.
#include "olmtsfil.h"

#include <cstring>
#include <new>

#include "c_api/handles.h"
#include "cal/calibration.h"
#include "common/status.h"
#include "common/text.h"
#include "filters/acquisition_delay.h"
#include "response/box_response.h"
#include "response/sensor_response.h"
#include "table/derived_parameters.h"
#include "table/nominal_gain.h"
#include "ts/recording.h"

namespace {

using olmtsfil::Status;
using olmtsfil::ToInt;

constexpr bool ValidStream(int32_t stream) { return stream >= 0 && stream <= 5; }

// Runs `body` and maps an escaping allocation failure to the memory status.
template <typename Body>
int32_t Guarded(Body body) {
  try {
    return ToInt(body());
  } catch (const std::bad_alloc&) {
    return ToInt(Status::kNoMemory);
  } catch (...) {
    return ToInt(Status::kReadError);
  }
}

// Checks shared by the per-stream functions: handle, then stream number.
Status CheckStream(const TsHandle* handle, int32_t stream) {
  if (handle == nullptr) return Status::kNullHandle;
  if (!ValidStream(stream)) return Status::kBadStream;
  return Status::kOk;
}

}  // namespace

extern "C" {

// ---- Recording ------------------------------------------------------------------

OLMTS_API TsHandle* OLMTS_CALL TSOpenHT(const char* base_name) {
  if (base_name == nullptr) return nullptr;
  TsHandle* handle = new (std::nothrow) TsHandle;
  if (handle == nullptr) return nullptr;
  Status status;
  try {
    status = handle->recording.Open(base_name);
  } catch (...) {
    status = Status::kNoMemory;
  }
  if (status != Status::kOk) {
    delete handle;  // closes every file and frees every buffer it had acquired
    return nullptr;
  }
  return handle;
}

OLMTS_API void OLMTS_CALL TSCloseHT(TsHandle** handle_ref) {
  if (handle_ref == nullptr || *handle_ref == nullptr) return;
  delete *handle_ref;
  *handle_ref = nullptr;
}

OLMTS_API int32_t OLMTS_CALL SetConcatHT(TsHandle* handle, int32_t on) {
  if (handle == nullptr) return 0;
  handle->recording.set_concatenate(on != 0);
  return handle->recording.concatenate() ? 1 : 0;
}

// ---- Table parameters -----------------------------------------------------------

OLMTS_API int32_t OLMTS_CALL ReadPrmHT(TsHandle* handle, const char* name, int32_t type, void* out) {
  if (handle == nullptr) return ToInt(Status::kNullHandle);
  if (name == nullptr) return ToInt(Status::kNoSuchName);
  return ToInt(handle->recording.table().Read(name, type, out));
}

OLMTS_API int32_t OLMTS_CALL ReadPrmInfoHT(TsHandle* handle, const char* name, char* type_out, int32_t* info_word_out,
                                           int32_t* info_byte1_out, int32_t* info_byte2_out) {
  if (handle == nullptr) return ToInt(Status::kNullHandle);
  if (name == nullptr) return ToInt(Status::kNoSuchName);
  const olmtsfil::TableEntry* entry = handle->recording.table().Find(name);
  if (entry == nullptr) return ToInt(Status::kNoSuchName);
  if (type_out != nullptr) *type_out = static_cast<char>(entry->type);
  if (info_word_out != nullptr) *info_word_out = entry->info_word;
  if (info_byte1_out != nullptr) *info_byte1_out = entry->info_byte1;
  if (info_byte2_out != nullptr) *info_byte2_out = entry->info_byte2;
  return ToInt(Status::kOk);
}

OLMTS_API int32_t OLMTS_CALL GCodePrmHT(TsHandle* handle, int32_t index, char* name_out) {
  // A NULL handle counts as an empty table.
  const int32_t count = handle == nullptr ? 0 : handle->recording.table().param_count();
  if (name_out != nullptr) {
    // A name shorter than 8 characters ends at its NUL; whatever the file holds
    // after it is not part of the name and never reaches the caller.
    if (index >= 0 && index < count)
      olmtsfil::CopyFixedWidth(name_out, handle->recording.table().entry(index).Name(), 8);
    else
      name_out[0] = '\0';
  }
  return OLMTS_PARAM_COUNT_BASE + count;
}

OLMTS_API int32_t OLMTS_CALL GetNumChnHT(TsHandle* handle, int32_t* count_out) {
  if (count_out == nullptr) return ToInt(Status::kOk);
  *count_out = handle == nullptr ? 0 : olmtsfil::CountChannels(handle->recording.table());
  return ToInt(Status::kOk);
}

OLMTS_API int32_t OLMTS_CALL GetSampleRateHzHT(TsHandle* handle, int32_t stream, double* rate_hz_out) {
  double rate = 0.0;
  Status status =
      handle == nullptr ? Status::kNullHandle : olmtsfil::SampleRateHz(handle->recording.table(), stream, &rate);
  if (rate_hz_out != nullptr) *rate_hz_out = rate;
  return ToInt(status);
}

// ---- Records, scans and tags ----------------------------------------------------

OLMTS_API int32_t OLMTS_CALL SeekHT(TsHandle* handle, int32_t stream, TimeStamp time, int32_t mode) {
  if (Status s = CheckStream(handle, stream); s != Status::kOk) return ToInt(s);
  return Guarded([&] { return handle->recording.Seek(stream, time, mode); });
}

OLMTS_API int32_t OLMTS_CALL GapHT(TsHandle* handle, int32_t stream) {
  if (Status s = CheckStream(handle, stream); s != Status::kOk) return ToInt(s);
  return ToInt(handle->recording.Gap(stream));
}

OLMTS_API int32_t OLMTS_CALL SkipRecHT(TsHandle* handle, int32_t stream) {
  if (Status s = CheckStream(handle, stream); s != Status::kOk) return ToInt(s);
  return Guarded([&] { return handle->recording.SkipRecord(stream); });
}

OLMTS_API int32_t OLMTS_CALL ReadRecHT(TsHandle* handle, int32_t stream, int32_t buffer_size, void* buffer) {
  if (Status s = CheckStream(handle, stream); s != Status::kOk) return ToInt(s);
  if (buffer == nullptr) buffer_size = 0;
  return Guarded([&] { return handle->recording.ReadRecord(stream, buffer_size, buffer); });
}

OLMTS_API int32_t OLMTS_CALL ReadScanHT(TsHandle* handle, int32_t stream, int32_t* record_flag, void* scan) {
  if (Status s = CheckStream(handle, stream); s != Status::kOk) return ToInt(s);
  int32_t flag = 0;
  int32_t status = Guarded([&] { return handle->recording.ReadScan(stream, &flag, scan); });
  if (record_flag != nullptr) *record_flag = flag;
  return status;
}

OLMTS_API int32_t OLMTS_CALL ReadScanDblHT(TsHandle* handle, int32_t stream, int32_t* record_flag, double* values) {
  if (stream == 0) return ToInt(Status::kBadStream);  // the spectral stream has no samples
  if (Status s = CheckStream(handle, stream); s != Status::kOk) return ToInt(s);
  int32_t flag = 0;
  int32_t status = Guarded([&] { return handle->recording.ReadScanDouble(stream, &flag, values); });
  if (record_flag != nullptr) *record_flag = flag;
  return status;
}

OLMTS_API int32_t OLMTS_CALL ReadTagHT(TsHandle* handle, int32_t stream, int32_t which, const char* name, int32_t type,
                                       void* out) {
  if (Status s = CheckStream(handle, stream); s != Status::kOk) return ToInt(s);
  if (handle->recording.stream(stream).open_status != Status::kOk) return ToInt(Status::kBadStream);
  if (name == nullptr) return ToInt(Status::kNoSuchName);
  return ToInt(handle->recording.ReadTag(stream, which, name, type, out));
}

// ---- Spectral records -----------------------------------------------------------

OLMTS_API double OLMTS_CALL GetDftFreqHT(TsHandle* handle, int32_t freq_index) {
  if (handle == nullptr) return 0.0;
  return handle->recording.DftFrequency(freq_index);
}

OLMTS_API int32_t OLMTS_CALL ReadDftScanHT(TsHandle* handle, int32_t* record_flag, int32_t* window, int32_t* level,
                                           int32_t* freq_index, double* values) {
  if (handle == nullptr) return ToInt(Status::kNullHandle);
  int32_t flag = 0;
  int32_t status = Guarded([&] { return handle->recording.ReadDftScan(&flag, window, level, freq_index, values); });
  if (record_flag != nullptr) *record_flag = flag;
  return status;
}

// ---- Calibrations ---------------------------------------------------------------

OLMTS_API CalHandle* OLMTS_CALL CalOpenHT(int32_t kind, const char* base_name) {
  if (base_name == nullptr) return nullptr;
  CalHandle* handle = new (std::nothrow) CalHandle;  // about 150 KB: every record slot
  if (handle == nullptr) return nullptr;
  Status status;
  try {
    status = handle->calibration.Open(kind, base_name);
  } catch (...) {
    status = Status::kNoMemory;
  }
  if (status != Status::kOk) {
    delete handle;  // releases the model buffers; the file is already closed
    return nullptr;
  }
  return handle;
}

OLMTS_API void OLMTS_CALL CalCloseHT(CalHandle** handle_ref) {
  if (handle_ref == nullptr || *handle_ref == nullptr) return;
  delete *handle_ref;
  *handle_ref = nullptr;
}

OLMTS_API int32_t OLMTS_CALL ReadCalPrmHT(CalHandle* handle, const char* name, int32_t type, void* out) {
  if (handle == nullptr) return ToInt(Status::kNullCalHandle);
  return ToInt(handle->calibration.ReadParameter(name == nullptr ? "" : name, type, out));
}

// ---- Nominal gains, responses and delay -----------------------------------------

OLMTS_API int32_t OLMTS_CALL CalcBoxNomGainHT(TsHandle* handle, double* gains) {
  olmtsfil::ChannelGains computed{};
  Status status = olmtsfil::BoxNominalGains(handle == nullptr ? nullptr : &handle->recording.table(), computed);
  if (gains != nullptr) std::memcpy(gains, computed.data(), sizeof computed);
  return ToInt(status);
}

OLMTS_API int32_t OLMTS_CALL CalcSensorNomGainHT(TsHandle* handle, double* gains) {
  olmtsfil::ChannelGains computed{};
  Status status = olmtsfil::SensorNominalGains(handle == nullptr ? nullptr : &handle->recording.table(), computed);
  if (gains != nullptr) std::memcpy(gains, computed.data(), sizeof computed);
  return ToInt(status);
}

OLMTS_API int32_t OLMTS_CALL CalcSensorRespHT(CalHandle* cal, TsHandle* ts, double freq_hz, Complex* resp,
                                              double* resp_aux) {
  if (cal == nullptr) return ToInt(Status::kNullCalHandle);
  return ToInt(olmtsfil::CalcSensorResp(&cal->calibration, ts == nullptr ? nullptr : &ts->recording.table(), freq_hz,
                                        resp, resp_aux));
}

OLMTS_API int32_t OLMTS_CALL CalcBoxRespHT(CalHandle* cal, TsHandle* ts, int32_t stream, double freq_hz, Complex* resp,
                                           double* resp_aux) {
  if (cal == nullptr) return ToInt(Status::kNullCalHandle);
  if (ts == nullptr) return ToInt(Status::kNullHandle);
  if (resp == nullptr || resp_aux == nullptr) return ToInt(Status::kNoResponse);  // nowhere to deliver it
  return ToInt(olmtsfil::CalcBoxResp(cal->calibration, ts->recording.table(), stream, freq_hz, resp, resp_aux));
}

OLMTS_API int32_t OLMTS_CALL GetAcqDelayHT(TsHandle* handle, int32_t stream, double* delay) {
  if (handle == nullptr) return ToInt(Status::kNullHandle);
  double value = 0.0;
  Status status = olmtsfil::AcquisitionDelay(handle->recording.table(), stream, &value);
  if (status == Status::kOk && delay != nullptr) *delay = value;
  return ToInt(status);
}

}  // extern "C"
