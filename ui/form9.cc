// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form9.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "ui/enter_button.h"
#include "ui/fresh_keys.h"

namespace ferrybox {
namespace {

// Layout figures are in twips; 15 twips make one pixel.
QRect Twips(int left, int top, int width, int height) {
  return QRect(left / 15, top / 15, width / 15, height / 15);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption,
                        QRect geometry) {
  auto* button = new EnterButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  // Neither button answers Enter or Escape without the focus.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

}  // namespace

Form9::Form9(QWidget& main) : QWidget(&main, Qt::Dialog), main_(main) {
  setObjectName("Form9");
  setWindowTitle("New Version for download is available.");
  QFont font("Arial");
  font.setPointSizeF(8.25);
  setFont(font);
  setFixedSize(5625 / 15, 1410 / 15);

  Frame1 = new QGroupBox(this);
  Frame1->setObjectName("Frame1");
  Frame1->setGeometry(Twips(60, 0, 5535, 1395));

  Label1 = new QLabel(
      "A newer version Ferrybox is available for download. Its recommended "
      "to upgrade to the newer version.",
      Frame1);
  Label1->setObjectName("Label1");
  Label1->setGeometry(Twips(120, 300, 5295, 675));
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label1->setWordWrap(true);
  QFont bold = font;
  bold.setBold(true);
  Label1->setFont(bold);

  Command1 = MakeButton(Frame1, "Command1", "Yes, Download",
                        Twips(1200, 840, 1515, 435));
  Command2 = MakeButton(Frame1, "Command2", "No, Continue",
                        Twips(2820, 840, 1515, 435));
  // The label's text is its accessible name; the buttons say what follows.
  Command1->setAccessibleDescription(
      "Opens the download page in your web browser.");
  Command2->setAccessibleDescription(
      "Closes this notice and goes on with the version you have.");
  // "No, Continue" comes first, so it has the focus when the notice opens.
  QWidget::setTabOrder(Command2, Command1);
  Command2->setFocus();

  // The notice opens on its own, maybe under a key held down.
  fresh_keys_ = new FreshKeysOnly(this);
  connect(Command1, &QPushButton::clicked, this, &Form9::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &Form9::Command2_Click);
}

void Form9::ShowNotice() {
  // Whatever key is down now was pressed for the main window.
  fresh_keys_->Open();
  if (!loaded_) {
    loaded_ = true;
    Form_Load();
  }
  show();
  activateWindow();
}

void Form9::Form_Load() {
  // The frame sizes are only known once the native window exists.
  create();
  raise();
  const QSize outer = main_.frameGeometry().size();
  const QSize own = frameGeometry().size();
  move((outer.width() - own.width()) / 2, (outer.height() - own.height()) / 2);
}

void Form9::Command1_Click() { Answer(true); }

void Form9::Command2_Click() { Answer(false); }

void Form9::Answer(bool download) {
  hide();
  emit AnswerGiven(download);
}

void Form9::closeEvent(QCloseEvent* event) {
  // The check must hear an answer however the notice goes away.
  Command2_Click();
  event->accept();
}

}  // namespace ferrybox
