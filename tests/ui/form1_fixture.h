// SPDX-License-Identifier: GPL-3.0-or-later
// Builds a Form1 over a temporary program folder, and finds its controls.
#ifndef FERRYBOX_TESTS_UI_FORM1_FIXTURE_H_
#define FERRYBOX_TESTS_UI_FORM1_FIXTURE_H_

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_tree.h"
#include "ui/form1.h"
#include "ui/line_list.h"

// Shows QStrings as text in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace ferrybox {

/// What only the window tests set and read in a Form1.
class Form1Seams {
 public:
  /// Every message box and folder dialog is answered by `dialogs` (not
  /// owned) from now on.
  static void SetDialogs(Form1& form, Dialogs* dialogs) {
    form.dialogs_ = dialogs;
  }
  /// "Exit" calls `end_program` last instead of ending the program.
  static void SetEndProgram(Form1& form, std::function<void()> end_program) {
    form.end_program_ = std::move(end_program);
  }
  /// The version check asks `site` instead of the maker's web server.
  static void SetUpdateSite(Form1& form, std::string site) {
    form.update_site_ = std::move(site);
  }
  /// The download page is opened by `opener` instead of the browser.
  static void SetUrlOpener(Form1& form, Form1::UrlOpener opener) {
    form.open_url_ = std::move(opener);
  }
  static BackupRun& Run(Form1& form) { return *form.run_; }
  static MessageLists& Lists(Form1& form) { return form.lists_; }
};

class Form1Fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<Form1>(program_.root(), RunPlatform());
    // A closed loopback port: no test reaches out to the real update site.
    Form1Seams::SetUpdateSite(*form_, "http://127.0.0.1:9");
  }
  // A test that ended the program leaves a quit pending; it ends here.
  void TearDown() override {
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
  }

  /// What the window's runs reach the system through.
  virtual Platform& RunPlatform() { return DefaultPlatform(); }

  Form1& form() { return *form_; }
  testing::TempTree& program() { return program_; }

  /// Types the two folders into Text1 and Text2.
  void SetFolders(const std::string& source, const std::string& destination) {
    Edit("Text1")->setText(QString::fromStdString(source));
    Edit("Text2")->setText(QString::fromStdString(destination));
  }
  /// "Go", as clicked; returns when the run does, its lines shown.
  void Go() {
    Button("Command3")->click();
    form_->FlushDisplay();
  }

  template <typename T>
  T* Child(const char* name) {
    T* child = form_->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QLineEdit* Edit(const char* name) { return Child<QLineEdit>(name); }
  QCheckBox* Check(const char* name) { return Child<QCheckBox>(name); }
  QPushButton* Button(const char* name) { return Child<QPushButton>(name); }
  LineList* Lines(const char* name) { return Child<LineList>(name); }
  /// The lines a list shows, oldest first.
  std::vector<std::string> Shown(const char* name) {
    std::vector<std::string> lines;
    for (int i = 0; i < Lines(name)->Count(); ++i)
      lines.push_back(Lines(name)->Line(i).toStdString());
    return lines;
  }
  /// A list's newest line but `back`; "" before its first.
  std::string LastLine(const char* name, int back = 0) {
    return Lines(name)->Line(Lines(name)->Count() - 1 - back).toStdString();
  }

 private:
  testing::TempTree program_;
  std::unique_ptr<Form1> form_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_UI_FORM1_FIXTURE_H_
