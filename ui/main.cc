// SPDX-License-Identifier: GPL-3.0-or-later
#include <signal.h>

#include <QApplication>
#include <QScreen>

#include "settings/program_folder.h"
#include "ui/form1.h"

int main(int argc, char** argv) {
  // A copy that passes the file-size limit fails with EFBIG and is reported
  // like any failed copy, instead of ending the program mid-run.
  signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  // Lets the desktop match the window to its menu entry and icon.
  QGuiApplication::setDesktopFileName("org.example.ferrybox");
  ferrybox::Form1 form(ferrybox::ProgramFolder(), ferrybox::DefaultPlatform());
  form.Form_Load();
  form.show();
  // Again with the frame the desktop put round it.
  if (const QScreen* screen = form.screen())
    form.FitScreen(screen->availableGeometry());
  return app.exec();
}
