// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/failure.h"

#include <stdio.h>
#include <string.h>

namespace ferrybox {

std::string ErrorText(int error) {
  switch (error) {
    case kErrorSourceChanged:
      return "the file changed while it was being copied";
    case kErrorNotAFile:
      return "no longer a regular file";
    case kErrorWrittenDuringCopy:
      return "another program opened the file for writing while it was being "
             "copied";
    case kErrorOpenForWriting:
      return "another program has the file open for writing and changed it "
             "moments ago";
    case kErrorRecentlyChanged:
      return "the file changed moments ago and it cannot be told whether "
             "another program is still writing it";
    case kErrorCaseClash:
      return "the destination takes this name as one with another name kept "
             "there (differing from it in letter case or Unicode form)";
    case kErrorNoLinks:
      return "the destination cannot hold symbolic links";
    case kErrorStopped:
      return "the copy was stopped before it was complete";
    case kErrorDestinationIsSource:
      return "the destination folder is a folder of the source itself";
    case kErrorNameNotStored:
      return "the destination cannot store this name";
    default:
      break;
  }
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in `buffer`.
  return strerror_r(error, buffer, sizeof buffer);
}

std::string Failure::Text() const {
  return call + " " + path + ": " + ErrorText(error);
}

std::string Failure::Reason() const {
  std::string reason = ErrorText(error);
  if (error != kErrorNameNotStored) return reason;
  const std::string_view name =
      std::string_view(path).substr(path.rfind('/') + 1);
  const std::string characters = CharactersNotStoredOnFat(name);
  reason += characters.size() == 1 ? " (the character " : " (the characters ";
  for (size_t i = 0; i < characters.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(characters[i]);
    if (i > 0) reason += ' ';
    if (c < 0x20) {
      // Shown by its number: the character itself would not be seen.
      char number[8];
      snprintf(number, sizeof number, "U+%04X", c);
      reason += number;
    } else {
      reason += static_cast<char>(c);
    }
  }
  return reason + ")";
}

std::string CharactersNotStoredOnFat(std::string_view name) {
  std::string found;
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool refused =
        byte < 0x20 ||
        std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos;
    if (refused && found.find(c) == std::string::npos) found += c;
  }
  return found;
}

}  // namespace ferrybox
