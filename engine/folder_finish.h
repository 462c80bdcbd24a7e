// SPDX-License-Identifier: GPL-3.0-or-later
// Destination folders given their source folder's permissions, times and
// owner once a run is done with them.
#ifndef FERRYBOX_ENGINE_FOLDER_FINISH_H_
#define FERRYBOX_ENGINE_FOLDER_FINISH_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/attributes.h"
#include "engine/folder_cursor.h"
#include "platform/platform.h"
#include "platform/scoped_handle.h"

namespace ferrybox {

/// Follows the folders a run copies into and finishes each destination
/// folder once its files and subfolders are done: it gets its source
/// folder's permission bits and times, (where the process may change
/// owners) its owner and group, and its extended attributes (access control
/// lists, the default one included) when the destination folder is new or
/// its source folder's status changed after the destination folder's. Files
/// arrive folder by folder, depth first, so the folders worked in form one path
/// from the roots down, and a folder is done when the run moves on to a folder
/// outside it; only that path is held. Until a folder is done, a destination
/// folder whose bits are not yet its source's (new folders are made so) is open
/// to its owner only, so that nothing copied into it is ever more exposed than
/// the original, and a folder copied read-only by an earlier run can be written
/// to again. Folders done together (the levels a run leaves at once, and
/// every level at the end) are finished on a few threads: on a share each
/// change is a round trip.
///
/// After a stop only what safety needs is done: a folder whose bits grant
/// something its source folder's do not (one opened to its owner for the
/// run, where the source is read-only) is finished; any other is left as it
/// is, owner-only or with its source's bits, and its times and attributes
/// wait for the next run, which finds its times or bits unlike its source's
/// and finishes it.
class FolderFinisher {
 public:
  /// Told of a folder that could not be finished, by its path below the
  /// roots, and why. A file system that refuses an attribute is no failure.
  using FailureReport =
      std::function<void(const std::string& relative, int error)>;

  FolderFinisher(Platform& platform, FailureReport on_failure);
  FolderFinisher(const FolderFinisher&) = delete;
  FolderFinisher& operator=(const FolderFinisher&) = delete;

  /// Asked before each level is taken on: false (a stop) takes on no
  /// more, and the folders left meanwhile are finished as after a stop.
  /// Not owned; nullptr asks nothing.
  void SetKeepGoing(const std::function<bool()>* keep_going) {
    keep_going_ = keep_going;
  }

  /// The next file lies in the folder `relative` below the roots ("" for
  /// the roots themselves). Finishes the folders the run leaves, then takes
  /// on each level of `relative` not yet worked in: reads its status through
  /// `source` (which is moved there) and, where the destination folder
  /// exists below `destination_root` (kNoHandle while the root is missing),
  /// makes it ready. Costs nothing while `relative` stays the same.
  void Reach(std::string_view relative, FolderCursor& source,
             Handle destination_root);

  /// True when Reach(`relative`) would finish a folder the run leaves.
  bool Leaves(std::string_view relative) const;

  /// After the destination levels of the last Reach were created: makes
  /// ready those that were missing then.
  void Made(Handle destination_root);

  /// Finishes every folder still worked in (after a stop, only those that
  /// safety needs); failures are told the deepest first, the root last.
  void FinishAll(Handle destination_root, bool stopped = false);

 private:
  struct Level {
    Level(Platform& platform, size_t path_end)
        : end(path_end), destination(platform) {}
    size_t end;  // of its path in `path_`
    bool known = false;
    FileInfo source;
    ScopedHandle destination;
    // The destination's bits as last seen or set (07777 when unknown); a
    // folder the run makes is owner-only.
    uint32_t mode = 0700;
    // Read from the source folder when it is reached, set when finished.
    bool attributes_due = false;
    int attributes_error = 0;
    Attributes attributes;
  };
  std::string_view PathOf(size_t index) const;
  bool Contains(size_t index, std::string_view relative) const;
  void OpenDestination(size_t index, Handle destination_root);
  void Prepare(size_t index);
  bool Stopped() const;
  /// Finishes `levels_[first]` and every level below it, on threads when
  /// `together`, and lets go of them.
  void FinishFrom(size_t first, Handle destination_root, bool stopped,
                  bool together);
  /// Gives one open level its source's owner, bits, times and attributes.
  int FinishLevel(Level& level);

  Platform& platform_;
  FailureReport on_failure_;
  const std::function<bool()>* keep_going_ = nullptr;
  // The folder of the last file, below the roots; levels_[i] is its first
  // levels_[i].end characters, levels_[0] the roots.
  std::string path_;
  std::vector<Level> levels_;
  bool missing_ = false;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FOLDER_FINISH_H_
