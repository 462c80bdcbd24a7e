// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/version_marker.h"

#include <gtest/gtest.h>

#include <string>

namespace ferrybox {
namespace {

VersionVerdict JudgeWholePage(std::string_view page,
                              std::string_view version_text) {
  VersionMarkerScanner scanner;
  scanner.Feed(page);
  return JudgeVersion(scanner, version_text);
}

TEST(JudgeVersion, OnlyAGreaterPublishedNumberIsNewer) {
  constexpr auto kNewer = VersionVerdict::kNewer;
  constexpr auto kNotNewer = VersionVerdict::kNotNewer;
  constexpr auto kNoMarker = VersionVerdict::kNoMarker;
  const struct {
    const char* page;
    const char* own;
    VersionVerdict verdict;
  } cases[] = {
      {"<p>Latest: version@1129</p>", "1.1.28", kNewer},
      {"version@1128", "1.1.28", kNotNewer},  // the same version
      {"version@1127", "1.1.28", kNotNewer},
      {"<p>version@0999</p>", "1.1.28", kNotNewer},
      {"version@9999", "1.1.28", kNewer},
      {"version@0120", "1.1.9", kNewer},  // 120 against 119
      {"version@1129", "1.2.0", kNewer},  // 1129 against 120
      // Only four characters count, a blank among them.
      {"version@11280", "1.1.28", kNotNewer},
      {"version@ 1129", "1.1.28", kNotNewer},
      // Text that is no number reads as 0, a short tail as what it holds.
      {"version@abc", "1.1.28", kNotNewer},
      {"end of page version@", "1.1.28", kNotNewer},
      {"version@12", "1.1.28", kNotNewer},
      {"version@12", "0.0.11", kNewer},
      // Only the first marker counts, and only in its exact case.
      {"version@1128 version@9999", "1.1.28", kNotNewer},
      {"Version@9999 VERSION@9999", "1.1.28", kNoMarker},
      {"versio@9999", "1.1.28", kNoMarker},
      {"", "1.1.28", kNoMarker},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JudgeWholePage(c.page, c.own), c.verdict)
        << c.page << " against " << c.own;
}

TEST(VersionMarkerScanner, FindsTheFirstMarkerWhereverThePiecesSplitIt) {
  const std::string page = "<html>versionversion@1129 version@0001";
  for (std::size_t size = 1; size <= page.size(); ++size) {
    VersionMarkerScanner scanner;
    for (std::size_t at = 0; at < page.size(); at += size)
      scanner.Feed(std::string_view(page).substr(at, size));
    EXPECT_EQ(scanner.PublishedText(), "1129") << size;
    EXPECT_EQ(JudgeVersion(scanner, "1.1.28"), VersionVerdict::kNewer) << size;
  }
  // It asks for no more only once four characters follow the marker.
  VersionMarkerScanner scanner;
  EXPECT_FALSE(scanner.Feed(std::string(100000, 'v') + "ersion@11"));
  EXPECT_TRUE(scanner.Feed("29 and more"));
  EXPECT_EQ(scanner.PublishedText(), "1129");
}

}  // namespace
}  // namespace ferrybox
