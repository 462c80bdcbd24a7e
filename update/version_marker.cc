// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/version_marker.h"

#include <algorithm>

#include "update/version_number.h"

namespace ferrybox {

bool VersionMarkerScanner::Feed(std::string_view piece) {
  if (marker_found_) {
    const std::size_t wanted = kPublishedWidth - published_.size();
    published_.append(piece.substr(0, wanted));
    return Complete();
  }
  std::string window = tail_;
  window.append(piece);
  const std::size_t at = window.find(kVersionMarker);
  if (at == std::string::npos) {
    const std::size_t keep = std::min(window.size(), kVersionMarker.size() - 1);
    tail_ = window.substr(window.size() - keep);
    return false;
  }
  marker_found_ = true;
  tail_.clear();
  published_ = window.substr(at + kVersionMarker.size(), kPublishedWidth);
  return Complete();
}

VersionVerdict JudgeVersion(const VersionMarkerScanner& scanner,
                            std::string_view version_text) {
  if (!scanner.MarkerFound()) return VersionVerdict::kNoMarker;
  return LeadingNumber(scanner.PublishedText()) > OwnVersionNumber(version_text)
             ? VersionVerdict::kNewer
             : VersionVerdict::kNotNewer;
}

}  // namespace ferrybox
