#include "ui/window_program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTabBar>
#include <QTabWidget>
#include <QTranslator>
#include <utility>

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

namespace {

// The folder a start would take as its work directory (see
// EnterWorkDirectory), as an absolute path with symbolic links resolved.
QString WantedWorkDirectory(const std::string& given) {
  QString dir = QString::fromStdString(given);
  if (dir.isEmpty() && !RealFileSystem().Exists(DataLayout(std::string(), std::string()).SettingsFile()))
    dir = QString::fromStdString(UserWorkDirectory());
  const QFileInfo info(dir.isEmpty() ? QDir::currentPath() : dir);
  return info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
}

// A running copy on another work directory than this start asked for: the
// first window is raised and keeps its own; the box names both.
void TellOtherWorkDirectory(const RunningCopy& running, const std::string& given) {
  if (running.workDir.empty()) return;
  const QString theirs = QFileInfo(QString::fromStdString(running.workDir)).canonicalFilePath();
  const QString wanted = WantedWorkDirectory(given);
  if (theirs == wanted) return;
  ApplyDialogFont();
  LoadQtTranslations();
  ShowMessageBox(nullptr,
                 QStringLiteral("已有一个窗口在运行, 它的工作目录是:\n%1\n\n没有打开所要的工作目录:\n%2\n\n"
                                "要在那里工作, 请先关闭已运行的窗口再启动。")
                     .arg(QDir::toNativeSeparators(theirs), QDir::toNativeSeparators(wanted)),
                 QStringLiteral("工作目录不同"), BoxIcon::kInformation);
}

}  // namespace

int RunWindowProgram(const std::string& workDir) {
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    if (const std::optional<RunningCopy> running = ActivateRunningCopy()) {
      TellOtherWorkDirectory(*running, workDir);
      return 0;
    }
  }
  ApplyDialogFont();
  LoadQtTranslations();
  RouteCoreMessagesToBoxes();
  SetFrontReporter(&WindowReports());
  if (!EnterWorkDirectory(workDir, RealFileSystem()) || !StartUp(RealFileSystem())) return 0;
  std::unique_ptr<MainDlg> sheet = CreateMainDlg();
  sheet->Sheet()->tabBar()->setToolTip(QStringLiteral("marbloom ") + QString::fromUtf8(ProgramVersion()));
  if (QGuiApplication::platformName() == QLatin1String("xcb"))
    MarkWorkDirectory(static_cast<unsigned long>(sheet->winId()), WorkDirectory());
  sheet->exec();
  return 0;
}

}  // namespace marbloom::ui
