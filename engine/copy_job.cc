// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/copy_job.h"

#include <errno.h>

#include "engine/link_copy.h"
#include "platform/failure.h"
#include "platform/file_time.h"
#include "platform/install_by_rename.h"
#include "platform/temp_name.h"

namespace ferrybox {
namespace {

// A file's copy, from the file as it is when its copy begins: its length,
// times and bits are read from the open file now, never taken from the
// status the run decided on, which may be a few files old.
CopyOutcome CopyFile(Platform& platform, CopyJob& job,
                     const CopyControl* control) {
  CopyOutcome outcome;
  outcome.source = job.decided;
  int error = job.open_error;
  if (error == 0)
    error = platform.Stat(job.in.get(), "", false, &outcome.source);
  if (error == 0 && outcome.source.type != EntryType::kFile)
    error = kErrorSourceChanged;
  outcome.same_file = outcome.source.id == job.decided.id;
  outcome.stored.stored_mtime = outcome.source.mtime;
  outcome.stored.read_back = job.read_back;
  KeptVersion kept(job.versions, job.version_folder);
  if (error == 0)
    error = CopyOpenFile(platform, job.in.get(), outcome.source,
                         job.destination_folder->get(), job.name,
                         job.folder_hands_on, &outcome.stored, control, &kept);
  outcome.copied_at = FileTimeNow();
  // Let go of the source at once: the run may hold many jobs' results.
  job.in.reset();
  outcome.error = error;
  return outcome;
}

// FAT and exFAT through FUSE refuse a name with a character they cannot
// hold as "No such file or directory" (exFAT) or "Operation not permitted"
// (FAT), which read as if the source were gone or the folder closed to us.
// Only those answers, for such a name, in a folder where a plain name can
// still be made, are taken as the name's fault.
int NameFault(Platform& platform, const CopyJob& job, int error) {
  if ((error != ENOENT && error != EPERM) ||
      CharactersNotStoredOnFat(job.name).empty())
    return error;
  const Handle folder = job.destination_folder->get();
  std::string plain;
  ScopedHandle made(platform);
  if (CreateTempFile(platform, folder, &plain, made.out()) != 0) return error;
  made.reset();
  // Left behind, it is a temporary name the next run removes.
  platform.Remove(folder, plain);
  return kErrorNameNotStored;
}

CopyOutcome RunJob(Platform& platform, CopyJob& job,
                   const CopyControl* control) {
  KeptVersion kept(job.versions, job.version_folder);
  switch (job.kind) {
    case CopyKind::kLink: {
      CopyOutcome outcome;
      outcome.source = job.decided;
      outcome.error =
          CopyLinkAt(platform, job.source_folder->get(), job.name, job.decided,
                     job.destination_folder->get(), job.name, &kept);
      return outcome;
    }
    case CopyKind::kHardLink:
      // Where the destination cannot link (FAT, exFAT, a share), or the
      // group's copy is no longer the file the run found, the name is copied
      // as a file of its own.
      if (InstallHardLink(platform, job.group_folder->get(), job.group_name,
                          job.destination_folder->get(), job.name, &kept,
                          job.group_copy) == 0) {
        job.in.reset();
        CopyOutcome outcome;
        outcome.source = job.decided;
        outcome.linked = true;
        return outcome;
      }
      return CopyFile(platform, job, control);
    case CopyKind::kFile:
      return CopyFile(platform, job, control);
  }
  CopyOutcome outcome;
  outcome.error = EINVAL;
  return outcome;
}

}  // namespace

int InstallHardLink(Platform& platform, Handle first_folder,
                    const std::string& first, Handle folder,
                    const std::string& name, ReplacedEntry* replaced,
                    const std::optional<FileId>& expected) {
  return InstallByRename(
             platform, folder, name,
             [&](const std::string& temporary, Handle*) {
               return platform.MakeHardLink(first_folder, first, folder,
                                            temporary);
             },
             [&](Handle, const std::string& temporary) {
               // Told by the new name itself: whatever took the first
               // name's place meanwhile, the name is put in place only as
               // a name of the file expected.
               FileInfo linked;
               if (!expected) return Failure{};
               int error = platform.Stat(folder, temporary, false, &linked);
               if (error == 0 && linked.id != *expected)
                 error = kErrorSourceChanged;
               return error == 0 ? Failure{}
                                 : Failure{.call = "link",
                                           .path = temporary,
                                           .error = error};
             },
             replaced)
      .error;
}

CopyOutcome RunCopyJob(Platform& platform, CopyJob& job,
                       const CopyControl* control) {
  CopyOutcome outcome = RunJob(platform, job, control);
  outcome.error = NameFault(platform, job, outcome.error);
  return outcome;
}

}  // namespace ferrybox
