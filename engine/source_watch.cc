// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/source_watch.h"

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/failure.h"

namespace ferrybox {

SourceWatch::SourceWatch(Platform& platform, Handle file,
                         const FileInfo& planned)
    : platform_(platform), file_(file), planned_(planned) {}

SourceWatch::~SourceWatch() {
  if (held_) platform_.EndReadLease(file_);
}

int SourceWatch::Begin() {
  const bool large = planned_.size >= kLeaseFromSize;
  // Most files are small and were last changed long ago: comparing the
  // status-change time before and after costs nothing more than the status
  // read after. Asking every small file for a lease would cost more.
  if (!large && planned_.ctime <= AddNanoseconds(FileTimeNow(), -kIdleMarginNs))
    return 0;
  const int error = platform_.TakeReadLease(file_);
  if (error == 0) {
    leased_ = held_ = true;
    return 0;
  }
  if (error == EAGAIN) {
    read_twice_ = true;
    differs_error_ = kErrorOpenForWriting;
    return 0;
  }
  if (!large) return kErrorRecentlyChanged;
  read_twice_ = true;
  differs_error_ = kErrorSourceChanged;
  return 0;
}

int SourceWatch::ReadAgain(Handle copy) {
  constexpr size_t kBlock = 256 * 1024;
  auto source = std::make_unique<char[]>(kBlock);
  auto copied = std::make_unique<char[]>(kBlock);
  int64_t at = 0;
  int error = platform_.Seek(file_, 0, SeekTo::kOffset, &at);
  while (error == 0) {
    size_t got = 0;
    error = platform_.Read(file_, source.get(), kBlock, &got);
    if (error != 0) break;
    // The copy may come in other pieces than the source; one byte more is
    // asked for at the source's end, where the copy must end too.
    const size_t want = got == 0 ? 1 : got;
    size_t have = 0;
    while (error == 0 && have < want) {
      size_t more = 0;
      error = platform_.Read(copy, copied.get() + have, want - have, &more);
      if (more == 0) break;
      have += more;
    }
    if (error != 0) break;
    if (have != got || std::memcmp(source.get(), copied.get(), got) != 0)
      return differs_error_;
    if (got == 0) return 0;
  }
  return error;
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
