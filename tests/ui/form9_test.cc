#include "ui/form9.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "tests/ui/form1_fixture.h"
#include "tests/ui/qstring_printer.h"

namespace ferrybox {
namespace {

class Form9Test : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    notice_ = new Form9(form());  // owned by the main window
  }

  Form9* notice_ = nullptr;
};

TEST_F(Form9Test, OpensByTheMainWindowWithNoContinueFocused) {
  form().move(300, 200);
  form().show();
  notice_->ShowNotice();
  EXPECT_EQ(notice_->windowTitle(), "New Version for download is available.");
  EXPECT_EQ(notice_->size(), QSize(375, 94));  // 5625 x 1410 twips
  // At the main window's outer size less its own, halved, on the screen:
  // the main window's position plays no part.
  const QSize room = form().frameGeometry().size() - notice_->frameSize();
  EXPECT_EQ(notice_->frameGeometry().topLeft(),
            QPoint(room.width() / 2, room.height() / 2));

  auto* label = notice_->findChild<QLabel*>("Label1");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(),
            "A newer version Ferrybox is available for download. Its "
            "recommended to upgrade to the newer version.");
  EXPECT_EQ(label->geometry(), QRect(8, 20, 353, 45));
  EXPECT_TRUE(label->wordWrap() && label->font().bold() &&
              (label->alignment() & Qt::AlignHCenter));
  const std::tuple<const char*, const char*, QRect> buttons[] = {
      {"Command1", "Yes, Download", QRect(80, 56, 101, 29)},
      {"Command2", "No, Continue", QRect(188, 56, 101, 29)}};
  for (const auto& [name, caption, geometry] : buttons) {
    auto* button = notice_->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), caption);
    EXPECT_EQ(button->geometry(), geometry);
    EXPECT_FALSE(button->isDefault() || button->autoDefault()) << name;
  }
  EXPECT_EQ(notice_->focusWidget(),
            notice_->findChild<QPushButton*>("Command2"));
  for (QWidget* part : notice_->findChildren<QWidget*>())
    EXPECT_EQ(part->font().family() + " " +
                  QString::number(part->font().pointSizeF()),
              "Arial 8.25");
}

TEST_F(Form9Test, ClosingThroughTheTitleBarAnswersNoContinue) {
  form().DownloadWanted = true;
  notice_->ShowNotice();
  EXPECT_TRUE(notice_->close());
  EXPECT_TRUE(notice_->Answered);
  EXPECT_FALSE(form().DownloadWanted);
  // Hidden, not destroyed.
  EXPECT_EQ(form().findChild<Form9*>(), notice_);
}

}  // namespace
}  // namespace ferrybox
