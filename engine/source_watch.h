// SPDX-License-Identifier: GPL-3.0-or-later
// Telling whether a copy holds one version of its source.
#ifndef FERRYBOX_ENGINE_SOURCE_WATCH_H_
#define FERRYBOX_ENGINE_SOURCE_WATCH_H_

#include <cstdint>

#include "platform/file_time.h"
#include "platform/platform.h"

namespace ferrybox {

/// A file whose status last changed at least this long before its copy
/// began counts as left alone.
inline constexpr int64_t kIdleMarginNs = 2 * kNanosecondsPerSecond;
/// From this length on a file is read under a lease, or read twice, however
/// long it was left alone: writes through a shared mapping (databases, disk
/// images) may not move its times for seconds.
inline constexpr int64_t kLeaseFromSize = 64 * 1024;

/// Watches a source file, open for reading, from just before its content
/// is read until just after, so that a copy mixing two versions of it is
/// never taken for a good one.
///
/// A file of kLeaseFromSize or more, and a file whose status changed less
/// than kIdleMarginNs before the copy, is read under a read lease: granted
/// only while no one has the file open for writing (a writable shared
/// mapping included), and broken when anyone opens it for writing during
/// the copy, which then fails. Where that lease is refused because another
/// program has the file open for writing, and where a file of
/// kLeaseFromSize or more cannot be leased here (neither its owner nor
/// root, a file system without leases), the content is read twice: the
/// copy stands only when the second read gives the same bytes. A small file
/// changed moments ago that cannot be leased fails at once. Any other file
/// counts as left alone. Every copy fails when the file was replaced, or its
/// length or last-modified time changed, since `planned` was read; one not
/// read under a lease fails too when its status-change time moved.
///
/// No check from outside can see a small file written through a mapping
/// that does not move its times, nor a writer that changes nothing between
/// the two reads but is mid-way through a change of its own.
class SourceWatch {
 public:
  /// `file` is open for reading; `planned` is its status read before it was
  /// opened.
  SourceWatch(Platform& platform, Handle file, const FileInfo& planned);
  /// Lets go of a lease still held.
  ~SourceWatch();
  SourceWatch(const SourceWatch&) = delete;
  SourceWatch& operator=(const SourceWatch&) = delete;

  /// Before the first byte is read. 0, or why no copy of the file could be
  /// trusted now (an errno value or an EngineError).
  int Begin();
  /// As soon as the last byte is read. 0 when the bytes read are one
  /// version of the file, the one `planned` describes.
  int End();
  /// Whether the content must be read a second time and compared with the
  /// copy (ReadAgain) before End.
  bool read_twice() const { return read_twice_; }
  /// Reads the source again from its start and compares it with `copy`, a
  /// handle open for reading on the copy just written. 0 when every byte
  /// agrees; else why the copy cannot be trusted.
  int ReadAgain(Handle copy);

 private:
  Platform& platform_;
  Handle file_;
  FileInfo planned_;
  // Whether the content was read under a lease, and whether it is still
  // to be let go of.
  bool leased_ = false;
  bool held_ = false;
  bool read_twice_ = false;
  // Why a second read that differs fails the copy.
  int differs_error_ = 0;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_SOURCE_WATCH_H_
