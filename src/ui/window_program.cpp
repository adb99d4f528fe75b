#include "ui/window_program.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QTabBar>
#include <QTabWidget>

#include "app/startup.h"
#include "base/version.h"
#include "ui/main_dlg.h"
#include "ui/message_box.h"
#include "ui/pg_browse.h"
#include "ui/pg_config.h"
#include "ui/pg_day_line.h"
#include "ui/pg_download.h"
#include "ui/pg_tick.h"
#include "ui/single_instance.h"

namespace marbloom::ui {

void ApplyDialogFont() {
  const QStringList families = QFontDatabase::families();
  QString family = QStringLiteral("WenQuanYi Micro Hei");
  for (const QString& song : {QStringLiteral("宋体"), QStringLiteral("SimSun")})
    if (families.contains(song)) family = song;
  QApplication::setFont(QFont(family, 9));
}

std::unique_ptr<MainDlg> CreateMainDlg() {
  auto sheet = std::make_unique<MainDlg>();
  sheet->AddPage(new PgConfig, QStringLiteral("设置页面"));
  sheet->AddPage(new PgDownLoad, QStringLiteral("数据下载"));
  sheet->AddPage(new PgDayLine, QStringLiteral("日线数据处理"));
  sheet->AddPage(new PgTick, QStringLiteral("分时数据处理"));
  sheet->AddPage(new PgBrowse, QStringLiteral("数据浏览"));
  return sheet;
}

int RunWindowProgram(const std::string& workDir) {
  if (QGuiApplication::platformName() == QLatin1String("xcb") && ActivateRunningCopy()) return 0;
  ApplyDialogFont();
  RouteCoreMessagesToBoxes();
  if (!EnterWorkDirectory(workDir) || !StartUp()) return 0;
  std::unique_ptr<MainDlg> sheet = CreateMainDlg();
  sheet->Sheet()->tabBar()->setToolTip(QStringLiteral("marbloom ") + QString::fromUtf8(ProgramVersion()));
  sheet->exec();
  return 0;
}

}  // namespace marbloom::ui
