// marbloom-screenshots OUTDIR: renders every tab of the window, the layout
// of every list entry, the settings page's folder chooser (in Qt's own
// texts), a running download and the data tab showing sample data to PNG
// files in OUTDIR, using a scratch work directory and an
// in-process sample server, so no real settings or data are touched.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QDir>
#include <QTabWidget>
#include <QDateTimeEdit>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "app/settings.h"
#include "app/startup.h"
#include "common/calendar.h"
#include "common/shared_state.h"
#include "daily/daily_conversion.h"
#include "samplegen.h"
#include "tickdata/tick_engine.h"
#include "ui/pg_browse.h"
#include "sample_server.h"
#include "ui/main_dlg.h"
#include "ui/operation_page.h"
#include "ui/window_program.h"
#include "ui/window_reports.h"

namespace {

using marbloom::ui::MainDlg;

bool Save(QWidget& sheet, const QString& dir, const QString& name) {
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

void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// The folder chooser opened from the settings page, pictured and closed.
bool SaveFolderDialog(MainDlg& sheet, const QString& dir) {
  sheet.Sheet()->setCurrentIndex(0);
  bool saved = false;
  QTimer::singleShot(500, &sheet, [&] {
    if (QWidget* dialog = QApplication::activeModalWidget()) {
      saved = Save(*dialog, dir, QStringLiteral("settings-folder-dialog"));
      dialog->close();
    }
  });
  sheet.Sheet()->widget(0)->findChild<QPushButton*>(QStringLiteral("ctl1001"))->click();
  return saved;
}

// Holds the download's worker at the `count`th status line holding `needle`
// (in its tick conversion, so the bar stands part of the way), until released.
class ConversionGate {
 public:
  ConversionGate(const char* needle, int count) : count_(count) {
    marbloom::ui::WindowReports().SetStatusObserver([this, needle](const std::string& line) {
      if (std::this_thread::get_id() == window_ || line.find(needle) == std::string::npos) return;
      std::unique_lock<std::mutex> lock(mutex_);
      if (++seen_ != count_) return;
      cv_.wait(lock, [this] { return released_; });
    });
  }
  ~ConversionGate() {
    Release();
    marbloom::ui::WindowReports().SetStatusObserver(nullptr);
  }
  bool Reached() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_ >= count_;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  const int count_;
  std::thread::id window_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable cv_;
  int seen_ = 0;
  bool released_ = false;
};

// A tick download of two days from an in-process sample server, pictured
// while it converts.
bool SaveRunningDownload(MainDlg& sheet, const QString& dir, const QString& cache) {
  marbloom::sample::ServerOptions options;
  options.port = 0;
  options.sample = marbloom::sample::SampleOptions::Quick(1);
  options.cacheDir = cache.toStdString() + "/";
  options.log = nullptr;
  marbloom::sample::SampleServer server(options);
  if (!server.Start()) return false;
  marbloom::Settings().downloadBase = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
  sheet.Sheet()->setCurrentIndex(1);
  auto* page = static_cast<marbloom::ui::OperationPage*>(sheet.Sheet()->widget(1));
  page->findChild<QComboBox*>(QStringLiteral("ctl2000"))->setCurrentIndex(1);
  page->findChild<QDateTimeEdit*>(QStringLiteral("ctl2003"))->setDate(QDate(2022, 5, 2));
  page->findChild<QDateTimeEdit*>(QStringLiteral("ctl2004"))->setDate(QDate(2022, 5, 3));
  bool saved = false;
  auto pictureAt = [&](ConversionGate& gate, const QString& name) {
    for (int i = 0; i < 600 && !gate.Reached(); ++i) Pause(100);
    if (!gate.Reached()) return false;
    Pause(300);  // a few timer ticks copy the progress and the status
    return Save(sheet, dir, name);
  };
  {
    auto days = std::make_unique<ConversionGate>("正在下载20220503", 1);
    page->Execute();
    saved = pictureAt(*days, QStringLiteral("download-days"));
    days.reset();
    ConversionGate converting("分笔数据...", 1200);
    saved = pictureAt(converting, QStringLiteral("download-running")) && saved;
  }
  while (page->IsRunning()) Pause(100);
  server.Stop();
  return saved;
}

// A Shenzhen share of the sample that traded on `date`, as "sz000006".
QString SampleShare(const marbloom::sample::SampleOptions& sample, int date) {
  for (const marbloom::sample::SampleSecurity& s : marbloom::sample::SecurityUniverse(date, sample))
    if (s.market == 0 && s.type == 2 && marbloom::sample::TickDayOf(date, 0, s.code, sample))
      return QString::fromStdString(marbloom::SecurityStem(0, s.code));
  return QString();
}

// The data tab on a share: three months of daily lines, then one day of ticks.
bool SaveBrowseTab(MainDlg& sheet, const QString& dir) {
  const marbloom::DataLayout layout = marbloom::CurrentLayout();
  const marbloom::sample::SampleOptions sample = marbloom::sample::SampleOptions::Quick(1);
  constexpr int kFirst = 20220502, kLast = 20220729, kTickDay = 20220729;
  for (int date = kFirst; date <= kLast; date = marbloom::NextTradingDay(date))
    if (!marbloom::sample::WriteDailySources(date, sample, layout.DailySourceDir())) return false;
  if (!marbloom::sample::WriteTickArchive(kTickDay, sample, layout.TickArchiveDir())) return false;
  marbloom::DailyConversion(layout).ConvertDailyRange(kFirst, kLast);
  marbloom::TickEngine(layout).ConvertTickRange(kTickDay, kTickDay);
  const int tab = sheet.Sheet()->count() - 1;
  sheet.Sheet()->setCurrentIndex(tab);
  sheet.resize(900, 760);
  auto* page = static_cast<marbloom::ui::PgBrowse*>(sheet.Sheet()->widget(tab));
  page->findChild<QLineEdit*>(QStringLiteral("ctl5001"))->setText(SampleShare(sample, kTickDay));
  page->Show();
  if (!Save(sheet, dir, QStringLiteral("tab5-browse"))) return false;
  page->findChild<QComboBox*>(QStringLiteral("ctl5002"))->setCurrentIndex(3);
  page->findChild<QCheckBox*>(QStringLiteral("ctl5005"))->setChecked(false);
  page->findChild<QDateTimeEdit*>(QStringLiteral("ctl5003"))->setDate(QDate(2022, 7, 29));
  page->findChild<QDateTimeEdit*>(QStringLiteral("ctl5004"))->setDate(QDate(2022, 7, 29));
  page->Show();
  return Save(sheet, dir, QStringLiteral("browse-ticks"));
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
  marbloom::ui::LoadQtTranslations();
  if (!marbloom::StartUp(marbloom::RealFileSystem())) return 1;

  std::unique_ptr<MainDlg> sheet = marbloom::ui::CreateMainDlg();
  sheet->show();
  const char* tabs[] = {"tab1-settings", "tab2-download", "tab3-daily", "tab4-tick"};
  for (int i = 0; i < 4; ++i) {
    sheet->Sheet()->setCurrentIndex(i);
    if (!Save(*sheet, out, QString::fromLatin1(tabs[i]))) return 1;
  }
  bool ok = SaveFolderDialog(*sheet, out) && SaveEntries(*sheet, 1, QStringLiteral("ctl2000"), out, QStringLiteral("download")) &&
            SaveEntries(*sheet, 2, QStringLiteral("ctl3000"), out, QStringLiteral("daily")) &&
            SaveEntries(*sheet, 3, QStringLiteral("ctl4001"), out, QStringLiteral("tick")) &&
            SaveRunningDownload(*sheet, out, scratch.path() + QStringLiteral("/cache")) && SaveBrowseTab(*sheet, out);
  return ok ? 0 : 1;
}
