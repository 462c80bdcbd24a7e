// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/version_marker.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ferrybox {
namespace {

VersionVerdict JudgeWholePage(std::string_view page,
                              std::string_view version_text) {
  VersionMarkerScanner scanner;
  scanner.Feed(page);
  return JudgeVersion(scanner, version_text);
}

TEST(JudgeVersion, OnlyAGreaterPublishedNumberIsNewer) {
  // Pages judged against 1.1.28 (1128). Only four characters count, a blank
  // among them; text that is no number reads as 0, a short tail as what it
  // holds; only the first marker counts, and only in its exact case.
  const std::pair<VersionVerdict, std::vector<const char*>> cases[] = {
      {VersionVerdict::kNewer, {"<p>Latest: version@1129</p>", "version@9999"}},
      {VersionVerdict::kNotNewer,
       {"version@1128", "version@1127", "<p>version@0999</p>", "version@11280",
        "version@ 1129", "version@abc", "end of page version@", "version@12",
        "version@1128 version@9999"}},
      {VersionVerdict::kNoMarker,
       {"Version@9999 VERSION@9999", "versio@9999", ""}}};
  for (const auto& [verdict, pages] : cases) {
    for (const char* page : pages)
      EXPECT_EQ(JudgeWholePage(page, "1.1.28"), verdict) << page;
  }
  // The own version read without its dots: 120 against 119, 1129 against
  // 120, 12 against 11.
  EXPECT_EQ(JudgeWholePage("version@0120", "1.1.9"), VersionVerdict::kNewer);
  EXPECT_EQ(JudgeWholePage("version@1129", "1.2.0"), VersionVerdict::kNewer);
  EXPECT_EQ(JudgeWholePage("version@12", "0.0.11"), VersionVerdict::kNewer);
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
