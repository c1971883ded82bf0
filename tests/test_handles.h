// Handles that close themselves: a test that stops at a failed ASSERT still
// closes what it opened, and a close the library gets wrong shows under the
// sanitizers at the end of the scope rather than nowhere.
#pragma once

#include <string>
#include <utility>

#include "olmtsfil.h"

namespace olmtsfil::testdata {

template <typename Handle, void(OLMTS_CALL* kClose)(Handle**)>
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(Handle* handle) : handle_(handle) {}
  ~ScopedHandle() { kClose(&handle_); }
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      kClose(&handle_);
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  Handle* get() const { return handle_; }
  operator Handle*() const { return handle_; }  // NOLINT: passed straight to the C calls
  explicit operator bool() const { return handle_ != nullptr; }
  // Closes now, as the C interface does: the handle reads NULL afterwards.
  void Close() { kClose(&handle_); }

 private:
  Handle* handle_ = nullptr;
};

using ScopedRecording = ScopedHandle<TsHandle, TSCloseHT>;
using ScopedCalibration = ScopedHandle<CalHandle, CalCloseHT>;

inline ScopedRecording OpenRecording(const std::string& base) { return ScopedRecording(TSOpenHT(base.c_str())); }
inline ScopedCalibration OpenCalibration(int32_t kind, const std::string& base) {
  return ScopedCalibration(CalOpenHT(kind, base.c_str()));
}

}  // namespace olmtsfil::testdata
