#include "update/version_number.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "update/version_marker.h"

namespace ferrybox {
namespace {

TEST(LeadingNumber, ReadsDigitsFromTheStartSkippingBlanks) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  // clang-format off
  const std::pair<std::string_view, std::int64_t> cases[] = {
      {"0999", 999},    {"", 0},       {"abc", 0},  {"12ab", 12},
      {"\t\r\n 7", 7}, {"1 29", 129}, {"-123", 0}, {"1.29", 1},
      {"9223372036854775807", kLargest}, {"99999999999999999999999999", kLargest}};
  // clang-format on
  for (const auto& [text, number] : cases)
    EXPECT_EQ(LeadingNumber(text), number) << '"' << text << '"';
  EXPECT_EQ(OwnVersionNumber("1.1.28-beta"), 1128);
}

TEST(JudgePage, ComparesTheFourCharactersAfterTheFirstMarker) {
  using enum VersionVerdict;
  const std::pair<std::string_view, VersionVerdict> cases[] = {
      {"version@11290", kNewer},     // read as 1129
      {"version@ 1129", kNotNewer},  // the blank is one of the four: 112
      {"version@1000 version@9999", kNotNewer},
      {"versionversion@1200", kNewer},
      {"Version@9999", kNoMarker}};
  for (const auto& [page, verdict] : cases)
    EXPECT_EQ(JudgePage(page, "1.1.28"), verdict) << page;
  EXPECT_EQ(JudgePage("version@1129", "1.1.29"), kNotNewer);
  EXPECT_EQ(JudgePage("version@1129", "1.1.2"), kNewer);
}

TEST(VersionMarkerScanner, FindsTheFirstMarkerWhereverThePiecesSplitIt) {
  const std::string page = "<html>ver version@ version@1129 version@0001";
  for (std::size_t size = 1; size <= page.size(); ++size) {
    VersionMarkerScanner scanner;
    for (std::size_t at = 0; at < page.size(); at += size)
      scanner.Feed(std::string_view(page).substr(at, size));
    EXPECT_EQ(scanner.PublishedText(), " ver") << size;
  }
  // Feed asks for no more only once four characters follow the marker.
  VersionMarkerScanner scanner;
  EXPECT_FALSE(scanner.Feed(std::string(100000, 'v')));
  EXPECT_FALSE(scanner.Feed("ersion@11"));
  EXPECT_TRUE(scanner.Feed("29 and more, version@0000"));
  EXPECT_EQ(JudgeVersion(scanner, "1.1.28"), VersionVerdict::kNewer);
}

}  // namespace
}  // namespace ferrybox
