// Mounts a small file-system image: FAT32 or exFAT through FUSE, for tests
// that need a destination which stores coarse timestamps, or ext4 through
// the kernel, for one that stores exact ones.
#ifndef FERRYBOX_TESTS_SUPPORT_IMAGE_MOUNT_H_
#define FERRYBOX_TESTS_SUPPORT_IMAGE_MOUNT_H_

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace ferrybox::testing {

/// A mounted file-system image; unmounted and removed on destruction.
/// Needs root, /dev/fuse and the FUSE drivers (exfat-fuse, fusefat) with the
/// formatters (exfatprogs, dosfstools), or loop devices and mkfs.ext4.
class ImageMount {
 public:
  enum class Kind { kExfat, kFat32, kExt4 };

  /// Creates, formats and mounts an image in `work_folder`. Returns null and
  /// says why in `why_not` when this machine cannot mount it.
  static std::unique_ptr<ImageMount> Create(Kind kind,
                                            const std::string& work_folder,
                                            std::string* why_not) {
    namespace fs = std::filesystem;
    auto mount = std::unique_ptr<ImageMount>(new ImageMount);
    const std::string name = kind == Kind::kExfat   ? "exfat"
                             : kind == Kind::kFat32 ? "fat32"
                                                    : "ext4";
    mount->image_ = work_folder + "/" + name + ".img";
    mount->path_ = work_folder + "/" + name;
    std::error_code ec;
    fs::create_directories(mount->path_, ec);
    if (ec) return Fail(why_not, "cannot create the mount point");
    if (!Run("truncate -s 64M " + Quote(mount->image_)))
      return Fail(why_not, "cannot create the image");
    if (kind == Kind::kExfat) {
      if (!Run("mkfs.exfat " + Quote(mount->image_)))
        return Fail(why_not, "mkfs.exfat failed or is missing");
      // exfat-fuse wants a block device.
      std::string device;
      if (!Capture("losetup -f --show " + Quote(mount->image_), &device) ||
          device.empty())
        return Fail(why_not, "no loop device available");
      mount->loop_device_ = device;
      if (!Run("mount.exfat-fuse " + Quote(device) + " " + Quote(mount->path_)))
        return Fail(why_not, "mount.exfat-fuse failed or is missing");
    } else if (kind == Kind::kExt4) {
      if (!Run("mkfs.ext4 -q -F " + Quote(mount->image_)))
        return Fail(why_not, "mkfs.ext4 failed or is missing");
      // The loop device goes with the unmount.
      if (!Run("mount -o loop " + Quote(mount->image_) + " " +
               Quote(mount->path_)))
        return Fail(why_not, "cannot mount an ext4 image on a loop device");
    } else {
      if (!Run("mkfs.vfat -F 32 " + Quote(mount->image_)))
        return Fail(why_not, "mkfs.vfat failed or is missing");
      if (!Run("fusefat -o rw+ " + Quote(mount->image_) + " " +
               Quote(mount->path_)))
        return Fail(why_not, "fusefat failed or is missing");
    }
    mount->mounted_ = true;
    return mount;
  }

  ~ImageMount() {
    if (mounted_) Run("umount " + Quote(path_));
    if (!loop_device_.empty()) Run("losetup -d " + Quote(loop_device_));
    std::error_code ec;
    std::filesystem::remove(image_, ec);
  }

  const std::string& path() const { return path_; }

 private:
  ImageMount() = default;

  static std::unique_ptr<ImageMount> Fail(std::string* why_not,
                                          const std::string& why) {
    if (why_not) *why_not = why;
    return nullptr;
  }
  static std::string Quote(const std::string& s) { return "'" + s + "'"; }
  static bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  static bool Capture(const std::string& command, std::string* out) {
    std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return false;
    char buffer[256];
    out->clear();
    while (std::fgets(buffer, sizeof buffer, pipe)) *out += buffer;
    while (!out->empty() && (out->back() == '\n' || out->back() == '\r'))
      out->pop_back();
    return pclose(pipe) == 0;
  }

  std::string image_;
  std::string path_;
  std::string loop_device_;
  bool mounted_ = false;
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_IMAGE_MOUNT_H_
