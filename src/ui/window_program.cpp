#include "ui/window_program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTabBar>
#include <QTabWidget>
#include <QTranslator>

#include "app/settings.h"
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
#include "ui/window_reports.h"

namespace marbloom::ui {

void PrepareRuntimeDirectory() {
  if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) return;
  const QByteArray dir = QFile::encodeName(QDir::tempPath()) + "/runtime-" + QByteArray::number(::getuid());
  ::mkdir(dir.constData(), 0700);
  struct stat st {};
  // Only a folder of our own that nobody else can enter.
  if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return;
  if ((st.st_mode & 0777) != 0700 && ::chmod(dir.constData(), 0700) != 0) return;
  qputenv("XDG_RUNTIME_DIR", dir);
}

void LoadQtTranslations() {
  static QTranslator translator;
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const QLocale system = QLocale::system();
  const QLocale chinese = system.language() == QLocale::Chinese ? system : QLocale(QLocale::Chinese, QLocale::China);
  if (translator.load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), dir) ||
      translator.load(QStringLiteral("qtbase_zh_CN"), dir))
    QCoreApplication::installTranslator(&translator);
}

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
  LoadQtTranslations();
  RouteCoreMessagesToBoxes();
  SetFrontReporter(&WindowReports());
  if (!EnterWorkDirectory(workDir, RealFileSystem()) || !StartUp(RealFileSystem())) return 0;
  std::unique_ptr<MainDlg> sheet = CreateMainDlg();
  sheet->Sheet()->tabBar()->setToolTip(QStringLiteral("marbloom ") + QString::fromUtf8(ProgramVersion()));
  sheet->exec();
  return 0;
}

}  // namespace marbloom::ui
