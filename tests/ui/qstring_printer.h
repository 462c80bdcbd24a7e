// Shows QStrings as text in test failure messages.
#ifndef FERRYBOX_TESTS_UI_QSTRING_PRINTER_H_
#define FERRYBOX_TESTS_UI_QSTRING_PRINTER_H_

#include <QString>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

#endif  // FERRYBOX_TESTS_UI_QSTRING_PRINTER_H_
