// Builds a Form1 over a temporary program folder, and finds its controls.
#ifndef FERRYBOX_TESTS_UI_FORM1_FIXTURE_H_
#define FERRYBOX_TESTS_UI_FORM1_FIXTURE_H_

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "ui/form1.h"
#include "ui/line_list.h"

namespace ferrybox {

class Form1Fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program_dir_.isValid());
    form_ = std::make_unique<Form1>(program_dir_.path().toStdString());
    // A test that waits past the third Timer3 tick must not reach out to
    // the real update site: a closed loopback port fails at once.
    form_->SetUpdateSite("http://127.0.0.1:9");
  }

  Form1& form() { return *form_; }
  std::string program_folder() const {
    return program_dir_.path().toStdString();
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

 private:
  QTemporaryDir program_dir_;
  std::unique_ptr<Form1> form_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_UI_FORM1_FIXTURE_H_
