// SPDX-License-Identifier: GPL-3.0-or-later
// Form1: the main window.
#ifndef FERRYBOX_UI_FORM1_H_
#define FERRYBOX_UI_FORM1_H_

#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "engine/backup_run.h"
#include "engine/message_lists.h"
#include "engine/window.h"
#include "settings/options_file.h"
#include "ui/qt_dialogs.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace ferrybox {

class Form9;
class InputHold;
class LineList;
class UpdateChecker;
enum class VersionVerdict;

/// The program's working window. It owns the controls and every value that
/// lives as long as the window; its event handlers are thin calls into the
/// engine, settings and update layers. Controls carry their names as object
/// names ("Text1", "Command3", ...), which is how tests find them.
class Form1 : public QWidget, public Window {
  Q_OBJECT

 public:
  /// `program_folder` holds the settings file, the profiles folder and the
  /// copy log; every "Go" runs on `platform`, which outlives the window.
  Form1(std::string program_folder, Platform& platform,
        QWidget* parent = nullptr);
  ~Form1() override;

  // Window, as the engine sees it. The folder boxes give the bytes of the
  // names they show (see ShownName).
  std::string Text1() const override;
  std::string Text2() const override;
  int CheckValue(CheckBox box) const override;
  LeaveOutOptions LeaveOut() const override;
  int KeepVersionsDays() const override { return options_.keep_versions_days; }
  void SetFigure(FigureBox box, const std::string& text) override;
  void SetCount(FigureBox box, int64_t count) override;
  void AddItem(ListBox list, const std::string& line) override;
  void ClearList(ListBox list) override;
  void SetTopIndex(ListBox list, int index) override;
  void RepaintList(ListBox list) override;
  void ProcessEvents() override;
  void KeepAlive() override;
  void ShowPaused(bool paused) override;
  /// The reason becomes the detail of the failed copy's line in List3.
  void ReportFailure(const Failure& failure) override;

  /// Shows every deferred line, scroll position and figure now.
  void FlushDisplay();

  /// Fits the window to a screen whose free area is `available`: on one
  /// smaller than the window, the window takes that area and its controls
  /// scroll inside it, in their places; otherwise nothing changes. The
  /// window is fitted to its screen when made.
  void FitScreen(const QRect& available);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void SetTabOrder();
  // Each connects the handlers of one area; defined beside those handlers.
  void ConnectRunHandlers(Platform& platform);
  void ConnectSettingsHandlers();
  void ConnectUpdateHandlers();
  LineList* List(ListBox list) const;
  QLineEdit* Figure(FigureBox box) const;
  /// Paints at the display's pace: at once when the last paint is older
  /// than one frame, otherwise as soon as the event loop runs again.
  void RequestPaint();
  /// Applies deferred changes; fills `changed` with the controls that need
  /// painting and returns how many.
  int FlushDisplay(QWidget* changed[7]);

  std::string program_folder_;
  MessageLists lists_{*this};

  QGroupBox* Frame1;
  QGroupBox* Frame2;
  QGroupBox* Frame3;
  QGroupBox* Frame4;
  QGroupBox* Frame5;
  QGroupBox* Frame6;
  LineList* List1;
  LineList* List2;
  LineList* List3;
  QListWidget* List4;
  QCheckBox* Check1;
  QCheckBox* Check2;
  QCheckBox* Check3;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLineEdit* Text1_;
  QLineEdit* Text2_;
  QLineEdit* Text3;
  QLineEdit* Text4;
  QLineEdit* Text5;
  QLineEdit* Text6;
  QLineEdit* Text7;
  QPushButton* Command2;
  QPushButton* Command3;
  QPushButton* Command4;
  QPushButton* Command5;
  QPushButton* Command6;
  QPushButton* Command10;
  QPushButton* Command11;
  QPushButton* options_button_;
  QTimer* Timer3;

  // The run's scan takes no user input but what ends it.
  InputHold* input_hold_;
  QTimer* paint_timer_;
  std::chrono::steady_clock::time_point last_paint_{};
  bool figures_pending_ = false;
  QString figure_text_[4];
  // A figure set as a count keeps the number until it is shown.
  bool figure_is_count_[4] = {};
  int64_t figure_count_[4] = {};

  // --- Backup run (form1_run.cc) ---
 public:
  /// The program is ending: every run under way stops before its next file
  /// and unwinds. Used by "Exit" and by closing the window.
  void AbandonRun();

 private:
  std::unique_ptr<BackupRun> run_;

  // --- Start-up, settings, profiles, folder picker (form1_settings.cc) ---
 public:
  /// Start-up, run once before the window is first shown: the version and
  /// the caption, the profiles folder (made when nothing of that name is
  /// there), the profile list, and the folder boxes from the settings file.
  void Form_Load();
  /// "Exit": writes the settings file, then ends the program. A file that
  /// cannot be written is first reported in a warning box that names it and
  /// the reason.
  void Command6_Click();
  /// "Save Profile": saves the folders and the three options under the
  /// name in Text7 (made from Text1 when empty) after asking.
  void Command10_Click();
  /// A selection in the profile list: loads the first selected profile,
  /// its options too.
  void List4_Click();
  /// "Options...": the options dialog on the window's current options.
  void EditOptions();
  /// "Source:" and "Destination:": the folder picker into Text1 or Text2;
  /// a cancelled picker leaves the box as it was.
  void Command4_Click();
  void Command5_Click();

 private:
  Dialogs& dialogs();
  /// Refills List4 from the profiles folder, nothing selected.
  void FillList4();

  // The leave-out list and the lines of later versions: the window's own
  // (options.txt) until a profile or the dialog replaces them.
  ProfileOptions options_;
  // options.txt was damaged at start-up: it is written at "Exit" only once
  // the options were set anew.
  bool options_file_damaged_ = false;
  QtDialogs qt_dialogs_{this};
  // Answers every message box and folder dialog instead of qt_dialogs_
  // when set. Not owned.
  Dialogs* dialogs_ = nullptr;
  // What "Exit" calls last to end the program: abandons a run under way and
  // leaves the event loop.
  std::function<void()> end_program_;

  // --- Version check (form1_update.cc) ---
 public:
  /// Opens an address in the user's web browser; returns whether it could.
  using UrlOpener = std::function<bool(const std::string& address)>;

  /// One tick of Timer3: the third starts the version check.
  void Timer3_Timer();
  /// Says in List3 that the check begins and has the UpdateChecker (a child
  /// object of that name) load the version page at `address`; returns at
  /// once. When the page names a newer version, List3 says so and the notice
  /// offers its download page; when it names the same or an older one, List3
  /// says that. A page that fails, times out or carries no version marker
  /// ends the check without a further word.
  void CheckNewVersion(const std::string& address);

 private:
  /// Words the check's verdict in List3 and offers a newer version.
  void VersionJudged(VersionVerdict verdict);
  /// The notice's answer: "Yes, Download" opens the download page.
  void NoticeAnswered(bool download);
  /// `path` on the maker's web server.
  std::string SiteAddress(const std::string& path) const;

  std::string VersionText_;
  // Ticks of Timer3 since start-up; back to 0 when it reaches 1000.
  int UpdateTicks_ = 0;
  // True once this program start's version check has begun: it never
  // starts again.
  bool VersionChecked_ = false;
  // The answer given in the new-version notice: true for "Yes, Download".
  bool DownloadWanted_ = false;
  // The maker's web server.
  std::string update_site_ = FERRYBOX_UPDATE_SITE;
  // Opens the download page: the desktop's browser.
  UrlOpener open_url_;
  UpdateChecker* update_checker_ = nullptr;
  // The new-version notice; null until a check first needs it.
  Form9* Form9_ = nullptr;

  // The window tests answer its dialogs, keep "Exit" from ending them, point
  // the version check at a loopback server and see the pages it opens
  // (tests/ui/form1_fixture.h).
  friend class Form1Seams;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_FORM1_H_
