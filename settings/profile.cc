// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/profile.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "settings/text_file.h"

namespace ferrybox {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The leading number of `line`, blanks anywhere in it skipped, in the
// plain form std::from_chars reads ("-12.5e3"); empty when there is none.
std::string LeadingNumberText(const std::string& line) {
  std::string number;
  bool mantissa_digits = false;
  bool point = false;
  bool exponent = false;
  bool exponent_digits = false;
  std::size_t exponent_at = 0;
  for (char c : line) {
    if (IsBlank(c)) continue;
    if (IsDigit(c)) {
      number.push_back(c);
      (exponent ? exponent_digits : mantissa_digits) = true;
    } else if ((c == '-' || c == '+') && number.empty()) {
      number.push_back(c);
    } else if ((c == '-' || c == '+') && exponent &&
               number.size() == exponent_at + 1) {
      number.push_back(c);
    } else if (c == '.' && !point && !exponent) {
      number.push_back(c);
      point = true;
    } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && !exponent &&
               mantissa_digits) {
      exponent_at = number.size();
      number.push_back('e');
      exponent = true;
    } else {
      break;
    }
  }
  // An exponent mark without digits after it adds nothing.
  if (exponent && !exponent_digits) number.resize(exponent_at);
  if (!mantissa_digits) return "";
  return number;
}

std::string StateText(int state) { return " " + std::to_string(state) + " "; }

}  // namespace

std::string ProfilesFolder(const std::string& program_folder) {
  return program_folder + "/profiles";
}

std::string ProfilePath(const std::string& program_folder,
                        const std::string& name) {
  return ProfilesFolder(program_folder) + "/" + name + kProfileExtension;
}

bool CheckStateFromLine(const std::string& line, int* state) {
  std::string text = LeadingNumberText(line);
  if (text.empty()) {
    *state = 0;
    return true;
  }
  const bool negative = text[0] == '-';
  if (text[0] == '-' || text[0] == '+') text.erase(0, 1);
  double value = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (negative) value = -value;
  // Halves go to the even neighbour: 0.5 gives 0, 1.5 and 2.5 give 2.
  double whole = std::floor(value);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
    whole += 1.0;
  if (whole != 0.0 && whole != 1.0 && whole != 2.0) return false;
  *state = static_cast<int>(whole);
  return true;
}

ProfileRead ReadProfile(const std::string& path) {
  ProfileRead result;
  std::vector<std::string> lines;
  if (!ReadLines(DefaultPlatform(), path, 5, &lines, &result.error))
    return result;
  if (lines.size() < 5) {
    result.error =
        path + " holds " + std::to_string(lines.size()) + " lines instead of 5";
    return result;
  }
  int* const states[] = {&result.profile.check1, &result.profile.check2,
                         &result.profile.check3};
  for (int i = 0; i < 3; ++i) {
    if (!CheckStateFromLine(lines[2 + i], states[i])) {
      result.error = path + ": line " + std::to_string(3 + i) + " (\"" +
                     lines[2 + i] + "\") is not a check box state 0, 1 or 2";
      return result;
    }
  }
  result.profile.source = std::move(lines[0]);
  result.profile.destination = std::move(lines[1]);
  return result;
}

bool WriteProfile(Platform& files, const std::string& path,
                  const Profile& profile, std::string* err) {
  return WriteLines(
      files, path,
      {profile.source, profile.destination, StateText(profile.check1),
       StateText(profile.check2), StateText(profile.check3)},
      err);
}

bool WriteProfile(const std::string& path, const Profile& profile,
                  std::string* err) {
  return WriteProfile(DefaultPlatform(), path, profile, err);
}

}  // namespace ferrybox
