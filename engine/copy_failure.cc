#include "engine/copy_failure.h"

#include <string.h>

namespace ferrybox {

std::string ErrorText(int error) {
  switch (error) {
    case kErrorSourceChanged:
      return "the file changed while it was being copied";
    case kErrorNotAFile:
      return "no longer a regular file";
    case kErrorNoLinks:
      return "the destination cannot hold symbolic links";
    default:
      break;
  }
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in `buffer`.
  return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace ferrybox
