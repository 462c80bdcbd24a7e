// SPDX-License-Identifier: GPL-3.0-or-later
// make-bench-tree: writes one of the benchmark's source trees. The same
// kind always gives the same names, sizes and contents.
//
//   make-bench-tree small FOLDER   20,000 files of 1-8 KiB in 400 folders,
//                                  up to 4 levels deep
//   make-bench-tree large FOLDER   4 files of 256 MiB
//   make-bench-tree mixed FOLDER   4,000 files from empty to 16 MiB in 100
//                                  folders (about 0.8 GB)
//   make-bench-tree share FOLDER   2,000 files of 1-8 KiB in 40 folders,
//                                  for the slow-share runs
//   make-bench-tree huge FOLDER    200,000 files of up to 64 bytes in 2,000
//                                  folders, for memory measurements
//   make-bench-tree tiny FOLDER    1 file, the memory baseline
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  /// A whole number in [low, high].
  uint64_t Between(uint64_t low, uint64_t high) {
    return low + Next() % (high - low + 1);
  }

 private:
  uint64_t state_;
};

bool Fail(const std::string& what, const std::string& path) {
  std::fprintf(stderr, "make-bench-tree: %s %s: %s\n", what.c_str(),
               path.c_str(), std::strerror(errno));
  return false;
}

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  return Fail("cannot create", path);
}

bool WriteFile(const std::string& path, uint64_t size, Random& random) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail("cannot create", path);
  static std::vector<uint64_t> block(1 << 17);  // 1 MiB
  uint64_t left = size;
  while (left > 0) {
    const uint64_t chunk = std::min<uint64_t>(left, block.size() * 8);
    for (size_t i = 0; i < (chunk + 7) / 8; ++i) block[i] = random.Next();
    const char* data = reinterpret_cast<const char*>(block.data());
    uint64_t done = 0;
    while (done < chunk) {
      ssize_t written = write(fd, data + done, chunk - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        close(fd);
        return Fail("cannot write", path);
      }
      done += written;
    }
    left -= chunk;
  }
  if (close(fd) != 0) return Fail("cannot write", path);
  return true;
}

// Folders breadth first: the root's `fanout[0]` children, each of those
// with `fanout[1]` children, and so on, until `count` folders exist.
std::vector<std::string> MakeFolders(const std::string& root, size_t count,
                                     const std::vector<size_t>& fanout) {
  std::vector<std::string> folders;
  std::vector<std::string> level = {root};
  for (size_t depth = 0; depth < fanout.size() && folders.size() < count;
       ++depth) {
    std::vector<std::string> next;
    for (const std::string& parent : level) {
      for (size_t i = 0; i < fanout[depth] && folders.size() < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/folder-%zu-%03zu", depth + 1, i);
        next.push_back(parent + name);
        folders.push_back(next.back());
      }
    }
    level = std::move(next);
  }
  return folders;
}

struct Kind {
  const char* name;
  size_t folders;
  std::vector<size_t> fanout;
  size_t files;
  // Size of file `index`.
  uint64_t (*size)(Random& random, size_t index);
};

uint64_t SmallSize(Random& random, size_t) {
  return random.Between(1024, 8192);
}
uint64_t LargeSize(Random&, size_t) { return uint64_t{256} << 20; }
uint64_t HugeSize(Random& random, size_t) { return random.Between(0, 64); }
uint64_t MixedSize(Random& random, size_t) {
  const uint64_t pick = random.Between(0, 99);
  if (pick < 1) return 0;
  if (pick < 85) return random.Between(1, 64 << 10);
  if (pick < 99) return random.Between(64 << 10, 1 << 20);
  return random.Between(4 << 20, 16 << 20);
}

const Kind kKinds[] = {
    {"small", 400, {8, 7, 5, 5}, 20000, SmallSize},
    {"large", 0, {}, 4, LargeSize},
    {"mixed", 100, {10, 9}, 4000, MixedSize},
    {"share", 40, {5, 7}, 2000, SmallSize},
    {"huge", 2000, {20, 10, 10}, 200000, HugeSize},
    {"tiny", 0, {}, 1, SmallSize},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(
        stderr,
        "usage: make-bench-tree small|large|mixed|share|huge|tiny FOLDER\n");
    return 2;
  }
  const Kind* kind = nullptr;
  for (const Kind& k : kKinds) {
    if (std::strcmp(argv[1], k.name) == 0) kind = &k;
  }
  if (kind == nullptr) {
    std::fprintf(stderr, "make-bench-tree: unknown kind %s\n", argv[1]);
    return 2;
  }
  const std::string root = argv[2];
  if (!MakeFolder(root)) return 1;
  std::vector<std::string> folders =
      MakeFolders(root, kind->folders, kind->fanout);
  for (const std::string& folder : folders) {
    if (!MakeFolder(folder)) return 1;
  }
  if (folders.empty()) folders.push_back(root);

  Random random(std::strlen(kind->name) * 0x1234567ULL + kind->files);
  for (size_t i = 0; i < kind->files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/file-%06zu.dat", i);
    const std::string& folder = folders[i % folders.size()];
    if (!WriteFile(folder + name, kind->size(random, i), random)) return 1;
  }
  return 0;
}
