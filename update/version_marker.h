// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the published version in the version page.
#ifndef FERRYBOX_UPDATE_VERSION_MARKER_H_
#define FERRYBOX_UPDATE_VERSION_MARKER_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace ferrybox {

/// The text in the version page that the published version follows,
/// matched with exact case.
inline constexpr std::string_view kVersionMarker = "version@";
/// How many characters after the marker carry the published version.
inline constexpr std::size_t kPublishedWidth = 4;

/// Looks for the first version marker in a page that arrives in pieces,
/// keeping only the few bytes a marker split between pieces needs.
class VersionMarkerScanner {
 public:
  /// Takes the next piece of the page. Returns Complete().
  bool Feed(std::string_view piece);

  /// True once the first marker has arrived.
  bool MarkerFound() const { return marker_found_; }
  /// True once the first marker and the kPublishedWidth characters after it
  /// have arrived: nothing later in the page matters.
  bool Complete() const {
    return marker_found_ && published_.size() == kPublishedWidth;
  }
  /// The characters after the first marker so far: at most
  /// kPublishedWidth, fewer when the page ended sooner.
  const std::string& PublishedText() const { return published_; }

 private:
  bool marker_found_ = false;
  // The end of the page so far, shorter than the marker: the start of a
  // marker that the next piece may finish.
  std::string tail_;
  std::string published_;
};

/// What the version page says about the program's own version.
enum class VersionVerdict {
  kNoMarker,  ///< the page carries no version marker
  kNewer,     ///< a newer version is published
  kNotNewer,  ///< the published version is the same or older
};

/// Compares the version after the first marker of a page (all of it fed
/// to `scanner`) with `version_text` ("1.1.28"). Both are read as numbers
/// by LeadingNumber, the program's own without its dots.
VersionVerdict JudgeVersion(const VersionMarkerScanner& scanner,
                            std::string_view version_text);

}  // namespace ferrybox

#endif  // FERRYBOX_UPDATE_VERSION_MARKER_H_
