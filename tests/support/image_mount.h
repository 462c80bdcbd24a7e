// SPDX-License-Identifier: GPL-3.0-or-later
// A small file-system image mounted as a destination: FAT32 or exFAT
// through FUSE (coarse timestamps), ext4 through the kernel (exact ones), or
// a folder through a FUSE passthrough on which closing a written file fails.
#ifndef FERRYBOX_TESTS_SUPPORT_IMAGE_MOUNT_H_
#define FERRYBOX_TESTS_SUPPORT_IMAGE_MOUNT_H_

#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace ferrybox::testing {

/// Unmounted and removed on destruction. Needs root, loop devices, /dev/fuse,
/// exfat-fuse, fusefat, exfatprogs, dosfstools, e2fsprogs and python3-fusepy.
class ImageMount {
 public:
  enum class Kind { kExfat, kFat32, kExt4, kCloseFails };

  /// Creates, formats and mounts an image in `work_folder`. Returns null and
  /// says why in `why_not` when this machine cannot mount it.
  static std::unique_ptr<ImageMount> Create(Kind kind,
                                            const std::string& work_folder,
                                            std::string* why_not) {
    static const char* const kMount[] = {
        // exfat-fuse wants a block device.
        "truncate -s 64M \"$I\" && mkfs.exfat \"$I\" && "
        "mount.exfat-fuse \"$(losetup -f --show \"$I\")\" \"$P\"",
        "truncate -s 64M \"$I\" && mkfs.vfat -F 32 \"$I\" && "
        "fusefat -o rw+ \"$I\" \"$P\"",
        // The loop device goes with the unmount.
        "truncate -s 64M \"$I\" && mkfs.ext4 -q -F \"$I\" && "
        "mount -o loop \"$I\" \"$P\"",
        // The file system returns once mounted and ends with the unmount.
        "mkdir \"$I\" && /usr/bin/python3 \"" FERRYBOX_TEST_SUPPORT_DIR
        "/close_fails_fs.py\" \"$I\" \"$P\""};
    // Mounted again from the same image and loop device: what the drive
    // keeps, not what the driver remembers.
    static const char* const kRemount[] = {
        "mount.exfat-fuse \"$(losetup -n -O NAME -j \"$I\")\" \"$P\"",
        "fusefat -o rw+ \"$I\" \"$P\"", "mount -o loop \"$I\" \"$P\"", nullptr};
    std::unique_ptr<ImageMount> mount(new ImageMount);
    mount->remount_ = kRemount[static_cast<int>(kind)];
    mount->vars_ =
        "I='" + work_folder + "/image' P='" + work_folder + "/mount'; ";
    if (!mount->Run("mkdir \"$P\" && " +
                    std::string(kMount[static_cast<int>(kind)]))) {
      *why_not = std::string("failed: ") + kMount[static_cast<int>(kind)];
      return nullptr;  // after undoing what was done
    }
    mount->path_ = work_folder + "/mount";
    return mount;
  }

  ~ImageMount() {
    Run("umount \"$P\"; losetup -n -O NAME -j \"$I\" | xargs -r -n1 losetup -d;"
        " rm -rf \"$I\"");
  }

  const std::string& path() const { return path_; }

  /// Unmounts the image and mounts it again (not kCloseFails). False when
  /// either fails.
  bool Remount() const {
    return remount_ != nullptr &&
           Run("umount \"$P\" && " + std::string(remount_));
  }

 private:
  ImageMount() = default;
  // A formatter or mount that hangs (a stuck loop device, a FUSE helper
  // waiting on something) is ended after 30 s, as a failure.
  bool Run(const std::string& commands) const {
    return ChildProcess("/usr/bin/timeout",
                        {"-k", "5", "30", "sh", "-c",
                         "exec >/dev/null 2>&1; " + vars_ + commands})
               .Finish(ChildProcess::Seconds(40)) == 0;
  }

  std::string vars_;
  std::string path_;
  const char* remount_ = nullptr;
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_IMAGE_MOUNT_H_
