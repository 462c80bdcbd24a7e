// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, "Exit", profiles and the folder picker.
#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>

#include "platform/platform.h"
#include "settings/options_file.h"
#include "settings/profile.h"
#include "settings/profile_name.h"
#include "settings/profiles_folder.h"
#include "settings/settings_file.h"
#include "settings/version.h"
#include "ui/browse_folder.h"
#include "ui/form1.h"
#include "ui/fresh_keys.h"
#include "ui/name_bytes.h"

namespace ferrybox {
namespace {

QString FromBytes(const std::string& bytes) {
  return QString::fromStdString(bytes);
}

void SetCheckState(QCheckBox* check, int state) {
  // Clicks reach the greyed state only on a box that a profile made greyed.
  check->setTristate(state == 2);
  check->setCheckState(state == 2   ? Qt::PartiallyChecked
                       : state == 1 ? Qt::Checked
                                    : Qt::Unchecked);
}

// Loads a profile by click and key where a change of selection would not:
// a click, Space or Enter on the profile already selected loads it again,
// and Up or Down with nothing selected selects the current profile (the
// first after Tab), so that a lone profile loads by arrow key too.
class ProfileListInput : public QObject {
 public:
  ProfileListInput(QListWidget* list, std::function<void()> load)
      : QObject(list), list_(list), load_(std::move(load)) {
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
    connect(list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) {
              if (std::exchange(pressed_selected_, nullptr) == item &&
                  item->isSelected())
                load_();
            });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == list_->viewport() &&
        event->type() == QEvent::MouseButtonPress) {
      QListWidgetItem* item =
          list_->itemAt(static_cast<QMouseEvent*>(event)->position().toPoint());
      pressed_selected_ =
          item != nullptr && item->isSelected() ? item : nullptr;
      return false;
    }
    if (watched != list_ || event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() != Qt::NoModifier &&
        key->modifiers() != Qt::KeypadModifier)
      return false;
    QListWidgetItem* current = list_->currentItem();
    switch (key->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
        if (list_->count() == 0 || !list_->selectedItems().isEmpty())
          return false;
        list_->setCurrentRow(current != nullptr ? list_->row(current) : 0);
        return true;
      case Qt::Key_Space:
      case Qt::Key_Return:
      case Qt::Key_Enter:
        if (current == nullptr || !current->isSelected()) return false;
        if (!HeldKeys::Instance().IsRepeat(*key)) load_();
        return true;
      default:
        return false;
    }
  }

 private:
  QListWidget* list_;
  std::function<void()> load_;
  // The selected profile a mouse button went down on.
  QListWidgetItem* pressed_selected_ = nullptr;
};

}  // namespace

void Form1::ConnectSettingsHandlers() {
  end_program_ = [this] {
    // A run under way returns without touching another file.
    AbandonRun();
    QCoreApplication::exit(0);
  };
  connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
  connect(Command10, &QPushButton::clicked, this, &Form1::Command10_Click);
  connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
  connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
  // A profile loads whenever an entry becomes selected, by mouse or keys.
  connect(List4, &QListWidget::itemSelectionChanged, this, &Form1::List4_Click);
  new ProfileListInput(List4, [this] { List4_Click(); });
  connect(options_button_, &QPushButton::clicked, this, &Form1::EditOptions);
}

LeaveOutOptions Form1::LeaveOut() const {
  return {options_.leave_out, options_.leave_out_caches};
}

void Form1::EditOptions() {
  if (!dialogs().EditOptions(&options_)) return;
  options_file_damaged_ = false;
}

Dialogs& Form1::dialogs() {
  return dialogs_ != nullptr ? *dialogs_ : qt_dialogs_;
}

void Form1::Form_Load() {
  UpdateTicks_ = 0;
  VersionChecked_ = false;
  VersionText_ = ProgramVersionText();
  setWindowTitle(FromBytes("Ferrybox" + std::string(15, ' ') +
                           "Version: " + VersionText_));
  Platform& platform = DefaultPlatform();
  EnsureProfilesFolder(platform, program_folder_);
  FillList4();

  const std::string settings_path = SettingsFilePath(program_folder_);
  if (FileExists(platform, settings_path)) {
    std::vector<std::string> folders;
    std::string err;
    // An unreadable settings file is like none: the boxes keep their texts.
    if (ReadSettingsFile(settings_path, &folders, &err)) {
      if (folders.size() > 0) Text1_->setText(ShownName(folders[0]));
      if (folders.size() > 1) Text2_->setText(ShownName(folders[1]));
    }
  }
  const OptionsRead options =
      ReadOptionsFile(platform, WindowOptionsPath(program_folder_));
  if (options.ok()) {
    options_ = options.options;
  } else {
    // Kept as it is until the user sets the options anew.
    options_file_damaged_ = true;
    dialogs().ShowMessage(
        {"The options were not loaded: " + FromBytes(options.error), "Options",
         MessageButtons::kOk, MessageIcon::kWarning, MessageAnswer::kOk});
  }
}

void Form1::FillList4() {
  const QSignalBlocker blocker(List4);
  List4->clear();
  for (const std::string& name :
       ListFiles_p(DefaultPlatform(), ProfilesFolder(program_folder_) + "/",
                   kProfileExtension)) {
    auto* item = new QListWidgetItem(ShownName(name), List4);
    // The name as the file system has it, whatever its display became.
    item->setData(Qt::UserRole, QByteArray::fromStdString(name));
  }
  List4->setCurrentRow(-1);
}

void Form1::Command6_Click() {
  const std::string path = SettingsFilePath(program_folder_);
  std::string err;
  if (!WriteSettingsFile(path, Text1(), Text2(), &err)) {
    // The program still ends, and the earlier file stays as it was; the
    // user learns that the folders will not be there at the next start.
    dialogs().ShowMessage({"The folders were not saved in " + FromBytes(path) +
                               ":\n" + FromBytes(err),
                           "Exit", MessageButtons::kOk, MessageIcon::kWarning,
                           MessageAnswer::kOk});
  }
  const std::string options_path = WindowOptionsPath(program_folder_);
  if (!options_file_damaged_ &&
      !WriteOptionsFile(DefaultPlatform(), options_path, options_, &err)) {
    dialogs().ShowMessage({"The options were not saved in " +
                               FromBytes(options_path) + ":\n" + FromBytes(err),
                           "Exit", MessageButtons::kOk, MessageIcon::kWarning,
                           MessageAnswer::kOk});
  }
  end_program_();
}

void Form1::Command10_Click() {
  if (Text7->text().isEmpty())
    Text7->setText(ShownName(ProfileNameFromSource(Text1())));
  const std::string name = NameBytes(Text7->text());
  if (!IsPlainProfileName(name)) {
    dialogs().ShowMessage(
        {"A profile name cannot contain \"/\" and cannot be \".\" or \"..\". "
         "Nothing was saved.",
         "Save Profile", MessageButtons::kOk, MessageIcon::kWarning,
         MessageAnswer::kOk});
    return;
  }
  const MessageAnswer answer = dialogs().ShowMessage(
      {"Save as: " + Text7->text(), "Save Profile As", MessageButtons::kYesNo,
       MessageIcon::kQuestion, MessageAnswer::kYes});
  if (answer != MessageAnswer::kYes) return;

  const Profile profile{Text1(), Text2(), CheckValue(CheckBox::kCheck1),
                        CheckValue(CheckBox::kCheck2),
                        CheckValue(CheckBox::kCheck3)};
  std::string err;
  // The options first: a profile is never found with another's options.
  if (!WriteOptionsFile(
          DefaultPlatform(),
          ProfileOptionsPath(program_folder_, name + kProfileExtension),
          options_, &err) ||
      !WriteProfile(ProfilePath(program_folder_, name), profile, &err)) {
    dialogs().ShowMessage({"The profile was not saved: " + FromBytes(err),
                           "Save Profile", MessageButtons::kOk,
                           MessageIcon::kWarning, MessageAnswer::kOk});
  } else if (const size_t escaped = ScheduledNameLength(name);
             escaped > kLongestScheduledName) {
    // Saved and usable here; only a scheduled backup cannot name it.
    dialogs().ShowMessage(
        {QString("The profile was saved, but its name is too long to be "
                 "scheduled: escaped for systemd it has %1 characters, and "
                 "at most %2 fit. Save it under a shorter name to schedule "
                 "it.")
             .arg(escaped)
             .arg(kLongestScheduledName),
         "Save Profile", MessageButtons::kOk, MessageIcon::kWarning,
         MessageAnswer::kOk});
  }
  FillList4();
}

void Form1::List4_Click() {
  int index = 0;
  while (index < List4->count() && !List4->item(index)->isSelected()) ++index;
  if (index == List4->count()) return;
  const std::string file_name =
      List4->item(index)->data(Qt::UserRole).toByteArray().toStdString();
  ProcessEvents();

  const ProfileRead read =
      ReadProfile(ProfilesFolder(program_folder_) + "/" + file_name);
  // A damaged options file refuses the whole profile, as a damaged profile
  // does: never half loaded, never taken for an empty list.
  const OptionsRead options = ReadOptionsFile(
      DefaultPlatform(), ProfileOptionsPath(program_folder_, file_name));
  const std::string& error = !read.ok() ? read.error : options.error;
  if (!error.empty()) {
    dialogs().ShowMessage({"The profile was not loaded: " + FromBytes(error),
                           "Load Profile", MessageButtons::kOk,
                           MessageIcon::kWarning, MessageAnswer::kOk});
    return;
  }
  options_ = options.options;
  options_file_damaged_ = false;
  Text1_->setText(ShownName(read.profile.source));
  Text2_->setText(ShownName(read.profile.destination));
  SetCheckState(Check1, read.profile.check1);
  SetCheckState(Check2, read.profile.check2);
  SetCheckState(Check3, read.profile.check3);
  dialogs().ShowMessage({"Profile Loaded.", "", MessageButtons::kOk,
                         MessageIcon::kNone, MessageAnswer::kOk});
}

// A cancelled picker is no choice: the box keeps what it held.
void Form1::Command4_Click() {
  const std::string folder = BrowseFolder(dialogs());
  if (!folder.empty()) Text1_->setText(ShownName(folder));
}

void Form1::Command5_Click() {
  const std::string folder = BrowseFolder(dialogs());
  if (!folder.empty()) Text2_->setText(ShownName(folder));
}

}  // namespace ferrybox
