// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/failure.h"

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
      return "the destination does not tell letter case apart, and it keeps "
             "a name differing from this one only in case";
    case kErrorNoLinks:
      return "the destination cannot hold symbolic links";
    case kErrorStopped:
      return "the copy was stopped before it was complete";
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

}  // namespace ferrybox
