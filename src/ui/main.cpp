// marbloom: the window program.
#include <QApplication>

#include "ui/window_program.h"

int main(int argc, char** argv) {
  marbloom::ui::PrepareRuntimeDirectory();
  QApplication app(argc, argv);
  return marbloom::ui::RunWindowProgram();
}
