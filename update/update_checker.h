// SPDX-License-Identifier: GPL-3.0-or-later
// The check for a newer version of the program.
#ifndef FERRYBOX_UPDATE_UPDATE_CHECKER_H_
#define FERRYBOX_UPDATE_UPDATE_CHECKER_H_

#include <QObject>
#include <QTimer>
#include <chrono>
#include <string>

#include "update/page_fetch.h"
#include "update/version_marker.h"

namespace ferrybox {

/// Loads the version page and judges the version it publishes against the
/// program's own. Nothing waits for it: Start returns at once, the page
/// arrives through the event loop, and Finished reports the verdict, so a
/// backup run or anything else the window does goes on meanwhile.
class UpdateChecker : public QObject {
  Q_OBJECT

 public:
  explicit UpdateChecker(QObject* parent = nullptr);

  /// How long the version page may take to arrive (50 s unless set), and
  /// the pause between its arrival and the verdict (1 s unless set).
  void SetTiming(std::chrono::milliseconds page_limit,
                 std::chrono::milliseconds settle_pause);

  /// Starts loading the version page at `address`, to be judged against
  /// `version_text` ("1.1.28"). A check still under way is dropped first.
  void Start(const std::string& address, const std::string& version_text);

 signals:
  /// The check is over: kNewer or kNotNewer when the page named a version,
  /// kNoMarker when it named none, failed, or did not arrive in time.
  /// Emitted once for every check that no later Start dropped, never from
  /// within Start itself.
  void Finished(VersionVerdict verdict);

 private:
  void PageEnded(FetchOutcome outcome);
  void Judge();

  std::chrono::milliseconds page_limit_{50000};
  PageFetch fetch_;
  QTimer settle_;
  VersionMarkerScanner scanner_;
  std::string version_text_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UPDATE_UPDATE_CHECKER_H_
