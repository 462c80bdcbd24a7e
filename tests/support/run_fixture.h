// SPDX-License-Identifier: GPL-3.0-or-later
// A backup run over real temporary trees, shown in a window held in memory.
#ifndef FERRYBOX_TESTS_SUPPORT_RUN_FIXTURE_H_
#define FERRYBOX_TESTS_SUPPORT_RUN_FIXTURE_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/backup_run.h"
#include "engine/copy_log.h"
#include "tests/support/memory_window.h"
#include "tests/support/temp_tree.h"

namespace ferrybox {

/// Text1 and Text2 name `src` and `dst` (below the case's folder once
/// UseCase was called); the copy log goes in `program`.
class RunFixture : public ::testing::Test {
 protected:
  RunFixture() {
    tree.MakeFolder("program");
    UseCase("");
  }

  /// Fresh trees `name`/src and `name`/dst, and a fresh run on the platform
  /// last given.
  void UseCase(const std::string& name) {
    case_ = name.empty() ? "" : name + "/";
    tree.MakeFolder(case_ + "src");
    window.text1 = Src("");
    window.text2 = Dst();
    UsePlatform(*run_platform);
  }
  /// A new run on `platform`.
  void UsePlatform(Platform& platform, RunOptions options = {}) {
    run_platform = &platform;
    run = std::make_unique<BackupRun>(window, lists, platform, Program(),
                                      std::move(options));
  }
  void Go(bool incremental = false) {
    window.check[2] = incremental ? 1 : 0;
    run->Command3_Click();
  }

  /// Paths below the source and the destination; "" is the root itself.
  std::string Src(const std::string& relative) const {
    return In("src", relative);
  }
  std::string Dst(const std::string& relative = "") const {
    return In("dst", relative);
  }
  std::string Program() const { return tree.Path("program"); }
  std::vector<std::string>& List2() { return window.List(ListBox::kList2); }
  std::vector<std::string>& List3() { return window.List(ListBox::kList3); }
  const std::string& Figure(FigureBox box) { return window.Figure(box); }
  std::string CopyLog() { return testing::ReadFile(CopyLogPath(Program())); }
  static int Count(const std::vector<std::string>& lines,
                   const std::string& prefix) {
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(),
        [&](const std::string& line) { return line.starts_with(prefix); }));
  }

  testing::TempTree tree;
  testing::MemoryWindow window;
  MessageLists lists{window};
  std::unique_ptr<BackupRun> run;
  Platform* run_platform = &DefaultPlatform();

 private:
  std::string In(const std::string& side, const std::string& relative) const {
    return tree.Path(case_ + side + (relative.empty() ? "" : "/" + relative));
  }

  std::string case_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_SUPPORT_RUN_FIXTURE_H_
