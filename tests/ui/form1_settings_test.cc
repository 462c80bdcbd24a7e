// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>
#include <sys/resource.h>

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <set>

#include "settings/options_file.h"
#include "settings/profile.h"
#include "settings/settings_file.h"
#include "tests/ui/form1_fixture.h"
#include "tests/ui/scripted_dialogs.h"
#include "ui/form9.h"
#include "ui/name_bytes.h"
#include "ui/options_dialog.h"
#include "ui/qt_dialogs.h"

namespace ferrybox {
namespace {

using testing::ReadFile;
using Names = std::set<std::string>;

class Form1Settings : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    Form1Seams::SetDialogs(form(), &dialogs_);
    Form1Seams::SetEndProgram(form(), [this] { ++end_calls_; });
  }
  std::string At(const char* name) { return program().Path(name); }
  QListWidget* List4() { return Child<QListWidget>("List4"); }
  Names List4Names() {
    Names names;
    for (int i = 0; i < List4()->count(); ++i)
      names.insert(List4()->item(i)->text().toStdString());
    return names;
  }
  /// The controls a profile load may change.
  std::string Controls() {
    return form().Text1() + "|" + form().Text2() + "|" +
           std::to_string(form().CheckValue(CheckBox::kCheck1)) +
           std::to_string(form().CheckValue(CheckBox::kCheck2)) +
           std::to_string(form().CheckValue(CheckBox::kCheck3));
  }
  const MessageRequest& LastBox() { return dialogs_.messages().back(); }

  ScriptedDialogs dialogs_;
  int end_calls_ = 0;
};

TEST_F(Form1Settings, ExitWritesTheTwoFoldersThatTheNextStartReads) {
  program().Write("config.txt", "/no/such/src\r\n/no/such/dst\r\n/third\r\n");
  program().Write("profiles", "not a folder");  // left alone: no profiles
  form().Form_Load();
  EXPECT_EQ(Controls(), "/no/such/src|/no/such/dst|110");
  EXPECT_EQ(ReadFile(At("profiles")), "not a folder");
  Edit("Text1")->setText(" /home/ann/my files ");
  Edit("Text2")->setText("");
  Button("Command6")->click();
  EXPECT_EQ(end_calls_, 1);
  EXPECT_EQ(ReadFile(At("config.txt")), " /home/ann/my files \r\n\r\n");
  Form1 next_start(program().root(), DefaultPlatform());
  next_start.Form_Load();
  EXPECT_EQ(next_start.Text1() + "|" + next_start.Text2(),
            " /home/ann/my files |");
}

TEST_F(Form1Settings, FirstStartThenSaveProfileUnderTheNameGivenOrMade) {
  form().Form_Load();
  EXPECT_EQ(form().windowTitle(),
            "Ferrybox" + QString(15, ' ') + "Version: 1.1.28");
  EXPECT_EQ(Edit("Text1")->text(), QDir::homePath() + "/allfiles");
  EXPECT_EQ(Edit("Text2")->text(), QDir::homePath() + "/allfilesbackup");
  // A name that is not a plain file name is refused without a question.
  for (const char* name : {"../escape", "sub/name", ".", ".."}) {
    Edit("Text7")->setText(name);
    Button("Command10")->click();
    EXPECT_EQ(LastBox().icon, MessageIcon::kWarning);
  }
  EXPECT_EQ(testing::Entries(program().root()), Names{"profiles"});
  EXPECT_TRUE(testing::Entries(At("profiles")).empty() && List4Names().empty());
  const std::string saved = "/a:b c\r\n/backup\r\n 1 \r\n 1 \r\n 0 \r\n";
  Edit("Text7")->clear();
  // The folders as chosen with the folder buttons.
  dialogs_.SetNextDirectory("/a:b c");
  Button("Command4")->click();
  dialogs_.SetNextDirectory("/backup");
  Button("Command5")->click();
  dialogs_.SetNextAnswer(MessageAnswer::kNo);
  Button("Command10")->click();
  EXPECT_EQ(LastBox().text, "Save as: _a_b c");
  EXPECT_TRUE(testing::Entries(At("profiles")).empty());
  Button("Command10")->click();  // Yes, the default answer
  Edit("Text7")->setText("x.prf");
  Button("Command10")->click();
  EXPECT_EQ(ReadFile(At("profiles/x.prf.prf")), saved);
  EXPECT_EQ(List4Names(), (Names{"_a_b c.prf", "x.prf.prf"}));
  // With no room for it, the write fails and leaves the earlier file.
  Edit("Text1")->setText(QString(200, 'n'));
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const rlimit limit = {16, old.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  Button("Command10")->click();
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_TRUE(LastBox().text.startsWith("The profile was not saved"));
  EXPECT_EQ(ReadFile(At("profiles/x.prf.prf")), saved);
  // No stray file; the options of the two profiles saved lie apart.
  Names entries = testing::Entries(At("profiles"));
  EXPECT_EQ(entries.erase("options"), 1u);
  EXPECT_EQ(entries, List4Names());
  EXPECT_EQ(testing::Entries(At("profiles/options")),
            (Names{"_a_b c.prf.options", "x.prf.prf.options"}));
  // A name whose escaped form is too long for a scheduled backup's units is
  // saved all the same, with a warning that says why.
  const QString cjk = QString::fromUtf8("\xE4\xB8\xAD");  // 3 bytes
  const std::pair<QString, int> names[] = {
      {QString(232, 'a'), 0},       {QString(233, 'a'), 233},
      {cjk.repeated(19), 0},        {cjk.repeated(20), 240},
      {"-" + QString(228, 'a'), 0}, {"." + QString(229, 'a'), 233}};
  for (const auto& [name, escaped] : names) {
    SCOPED_TRACE(name.toStdString());
    Edit("Text7")->setText(name);
    Button("Command10")->click();
    EXPECT_TRUE(
        testing::Entries(At("profiles")).contains(name.toStdString() + ".prf"));
    if (escaped == 0) {
      EXPECT_EQ(LastBox().text, "Save as: " + name);
    } else {
      EXPECT_EQ(LastBox().title, "Save Profile");
      EXPECT_EQ(LastBox().icon, MessageIcon::kWarning);
      EXPECT_EQ(LastBox().text,
                QString("The profile was saved, but its name is too long to "
                        "be scheduled: escaped for systemd it has %1 "
                        "characters, and at most 232 fit. Save it under a "
                        "shorter name to schedule it.")
                    .arg(escaped));
    }
  }
}

TEST_F(Form1Settings, List4ShowsProfileFilesAndLoadsOnlyASoundOne) {
  program().MakeFolder("profiles/folder.prf");
  // An unreadable settings file is as though it were not there.
  program().MakeFolder("config.txt");
  const std::pair<const char*, std::string> files[] = {
      {"mixed.prf", " /a b/ \r\n/dest \n 1 \r\n1\n 2 "},  // any line end
      {"a.prf.bak", "/s\r\n/d\r\n 0 \r\n 0 \r\n"},
      {".prf", "/s\r\n/d\r\n 0 \r\n 3 \r\n 0 \r\n"},
      {"gone.prf", "/s\r\n/d\r\n 0 \r\n 0 \r\n 0 \r\n"},  // removed below
      {"WORK.PRF", ""}};
  for (const auto& [name, bytes] : files)
    program().Write(std::string("profiles/") + name, bytes);
  form().Form_Load();
  EXPECT_EQ(form().Text1(), QDir::homePath().toStdString() + "/allfiles");
  EXPECT_EQ(List4Names(),
            (Names{"mixed.prf", "a.prf.bak", ".prf", "gone.prf"}));
  std::filesystem::remove(At("profiles/gone.prf"));
  Check("Check1")->setChecked(false);
  Check("Check2")->setChecked(false);
  const std::string before = Controls();
  const std::string in = At("profiles") + "/";
  const std::pair<const char*, std::string> refused[] = {
      {"a.prf.bak", in + "a.prf.bak holds 4 lines instead of 5"},
      {".prf",
       in + ".prf: line 4 (\" 3 \") is not a check box state 0, 1 or 2"},
      {"gone.prf", "open " + in + "gone.prf: No such file or directory"}};
  for (const auto& [name, reason] : refused) {
    List4()->setCurrentItem(List4()->findItems(name, Qt::MatchExactly)[0]);
    EXPECT_EQ(LastBox().icon, MessageIcon::kWarning);
    EXPECT_EQ(LastBox().text,
              QString::fromStdString("The profile was not loaded: " + reason));
    EXPECT_EQ(Controls(), before);
  }
  List4()->setCurrentItem(List4()->findItems("mixed.prf", Qt::MatchExactly)[0]);
  EXPECT_EQ(Controls(), " /a b/ |/dest |112");
  EXPECT_EQ(dialogs_.messages().size(), 4u);
  EXPECT_EQ(LastBox().text, "Profile Loaded.");
}

// A click on the selected profile loads it again; after Tab, the first
// Down loads the first profile, a lone one too.
TEST_F(Form1Settings, AProfileLoadsByAClickOnItAgainAndByArrowKeys) {
  for (const Names& profiles : {Names{"a.prf"}, Names{"a.prf", "b.prf"}}) {
    std::filesystem::remove_all(At("profiles"));
    for (const std::string& name : profiles)
      program().Write("profiles/" + name,
                      "/" + name + "\r\n/d\r\n 1 \r\n 1 \r\n 0 \r\n");
    form().Form_Load();
    form().show();
    form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form(), 3000));
    Button("Command10")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), List4());
    const size_t boxes = dialogs_.messages().size();
    QTest::keyClick(List4(), Qt::Key_Down);
    EXPECT_EQ(form().Text1(), "/a.prf");
    QTest::keyClick(List4(), Qt::Key_Down);
    EXPECT_EQ(form().Text1(), profiles.size() == 1 ? "/a.prf" : "/b.prf");
    Edit("Text1")->setText("/edited");
    QListWidgetItem* selected = List4()->selectedItems().value(0);
    ASSERT_NE(selected, nullptr);
    QTest::mouseClick(List4()->viewport(), Qt::LeftButton, {},
                      List4()->visualItemRect(selected).center());
    EXPECT_EQ(form().Text1(), "/" + selected->text().toStdString());
    EXPECT_EQ(dialogs_.messages().size(), boxes + profiles.size() + 1);
    EXPECT_EQ(LastBox().text, "Profile Loaded.");
  }
}

TEST_F(Form1Settings, FolderNamesThatAreNotUtf8AreKeptByteForByte) {
  const std::string source = "/no/such/caf\xE9", destination = "/x/bk\xE9\xFF";
  program().Write("config.txt", source + "\r\n" + destination + "\r\n");
  const std::string profile =
      source + "/in\r\n" + destination + "\r\n 1 \r\n 0 \r\n 1 \r\n";
  program().Write("profiles/old.prf", profile);
  form().Form_Load();
  EXPECT_EQ(form().Text1() + "|" + form().Text2(), source + "|" + destination);
  // What is typed joins the bytes already there.
  Edit("Text2")->end(false);
  QTest::keyClicks(Edit("Text2"), "/new");
  Button("Command6")->click();
  EXPECT_EQ(ReadFile(At("config.txt")),
            source + "\r\n" + destination + "/new\r\n");
  // A profile loads them and saves them unchanged, under a name made of them.
  List4()->setCurrentRow(0);
  EXPECT_EQ(Controls(), source + "/in|" + destination + "|101");
  Button("Command10")->click();
  EXPECT_EQ(ReadFile(program().Path("profiles/_no_such_caf\xE9_in.prf")),
            profile);
}

TEST_F(Form1Settings, ExitWarnsWhenTheSettingsFileCannotBeWrittenThenEnds) {
  program().MakeFolder("config.txt");
  std::string reason;
  ASSERT_FALSE(WriteSettingsFile(At("config.txt"), "/a", "/b", &reason));
  Button("Command6")->click();
  ASSERT_EQ(dialogs_.messages().size(), 1u);
  EXPECT_EQ(LastBox().title, "Exit");
  EXPECT_EQ(LastBox().icon, MessageIcon::kWarning);
  EXPECT_EQ(LastBox().text,
            QString::fromStdString("The folders were not saved in " +
                                   At("config.txt") + ":\n" + reason));
  EXPECT_EQ(end_calls_, 1);
}

TEST_F(Form1Settings, OptionsGoWithTheProfileAndTheWindowKeepsItsOwnAtExit) {
  form().Form_Load();
  EXPECT_EQ(form().LeaveOut(), LeaveOutOptions{});
  const ProfileOptions mine{{"node_modules/", "*.tmp"}, true, {}, 7};
  const ProfileOptions other{{"/Downloads"}, false, {}};
  dialogs_.SetNextOptions(mine);
  Button("OptionsButton")->click();
  // Cancel keeps the list the dialog opened with.
  dialogs_.SetNextOptions(std::nullopt);
  Button("OptionsButton")->click();
  ASSERT_EQ(dialogs_.options_shown().size(), 2u);
  EXPECT_EQ(dialogs_.options_shown()[1], mine);
  EXPECT_EQ(form().LeaveOut(),
            (LeaveOutOptions{{"node_modules/", "*.tmp"}, true}));
  // Saved with the profile, whose own file keeps its five lines.
  Edit("Text7")->setText("home");
  Button("Command10")->click();
  const std::string home = QDir::homePath().toStdString();
  EXPECT_EQ(ReadFile(At("profiles/home.prf")),
            home + "/allfiles\r\n" + home +
                "/allfilesbackup\r\n 1 \r\n 1 \r\n 0 \r\n");
  EXPECT_EQ(List4Names(), Names{"home.prf"});
  dialogs_.SetNextOptions(other);
  Button("OptionsButton")->click();
  List4()->setCurrentRow(0);
  EXPECT_EQ(LastBox().text, "Profile Loaded.");
  EXPECT_EQ(form().LeaveOut(),
            (LeaveOutOptions{{"node_modules/", "*.tmp"}, true}));
  EXPECT_EQ(form().KeepVersionsDays(), 7);
  // A damaged options file refuses its profile and changes nothing.
  dialogs_.SetNextOptions(other);
  Button("OptionsButton")->click();
  program().Write("profiles/options/home.prf.options", "node_modules/\r\n");
  List4()->setCurrentRow(-1);
  List4()->setCurrentRow(0);
  EXPECT_TRUE(LastBox().text.startsWith(
      "The profile was not loaded: " +
      QString::fromStdString(At("profiles/options/home.prf.options"))))
      << LastBox().text.toStdString();
  EXPECT_EQ(form().LeaveOut(), (LeaveOutOptions{{"/Downloads"}, false}));
  // "Exit" keeps the window's own, which the next start reads.
  Button("Command6")->click();
  Form1 next_start(program().root(), DefaultPlatform());
  next_start.Form_Load();
  EXPECT_EQ(next_start.LeaveOut(), (LeaveOutOptions{{"/Downloads"}, false}));
}

TEST_F(Form1Settings, ADamagedOptionsFileIsReportedAndKeptAtExit) {
  const std::string damaged = "leave out cache folders = yes\r\n";
  program().Write("options.txt", damaged);
  form().Form_Load();
  ASSERT_EQ(dialogs_.messages().size(), 1u);
  EXPECT_EQ(LastBox().icon, MessageIcon::kWarning);
  EXPECT_TRUE(
      LastBox().text.contains(QString::fromStdString(At("options.txt"))));
  EXPECT_EQ(form().LeaveOut(), LeaveOutOptions{});
  Button("Command6")->click();
  EXPECT_EQ(ReadFile(At("options.txt")), damaged);
}

// The dialog itself, as a person meets it: the list as text, the tick, OK
// and Cancel, all reached from the keyboard.
TEST_F(Form1Fixture, TheOptionsDialogEditsTheListOnOkAndKeepsItOnCancel) {
  QtDialogs dialogs(&form());
  const ProfileOptions earlier{{"*.o", "build/"}, false, {"later = 1"}};
  for (const bool ok : {true, false}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    ProfileOptions options = earlier;
    bool checked = false;
    QTimer::singleShot(0, [&] {
      auto* dialog =
          qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->windowTitle(), "Options");
      auto* list = dialog->findChild<QPlainTextEdit*>("LeaveOutList");
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(list->toPlainText(), "*.o\nbuild/");
      EXPECT_EQ(dialog->findChild<QLabel*>("LeaveOutSyntax")->text(),
                kLeaveOutSyntax);
      EXPECT_FALSE(list->accessibleName().isEmpty());
      list->setFocus();
      list->moveCursor(QTextCursor::End);
      QTest::keyClick(list, Qt::Key_Return);
      QTest::keyClicks(list, ".cache/");
      // Tab leaves the list for the tick, then the buttons.
      QTest::keyClick(list, Qt::Key_Tab);
      QWidget* tick = dialog->focusWidget();
      EXPECT_EQ(tick->objectName(), "LeaveOutCaches");
      QTest::keyClick(tick, Qt::Key_Space);
      QTest::keyClick(tick, Qt::Key_Tab);
      // Then the days earlier versions are kept for, a number typed.
      QWidget* days = dialog->focusWidget();
      EXPECT_EQ(days->objectName(), "KeepVersionsDays");
      EXPECT_FALSE(days->accessibleName().isEmpty());
      QTest::keyClick(days, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(days, "14");
      QTest::keyClick(days, Qt::Key_Tab);
      EXPECT_EQ(dialog->focusWidget()->objectName(), "OkButton");
      if (!ok) QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
      EXPECT_EQ(dialog->focusWidget()->objectName(),
                ok ? "OkButton" : "CancelButton");
      checked = true;
      QTest::keyClick(dialog->focusWidget(), Qt::Key_Space);
      // A dialog the keys did not close is closed, neither OK nor Cancel.
      QTimer::singleShot(0, dialog, [dialog] { dialog->done(2); });
    });
    EXPECT_EQ(dialogs.EditOptions(&options), ok);
    EXPECT_TRUE(checked);
    const ProfileOptions edited{
        {"*.o", "build/", ".cache/"}, true, {"later = 1"}, 14};
    EXPECT_EQ(options, ok ? edited : earlier);
  }
}

// Every byte string comes back from its shown form unchanged; valid UTF-8
// shows as its characters, each stray byte as one mark; typed text is UTF-8.
TEST(NameBytes, AnyBytesComeBackValidUtf8ShowsAsItsCharactersTypedTextIsUtf8) {
  struct Case {
    std::string bytes;
    int marks;  // bytes that are not part of valid UTF-8
  };
  const Case cases[] = {
      {"", 0},
      {"/home/ann/all files", 0},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 0},  // 2, 3 and 4 bytes
      {"\xEF\xBF\xBD", 0},           // a real replacement character
      {"/x/bk\xE9", 1},              // Latin-1
      {"\x80", 1},                   // a continuation byte alone
      {"\xFF\xFE", 2},               // never in UTF-8
      {"\xC0\x80", 2},               // overlong NUL
      {"\xE0\x80\xAF", 3},           // overlong "/"
      {"\xED\xA0\x80", 3},           // a surrogate
      {"\xED\xB2\x80", 3},           // the very surrogate a mark uses
      {"\xF4\x90\x80\x80", 4},       // above U+10FFFF
      {"\xE2\x82", 2},               // cut short at the end
      {"\xE2\x82x\xF0\x9F\x98", 5},  // cut short before "x" and at the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    const QString shown = ShownName(c.bytes);
    EXPECT_EQ(NameBytes(shown), c.bytes);
    int marks = 0;
    for (QChar ch : shown)
      marks += ch.unicode() >= 0xDC80 && ch.unicode() <= 0xDCFF;
    EXPECT_EQ(marks, c.marks);
    if (c.marks == 0) {
      EXPECT_EQ(shown, QString::fromUtf8(c.bytes));
    }
  }
  EXPECT_EQ(ShownName("/x/bk\xE9"), "/x/bk" + QString(QChar(0xDCE9)));
  const QString typed = QString::fromUtf8("/caf\xC3\xA9/\xF0\x9F\x98\x80");
  EXPECT_EQ(NameBytes(typed), typed.toStdString());
  // A lone surrogate that no name gives is a replacement character.
  EXPECT_EQ(NameBytes(QChar(0xD800) + QString("a") + QChar(0xDC41)),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
}

// A key held down on a button, as the desktop sends it: the first press,
// then repeats, each marked as one or (as an X server sends them) a release
// and a press with one timestamp, not marked. The button acts once; the
// window it opens answers nothing until the key is released and pressed
// again.
TEST_F(Form1Fixture, AHeldKeyClicksOnceAndAnswersNothingItOpened) {
  enum class Opens { kQuestion, kPicker, kNothing, kNotice };
  struct Case {
    const char* button;  // the focus, when the notice opens
    Qt::Key key;
    bool marked;  // repeats marked as such
    Opens opens;
  };
  const Case cases[] = {{"Command10", Qt::Key_Return, true, Opens::kQuestion},
                        {"Command10", Qt::Key_Return, false, Opens::kQuestion},
                        {"Command10", Qt::Key_Space, false, Opens::kQuestion},
                        {"Command4", Qt::Key_Return, false, Opens::kPicker},
                        {"Command3", Qt::Key_Return, false, Opens::kNothing},
                        {"Command3", Qt::Key_Space, false, Opens::kNothing},
                        {"Command11", Qt::Key_Space, false, Opens::kNotice}};
  form().Form_Load();
  const std::string earlier = "/s\r\n/d\r\n 1 \r\n 1 \r\n 0 \r\n";
  const std::string profile = program().Path("profiles/p.prf");
  Form1Seams::SetEndProgram(form(), [] {});
  form().show();
  form().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form(), 3000));
  Form9 notice(form());
  QSignalSpy answers(&notice, &Form9::AnswerGiven);
  QSignalSpy gos(Button("Command3"), &QPushButton::clicked);
  ulong time = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.button) + (c.marked ? " marked" : " X") +
                 std::to_string(c.key));
    program().Write("profiles/p.prf", earlier);
    Edit("Text7")->setText("p");
    Edit("Text1")->setText("");  // "Go" is refused at once
    gos.clear();
    answers.clear();
    Button(c.button)->setFocus();
    const QString text = c.key == Qt::Key_Space ? " " : "\r";
    const auto send = [&](QEvent::Type type, bool repeat) {
      QWidget* to = QApplication::activeModalWidget();
      if (to == nullptr)
        to = notice.isVisible() ? static_cast<QWidget*>(&notice) : &form();
      QWindowSystemInterface::handleKeyEvent<
          QWindowSystemInterface::AsynchronousDelivery>(
          to->windowHandle(), time, type, c.key, Qt::NoModifier, text, repeat);
    };
    // What the user sees: the window open, the profile, the clicks.
    const auto seen = [&] {
      const QWidget* modal = QApplication::activeModalWidget();
      return (modal != nullptr     ? modal->windowTitle().toStdString()
              : notice.isVisible() ? "notice"
                                   : "-") +
             "|" + (ReadFile(profile) == earlier ? "kept" : "saved") + "|" +
             std::to_string(gos.count()) + std::to_string(answers.count()) +
             "|" + form().Text1();
    };
    constexpr int kRepeats = 15;
    int step = 0;
    std::string while_held, after;
    QTimer hold;
    hold.callOnTimeout([&] {
      time += 33;
      if (step < kRepeats) {
        send(QEvent::KeyRelease, c.marked);
        send(QEvent::KeyPress, c.marked);
      } else if (step == kRepeats) {
        while_held = seen();
        send(QEvent::KeyRelease, false);
      } else if (step == kRepeats + 1) {
        send(QEvent::KeyPress, false);  // a fresh press answers
      } else if (step == kRepeats + 2) {
        send(QEvent::KeyRelease, false);
      } else {
        hold.stop();
      }
      ++step;
    });
    time += 1000;
    send(QEvent::KeyPress, false);
    if (c.opens == Opens::kNotice) notice.ShowNotice();
    hold.start(10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !hold.isActive(); }, 4000));
    // A window answered closes from within its own events.
    QTest::qWait(50);
    after = seen();
    const std::string home = QDir::homePath().toStdString();
    switch (c.opens) {
      case Opens::kQuestion:
        EXPECT_EQ(while_held, "Save Profile As|kept|00|");
        EXPECT_EQ(after, "-|saved|00|");
        break;
      case Opens::kPicker:
        EXPECT_EQ(while_held, "This is the title|kept|00|");
        EXPECT_EQ(after, "-|kept|00|" + home);
        break;
      case Opens::kNothing:
        EXPECT_EQ(while_held, "-|kept|10|");
        EXPECT_EQ(after, "-|kept|20|");
        break;
      case Opens::kNotice:
        EXPECT_EQ(while_held, "notice|kept|00|");
        EXPECT_EQ(after, "-|kept|01|");
        break;
    }
  }
}

// The real dialog, cancelled: a cancelled choice is not a choice of nothing.
TEST_F(Form1Fixture, ACancelledFolderDialogLeavesItsBoxAsItWas) {
  Edit("Text1")->setText("/kept/source");
  Edit("Text2")->setText("/kept/destination");
  for (const char* button : {"Command4", "Command5"}) {
    QTimer::singleShot(0, [] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->windowTitle(), "This is the title");
      qobject_cast<QFileDialog*>(dialog)->reject();
    });
    Button(button)->click();
  }
  EXPECT_EQ(form().Text1() + "|" + form().Text2(),
            "/kept/source|/kept/destination");
}

// Alt and a mnemonic held down in a dialog: the first press acts, the
// repeats (marked, or as an X server sends them) do not. A key clicks a
// button 100 ms after its last press: the repeats come more slowly, as
// with a slow repeat rate.
TEST_F(Form1Fixture, AHeldMnemonicActsOnce) {
  form().show();
  form().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form(), 3000));
  ulong time = 1000;
  for (const bool marked : {true, false}) {
    SCOPED_TRACE(marked ? "marked" : "X");
    bool ticked = false;
    QTimer::singleShot(0, &form(), [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      // Active, and its own widget has the keyboard.
      ASSERT_TRUE(QTest::qWaitFor(
          [dialog] {
            const QWidget* focus = QApplication::focusWidget();
            return focus != nullptr && focus->window() == dialog;
          },
          3000));
      const auto send = [&](QEvent::Type type, int key, bool repeat) {
        QWindowSystemInterface::handleKeyEvent<
            QWindowSystemInterface::SynchronousDelivery>(
            dialog->windowHandle(), time, type, key, Qt::AltModifier,
            key == Qt::Key_C ? "c" : "", repeat);
      };
      time += 1000;
      send(QEvent::KeyPress, Qt::Key_Alt, false);
      send(QEvent::KeyPress, Qt::Key_C, false);
      for (int repeat = 0; repeat < 3; ++repeat) {
        QTest::qWait(150);
        time += 150;
        send(QEvent::KeyRelease, Qt::Key_C, marked);
        send(QEvent::KeyPress, Qt::Key_C, marked);
      }
      send(QEvent::KeyRelease, Qt::Key_C, false);
      send(QEvent::KeyRelease, Qt::Key_Alt, false);
      QTest::qWait(200);
      ticked = dialog->findChild<QCheckBox*>("LeaveOutCaches")->isChecked();
      static_cast<QDialog*>(dialog)->reject();
    });
    Button("OptionsButton")->click();
    EXPECT_TRUE(ticked);
  }
}

}  // namespace
}  // namespace ferrybox
