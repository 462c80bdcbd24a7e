#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QListWidget>
#include <QTimer>
#include <tuple>

#include "tests/support/settings_files.h"
#include "tests/ui/form1_fixture.h"
#include "tests/ui/qstring_printer.h"
#include "ui/scripted_dialogs.h"

namespace ferrybox {
namespace {

using testing::NamesIn;
using testing::ReadBytes;
using testing::WriteBytes;
using Names = std::set<std::string>;

auto Fields(const MessageRequest& box) {
  return std::tuple(box.text, box.title, box.buttons, box.icon,
                    box.default_answer);
}

class Form1Settings : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    form().SetDialogs(&dialogs_);
    form().SetEndProgram([this] { ++end_calls_; });
  }
  std::string At(const std::string& name) const {
    return program_folder() + "/" + name;
  }
  Names List4Names() {
    auto* list4 = Child<QListWidget>("List4");
    Names names;
    for (int i = 0; i < list4->count(); ++i)
      names.insert(list4->item(i)->text().toStdString());
    return names;
  }
  void Select(const char* profile) {
    auto* list4 = Child<QListWidget>("List4");
    list4->setCurrentItem(list4->findItems(profile, Qt::MatchExactly).value(0));
  }
  /// The controls a profile load may change.
  std::string Controls() {
    std::string text = form().Text1() + "|" + form().Text2() + "|";
    for (CheckBox box :
         {CheckBox::kCheck1, CheckBox::kCheck2, CheckBox::kCheck3})
      text += std::to_string(form().CheckValue(box));
    return text;
  }
  const MessageRequest& LastBox() { return dialogs_.messages().back(); }

  ScriptedDialogs dialogs_;
  int end_calls_ = 0;
};

TEST_F(Form1Settings, FirstStartMakesOnlyTheProfilesFolder) {
  form().UpdateTicks = 2;
  form().VersionChecked = true;
  form().Form_Load();
  EXPECT_EQ(form().UpdateTicks, 0);
  EXPECT_FALSE(form().VersionChecked);
  EXPECT_EQ(form().windowTitle(),
            "Ferrybox" + QString(15, ' ') + "Version: 1.1.28");
  EXPECT_TRUE(std::filesystem::is_directory(At("profiles")));
  EXPECT_EQ(Edit("Text1")->text(), QDir::homePath() + "/allfiles");
  EXPECT_EQ(Edit("Text2")->text(), QDir::homePath() + "/allfilesbackup");

  // A name that is not a plain file name is refused without a question.
  for (const char* name : {"../escape", "sub/name", ".", ".."}) {
    Edit("Text7")->setText(name);
    Button("Command10")->click();
  }
  EXPECT_EQ(dialogs_.messages().size(), 4u);
  EXPECT_EQ(LastBox().icon, MessageIcon::kWarning);
  EXPECT_EQ(NamesIn(program_folder()), Names{"profiles"});
  EXPECT_TRUE(NamesIn(At("profiles")).empty());
}

TEST_F(Form1Settings, ExitWritesTheTwoFoldersThatTheNextStartReads) {
  WriteBytes(At("config.txt"), "/no/such/src\r\n/no/such/dst\r\n/third\r\n");
  WriteBytes(At("profiles"), "not a folder");  // left alone: no profiles
  form().Form_Load();
  EXPECT_EQ(form().Text1(), "/no/such/src");
  EXPECT_EQ(form().Text2(), "/no/such/dst");
  EXPECT_EQ(ReadBytes(At("profiles")), "not a folder");

  Edit("Text1")->setText(" /home/ann/my files ");
  Edit("Text2")->setText("");
  Button("Command6")->click();
  EXPECT_EQ(end_calls_, 1);
  EXPECT_EQ(ReadBytes(At("config.txt")), " /home/ann/my files \r\n\r\n");
  Form1 next_start(program_folder());
  next_start.Form_Load();
  EXPECT_EQ(next_start.Text1(), " /home/ann/my files ");
  EXPECT_EQ(next_start.Text2(), "");
}

TEST_F(Form1Settings, SaveProfileAsksThenWritesUnderTheNameGivenOrMade) {
  const std::string saved =
      "/home/ann/all:files\r\n/backup\r\n 1 \r\n 1 \r\n 0 \r\n";
  form().Form_Load();
  Edit("Text1")->setText("/home/ann/all:files");
  Edit("Text2")->setText("/backup");
  dialogs_.SetNextAnswer(MessageAnswer::kNo);
  Button("Command10")->click();
  EXPECT_EQ(Edit("Text7")->text(), "_home_ann_all_files");
  EXPECT_EQ(Fields(LastBox()),
            Fields({"Save as: _home_ann_all_files", "Save Profile As",
                    MessageButtons::kYesNo, MessageIcon::kQuestion,
                    MessageAnswer::kYes}));
  EXPECT_TRUE(NamesIn(At("profiles")).empty());
  Button("Command10")->click();  // Yes, the default answer
  Edit("Text7")->setText("x.prf");
  Button("Command10")->click();
  EXPECT_EQ(ReadBytes(At("profiles/x.prf.prf")), saved);
  EXPECT_EQ(List4Names(), (Names{"_home_ann_all_files.prf", "x.prf.prf"}));

  // A failed write leaves the earlier files intact, and Exit still ends.
  WriteBytes(At("config.txt"), "/old/src\r\n/old/dst\r\n");
  Edit("Text1")->setText(QString(200, 'n'));
  {
    testing::ScopedFileSizeLimit limit(16);
    Button("Command10")->click();
    Button("Command6")->click();
  }
  EXPECT_TRUE(LastBox().text.startsWith("The profile was not saved"));
  EXPECT_EQ(end_calls_, 1);
  EXPECT_EQ(ReadBytes(At("config.txt")), "/old/src\r\n/old/dst\r\n");
  EXPECT_EQ(ReadBytes(At("profiles/x.prf.prf")), saved);
  EXPECT_EQ(NamesIn(program_folder()), (Names{"config.txt", "profiles"}));
  EXPECT_EQ(NamesIn(At("profiles")), List4Names());
}

TEST_F(Form1Settings, List4ShowsProfileFilesAndLoadsOnlyASoundOne) {
  std::filesystem::create_directory(At("profiles"));
  const std::pair<const char*, const char*> files[] = {
      {"mixed.prf", " /a b/ \r\n/dest \r\n 0 \r\n1\r\n 2 \r\n"},
      {"a.prf.bak", "/s\r\n/d\r\n 0 \r\n 0 \r\n"},        // four lines
      {".prf", "/s\r\n/d\r\n 0 \r\n 3 \r\n 0 \r\n"},      // a state 3
      {"gone.prf", "/s\r\n/d\r\n 0 \r\n 0 \r\n 1 \r\n"},  // removed
      {"WORK.PRF", ""},
      {"x.txt", ""}};
  for (const auto& [name, bytes] : files)
    WriteBytes(At("profiles/") + name, bytes);
  std::filesystem::create_directory(At("profiles/folder.prf"));
  form().Form_Load();
  EXPECT_EQ(List4Names(),
            (Names{"mixed.prf", "a.prf.bak", ".prf", "gone.prf"}));
  std::filesystem::remove(At("profiles/gone.prf"));

  const std::string before = Controls();
  for (const char* name : {"a.prf.bak", ".prf", "gone.prf"}) {
    Select(name);
    EXPECT_EQ(Controls(), before) << name;
    EXPECT_EQ(LastBox().icon, MessageIcon::kWarning) << name;
  }
  Select("mixed.prf");
  EXPECT_EQ(Controls(), " /a b/ |/dest |012");
  EXPECT_EQ(Fields(LastBox()),
            Fields({"Profile Loaded.", "", MessageButtons::kOk,
                    MessageIcon::kNone, MessageAnswer::kOk}));
  EXPECT_EQ(dialogs_.messages().size(), 4u);
}

TEST_F(Form1Settings, TheFolderButtonsStoreTheChosenFolder) {
  dialogs_.SetNextDirectory("/srv/photos");
  Button("Command4")->click();
  dialogs_.SetNextDirectory("/");
  Button("Command5")->click();
  EXPECT_EQ(form().Text1(), "/srv/photos");
  EXPECT_EQ(form().Text2(), "/");
}

// With the window's own way of ending the program.
using Form1ExitDuringRun = Form1Fixture;

TEST_F(Form1ExitDuringRun, ExitSavesAndTheRunStopsWithoutAnotherFile) {
  testing::TempFolder source;
  testing::TempFolder destination;
  for (int i = 0; i < 500; ++i)
    WriteBytes(source / ("f" + std::to_string(i)), std::string(100 + i, 'c'));
  form().Form_Load();
  Edit("Text1")->setText(QString::fromStdString(source.path()));
  Edit("Text2")->setText(QString::fromStdString(destination.path()));
  // "Exit" is clicked at the run's first yield to the event queue.
  QTimer::singleShot(0, [&] { Button("Command6")->click(); });
  Button("Command3")->click();
  EXPECT_EQ(ReadBytes(program_folder() + "/config.txt"),
            source.path() + "\r\n" + destination.path() + "\r\n");
  const Names copied = NamesIn(destination.path());
  EXPECT_GT(copied.size(), 0u);
  EXPECT_LT(copied.size(), 500u);
  for (const std::string& name : copied)
    EXPECT_EQ(ReadBytes(destination / name), ReadBytes(source / name)) << name;

  // The program was told to end: an event loop started now ends at once...
  QEventLoop loop;
  QTimer::singleShot(2000, &loop, [&] { loop.exit(1); });
  EXPECT_EQ(loop.exec(), -1);
  // ...until the application's own loop runs again, as later tests need.
  QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  QCoreApplication::exec();
}

}  // namespace
}  // namespace ferrybox
