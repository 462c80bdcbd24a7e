#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include "tests/support/settings_files.h"
#include "tests/ui/form1_fixture.h"
#include "tests/ui/qstring_printer.h"
#include "ui/scripted_dialogs.h"

namespace ferrybox {
namespace {

using testing::NamesIn;
using testing::ReadBytes;
using testing::ScopedFileSizeLimit;
using testing::WriteBytes;
using Names = std::set<std::string>;

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
  void AddProfile(const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(At("profiles"));
    WriteBytes(At("profiles/" + name), bytes);
  }
  QListWidget* List4() { return Child<QListWidget>("List4"); }
  Names List4Names() {
    Names names;
    for (int i = 0; i < List4()->count(); ++i)
      names.insert(List4()->item(i)->text().toStdString());
    return names;
  }
  void ClickProfile(const QString& name) {
    const auto found = List4()->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    QTest::mouseClick(List4()->viewport(), Qt::LeftButton, {},
                      List4()->visualItemRect(found[0]).center());
  }
  void Click(const char* name) {
    QTest::mouseClick(Button(name), Qt::LeftButton);
  }
  void LoadAndShow() {
    form().Form_Load();
    form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form()));
  }
  /// The controls a profile load may change.
  std::string Controls() {
    return (Edit("Text1")->text() + "|" + Edit("Text2")->text() + "|" +
            QString::number(Check("Check1")->checkState()) +
            QString::number(Check("Check2")->checkState()) +
            QString::number(Check("Check3")->checkState()))
        .toStdString();
  }
  const MessageRequest& LastBox() { return dialogs_.messages().back(); }

  ScriptedDialogs dialogs_;
  int end_calls_ = 0;
};

TEST_F(Form1Settings, FirstStartMakesTheProfilesFolderAndKeepsInitialTexts) {
  form().UpdateTicks = 2;
  form().VersionChecked = true;
  form().Form_Load();
  EXPECT_EQ(form().UpdateTicks, 0);
  EXPECT_FALSE(form().VersionChecked);
  EXPECT_EQ(form().windowTitle(),
            "Ferrybox" + QString(15, ' ') + "Version: 1.1.28");
  EXPECT_EQ(form().VersionText, "1.1.28");
  EXPECT_TRUE(std::filesystem::is_directory(At("profiles")));
  EXPECT_EQ(List4()->count(), 0);
  EXPECT_EQ(Edit("Text1")->text(), QDir::homePath() + "/allfiles");
  EXPECT_EQ(Edit("Text2")->text(), QDir::homePath() + "/allfilesbackup");
  // Start-up writes no settings file and shows nothing.
  EXPECT_EQ(NamesIn(program_folder()), Names{"profiles"});
  EXPECT_TRUE(dialogs_.messages().empty());
}

TEST_F(Form1Settings, AFileNamedProfilesIsLeftAloneAndTheListStaysEmpty) {
  WriteBytes(At("profiles"), "not a folder");
  form().Form_Load();
  EXPECT_EQ(ReadBytes(At("profiles")), "not a folder");
  EXPECT_EQ(List4()->count(), 0);
}

TEST_F(Form1Settings, TwoLinesOfTheSettingsFileAreUsedAndTwoWrittenBack) {
  WriteBytes(At("config.txt"), "/no/such/src\r\n/no/such/dst\r\n/third\r\n");
  form().Form_Load();
  EXPECT_EQ(Edit("Text1")->text(), "/no/such/src");
  EXPECT_EQ(Edit("Text2")->text(), "/no/such/dst");
  Click("Command6");
  EXPECT_EQ(ReadBytes(At("config.txt")), "/no/such/src\r\n/no/such/dst\r\n");
}

TEST_F(Form1Settings, TheListShowsEveryFileWhoseNameHoldsDotPrf) {
  for (const char* name :
       {"work.prf", "a.prf.bak", ".prf", "WORK.PRF", "x.txt"})
    AddProfile(name, "");
  std::filesystem::create_directory(At("profiles/folder.prf"));
  form().Form_Load();
  EXPECT_EQ(List4Names(), (Names{"work.prf", "a.prf.bak", ".prf"}));
  EXPECT_TRUE(List4()->selectedItems().isEmpty());
}

TEST_F(Form1Settings, ExitKeepsSpacesAndAnEmptyDestinationForTheNextStart) {
  form().Form_Load();
  Edit("Text1")->setText(" /home/ann/my files ");
  Edit("Text2")->setText("");
  Check("Check3")->setChecked(true);
  Click("Command6");
  EXPECT_EQ(end_calls_, 1);
  EXPECT_EQ(ReadBytes(At("config.txt")), " /home/ann/my files \r\n\r\n");

  Form1 next_start(program_folder());
  next_start.Form_Load();
  EXPECT_EQ(next_start.Text1(), " /home/ann/my files ");
  EXPECT_EQ(next_start.Text2(), "");
  EXPECT_EQ(next_start.CheckValue(CheckBox::kCheck3), 0);
}

TEST_F(Form1Settings, AFailedWriteLeavesTheEarlierFilesIntact) {
  WriteBytes(At("config.txt"), "/old/src\r\n/old/dst\r\n");
  AddProfile("p.prf", "/a\r\n/b\r\n 1 \r\n 1 \r\n 0 \r\n");
  form().Form_Load();
  Edit("Text1")->setText(QString(200, 'n'));
  Edit("Text7")->setText("p");
  {
    ScopedFileSizeLimit limit(16);
    Click("Command10");
    Click("Command6");
  }
  EXPECT_EQ(end_calls_, 1);  // Exit still ends the program
  EXPECT_EQ(ReadBytes(At("config.txt")), "/old/src\r\n/old/dst\r\n");
  EXPECT_EQ(ReadBytes(At("profiles/p.prf")),
            "/a\r\n/b\r\n 1 \r\n 1 \r\n 0 \r\n");
  EXPECT_EQ(NamesIn(program_folder()), (Names{"config.txt", "profiles"}));
  EXPECT_EQ(NamesIn(At("profiles")), Names{"p.prf"});
  EXPECT_EQ(LastBox().icon, MessageIcon::kWarning);
  EXPECT_TRUE(LastBox().text.startsWith("The profile was not saved"));
}

TEST_F(Form1Settings, AnEmptyNameIsMadeFromTheSourceAskedForAndSaved) {
  form().Form_Load();
  Edit("Text1")->setText("/home/ann/all:files");
  Edit("Text2")->setText("/backup");
  dialogs_.SetNextAnswer(MessageAnswer::kYes);
  Click("Command10");

  EXPECT_EQ(Edit("Text7")->text(), "_home_ann_all_files");
  ASSERT_EQ(dialogs_.messages().size(), 1u);
  EXPECT_EQ(LastBox().text, "Save as: _home_ann_all_files");
  EXPECT_EQ(LastBox().title, "Save Profile As");
  EXPECT_EQ(LastBox().buttons, MessageButtons::kYesNo);
  EXPECT_EQ(LastBox().icon, MessageIcon::kQuestion);
  EXPECT_EQ(LastBox().default_answer, MessageAnswer::kYes);
  EXPECT_EQ(ReadBytes(At("profiles/_home_ann_all_files.prf")),
            "/home/ann/all:files\r\n/backup\r\n 1 \r\n 1 \r\n 0 \r\n");
  EXPECT_EQ(List4Names(), Names{"_home_ann_all_files.prf"});
  EXPECT_TRUE(List4()->selectedItems().isEmpty());
}

TEST_F(Form1Settings, AnsweringNoWritesNothingAndKeepsTheMadeName) {
  form().Form_Load();
  Edit("Text1")->setText("/data");
  dialogs_.SetNextAnswer(MessageAnswer::kNo);
  Click("Command10");
  EXPECT_EQ(Edit("Text7")->text(), "_data");
  EXPECT_TRUE(NamesIn(At("profiles")).empty());
  EXPECT_EQ(List4()->count(), 0);
}

TEST_F(Form1Settings, TypedNamesAreUsedUnchangedAndNoNameAtAllGivesDotPrf) {
  form().Form_Load();
  Edit("Text7")->setText("x.prf");
  Click("Command10");  // Yes is the default answer
  Edit("Text1")->setText("");
  Edit("Text7")->setText("");
  Click("Command10");
  EXPECT_EQ(LastBox().text, "Save as: ");
  EXPECT_EQ(List4Names(), (Names{"x.prf.prf", ".prf"}));
}

TEST_F(Form1Settings, ANameThatLeavesTheProfilesFolderIsRefused) {
  form().Form_Load();
  for (const char* name : {"../escape", "sub/name", ".", ".."}) {
    Edit("Text7")->setText(name);
    Click("Command10");
    EXPECT_EQ(LastBox().icon, MessageIcon::kWarning) << name;
    EXPECT_TRUE(LastBox().text.contains("\"/\"")) << name;
  }
  EXPECT_EQ(dialogs_.messages().size(), 4u);  // and no question asked
  EXPECT_EQ(NamesIn(program_folder()), Names{"profiles"});
  EXPECT_TRUE(NamesIn(At("profiles")).empty());
}

TEST_F(Form1Settings, ClickingAProfileRestoresFoldersAndAllThreeStates) {
  AddProfile("mixed.prf", " /a b/ \r\n/dest \r\n 0 \r\n1\r\n 2 \r\n");
  LoadAndShow();
  Edit("Text7")->setText("typed");
  ClickProfile("mixed.prf");
  EXPECT_EQ(Controls(), " /a b/ |/dest |021");
  EXPECT_EQ(form().CheckValue(CheckBox::kCheck3), 2);
  ASSERT_EQ(dialogs_.messages().size(), 1u);
  EXPECT_EQ(LastBox().text, "Profile Loaded.");
  EXPECT_EQ(LastBox().title, "");
  EXPECT_EQ(LastBox().buttons, MessageButtons::kOk);
  EXPECT_EQ(LastBox().icon, MessageIcon::kNone);
  EXPECT_EQ(Edit("Text7")->text(), "typed");
  EXPECT_EQ(List4Names(), Names{"mixed.prf"});
}

TEST_F(Form1Settings, ArrowKeysLoadEachProfileThatBecomesSelected) {
  AddProfile("one.prf", "/one\r\n/d\r\n 1 \r\n 1 \r\n 0 \r\n");
  AddProfile("two.prf", "/two\r\n/d\r\n 1 \r\n 1 \r\n 1 \r\n");
  LoadAndShow();
  ClickProfile(List4()->item(0)->text());
  const QString first = Edit("Text1")->text();
  QTest::keyClick(List4(), Qt::Key_Down);
  EXPECT_EQ((Names{first.toStdString(), Edit("Text1")->text().toStdString()}),
            (Names{"/one", "/two"}));
  QTest::keyClick(List4(), Qt::Key_Up);
  EXPECT_EQ(Edit("Text1")->text(), first);
  EXPECT_EQ(dialogs_.messages().size(), 3u);
}

TEST_F(Form1Settings, ADamagedOrVanishedProfileChangesNothing) {
  AddProfile("short.prf", "/s\r\n/d\r\n 0 \r\n 0 \r\n");
  AddProfile("three.prf", "/s\r\n/d\r\n 0 \r\n 3 \r\n 0 \r\n");
  AddProfile("gone.prf", "/s\r\n/d\r\n 0 \r\n 0 \r\n 1 \r\n");
  LoadAndShow();
  std::filesystem::remove(At("profiles/gone.prf"));
  const std::string before = Controls();
  for (const char* name : {"short.prf", "three.prf", "gone.prf"}) {
    ClickProfile(name);
    EXPECT_EQ(Controls(), before) << name;
    EXPECT_EQ(LastBox().icon, MessageIcon::kWarning) << name;
    EXPECT_TRUE(LastBox().text.contains(name)) << name;
  }
  EXPECT_EQ(dialogs_.messages().size(), 3u);
}

TEST_F(Form1Settings, TheFolderButtonsStoreWhatTheDialogGives) {
  dialogs_.SetNextDirectory("/srv/photos");
  Click("Command4");
  dialogs_.SetNextDirectory("/");
  Click("Command5");
  EXPECT_EQ(Edit("Text1")->text(), "/srv/photos");
  EXPECT_EQ(Edit("Text2")->text(), "/");
  dialogs_.SetNextDirectory("");  // cancelled
  Click("Command4");
  EXPECT_EQ(Edit("Text1")->text(), "");
  EXPECT_EQ(Edit("Text2")->text(), "/");
  ASSERT_EQ(dialogs_.folder_requests().size(), 3u);
  for (const auto& request : dialogs_.folder_requests()) {
    EXPECT_EQ(request.title, "This is the title");
    EXPECT_EQ(request.start_folder, QDir::homePath());
  }
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
  bool clicked = false;
  QTimer::singleShot(0, [&] {
    clicked = true;
    QTest::mouseClick(Button("Command6"), Qt::LeftButton);
  });
  QTest::mouseClick(Button("Command3"), Qt::LeftButton);
  ASSERT_TRUE(clicked);

  EXPECT_EQ(ReadBytes(program_folder() + "/config.txt"),
            source.path() + "\r\n" + destination.path() + "\r\n");
  const Names copied = NamesIn(destination.path());
  EXPECT_GT(copied.size(), 0u);
  EXPECT_LT(copied.size(), 500u);
  for (const std::string& name : copied)
    EXPECT_EQ(ReadBytes(destination / name), ReadBytes(source / name)) << name;
  for (int i = 0; i < Lines("List3")->Count(); ++i)
    EXPECT_FALSE(Lines("List3")->Line(i).startsWith("Finished")) << i;

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
