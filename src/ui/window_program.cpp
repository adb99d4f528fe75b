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
#include <utility>

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

namespace {

// The few texts of Qt's file dialogs that its Chinese catalogue lacks (the
// kind column's names for what has no file type of its own).
class FileKindTexts : public QTranslator {
 public:
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char*, int) const override {
    static const std::pair<const char*, const char*> kTexts[] = {
        {"Folder", "文件夹"}, {"File Folder", "文件夹"}, {"Drive", "驱动器"}, {"File", "文件"},
        {"%1 File", "%1 文件"}, {"Shortcut", "快捷方式"}, {"Alias", "别名"}, {"Unknown", "未知"}};
    if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return QString();
    for (const auto& [english, chinese] : kTexts)
      if (qstrcmp(source, english) == 0) return QString::fromUtf8(chinese);
    return QString();
  }
};

}  // namespace

void LoadQtTranslations() {
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  QLocale::setDefault(chinese);
  static QTranslator qtTexts;
  static FileKindTexts fileKinds;
  if (qtTexts.load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&qtTexts);
  QCoreApplication::installTranslator(&fileKinds);
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
  if (!EnterWorkDirectory(workDir, RealFileSystem()) || !StartUp(RealFileSystem())) return 0;
  std::unique_ptr<MainDlg> sheet = CreateMainDlg();
  sheet->Sheet()->tabBar()->setToolTip(QStringLiteral("marbloom ") + QString::fromUtf8(ProgramVersion()));
  sheet->exec();
  return 0;
}

}  // namespace marbloom::ui
