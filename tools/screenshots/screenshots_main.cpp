// marbloom-screenshots OUTDIR: renders every tab of the window and the
// layout of every list entry to PNG files in OUTDIR, using a scratch work
// directory so no real settings are touched.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

#include "app/startup.h"
#include "ui/main_dlg.h"
#include "ui/window_program.h"

namespace {

using marbloom::ui::MainDlg;

bool Save(MainDlg& sheet, const QString& dir, const QString& name) {
  QApplication::processEvents();
  const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
  if (!sheet.grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

// Every entry of a page's operation list, one picture each.
bool SaveEntries(MainDlg& sheet, int tab, const QString& listName, const QString& dir, const QString& stem) {
  sheet.Sheet()->setCurrentIndex(tab);
  auto* list = sheet.Sheet()->widget(tab)->findChild<QComboBox*>(listName);
  if (list == nullptr) return false;
  for (int i = 0; i < list->count(); ++i) {
    list->setCurrentIndex(i);
    if (!Save(sheet, dir, QStringLiteral("%1-entry%2").arg(stem).arg(i))) return false;
  }
  list->setCurrentIndex(0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: marbloom-screenshots OUTDIR\n");
    return 2;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QDir().mkpath(out);
  QTemporaryDir scratch;
  QDir().mkpath(scratch.path() + QStringLiteral("/work"));
  if (!scratch.isValid() || ::chdir(qPrintable(scratch.path() + QStringLiteral("/work"))) != 0) return 1;
  marbloom::ui::ApplyDialogFont();
  if (!marbloom::StartUp()) return 1;

  std::unique_ptr<MainDlg> sheet = marbloom::ui::CreateMainDlg();
  sheet->show();
  const char* tabs[] = {"tab1-settings", "tab2-download", "tab3-daily", "tab4-tick"};
  for (int i = 0; i < 4; ++i) {
    sheet->Sheet()->setCurrentIndex(i);
    if (!Save(*sheet, out, QString::fromLatin1(tabs[i]))) return 1;
  }
  bool ok = SaveEntries(*sheet, 1, QStringLiteral("ctl2000"), out, QStringLiteral("download")) &&
            SaveEntries(*sheet, 2, QStringLiteral("ctl3000"), out, QStringLiteral("daily")) &&
            SaveEntries(*sheet, 3, QStringLiteral("ctl4001"), out, QStringLiteral("tick"));
  return ok ? 0 : 1;
}
