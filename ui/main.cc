#include <QApplication>

#include "settings/program_folder.h"
#include "ui/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ferrybox::Form1 form(ferrybox::ProgramFolder());
  form.Form_Load();
  form.show();
  return app.exec();
}
