// The window's tests run on the offscreen platform with one application
// object for the whole program.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/window_program.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  marbloom::ui::ApplyDialogFont();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
