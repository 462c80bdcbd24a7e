// SPDX-License-Identifier: GPL-3.0-or-later
// A file system for tests that records every call and fails chosen ones.
#ifndef FERRYBOX_TESTS_SUPPORT_RECORDING_FILE_SYSTEM_H_
#define FERRYBOX_TESTS_SUPPORT_RECORDING_FILE_SYSTEM_H_

#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace ferrybox::testing {

/// Passes every call on to the system's file system and records it as
/// "<call> <path>", the call named as in `Call` ("open" is OpenForReading,
/// "create" OpenForWriting). Calls on an open file name the path it was
/// opened with; a rename is "rename FROM -> TO".
class RecordingFileSystem : public FileSystem {
 public:
  // clang-format off
  enum class Call { kOpen, kCreate, kStatus, kRead, kWrite, kSync, kClose,
                    kRename, kRemove, kMkdir };
  // clang-format on

  /// Fails the `nth` call of `call` from now on (1 for the next) with
  /// `error` instead of passing it on; a failed Close closes all the same.
  void FailNth(Call call, int nth, int error) {
    fail_call_ = call;
    fail_countdown_ = nth;
    fail_error_ = error;
  }
  const std::vector<std::string>& calls() const { return calls_; }
  /// The path the `index`th call was given.
  std::string PathAt(std::size_t index) const {
    return calls_.at(index).substr(calls_.at(index).find(' ') + 1);
  }
  /// Files opened and not closed yet.
  std::size_t open_files() const { return paths_.size(); }

  int OpenForReading(const std::string& path, File* out) override {
    if (int error = Record(Call::kOpen, path)) return error;
    return Opened(base_.OpenForReading(path, out), path, out);
  }
  int OpenForWriting(const std::string& path, WriteMode mode,
                     File* out) override {
    if (int error = Record(Call::kCreate, path)) return error;
    return Opened(base_.OpenForWriting(path, mode, out), path, out);
  }
  int Status(File file, FileStatus* status) override {
    if (int error = Record(Call::kStatus, paths_[file])) return error;
    return base_.Status(file, status);
  }
  int Read(File file, char* buffer, std::size_t size,
           std::size_t* got) override {
    if (int error = Record(Call::kRead, paths_[file])) return error;
    return base_.Read(file, buffer, size, got);
  }
  int Write(File file, std::string_view data) override {
    if (int error = Record(Call::kWrite, paths_[file])) return error;
    return base_.Write(file, data);
  }
  int Sync(File file) override {
    if (int error = Record(Call::kSync, paths_[file])) return error;
    return base_.Sync(file);
  }
  int LockFile(File file, bool exclusive, bool wait) override {
    return base_.LockFile(file, exclusive, wait);
  }
  int Close(File file) override {
    const int error = Record(Call::kClose, paths_[file]);
    paths_.erase(file);
    const int closed = base_.Close(file);
    return error != 0 ? error : closed;
  }
  int Rename(const std::string& from, const std::string& to) override {
    if (int error = Record(Call::kRename, from + " -> " + to)) return error;
    return base_.Rename(from, to);
  }
  int Remove(const std::string& path) override {
    if (int error = Record(Call::kRemove, path)) return error;
    return base_.Remove(path);
  }
  int MakeFolder(const std::string& path, uint32_t mode) override {
    if (int error = Record(Call::kMkdir, path)) return error;
    return base_.MakeFolder(path, mode);
  }

 private:
  int Record(Call call, const std::string& path) {
    static const char* const kNames[] = {"open",   "create", "status", "read",
                                         "write",  "sync",   "close",  "rename",
                                         "remove", "mkdir"};
    calls_.push_back(kNames[static_cast<int>(call)] + (" " + path));
    if (call != fail_call_ || fail_countdown_ == 0) return 0;
    return --fail_countdown_ == 0 ? fail_error_ : 0;
  }
  int Opened(int error, const std::string& path, File* out) {
    if (error == 0) paths_[*out] = path;
    return error;
  }

  FileSystem& base_ = DefaultFileSystem();
  std::vector<std::string> calls_;
  std::map<File, std::string> paths_;
  Call fail_call_ = Call::kOpen;
  int fail_countdown_ = 0;
  int fail_error_ = 0;
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_RECORDING_FILE_SYSTEM_H_
