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
#include "ui/qt_dialogs.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace ferrybox {

class LineList;

/// The program's working window. It owns the controls and every value that
/// lives as long as the window; its event handlers are thin calls into the
/// engine, settings and update layers. Controls carry their names as object
/// names ("Text1", "Command3", ...), which is how tests find them.
class Form1 : public QWidget, public Window {
  Q_OBJECT

 public:
  /// `program_folder` holds the settings file, the profiles folder and the
  /// copy log.
  explicit Form1(std::string program_folder, QWidget* parent = nullptr);
  ~Form1() override;

  const std::string& program_folder() const { return program_folder_; }

  /// The program's version as text, "1.1.28"; set by Form_Load.
  std::string VersionText;
  MessageLists& lists() { return lists_; }

  // Window, as the engine sees it.
  std::string Text1() const override;
  std::string Text2() const override;
  int CheckValue(CheckBox box) const override;
  void SetFigure(FigureBox box, const std::string& text) override;
  void AddItem(ListBox list, const std::string& line) override;
  void ClearList(ListBox list) override;
  void SetTopIndex(ListBox list, int index) override;
  void RepaintList(ListBox list) override;
  void ProcessEvents() override;
  void ShowPaused(bool paused) override;

  /// Shows every deferred line, scroll position and figure now.
  void FlushDisplay();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void SetTabOrder();
  // Each connects the handlers of one area; defined beside those handlers.
  void ConnectRunHandlers();
  void ConnectSettingsHandlers();
  void ConnectUpdateHandlers();
  LineList* List(ListBox list) const;
  QLineEdit* Figure(FigureBox box) const;
  /// Paints at the display's pace: at once when the last paint is older
  /// than one frame, otherwise as soon as the event loop runs again.
  void RequestPaint();

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
  QTimer* Timer3;

  QTimer* paint_timer_;
  std::chrono::steady_clock::time_point last_paint_{};
  bool figures_pending_ = false;
  QString figure_text_[4];

  // --- Backup run (form1_run.cc) ---
 public:
  /// The run's state and the run itself ("Go", "Stop", "Pause Copying").
  BackupRun& run() { return *run_; }
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
  /// "Exit": writes the settings file, then ends the program.
  void Command6_Click();
  /// "Save Profile": saves the folders and the three options under the
  /// name in Text7 (made from Text1 when empty) after asking.
  void Command10_Click();
  /// A selection in the profile list: loads the first selected profile.
  void List4_Click();
  /// "Source:" and "Destination:": the folder picker into Text1 or Text2.
  void Command4_Click();
  void Command5_Click();

  /// Answers every message box and folder dialog from now on; the window's
  /// own Qt dialogs when never set or set to nullptr. Not owned.
  void SetDialogs(Dialogs* dialogs) { dialogs_ = dialogs; }
  /// What "Exit" calls last to end the program: abandons a run under way
  /// and leaves the event loop, unless replaced.
  void SetEndProgram(std::function<void()> end_program) {
    end_program_ = std::move(end_program);
  }

 private:
  Dialogs& dialogs();
  /// Refills List4 from the profiles folder, nothing selected.
  void FillList4();

  QtDialogs qt_dialogs_{this};
  Dialogs* dialogs_ = nullptr;
  std::function<void()> end_program_;

  // --- Version check (form1_update.cc) ---
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_FORM1_H_
