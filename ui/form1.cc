// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/copy_log.h"
#include "ui/enter_button.h"
#include "ui/fresh_keys.h"
#include "ui/input_hold.h"
#include "ui/line_list.h"
#include "ui/name_bytes.h"
#include "ui/window_roles.h"

namespace ferrybox {
namespace {

// Layout figures are in twips; 15 twips make one pixel.
QRect Twips(int left, int top, int width, int height) {
  return QRect(left / 15, top / 15, width / 15, height / 15);
}

// The window's size, where the screen has room for it.
constexpr QSize kFullSize(1021, 682);

// A paint older than this is one display frame old.
constexpr std::chrono::milliseconds kFrame{15};

// A check box whose caption wraps onto a second line when its box is too
// narrow for one, as "Incremental Backup" is.
class WrappingCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_CheckBox, option);
    option.text = caption;
    const QRect text_rect =
        style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
    painter.drawText(text_rect,
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                     caption);
  }
  // The caption is part of the control: a click on either line toggles it.
  bool hitButton(const QPoint& pos) const override {
    return rect().contains(pos);
  }
};

// What assistive technology calls a control, and how it describes it where
// its caption alone does not say what it does.
void Describe(QWidget* control, const char* name, const char* description) {
  if (name != nullptr) control->setAccessibleName(name);
  if (description != nullptr) control->setAccessibleDescription(description);
}

template <typename T>
T* Place(QWidget* parent, const char* name, QRect geometry) {
  T* control = new T(parent);
  control->setObjectName(name);
  control->setGeometry(geometry);
  return control;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const char* caption,
                     QRect geometry) {
  auto* frame = Place<QGroupBox>(parent, name, geometry);
  frame->setTitle(caption);
  return frame;
}

// A button, label or text box with its caption or initial text.
template <typename T>
T* Captioned(QWidget* parent, const char* name, const QString& caption,
             QRect geometry) {
  T* control = Place<T>(parent, name, geometry);
  control->setText(caption);
  return control;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption,
                     bool ticked, QRect geometry) {
  auto* check = Place<WrappingCheckBox>(parent, name, geometry);
  check->setText(caption);
  check->setChecked(ticked);
  return check;
}

}  // namespace

Form1::Form1(std::string program_folder, Platform& platform, QWidget* parent)
    : QWidget(parent), program_folder_(std::move(program_folder)) {
  InstallWindowRoles();
  setObjectName("Form1");
  QFont font("Arial");
  font.setPointSizeF(8.25);
  setFont(font);
  setFixedSize(kFullSize);
  BuildControls();
  SetTabOrder();
  if (const QScreen* screen = this->screen())
    FitScreen(screen->availableGeometry());
  input_hold_ = new InputHold(this, {Command2, Command6});
  // Keys are followed as they come, also those the scan holds back.
  HeldKeys::Instance().WatchFirst();

  paint_timer_ = new QTimer(this);
  paint_timer_->setSingleShot(true);
  paint_timer_->setInterval(0);
  connect(paint_timer_, &QTimer::timeout, this, [this] { FlushDisplay(); });

  Timer3 = new QTimer(this);
  Timer3->setObjectName("Timer3");
  Timer3->setInterval(1000);
  Timer3->start();

  ConnectRunHandlers(platform);
  ConnectSettingsHandlers();
  ConnectUpdateHandlers();
}

Form1::~Form1() = default;

void Form1::BuildControls() {
  Frame1 =
      MakeFrame(this, "Frame1", "Copy Files From:", Twips(60, 0, 5655, 8235));
  Frame2 =
      MakeFrame(this, "Frame2", "Copy Files To:", Twips(5760, 0, 5655, 8235));
  Frame4 = MakeFrame(this, "Frame4",
                     "Messages and Errors:", Twips(11460, 0, 3795, 3975));
  Frame6 = MakeFrame(this, "Frame6", "Choose Profile, Click to load:",
                     Twips(11460, 3960, 3795, 6255));
  Frame3 =
      MakeFrame(this, "Frame3", "Folder Select", Twips(60, 8220, 11355, 975));
  Frame5 = MakeFrame(this, "Frame5", "Controls", Twips(60, 9180, 11355, 1035));

  List1 = Place<LineList>(Frame1, "List1", Twips(60, 240, 5535, 7620));
  Check1 = MakeCheck(Frame1, "Check1", "Show Files", true,
                     Twips(60, 7920, 1215, 255));
  Label5 =
      Captioned<QLabel>(Frame1, "Label5", "Hint: Show files = slower copying",
                        Twips(1800, 7935, 2955, 195));

  List2 = Place<LineList>(Frame2, "List2", Twips(60, 240, 5475, 7620));
  Check2 = MakeCheck(Frame2, "Check2", "Show Files", true,
                     Twips(60, 7920, 1215, 255));

  List3 = Place<LineList>(Frame4, "List3", Twips(60, 240, 3675, 3630));

  // The list gives up a row to "Options...".
  List4 = Place<QListWidget>(Frame6, "List4", Twips(60, 240, 3675, 5160));
  List4->setSelectionMode(QAbstractItemView::SingleSelection);
  List4->setSortingEnabled(false);
  options_button_ = Captioned<EnterButton>(
      Frame6, "OptionsButton", "Options...", Twips(60, 5445, 1095, 315));
  Command10 = Captioned<EnterButton>(Frame6, "Command10", "Save Profile",
                                     Twips(60, 5820, 1095, 315));
  Text7 = Captioned<QLineEdit>(Frame6, "Text7", QString(),
                               Twips(1200, 5820, 2535, 315));

  const QString home = QDir::homePath();
  Command4 = Captioned<EnterButton>(Frame3, "Command4",
                                    "Source:", Twips(120, 240, 1095, 255));
  Text1_ = Captioned<QLineEdit>(Frame3, "Text1", home + "/allfiles",
                                Twips(1260, 240, 9975, 285));
  Text1_->setToolTip(
      "Directory to be backed up and made a copy from. This directory MUST "
      "already exist!");
  Command5 = Captioned<EnterButton>(Frame3, "Command5",
                                    "Destination:", Twips(120, 600, 1095, 255));
  Text2_ = Captioned<QLineEdit>(Frame3, "Text2", home + "/allfilesbackup",
                                Twips(1260, 600, 9975, 285));
  Text2_->setToolTip(
      "Directory where the backed up files should be stored. This directory "
      "MUST already exist!");

  Command3 = Captioned<EnterButton>(Frame5, "Command3", "Go",
                                    Twips(120, 240, 1335, 315));
  Command2 = Captioned<EnterButton>(Frame5, "Command2", "Stop",
                                    Twips(1560, 240, 1335, 315));
  Command11 = Captioned<EnterButton>(Frame5, "Command11", "Pause Copying",
                                     Twips(120, 600, 1335, 315));
  Command6 = Captioned<EnterButton>(Frame5, "Command6", "Exit",
                                    Twips(1560, 600, 1335, 315));
  Check3 = MakeCheck(Frame5, "Check3", "Incremental Backup", false,
                     Twips(3060, 360, 1155, 495));
  Label1 = Captioned<QLabel>(Frame5, "Label1", "Scanning Files",
                             Twips(4320, 300, 1095, 255));
  Text3 =
      Captioned<QLineEdit>(Frame5, "Text3", "0", Twips(4320, 600, 1095, 285));
  Label2 = Captioned<QLabel>(Frame5, "Label2", "Copying Files",
                             Twips(5520, 300, 1095, 255));
  Text4 =
      Captioned<QLineEdit>(Frame5, "Text4", "0", Twips(5460, 600, 1095, 285));
  Label3 = Captioned<QLabel>(Frame5, "Label3", "Mb Copied",
                             Twips(6900, 300, 1095, 255));
  Text5 =
      Captioned<QLineEdit>(Frame5, "Text5", "0", Twips(6600, 600, 1575, 285));
  // Wider than its neighbours so that the caption is not clipped; the
  // label is transparent and has nothing to its right.
  Label4 = Captioned<QLabel>(Frame5, "Label4", "Mb per Second",
                             Twips(8340, 300, 1200, 255));
  Text6 =
      Captioned<QLineEdit>(Frame5, "Text6", "0", Twips(8220, 600, 1335, 285));

  for (int i = 0; i < 4; ++i) figure_text_[i] = "0";

  // A screen reader would otherwise name the boxes after their frames
  // ("Folder Select", "Controls" four times) and both check boxes "Show
  // Files". Buttons whose caption says what they do keep it as their name,
  // so "Pause Copying" follows its caption to "Resume Copying". The folder
  // boxes are described by their tooltips.
  Describe(List1, "Source files",
           "The path of each source file the run handles, newest last. "
           "Filled only while Show Files under it is ticked.");
  Describe(List2, "Destination actions",
           "What the run does in the destination for each file: folders "
           "checked and created, files new or updated; newest last. Filled "
           "only while Show Files under it is ticked.");
  Describe(List3, "Messages and errors",
           "The start and end of each run, failed copies and the version "
           "check; newest last.");
  Describe(List4, "Profiles",
           "Saved profiles. Selecting one loads its folders and options.");
  Describe(Text7, "Profile name",
           "The name Save Profile saves under. When empty, a name is made "
           "from the source folder.");
  Describe(Command10, nullptr,
           "Saves both folders and the three options as a profile under the "
           "profile name.");
  Describe(options_button_, nullptr,
           "Opens the options: what a backup leaves out. Saved with the "
           "profile.");
  Describe(Command4, "Source: choose folder",
           "Opens a folder picker for the source folder.");
  Describe(Text1_, "Source folder", nullptr);
  Describe(Command5, "Destination: choose folder",
           "Opens a folder picker for the destination folder.");
  Describe(Text2_, "Destination folder", nullptr);
  Describe(Check1, "Show Files in source list",
           "Lists each source file during a run. Copying is slower while "
           "ticked.");
  Describe(Check2, "Show Files in destination list",
           "Lists what the run does in the destination. Copying is slower "
           "while ticked.");
  Describe(Command3, nullptr,
           "Starts a backup of the source folder into the destination "
           "folder.");
  Describe(Command2, nullptr, "Stops the run under way.");
  Describe(Command11, nullptr,
           "Pauses the run under way, or resumes a paused one.");
  Describe(Command6, nullptr,
           "Saves the two folders for the next start and ends the program.");
  Describe(Check3, nullptr,
           "Copies only the files that are new or changed since the last "
           "backup. When clear, every file is copied.");
  Describe(Text3, "Files handled", "Files the run has handled so far.");
  Describe(Text4, "Files copied",
           "Files given to copying in this run, failed copies included.");
  Describe(Text5, "Megabytes handled",
           "Megabytes of the files handled so far, copied or not.");
  Describe(Text6, "Megabytes per second",
           "How fast the run handles files, in megabytes per second.");
  // The captions above the figure boxes are their visible labels.
  Label1->setBuddy(Text3);
  Label2->setBuddy(Text4);
  Label3->setBuddy(Text5);
  Label4->setBuddy(Text6);
}

void Form1::FitScreen(const QRect& available) {
  if (available.width() >= kFullSize.width() &&
      available.height() >= kFullSize.height())
    return;
  if (findChild<QScrollArea*>("Scroller", Qt::FindDirectChildrenOnly) ==
      nullptr) {
    // The controls move as they are, in their places, onto a page the size
    // of the whole window, which scrolls.
    auto* page = new QWidget;
    page->setObjectName("Page");
    page->setFixedSize(kFullSize);
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      child->setParent(page);
    auto* scroller = new QScrollArea(this);
    scroller->setObjectName("Scroller");
    scroller->setFrameShape(QFrame::NoFrame);
    // Tab goes from control to control as before; the area scrolls the one
    // with the focus into view.
    scroller->setFocusPolicy(Qt::NoFocus);
    scroller->setWidget(page);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroller);
  }
  // The frame the desktop draws round a shown window takes room too.
  const QSize frame = frameGeometry().size() - size();
  setMinimumSize(0, 0);
  setMaximumSize(kFullSize);
  resize((available.size() - frame).boundedTo(kFullSize));
  move(available.topLeft());
}

void Form1::SetTabOrder() {
  // Focus follows the controls' tab order numbers, lowest first.
  QWidget* const order[] = {
      List1,    List2,     Command4,  Text1_, Command5, Text2_,   Check1,
      Check2,   List3,     Command10, List4,  Text7,    Command6, Command3,
      Command2, Command11, Text6,     Text5,  Text4,    Text3,    Check3};
  for (size_t i = 1; i < std::size(order); ++i)
    QWidget::setTabOrder(order[i - 1], order[i]);
  // "Options..." comes after the profile name, before "Exit".
  QWidget::setTabOrder(Text7, options_button_);
}

std::string Form1::Text1() const { return NameBytes(Text1_->text()); }

std::string Form1::Text2() const { return NameBytes(Text2_->text()); }

int Form1::CheckValue(CheckBox box) const {
  const QCheckBox* check = box == CheckBox::kCheck1   ? Check1
                           : box == CheckBox::kCheck2 ? Check2
                                                      : Check3;
  switch (check->checkState()) {
    case Qt::Unchecked:
      return 0;
    case Qt::Checked:
      return 1;
    case Qt::PartiallyChecked:
      return 2;
  }
  return 0;
}

LineList* Form1::List(ListBox list) const {
  switch (list) {
    case ListBox::kList1:
      return List1;
    case ListBox::kList2:
      return List2;
    case ListBox::kList3:
      return List3;
  }
  return List3;
}

QLineEdit* Form1::Figure(FigureBox box) const {
  QLineEdit* const boxes[] = {Text3, Text4, Text5, Text6};
  return boxes[static_cast<int>(box)];
}

void Form1::SetFigure(FigureBox box, const std::string& text) {
  figure_text_[static_cast<int>(box)] = QString::fromStdString(text);
  figure_is_count_[static_cast<int>(box)] = false;
  figures_pending_ = true;
  RequestPaint();
}

void Form1::SetCount(FigureBox box, int64_t count) {
  figure_count_[static_cast<int>(box)] = count;
  figure_is_count_[static_cast<int>(box)] = true;
  figures_pending_ = true;
  RequestPaint();
}

void Form1::AddItem(ListBox list, const std::string& line) {
  List(list)->AddLine(QString::fromStdString(line));
}

void Form1::ClearList(ListBox list) { List(list)->Clear(); }

void Form1::SetTopIndex(ListBox list, int index) {
  List(list)->SetTopIndex(index);
}

void Form1::RepaintList(ListBox) { RequestPaint(); }

void Form1::RequestPaint() {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_paint_ >= kFrame) {
    last_paint_ = now;
    // Paint what changed now: the run may not return to the event loop for
    // a while. Only those controls: a whole-window paint costs far more.
    QWidget* changed[7];
    const int count = FlushDisplay(changed);
    for (int i = 0; i < count; ++i) changed[i]->repaint();
  } else if (!paint_timer_->isActive()) {
    paint_timer_->start();
  }
}

void Form1::FlushDisplay() {
  last_paint_ = std::chrono::steady_clock::now();
  QWidget* changed[7];
  FlushDisplay(changed);
}

int Form1::FlushDisplay(QWidget* changed[7]) {
  paint_timer_->stop();
  int count = 0;
  for (LineList* list : {List1, List2, List3}) {
    if (list->Flush()) changed[count++] = list;
  }
  if (figures_pending_) {
    for (int i = 0; i < 4; ++i) {
      if (figure_is_count_[i]) {
        figure_text_[i] = QString::number(figure_count_[i]);
        figure_is_count_[i] = false;
      }
      QLineEdit* edit = Figure(static_cast<FigureBox>(i));
      if (edit->text() != figure_text_[i]) {
        edit->setText(figure_text_[i]);
        changed[count++] = edit;
      }
    }
    figures_pending_ = false;
  }
  return count;
}

void Form1::ProcessEvents() {
  input_hold_->Release();
  // A run hands the event loop a turn far more often than a display frame
  // (every 101st file): what changed since the last paint waits for the
  // frame's end, or for the run to return to the loop.
  const bool held_back =
      paint_timer_->isActive() &&
      std::chrono::steady_clock::now() - last_paint_ < kFrame;
  if (held_back)
    paint_timer_->stop();
  else
    FlushDisplay();
  QApplication::processEvents();
  if (held_back) paint_timer_->start();
}

void Form1::KeepAlive() {
  FlushDisplay();
  // "Stop", "Exit" and closing the window act now; other clicks and keys
  // wait for the run's next ProcessEvents.
  input_hold_->ProcessEvents();
}

void Form1::ShowPaused(bool paused) {
  Command11->setText(paused ? "Resume Copying" : "Pause Copying");
}

void Form1::ReportFailure(const Failure& failure) {
  // The run adds the line first; the line keeps its exact text.
  const int row = List3->Count() - 1;
  if (!List3->Line(row).startsWith(kCopyErrorPrefix)) return;
  QString reason = QString::fromStdString(failure.Reason());
  if (failure.log_error != 0)
    reason += QString::fromStdString("\nNot written to the copy log: " +
                                     ErrorText(failure.log_error));
  List3->SetDetail(row, reason);
}

void Form1::closeEvent(QCloseEvent* event) {
  // Closing through the title bar saves nothing and ends the program, also
  // in the middle of a run.
  AbandonRun();
  event->accept();
  QApplication::exit(0);
}

}  // namespace ferrybox
