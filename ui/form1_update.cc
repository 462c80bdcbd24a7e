#include <QDesktopServices>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <thread>

#include "ui/form1.h"
#include "ui/form9.h"
#include "update/page_fetch.h"
#include "update/version_marker.h"

namespace ferrybox {

void Form1::ConnectUpdateHandlers() {
  open_url_ = [](const std::string& address) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
  };
  connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
}

void Form1::Timer3_Timer() {
  ++UpdateTicks;
  if (UpdateTicks == 3 && !VersionChecked) {
    // Marked before it starts: ticks handled while it waits must not start
    // a second check.
    VersionChecked = true;
    CheckNewVersion(SiteAddress("/version.htm"));
  }
  if (UpdateTicks >= 1000) UpdateTicks = 0;
}

void Form1::CheckNewVersion(const std::string& address) {
  lists().lp3("Checking for new version");
  VersionMarkerScanner scanner;
  const FetchOutcome outcome = FetchPage(
      QUrl(QString::fromStdString(address)), page_limit_,
      [&scanner](std::string_view piece) { return scanner.Feed(piece); });
  if (outcome != FetchOutcome::kLoaded) return;
  std::this_thread::sleep_for(settle_pause_);

  switch (JudgeVersion(scanner, VersionText)) {
    case VersionVerdict::kNoMarker:
      return;
    case VersionVerdict::kNotNewer:
      lists().lp3("Already at highest version");
      return;
    case VersionVerdict::kNewer:
      lists().lp3("New version to download");
      WaitForAnswer();
      if (DownloadWanted) {
        open_url_(SiteAddress("/downloadpage_incrementalbackup.php"));
      }
      return;
  }
}

void Form1::WaitForAnswer() {
  if (Form9_ == nullptr) Form9_ = new Form9(*this);
  DownloadWanted = false;
  Form9_->Answered = false;
  QEventLoop loop;
  connect(Form9_, &Form9::AnswerGiven, &loop, &QEventLoop::quit);
  Form9_->ShowNotice();
  // Also returns when the application quits; the answer then stays "No".
  if (!Form9_->Answered) loop.exec();
}

std::string Form1::SiteAddress(const std::string& path) const {
  std::string site = update_site_;
  while (!site.empty() && site.back() == '/') site.pop_back();
  return site + path;
}

}  // namespace ferrybox
