// SPDX-License-Identifier: GPL-3.0-or-later
// Window tests need one QApplication for the whole program.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  // A screen with room for the whole window; tests of smaller screens say
  // so themselves.
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" FERRYBOX_TEST_SCREEN);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
