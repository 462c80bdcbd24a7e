// SPDX-License-Identifier: GPL-3.0-or-later
// ferrybox-bench-window: one backup through the real window, for the
// benchmark. Opens Form1 offscreen, fills the folder boxes, clicks "Go"
// and waits for the closing line, as a user would.
//
//   ferrybox-bench-window [--show-files] [--incremental] [--print-platform]
//                         SOURCE DESTINATION
//
// Without --show-files both "Show Files" boxes are clear. The platform is
// QT_QPA_PLATFORM's, offscreen when that is empty; --print-platform writes
// the one in use to standard output after the run, so the benchmark can
// tell that it timed a real X server. The copy log goes beside this
// program. Exit status 0 when the closing line came.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/form1.h"
#include "ui/line_list.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  bool show_files = false;
  bool incremental = false;
  bool print_platform = false;
  std::vector<std::string> folders;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--show-files") {
      show_files = true;
    } else if (arg == "--incremental") {
      incremental = true;
    } else if (arg == "--print-platform") {
      print_platform = true;
    } else {
      folders.push_back(arg);
    }
  }
  if (folders.size() != 2) {
    std::fprintf(stderr,
                 "usage: ferrybox-bench-window [--show-files] [--incremental] "
                 "[--print-platform] SOURCE DESTINATION\n");
    return 2;
  }

  QApplication app(argc, argv);
  ferrybox::Form1 form(QCoreApplication::applicationDirPath().toStdString(),
                       ferrybox::DefaultPlatform());
  form.Form_Load();
  // The version check (third tick of Timer3) is no part of a backup; on a
  // machine without network it would stall a run that lasts three seconds.
  if (auto* timer3 = form.findChild<QTimer*>("Timer3")) timer3->stop();
  form.show();
  auto* text1 = form.findChild<QLineEdit*>("Text1");
  auto* text2 = form.findChild<QLineEdit*>("Text2");
  auto* check1 = form.findChild<QCheckBox*>("Check1");
  auto* check2 = form.findChild<QCheckBox*>("Check2");
  auto* check3 = form.findChild<QCheckBox*>("Check3");
  auto* go = form.findChild<QPushButton*>("Command3");
  auto* list3 = form.findChild<ferrybox::LineList*>("List3");
  if (!text1 || !text2 || !check1 || !check2 || !check3 || !go || !list3) {
    std::fprintf(stderr, "ferrybox-bench-window: a control is missing\n");
    return 2;
  }
  text1->setText(QString::fromStdString(folders[0]));
  text2->setText(QString::fromStdString(folders[1]));
  check1->setChecked(show_files);
  check2->setChecked(show_files);
  check3->setChecked(incremental);

  int status = 1;
  QTimer::singleShot(0, &form, [&] {
    go->click();  // returns after the run's closing line
    const QString last =
        list3->Count() > 0 ? list3->Line(list3->Count() - 1) : QString();
    if (last.startsWith("Finished....in :")) {
      status = 0;
    } else {
      std::fprintf(stderr, "ferrybox-bench-window: no closing line, got: %s\n",
                   last.toLocal8Bit().constData());
    }
    QCoreApplication::quit();
  });
  app.exec();
  if (print_platform) {
    std::printf("%s\n",
                QGuiApplication::platformName().toLocal8Bit().constData());
  }
  return status;
}
