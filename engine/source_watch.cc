#include "engine/source_watch.h"

#include <errno.h>

#include "engine/copy_failure.h"

namespace ferrybox {

SourceWatch::SourceWatch(Platform& platform, Handle file,
                         const FileInfo& planned)
    : platform_(platform), file_(file), planned_(planned) {}

SourceWatch::~SourceWatch() {
  if (held_) platform_.EndReadLease(file_);
}

int SourceWatch::Begin() {
  const FileTime idle_since = AddNanoseconds(FileTimeNow(), -kIdleMarginNs);
  // Most files were last changed long ago: comparing the status-change time
  // before and after costs nothing more than the status read after.
  if (planned_.ctime <= idle_since) return 0;
  const int error = platform_.TakeReadLease(file_);
  if (error == EAGAIN) return kErrorOpenForWriting;
  if (error != 0) return kErrorRecentlyChanged;
  leased_ = held_ = true;
  return 0;
}

int SourceWatch::End() {
  if (held_) {
    held_ = false;
    if (platform_.EndReadLease(file_) != 0) return kErrorWrittenDuringCopy;
  }
  FileInfo now;
  const int error = platform_.Stat(file_, "", true, &now);
  if (error != 0) return error;
  if (now.type != EntryType::kFile || now.id != planned_.id ||
      now.size != planned_.size || now.mtime != planned_.mtime)
    return kErrorSourceChanged;
  // Under a lease no one wrote; without one, any write shows here.
  if (!leased_ && now.ctime != planned_.ctime) return kErrorSourceChanged;
  return 0;
}

}  // namespace ferrybox
