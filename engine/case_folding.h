// Destinations that store names without regard to letter case.
#ifndef FERRYBOX_ENGINE_CASE_FOLDING_H_
#define FERRYBOX_ENGINE_CASE_FOLDING_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/platform.h"

namespace ferrybox {

/// `name` with every letter in capitals, as a file system that ignores case
/// compares names: ASCII, and the rest of Unicode where the name is UTF-8.
/// Bytes that are not UTF-8 stay as they are.
std::string FoldCase(std::string_view name);

/// Learns whether the file system of `folder` ignores letter case, without
/// touching anything of the user's: creates a file under a temporary name
/// in `folder`, looks it up in capitals, and removes it. Returns 0 or an
/// errno value.
int ProbeCaseFolding(Platform& platform, Handle folder, bool* folds);

/// The names one run gives its copies on devices that ignore letter case
/// (FAT, exFAT, most network shares), where two source names of one folder
/// that differ only in case would overwrite each other. The first of them
/// in scan order keeps the name; every later one is refused. A folder
/// refused so refuses every file below it.
class CaseNames {
 public:
  explicit CaseNames(Platform& platform) : platform_(platform) {}

  /// Whether `device` ignores case, learned once per run with a probe in
  /// `folder`, a folder on that device the probe may write to. A device
  /// that cannot be probed is taken as keeping case.
  bool Folds(uint64_t device, Handle folder);

  /// Claims the file `name` in the destination folder `folder` (its path
  /// below the root). Files arrive folder by folder, each folder's files
  /// together. False when `name`, or a level of `folder`, differs only in
  /// case from a name claimed before.
  bool Claim(std::string_view folder, std::string_view name);

 private:
  Platform& platform_;
  // A run writes to one device, seldom more: a short list is enough.
  std::vector<std::pair<uint64_t, bool>> devices_;
  // Every folder level claimed, by its folded path below the root.
  std::unordered_map<std::string, std::string> folders_;
  // The folder whose files are being claimed, whether it was refused, and
  // its files' names by their folded form.
  std::string folder_;
  bool folder_known_ = false;
  bool folder_refused_ = false;
  std::unordered_map<std::string, std::string> files_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_CASE_FOLDING_H_
