// The real message boxes and folder dialog, answered by a timer that finds
// them open.
#include "ui/qt_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
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

TEST(QtDialogsMessages, TheQuestionHasYesAsDefaultAndClosingItAnswersNo) {
  QWidget window;
  QtDialogs dialogs(&window);
  const MessageRequest question{"Save as: work", "Save Profile As",
                                MessageButtons::kYesNo, MessageIcon::kQuestion,
                                MessageAnswer::kYes};
  WhenOpen<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->text(), "Save as: work");
    EXPECT_EQ(box->windowTitle(), "Save Profile As");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_EQ(dialogs.ShowMessage(question), MessageAnswer::kYes);
  WhenOpen<QMessageBox>([](QMessageBox* box) { box->close(); });
  EXPECT_EQ(dialogs.ShowMessage(question), MessageAnswer::kNo);
}

using QtDialogsFolders = Form1Fixture;

TEST_F(QtDialogsFolders, ThePickerShowsFoldersFromHomeAndCancelEmptiesTheBox) {
  WhenOpen<QFileDialog>([](QFileDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "This is the title");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_EQ(dialog->directory().absolutePath(), QDir::home().absolutePath());
    dialog->reject();
  });
  Button("Command5")->click();
  EXPECT_EQ(Edit("Text2")->text(), "");
}

}  // namespace
}  // namespace ferrybox
