#include "ui/form9.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "tests/ui/form1_fixture.h"

namespace ferrybox {
namespace {

class Form9Test : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    notice_ = new Form9(form());  // owned by the main window
  }
  template <typename T>
  T* Part(const char* name) {
    T* part = notice_->findChild<T*>(name);
    EXPECT_NE(part, nullptr) << name;
    return part;
  }

  Form9* notice_ = nullptr;
};

TEST_F(Form9Test, ShowsItsCaptionTextsAndLayout) {
  EXPECT_EQ(notice_->windowTitle(), "New Version for download is available.");
  EXPECT_EQ(notice_->size(), QSize(375, 94));  // 5625 x 1410 twips
  auto* frame = Part<QGroupBox>("Frame1");
  EXPECT_EQ(frame->title(), "");
  EXPECT_EQ(frame->geometry(), QRect(4, 0, 369, 93));

  auto* label = Part<QLabel>("Label1");
  EXPECT_EQ(label->text(),
            "A newer version Ferrybox is available for download. Its "
            "recommended to upgrade to the newer version.");
  EXPECT_EQ(label->geometry(), QRect(8, 20, 353, 45));
  EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(label->wordWrap());
  EXPECT_TRUE(label->font().bold());

  auto* yes = Part<QPushButton>("Command1");
  auto* no = Part<QPushButton>("Command2");
  EXPECT_EQ(yes->text(), "Yes, Download");
  EXPECT_EQ(yes->geometry(), QRect(80, 56, 101, 29));
  EXPECT_EQ(no->text(), "No, Continue");
  EXPECT_EQ(no->geometry(), QRect(188, 56, 101, 29));
  EXPECT_EQ(frame->parentWidget(), notice_);
  for (QWidget* widget : std::initializer_list<QWidget*>{label, yes, no})
    EXPECT_EQ(widget->parentWidget(), frame);
  for (QWidget* widget :
       std::initializer_list<QWidget*>{frame, label, yes, no}) {
    EXPECT_EQ(widget->font().family(), "Arial");
    EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), 8.25);
  }
}

TEST_F(Form9Test, OpensWithNoContinueFocusedAndNoDefaultButton) {
  notice_->ShowNotice();
  EXPECT_EQ(notice_->focusWidget(), Part<QPushButton>("Command2"));
  for (const char* name : {"Command1", "Command2"}) {
    EXPECT_FALSE(Part<QPushButton>(name)->isDefault()) << name;
    EXPECT_FALSE(Part<QPushButton>(name)->autoDefault()) << name;
  }
}

TEST_F(Form9Test, FirstShowPlacesItByTheMainWindowsOuterSize) {
  form().move(300, 200);
  form().show();
  notice_->ShowNotice();
  const QSize outer = form().frameGeometry().size();
  const QSize own = notice_->frameGeometry().size();
  // Screen coordinates; the main window's own position plays no part.
  EXPECT_EQ(notice_->frameGeometry().topLeft(),
            QPoint((outer.width() - own.width()) / 2,
                   (outer.height() - own.height()) / 2));
}

TEST_F(Form9Test, ClosingThroughTheTitleBarAnswersNoContinue) {
  form().DownloadWanted = true;
  notice_->ShowNotice();
  EXPECT_TRUE(notice_->close());
  EXPECT_TRUE(notice_->Answered);
  EXPECT_FALSE(form().DownloadWanted);
  EXPECT_TRUE(notice_->isHidden());
  // Hidden, not destroyed.
  EXPECT_EQ(form().findChild<Form9*>(), notice_);
}

}  // namespace
}  // namespace ferrybox
