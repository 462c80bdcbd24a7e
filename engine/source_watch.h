// Telling whether a copy holds one version of its source.
#ifndef FERRYBOX_ENGINE_SOURCE_WATCH_H_
#define FERRYBOX_ENGINE_SOURCE_WATCH_H_

#include <cstdint>

#include "engine/file_time.h"
#include "engine/platform.h"

namespace ferrybox {

/// A file whose status last changed at least this long before its copy
/// began counts as left alone.
inline constexpr int64_t kIdleMarginNs = 2 * kNanosecondsPerSecond;

/// Watches a source file, open for reading, from just before its content
/// is read until just after, so that a copy mixing two versions of it is
/// never taken for a good one.
///
/// A file whose status changed less than kIdleMarginNs before the copy
/// (saved a moment ago, or being written) is read under a read lease:
/// granted only while no one has the file open for writing, and broken
/// when anyone opens it for writing during the copy, which then fails.
/// Where that lease cannot be had (the file is open for writing, or cannot
/// be leased here) the copy fails at once. Any other file counts as left
/// alone and needs no lease: its copy fails when its status changed while
/// it was read. Every copy fails when the file was replaced, or its length
/// or last-modified time changed, since `planned` was read.
///
/// No check from outside can see a single write that began more than
/// kIdleMarginNs before the copy and is still going: a file held open for
/// writing is only as consistent as its writer keeps it.
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

 private:
  Platform& platform_;
  Handle file_;
  FileInfo planned_;
  // Whether the content was read under a lease, and whether it is still
  // to be let go of.
  bool leased_ = false;
  bool held_ = false;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_SOURCE_WATCH_H_
