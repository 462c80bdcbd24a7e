#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
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

  std::string InFolder(const std::string& name) const {
    return program_folder() + "/" + name;
  }
  std::string Profiles(const std::string& name = "") const {
    return InFolder("profiles") + (name.empty() ? "" : "/" + name);
  }

  QListWidget* List4() { return Child<QListWidget>("List4"); }
  Names List4Names() {
    Names names;
    for (int i = 0; i < List4()->count(); ++i)
      names.insert(List4()->item(i)->text().toStdString());
    return names;
  }
  int Row(const QString& name) {
    const auto found = List4()->findItems(name, Qt::MatchExactly);
    EXPECT_EQ(found.size(), 1) << name.toStdString();
    return found.empty() ? -1 : List4()->row(found.front());
  }
  /// Clicks an entry of List4 with the mouse.
  void ClickProfile(const QString& name) {
    const int row = Row(name);
    if (row < 0) return;
    const QRect rect = List4()->visualItemRect(List4()->item(row));
    QTest::mouseClick(List4()->viewport(), Qt::LeftButton, {}, rect.center());
  }
  void Click(const char* button) {
    QTest::mouseClick(Button(button), Qt::LeftButton);
  }

  /// The controls a profile load may change, as text for comparison.
  std::string ControlState() {
    return Edit("Text1")->text().toStdString() + "|" +
           Edit("Text2")->text().toStdString() + "|" +
           std::to_string(Check("Check1")->checkState()) +
           std::to_string(Check("Check2")->checkState()) +
           std::to_string(Check("Check3")->checkState());
  }

  void ShowWindow() {
    form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form()));
  }

  ScriptedDialogs dialogs_;
  int end_calls_ = 0;
};

// --- Start-up ---

TEST_F(Form1Settings, FirstStartMakesTheProfilesFolderAndKeepsTheInitialTexts) {
  form().Form_Load();
  EXPECT_TRUE(std::filesystem::is_directory(Profiles()));
  EXPECT_EQ(List4()->count(), 0);
  EXPECT_EQ(Edit("Text1")->text(), QDir::homePath() + "/allfiles");
  EXPECT_EQ(Edit("Text2")->text(), QDir::homePath() + "/allfilesbackup");
  // Start-up writes no settings file and shows nothing.
  EXPECT_EQ(NamesIn(program_folder()), Names{"profiles"});
  EXPECT_TRUE(dialogs_.messages().empty());
}

TEST_F(Form1Settings, CaptionCarriesTheVersion) {
  form().Form_Load();
  EXPECT_EQ(form().VersionText, "1.1.28");
  EXPECT_EQ(form().windowTitle(),
            "Ferrybox" + QString(15, ' ') + "Version: 1.1.28");
  EXPECT_TRUE(form().windowTitle().endsWith("Version: 1.1.28"));
}

TEST_F(Form1Settings, AFileNamedProfilesIsLeftAloneAndTheListStaysEmpty) {
  WriteBytes(InFolder("profiles"), "not a folder");
  form().Form_Load();
  EXPECT_EQ(ReadBytes(InFolder("profiles")), "not a folder");
  EXPECT_EQ(List4()->count(), 0);
}

TEST_F(Form1Settings, TheFirstTwoLinesOfTheSettingsFileFillTheFolderBoxes) {
  WriteBytes(InFolder("config.txt"),
             "/no/such/source\r\n/no/such/dest\r\n/third\r\n");
  form().Form_Load();
  EXPECT_EQ(Edit("Text1")->text(), "/no/such/source");
  EXPECT_EQ(Edit("Text2")->text(), "/no/such/dest");

  Click("Command6");
  EXPECT_EQ(ReadBytes(InFolder("config.txt")),
            "/no/such/source\r\n/no/such/dest\r\n");
}

TEST_F(Form1Settings, TheProfileListShowsEveryFileWhoseNameHoldsDotPrf) {
  std::filesystem::create_directory(Profiles());
  for (const char* name :
       {"work.prf", "a.prf.bak", ".prf", "WORK.PRF", "notes.txt", "x.prf.prf"})
    WriteBytes(Profiles(name), "");
  std::filesystem::create_directory(Profiles("folder.prf"));
  form().Form_Load();
  EXPECT_EQ(List4Names(),
            (Names{"work.prf", "a.prf.bak", ".prf", "x.prf.prf"}));
  EXPECT_TRUE(List4()->selectedItems().isEmpty());
  EXPECT_TRUE(dialogs_.messages().empty());
}

// --- Exit ---

TEST_F(Form1Settings, ExitKeepsSpacesAndAnEmptyDestinationForTheNextStart) {
  form().Form_Load();
  Edit("Text1")->setText(" /home/ann/my files ");
  Edit("Text2")->setText("");
  Check("Check3")->setChecked(true);
  Click("Command6");
  EXPECT_EQ(end_calls_, 1);
  EXPECT_EQ(ReadBytes(InFolder("config.txt")), " /home/ann/my files \r\n\r\n");

  Form1 next_start(program_folder());
  next_start.Form_Load();
  EXPECT_EQ(next_start.Text1(), " /home/ann/my files ");
  EXPECT_EQ(next_start.Text2(), "");
  // Options are not part of the settings file.
  EXPECT_EQ(next_start.CheckValue(CheckBox::kCheck3), 0);
  EXPECT_EQ(next_start.CheckValue(CheckBox::kCheck1), 1);
}

TEST_F(Form1Settings, AnExitThatCannotWriteStillEndsAndKeepsTheEarlierFile) {
  WriteBytes(InFolder("config.txt"), "/old/src\r\n/old/dst\r\n");
  form().Form_Load();
  Edit("Text1")->setText(QString(200, 'n'));
  {
    ScopedFileSizeLimit limit(16);
    Click("Command6");
  }
  EXPECT_EQ(end_calls_, 1);
  EXPECT_EQ(ReadBytes(InFolder("config.txt")), "/old/src\r\n/old/dst\r\n");
  EXPECT_EQ(NamesIn(program_folder()), (Names{"config.txt", "profiles"}));
}

// --- Save Profile ---

TEST_F(Form1Settings, AnEmptyNameIsMadeFromTheSourceAskedForAndSaved) {
  form().Form_Load();
  Edit("Text1")->setText("/home/ann/all:files");
  Edit("Text2")->setText("/backup");
  dialogs_.SetNextAnswer(MessageAnswer::kYes);
  Click("Command10");

  EXPECT_EQ(Edit("Text7")->text(), "_home_ann_all_files");
  ASSERT_EQ(dialogs_.messages().size(), 1u);
  const MessageRequest& question = dialogs_.messages()[0];
  EXPECT_EQ(question.text, "Save as: _home_ann_all_files");
  EXPECT_EQ(question.title, "Save Profile As");
  EXPECT_EQ(question.buttons, MessageButtons::kYesNo);
  EXPECT_EQ(question.icon, MessageIcon::kQuestion);
  EXPECT_EQ(question.default_answer, MessageAnswer::kYes);

  EXPECT_EQ(ReadBytes(Profiles("_home_ann_all_files.prf")),
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
  EXPECT_EQ(dialogs_.messages().size(), 1u);
  EXPECT_TRUE(NamesIn(Profiles()).empty());
  EXPECT_EQ(List4()->count(), 0);
}

TEST_F(Form1Settings, TypedNamesAreUsedUnchangedAndAnEmptyOneGivesDotPrf) {
  form().Form_Load();
  Edit("Text7")->setText("x.prf");
  Click("Command10");  // Yes is the default answer
  EXPECT_EQ(dialogs_.messages().back().text, "Save as: x.prf");

  Edit("Text1")->setText("");
  Edit("Text7")->setText("");
  Click("Command10");
  EXPECT_EQ(dialogs_.messages().back().text, "Save as: ");
  EXPECT_EQ(Edit("Text7")->text(), "");

  EXPECT_EQ(NamesIn(Profiles()), (Names{"x.prf.prf", ".prf"}));
  EXPECT_EQ(List4Names(), (Names{"x.prf.prf", ".prf"}));
}

TEST_F(Form1Settings, ANameThatLeavesTheProfilesFolderIsRefused) {
  form().Form_Load();
  for (const char* name : {"../escape", "sub/name", ".", "..", "/x"}) {
    const std::size_t boxes = dialogs_.messages().size();
    Edit("Text7")->setText(name);
    Click("Command10");
    ASSERT_EQ(dialogs_.messages().size(), boxes + 1) << name;
    const MessageRequest& refusal = dialogs_.messages().back();
    EXPECT_EQ(refusal.icon, MessageIcon::kWarning) << name;
    EXPECT_EQ(refusal.buttons, MessageButtons::kOk) << name;
    EXPECT_TRUE(refusal.text.contains("\"/\"")) << name;
  }
  EXPECT_TRUE(NamesIn(Profiles()).empty());
  EXPECT_EQ(NamesIn(program_folder()), Names{"profiles"});
}

TEST_F(Form1Settings, AFailedSaveKeepsTheEarlierProfileAndSaysSo) {
  form().Form_Load();
  const std::string earlier = "/a\r\n/b\r\n 1 \r\n 1 \r\n 0 \r\n";
  WriteBytes(Profiles("p.prf"), earlier);
  Edit("Text7")->setText("p");
  Edit("Text1")->setText(QString(200, 's'));
  {
    ScopedFileSizeLimit limit(16);
    Click("Command10");
  }
  ASSERT_EQ(dialogs_.messages().size(), 2u);
  EXPECT_EQ(dialogs_.messages()[1].icon, MessageIcon::kWarning);
  EXPECT_TRUE(
      dialogs_.messages()[1].text.startsWith("The profile was not saved"));
  EXPECT_EQ(ReadBytes(Profiles("p.prf")), earlier);
  EXPECT_EQ(NamesIn(Profiles()), Names{"p.prf"});
}

// --- Load Profile ---

TEST_F(Form1Settings, ClickingAProfileRestoresFoldersAndAllThreeStates) {
  std::filesystem::create_directory(Profiles());
  WriteBytes(Profiles("mixed.prf"), " /a b/ \r\n/dest \r\n 0 \r\n1\r\n 2 \r\n");
  form().Form_Load();
  ShowWindow();
  Edit("Text7")->setText("typed");
  ClickProfile("mixed.prf");

  EXPECT_EQ(Edit("Text1")->text(), " /a b/ ");
  EXPECT_EQ(Edit("Text2")->text(), "/dest ");
  EXPECT_EQ(Check("Check1")->checkState(), Qt::Unchecked);
  EXPECT_EQ(Check("Check2")->checkState(), Qt::Checked);
  EXPECT_EQ(Check("Check3")->checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(form().CheckValue(CheckBox::kCheck3), 2);
  ASSERT_EQ(dialogs_.messages().size(), 1u);
  const MessageRequest& box = dialogs_.messages()[0];
  EXPECT_EQ(box.text, "Profile Loaded.");
  EXPECT_EQ(box.title, "");
  EXPECT_EQ(box.buttons, MessageButtons::kOk);
  EXPECT_EQ(box.icon, MessageIcon::kNone);
  // Loading touches neither the name box nor the list.
  EXPECT_EQ(Edit("Text7")->text(), "typed");
  EXPECT_EQ(List4Names(), Names{"mixed.prf"});
}

TEST_F(Form1Settings, ASavedProfileLoadsBackAfterTheControlsChanged) {
  form().Form_Load();
  ShowWindow();
  Edit("Text1")->setText(" /src ");
  Edit("Text2")->setText("/dst");
  Check("Check1")->setChecked(false);
  Check("Check3")->setChecked(true);
  Edit("Text7")->setText("round");
  Click("Command10");

  Edit("Text1")->setText("/elsewhere");
  Edit("Text2")->setText("");
  Check("Check1")->setChecked(true);
  Check("Check3")->setChecked(false);
  ClickProfile("round.prf");
  EXPECT_EQ(ControlState(), " /src |/dst|022");
  EXPECT_EQ(dialogs_.messages().back().text, "Profile Loaded.");
}

TEST_F(Form1Settings, ArrowKeysLoadEachProfileThatBecomesSelected) {
  std::filesystem::create_directory(Profiles());
  WriteBytes(Profiles("one.prf"), "/one\r\n/d1\r\n 1 \r\n 1 \r\n 0 \r\n");
  WriteBytes(Profiles("two.prf"), "/two\r\n/d2\r\n 1 \r\n 1 \r\n 1 \r\n");
  form().Form_Load();
  ShowWindow();
  ClickProfile(List4()->item(0)->text());
  const std::string first = Edit("Text1")->text().toStdString();
  QTest::keyClick(List4(), Qt::Key_Down);
  const std::string second = Edit("Text1")->text().toStdString();
  EXPECT_EQ((Names{first, second}), (Names{"/one", "/two"}));
  EXPECT_EQ(dialogs_.messages().size(), 2u);
  QTest::keyClick(List4(), Qt::Key_Up);
  EXPECT_EQ(Edit("Text1")->text().toStdString(), first);
  EXPECT_EQ(dialogs_.messages().size(), 3u);
}

TEST_F(Form1Settings, ADamagedOrVanishedProfileChangesNothing) {
  std::filesystem::create_directory(Profiles());
  WriteBytes(Profiles("short.prf"), "/s\r\n/d\r\n 0 \r\n 0 \r\n");
  WriteBytes(Profiles("three.prf"), "/s\r\n/d\r\n 0 \r\n 3 \r\n 0 \r\n");
  WriteBytes(Profiles("gone.prf"), "/s\r\n/d\r\n 0 \r\n 0 \r\n 1 \r\n");
  form().Form_Load();
  ShowWindow();
  std::filesystem::remove(Profiles("gone.prf"));
  const std::string before = ControlState();

  for (const char* name : {"short.prf", "three.prf", "gone.prf"}) {
    const std::size_t boxes = dialogs_.messages().size();
    ClickProfile(name);
    EXPECT_EQ(ControlState(), before) << name;
    ASSERT_EQ(dialogs_.messages().size(), boxes + 1) << name;
    EXPECT_EQ(dialogs_.messages().back().icon, MessageIcon::kWarning) << name;
    EXPECT_TRUE(dialogs_.messages().back().text.contains(name)) << name;
  }
}

// --- Folder picker ---

TEST_F(Form1Settings, TheFolderButtonsStoreWhatTheDialogGives) {
  dialogs_.SetNextDirectory("/srv/photos");
  Click("Command4");
  EXPECT_EQ(Edit("Text1")->text(), "/srv/photos");

  dialogs_.SetNextDirectory("/");
  Click("Command5");
  EXPECT_EQ(Edit("Text2")->text(), "/");

  const QString text2 = Edit("Text2")->text();
  dialogs_.SetNextDirectory("");
  Click("Command4");
  EXPECT_EQ(Edit("Text1")->text(), "");
  EXPECT_EQ(Edit("Text2")->text(), text2);

  ASSERT_EQ(dialogs_.folder_requests().size(), 3u);
  for (const auto& request : dialogs_.folder_requests()) {
    EXPECT_EQ(request.title, "This is the title");
    EXPECT_EQ(request.start_folder, QDir::homePath());
  }
}

}  // namespace
}  // namespace ferrybox

namespace ferrybox {
namespace {

using Form1ExitDuringRun = Form1Fixture;

TEST_F(Form1ExitDuringRun, ExitSavesAndTheRunStopsWithoutAnotherFile) {
  testing::TempFolder source;
  testing::TempFolder destination;
  const int kFiles = 500;
  for (int i = 0; i < kFiles; ++i)
    WriteBytes(source / ("f" + std::to_string(i)), std::string(100 + i, 'c'));
  form().Form_Load();
  Edit("Text1")->setText(QString::fromStdString(source.path()));
  Edit("Text2")->setText(QString::fromStdString(destination.path()));

  // "Exit" is clicked at the run's first yield to the event queue, with the
  // window's own way of ending the program.
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
  EXPECT_LT(copied.size(), static_cast<std::size_t>(kFiles));
  // Every name in the destination is a whole copy of its source.
  for (const std::string& name : copied)
    EXPECT_EQ(ReadBytes(destination / name), ReadBytes(source / name)) << name;
  LineList* list3 = Lines("List3");
  for (int i = 0; i < list3->Count(); ++i)
    EXPECT_FALSE(list3->Line(i).startsWith("Finished")) << i;
}

}  // namespace
}  // namespace ferrybox
