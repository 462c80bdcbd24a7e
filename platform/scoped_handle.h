// SPDX-License-Identifier: GPL-3.0-or-later
// A platform handle closed when it goes out of scope.
#ifndef FERRYBOX_PLATFORM_SCOPED_HANDLE_H_
#define FERRYBOX_PLATFORM_SCOPED_HANDLE_H_

#include <utility>

#include "platform/platform.h"

namespace ferrybox {

/// Owns one handle from Platform::Open.
class ScopedHandle {
 public:
  explicit ScopedHandle(Platform& platform, Handle handle = kNoHandle)
      : platform_(&platform), handle_(handle) {}
  ScopedHandle(ScopedHandle&& other) noexcept
      : platform_(other.platform_), handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      reset(other.release());
      platform_ = other.platform_;
    }
    return *this;
  }
  ~ScopedHandle() { reset(); }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ >= 0; }
  Handle* out() {
    reset();
    return &handle_;
  }
  Handle release() { return std::exchange(handle_, kNoHandle); }
  /// Closes the handle held and takes `handle` instead; returns the close
  /// error.
  int reset(Handle handle = kNoHandle) {
    int error = 0;
    if (handle_ >= 0) error = platform_->Close(handle_);
    handle_ = handle;
    return error;
  }

 private:
  Platform* platform_;
  Handle handle_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_SCOPED_HANDLE_H_
