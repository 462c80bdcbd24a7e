// The real message boxes and folder dialog, answered by a timer that finds
// them open.
#include "ui/qt_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/ui/form1_fixture.h"
#include "tests/ui/qstring_printer.h"

namespace ferrybox {
namespace {

/// Runs `act` on the modal dialog of type T once it is open.
template <typename T>
void WhenOpen(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(dialog);
  });
}

const MessageRequest kQuestion{"Save as: work", "Save Profile As",
                               MessageButtons::kYesNo, MessageIcon::kQuestion,
                               MessageAnswer::kYes};

TEST(QtDialogsMessages, TheQuestionHasYesAsDefaultAndClosingItAnswersNo) {
  QWidget window;
  QtDialogs dialogs(&window);
  WhenOpen<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->text(), "Save as: work");
    EXPECT_EQ(box->windowTitle(), "Save Profile As");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_EQ(dialogs.ShowMessage(kQuestion), MessageAnswer::kYes);
  WhenOpen<QMessageBox>([](QMessageBox* box) { box->close(); });
  EXPECT_EQ(dialogs.ShowMessage(kQuestion), MessageAnswer::kNo);
}

TEST(QtDialogsFolders, ShowsFoldersOnlyAtTheStartFolderAndGivesThePath) {
  QTemporaryDir start;
  ASSERT_TRUE(QDir(start.path()).mkdir("chosen"));
  QtDialogs dialogs(nullptr);
  WhenOpen<QFileDialog>([&](QFileDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "This is the title");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_EQ(dialog->directory().absolutePath(), start.path());
    dialog->selectFile(start.path() + "/chosen");
    // QFileDialog keeps its accept() protected; QDialog's is public.
    static_cast<QDialog*>(dialog)->accept();
  });
  EXPECT_EQ(dialogs.ChooseFolder("This is the title", start.path()),
            start.path() + "/chosen");
  WhenOpen<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_EQ(dialogs.ChooseFolder("This is the title", start.path()), "");
}

using Form1FolderPicker = Form1Fixture;

TEST_F(Form1FolderPicker, TheRealDialogOpensAtHomeAndCancelEmptiesTheBox) {
  QString opened_at;
  WhenOpen<QFileDialog>([&](QFileDialog* dialog) {
    opened_at = dialog->directory().absolutePath();
    dialog->reject();
  });
  QTest::mouseClick(Button("Command5"), Qt::LeftButton);
  EXPECT_EQ(opened_at, QDir::home().absolutePath());
  EXPECT_EQ(Edit("Text2")->text(), "");
}

}  // namespace
}  // namespace ferrybox
