// marbloom: the window program.
//   marbloom [-C DIR] [--help] [--version] [Qt's options]
#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string_view>

#include "base/version.h"
#include "ui/window_program.h"

namespace {

constexpr const char* kHelp =
    "Usage: marbloom [-C DIR] [Qt's options]\n"
    "The window of marbloom: downloads the day archives of end-of-day and tick data of the Shenzhen,\n"
    "Shanghai and Beijing markets, converts them into the quote client's history-data tree and keeps\n"
    "that tree healthy. marbloom-cli runs the same operations from the command line.\n"
    "\n"
    "Options:\n"
    "  -C DIR         work directory (default: the current directory when it holds marbloom.ini,\n"
    "                 otherwise $XDG_DATA_HOME/marbloom, that is ~/.local/share/marbloom, created on\n"
    "                 first use with the history directory data/vipdoc/ inside it)\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Only one window runs at a time: starting another brings the running one to the front; when the\n"
    "new start asked for another work directory, a message names both.\n"
    "\n"
    "Exit codes:\n"
    "  0  the window was closed, a running window was brought to the front, or start-up ended after\n"
    "     its message\n"
    "  2  a command line it does not understand\n";

}  // namespace

int main(int argc, char** argv) {
  std::string workDir;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") return std::fputs(kHelp, stdout), 0;
    if (arg == "--version") return std::printf("marbloom %s\n", marbloom::ProgramVersion()), 0;
    if (arg == "-C" && i + 1 == argc) return std::fputs("marbloom: -C needs a directory\n", stderr), 2;
    if (arg == "-C") workDir = argv[++i];
  }
  marbloom::ui::PrepareRuntimeDirectory();
  QApplication app(argc, argv);
  QApplication::setApplicationVersion(QString::fromUtf8(marbloom::ProgramVersion()));
  QApplication::setDesktopFileName(QStringLiteral("marbloom"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("marbloom")));
  return marbloom::ui::RunWindowProgram(workDir);
}
