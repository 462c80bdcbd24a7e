#include "cli/cli_arguments.h"

#include <gtest/gtest.h>

namespace ferrybox {
namespace {

using Action = CliRequest::Action;

CliRequest Parse(const std::vector<std::string>& args) {
  CliRequest request;
  std::string error;
  EXPECT_TRUE(ParseCliArguments(args, &request, &error)) << error;
  return request;
}

std::string ParseError(const std::vector<std::string>& args) {
  CliRequest request;
  std::string error;
  EXPECT_FALSE(ParseCliArguments(args, &request, &error));
  return error;
}

TEST(CliArgumentsRun, TwoFoldersAndOptionsInAnyOrder) {
  CliRequest plain = Parse({"/data/src", "/backup/dst"});
  EXPECT_EQ(plain.action, Action::kRun);
  EXPECT_EQ(plain.source, "/data/src");
  EXPECT_EQ(plain.destination, "/backup/dst");
  EXPECT_FALSE(plain.incremental);
  EXPECT_FALSE(plain.show_files);

  CliRequest mixed = Parse({"--show-files", "a", "--incremental", "b"});
  EXPECT_EQ(mixed.action, Action::kRun);
  EXPECT_EQ(mixed.source, "a");
  EXPECT_EQ(mixed.destination, "b");
  EXPECT_TRUE(mixed.incremental);
  EXPECT_TRUE(mixed.show_files);
}

TEST(CliArgumentsRun, FolderNamesAreTakenAsGiven) {
  // Spaces kept, an empty name passed on (the run refuses it), and "--"
  // lets a name begin with a dash.
  CliRequest spaces = Parse({" src with spaces ", ""});
  EXPECT_EQ(spaces.source, " src with spaces ");
  EXPECT_EQ(spaces.destination, "");

  CliRequest dashes = Parse({"--incremental", "--", "-src", "--help"});
  EXPECT_EQ(dashes.action, Action::kRun);
  EXPECT_TRUE(dashes.incremental);
  EXPECT_EQ(dashes.source, "-src");
  EXPECT_EQ(dashes.destination, "--help");

  EXPECT_EQ(Parse({"-", "dst"}).source, "-");
}

TEST(CliArgumentsProfile, NameSeparateOrJoined) {
  CliRequest separate = Parse({"--profile", "work.prf"});
  EXPECT_EQ(separate.action, Action::kProfile);
  EXPECT_EQ(separate.profile, "work.prf");

  CliRequest joined = Parse({"--profile=my disk"});
  EXPECT_EQ(joined.action, Action::kProfile);
  EXPECT_EQ(joined.profile, "my disk");

  // The value of --profile is a name, even when it looks like an option.
  EXPECT_EQ(Parse({"--profile", "--odd"}).profile, "--odd");
}

TEST(CliArgumentsHelp, HelpAndVersionWinOverEverythingElse) {
  EXPECT_EQ(Parse({"--help"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"-h"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"--version"}).action, Action::kVersion);
  EXPECT_EQ(Parse({"src", "--bogus", "--help"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"--version", "--profile"}).action, Action::kVersion);
}

TEST(CliArgumentsErrors, WrongCommandLinesAreExplained) {
  EXPECT_EQ(ParseError({}), "SOURCE and DESTINATION are both needed");
  EXPECT_EQ(ParseError({"--incremental", "src"}),
            "SOURCE and DESTINATION are both needed");
  EXPECT_NE(ParseError({"a", "b", "c"}).find("too many arguments"),
            std::string::npos);
  EXPECT_EQ(ParseError({"--full", "a", "b"}), "unknown option --full");
  EXPECT_EQ(ParseError({"--profile"}), "--profile needs a NAME");
  EXPECT_EQ(ParseError({"--profile="}), "--profile needs a NAME");
  EXPECT_EQ(ParseError({"--profile", "a", "--profile", "b"}),
            "--profile may be given only once");
}

TEST(CliArgumentsErrors, ProfileTakesNothingElse) {
  EXPECT_FALSE(ParseError({"--profile", "p", "src", "dst"}).empty());
  EXPECT_FALSE(ParseError({"--incremental", "--profile", "p"}).empty());
  EXPECT_FALSE(ParseError({"--profile", "p", "--show-files"}).empty());
}

}  // namespace
}  // namespace ferrybox
