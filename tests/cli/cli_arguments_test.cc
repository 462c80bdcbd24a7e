// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of ferrybox-cli, read by the parser itself.
#include "cli/cli_arguments.h"

#include <gtest/gtest.h>

namespace ferrybox {
namespace {

using Action = CliRequest::Action;

struct ParseCase {
  std::vector<std::string> args;
  /// What the request reads as: "run SRC DST [i][s]", "profile NAME",
  /// "help", "version", or "error: " and the start of the explanation.
  std::string expected;
};

std::string Describe(const std::vector<std::string>& args) {
  CliRequest request;
  std::string error;
  if (!ParseCliArguments(args, &request, &error)) return "error: " + error;
  switch (request.action) {
    case Action::kHelp:
      return "help";
    case Action::kVersion:
      return "version";
    case Action::kProfile:
      return "profile " + request.profile;
    case Action::kRun:
      break;
  }
  std::string text = "run " + request.source + " " + request.destination;
  if (request.incremental || request.show_files) text += " ";
  if (request.incremental) text += "i";
  if (request.show_files) text += "s";
  return text;
}

TEST(ParseCliArguments, TakesEachAcceptedFormAndRefusesEverythingElse) {
  const ParseCase cases[] = {
      // Options before, between and after the two folders.
      {{"/a", "/b"}, "run /a /b"},
      {{"--incremental", "/a", "/b"}, "run /a /b i"},
      {{"/a", "--show-files", "/b"}, "run /a /b s"},
      {{"/a", "/b", "--show-files", "--incremental"}, "run /a /b is"},
      // "--" ends the options: what follows is a folder, whatever it is.
      {{"--", "--help", "-x"}, "run --help -x"},
      {{"/a", "--", "--version"}, "run /a --version"},
      {{"--incremental", "--", "-", "--"}, "run - -- i"},
      {{"-", "/b"}, "run - /b"},
      // Exactly two folders.
      {{"/a", "/b", "/c"}, "error: too many arguments"},
      {{"/a", "--", "/b", "/c"}, "error: too many arguments"},
      {{"/a"}, "error: SOURCE and DESTINATION are both needed"},
      {{}, "error: SOURCE and DESTINATION are both needed"},
      {{"--", "--incremental"}, "error: SOURCE and DESTINATION"},
      {{"-x", "/a", "/b"}, "error: unknown option -x"},
      {{"/a", "/b", "--incremental=1"}, "error: unknown option"},
      // A profile, in either spelling, with nothing else.
      {{"--profile", "work"}, "profile work"},
      {{"--profile=work"}, "profile work"},
      {{"--profile=a=b c"}, "profile a=b c"},
      {{"--profile", "-x"}, "profile -x"},
      {{"--profile"}, "error: --profile needs a NAME"},
      {{"--profile="}, "error: --profile needs a NAME"},
      {{"--profile", "a", "--profile=b"}, "error: --profile may be given"},
      {{"--profile", "work", "/a"}, "error: --profile takes its folders"},
      {{"/a", "/b", "--profile=work"}, "error: --profile takes its folders"},
      {{"--incremental", "--profile=work"}, "error: --profile takes"},
      {{"--profile", "work", "--show-files"}, "error: --profile takes"},
      // --help and --version win over everything before "--".
      {{"/a", "/b", "/c", "--help"}, "help"},
      {{"-h"}, "help"},
      {{"--bogus", "--version"}, "version"},
      {{"--version", "--help"}, "help"},
      {{"--", "--help", "/b", "/c"}, "error: too many arguments"},
  };
  for (const ParseCase& c : cases) {
    std::string args;
    for (const std::string& arg : c.args) args += "[" + arg + "]";
    SCOPED_TRACE(args);
    EXPECT_TRUE(Describe(c.args).starts_with(c.expected)) << Describe(c.args);
    if (!c.expected.starts_with("error: ")) {
      EXPECT_EQ(Describe(c.args), c.expected);
    }
  }
}

}  // namespace
}  // namespace ferrybox
