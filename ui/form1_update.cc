// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

#include "ui/form1.h"
#include "ui/form9.h"
#include "update/update_checker.h"

namespace ferrybox {

void Form1::ConnectUpdateHandlers() {
  open_url_ = [](const std::string& address) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
  };
  update_checker_ = new UpdateChecker(this);
  connect(update_checker_, &UpdateChecker::Finished, this,
          &Form1::VersionJudged);
  connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
}

void Form1::Timer3_Timer() {
  ++UpdateTicks_;
  if (UpdateTicks_ == 3 && !VersionChecked_) {
    // Marked before it starts: ticks that come while it waits must not
    // start a second check.
    VersionChecked_ = true;
    CheckNewVersion(SiteAddress("/version.htm"));
  }
  if (UpdateTicks_ >= 1000) UpdateTicks_ = 0;
}

void Form1::CheckNewVersion(const std::string& address) {
  lists_.lp3("Checking for new version");
  update_checker_->Start(address, VersionText_);
}

void Form1::VersionJudged(VersionVerdict verdict) {
  switch (verdict) {
    case VersionVerdict::kNoMarker:
      return;
    case VersionVerdict::kNotNewer:
      lists_.lp3("Already at highest version");
      return;
    case VersionVerdict::kNewer:
      lists_.lp3("New version to download");
      if (Form9_ == nullptr) {
        Form9_ = new Form9(*this);
        connect(Form9_, &Form9::AnswerGiven, this, &Form1::NoticeAnswered);
      }
      DownloadWanted_ = false;
      Form9_->ShowNotice();
      return;
  }
}

void Form1::NoticeAnswered(bool download) {
  DownloadWanted_ = download;
  if (DownloadWanted_)
    open_url_(SiteAddress("/downloadpage_incrementalbackup.php"));
}

std::string Form1::SiteAddress(const std::string& path) const {
  std::string site = update_site_;
  while (!site.empty() && site.back() == '/') site.pop_back();
  return site + path;
}

}  // namespace ferrybox
