// SPDX-License-Identifier: GPL-3.0-or-later
#include <QPushButton>

#include "ui/form1.h"
#include "ui/input_hold.h"

namespace ferrybox {

void Form1::ConnectRunHandlers(Platform& platform) {
  run_ = std::make_unique<BackupRun>(*this, lists_, platform, program_folder_);
  connect(Command3, &QPushButton::clicked, this, [this] {
    run_->Command3_Click();
    // What a scan stopped before any copying held back.
    input_hold_->Release();
  });
  connect(Command2, &QPushButton::clicked, this, [this] {
    // A "Go" clicked during the scan and held back must not start a new
    // run once this one has stopped: "Stop" was the later word.
    input_hold_->DropClicksOn(Command3);
    run_->Command2_Click();
  });
  connect(Command11, &QPushButton::clicked, this,
          [this] { run_->Command11_Click(); });
}

void Form1::AbandonRun() {
  input_hold_->DropClicksOn(Command3);
  run_->Abandon();
}

}  // namespace ferrybox
