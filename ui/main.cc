#include <QApplication>

#include "ui/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ferrybox::Form1 form(QCoreApplication::applicationDirPath().toStdString());
  form.show();
  return app.exec();
}
