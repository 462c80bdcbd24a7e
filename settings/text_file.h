// SPDX-License-Identifier: GPL-3.0-or-later
// Line-per-value text files: the settings file and the profiles.
#ifndef FERRYBOX_SETTINGS_TEXT_FILE_H_
#define FERRYBOX_SETTINGS_TEXT_FILE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// The largest settings or profile file that is read. The program writes a
/// few hundred bytes; anything larger is damaged, and reading it whole
/// could exhaust memory.
inline constexpr std::size_t kMaxTextFileBytes = 64 * 1024;

/// Reads at most `max_lines` lines of the file at `path` into `lines`,
/// through `files`.
/// A line ends at LF; a CR right before that LF is part of the line end.
/// An unterminated last line counts as a line. Nothing else is removed:
/// values keep their leading and trailing spaces. Returns false and sets
/// `err` (naming the path, and the call when one failed) when the file
/// cannot be read, is not a regular file (a FIFO would hold the reader
/// forever), or is larger than kMaxTextFileBytes; no more than that is
/// ever read.
bool ReadLines(Platform& files, const std::string& path, std::size_t max_lines,
               std::vector<std::string>* lines, std::string* err);

/// Writes `lines` to `path` through `files`, each followed by CR LF, with
/// WriteFileAtomically: `path` holds either its earlier content or all of
/// the new one, even after a power cut. A value holding a line break is
/// refused (it would read back as two values). Returns false and sets `err`
/// (the call, the path and the reason) on any failure; no temporary file is
/// left behind then.
bool WriteLines(Platform& files, const std::string& path,
                const std::vector<std::string>& lines, std::string* err);

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_TEXT_FILE_H_
