#include "settings/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace ferrybox {
namespace {

std::string ErrnoMessage(const char* call, const std::string& path, int error) {
  return std::string(call) + " " + path + ": " + std::strerror(error);
}

bool WriteAll(int fd, const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A name that no lister of "*.prf" or reader of "config.txt" ever picks up,
// unique within this process and among processes.
std::string TemporaryName(const std::string& folder) {
  static std::atomic<unsigned> counter{0};
  return folder + "/.ferrybox-write-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter++) + ".tmp";
}

}  // namespace

bool ReadLines(const std::string& path, std::size_t max_lines,
               std::vector<std::string>* lines, std::string* err) {
  lines->clear();
  // Without O_NONBLOCK, opening a FIFO waits for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *err = ErrnoMessage("open", path, errno);
    return false;
  }
  const std::string too_large = path + " is damaged: larger than " +
                                std::to_string(kMaxTextFileBytes / 1024) +
                                " KiB";
  struct stat status;
  if (::fstat(fd, &status) != 0) {
    *err = ErrnoMessage("fstat", path, errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) > kMaxTextFileBytes) {
    *err =
        S_ISREG(status.st_mode) ? too_large : path + " is not a regular file";
    ::close(fd);
    return false;
  }
  std::string line;
  bool in_line = false;
  std::size_t total = 0;
  char buffer[4096];
  while (lines->size() < max_lines) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      *err = ErrnoMessage("read", path, errno);
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    // The file may have grown since its size was read.
    total += static_cast<std::size_t>(got);
    if (total > kMaxTextFileBytes) {
      *err = too_large;
      ::close(fd);
      return false;
    }
    for (ssize_t i = 0; i < got && lines->size() < max_lines; ++i) {
      if (buffer[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines->push_back(std::move(line));
        line.clear();
        in_line = false;
      } else {
        line.push_back(buffer[i]);
        in_line = true;
      }
    }
  }
  ::close(fd);
  // An unterminated last line: kept whole, a trailing CR included, since
  // no line end was written after it.
  if (in_line && lines->size() < max_lines) lines->push_back(std::move(line));
  return true;
}

bool WriteLines(const std::string& path, const std::vector<std::string>& lines,
                std::string* err) {
  std::string text;
  for (const std::string& value : lines) {
    if (value.find('\n') != std::string::npos) {
      *err = "cannot write " + path + ": a value holds a line break";
      return false;
    }
    text += value;
    text += "\r\n";
  }

  std::string temporary;
  int fd = -1;
  // A name taken by a stale file from an earlier, killed process is
  // skipped, not replaced.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryName(FolderOf(path));
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *err = ErrnoMessage("open", temporary, errno);
    return false;
  }

  const char* failed_call = nullptr;
  int error = 0;
  if (!WriteAll(fd, text)) {
    failed_call = "write";
    error = errno;
  } else if (::fsync(fd) != 0) {
    failed_call = "fsync";
    error = errno;
  }
  if (::close(fd) != 0 && failed_call == nullptr) {
    failed_call = "close";
    error = errno;
  }
  if (failed_call == nullptr &&
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    *err = ErrnoMessage("rename", path, errno);
    ::unlink(temporary.c_str());
    return false;
  }
  if (failed_call != nullptr) {
    *err = ErrnoMessage(failed_call, temporary, error);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace ferrybox
