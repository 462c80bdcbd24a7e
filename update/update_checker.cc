// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/update_checker.h"

#include <QUrl>
#include <string_view>

namespace ferrybox {

UpdateChecker::UpdateChecker(QObject* parent) : QObject(parent) {
  setObjectName("UpdateChecker");
  settle_.setSingleShot(true);
  settle_.setInterval(1000);
  connect(&fetch_, &PageFetch::Finished, this, &UpdateChecker::PageEnded);
  connect(&settle_, &QTimer::timeout, this, &UpdateChecker::Judge);
}

void UpdateChecker::SetTiming(std::chrono::milliseconds page_limit,
                              std::chrono::milliseconds settle_pause) {
  page_limit_ = page_limit;
  settle_.setInterval(settle_pause);
}

void UpdateChecker::Start(const std::string& address,
                          const std::string& version_text) {
  settle_.stop();
  scanner_ = VersionMarkerScanner();
  version_text_ = version_text;
  fetch_.Start(QUrl(QString::fromStdString(address)), page_limit_,
               [this](std::string_view piece) { return scanner_.Feed(piece); });
}

void UpdateChecker::PageEnded(FetchOutcome outcome) {
  if (outcome != FetchOutcome::kLoaded) {
    emit Finished(VersionVerdict::kNoMarker);
    return;
  }
  // The verdict follows the page after a pause (a second unless set); a
  // timer keeps the window live through it.
  settle_.start();
}

void UpdateChecker::Judge() {
  emit Finished(JudgeVersion(scanner_, version_text_));
}

}  // namespace ferrybox
