#include "common/data_layout.h"

#include <cstdio>
#include <string>
#include <utility>

#include "common/market.h"

namespace marbloom {
namespace {

constexpr const char* kDown = "down/";
constexpr const char* kDayZip = "dayzip/";
constexpr const char* kTickZip = "tickzip/";
constexpr const char* kLogs = "logs/";
constexpr const char* kDaily = "lday";
constexpr const char* kOneMinute = "minline";
constexpr const char* kFiveMinute = "fzline";
constexpr const char* kDailySources = "refmhq/";
constexpr const char* kTickStore = "newtick/";
constexpr const char* kTickArchives = "newdatetick/";
constexpr const char* kOldTickArchives = "datetick/";
constexpr const char* kOldTickStore = "tick/";

std::string Joined(std::string_view a, std::string_view b) {
  std::string s;
  s.reserve(a.size() + b.size());
  s.append(a).append(b);
  return s;
}

// The label of a folder in the data-tree messages: no trailing '/', and '\'
// between a market and its folder.
std::string Label(std::string_view folder) {
  std::string label(folder);
  if (!label.empty() && label.back() == '/') label.pop_back();
  for (char& c : label)
    if (c == '/') c = '\\';
  return label;
}

// A fixed temporary's name for a worker: "<base>.tmp", "<base><n>.tmp" for n > 0.
std::string WorkerTemp(std::string_view base, int worker) {
  return std::string(base).append(worker > 0 ? std::to_string(worker) : "").append(".tmp");
}

}  // namespace

DataLayout::DataLayout(std::string workDir, std::string historyDir, FileSystem& files, Reporter& reporter)
    : workDir_(std::move(workDir)), historyDir_(std::move(historyDir)), files_(&files), reporter_(&reporter) {}

DataLayout DataLayout::WithFiles(FileSystem& files) const {
  return DataLayout(workDir_, historyDir_, files, *reporter_);
}

DataLayout DataLayout::WithReporter(Reporter& reporter) const {
  return DataLayout(workDir_, historyDir_, *files_, reporter);
}

std::string DataLayout::SettingsFile() const { return Joined(workDir_, "marbloom.ini"); }
std::string DataLayout::DownloadConfigFile() const { return Joined(workDir_, kConfigFileName); }
std::string DataLayout::UpdateStateFile() const { return Joined(workDir_, "update.ini"); }
std::string DataLayout::DownDir() const { return Joined(workDir_, kDown); }
std::string DataLayout::DayZipDir() const { return DownDir() + kDayZip; }
std::string DataLayout::TickZipDir() const { return DownDir() + kTickZip; }
std::string DataLayout::LogDir() const { return Joined(workDir_, kLogs); }

std::string DataLayout::DayArchiveName(int date) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d%02d%02d.zip", date / 10000, date / 100 % 100, date % 100);
  return name;
}

int DataLayout::DateOfDayArchive(std::string_view name) {
  if (name.size() != 12 || !name.ends_with(".zip")) return 0;
  int date = 0;
  for (char c : name.substr(0, 8)) {
    if (c < '0' || c > '9') return 0;
    date = date * 10 + (c - '0');
  }
  return date;
}

std::string DataLayout::MarketDir(int market, std::string_view folder) const {
  std::string dir = historyDir_;
  dir.append(kMarketPrefix[market]).append("/").append(folder).append("/");
  return dir;
}

std::string DataLayout::DailyDir(int market) const { return MarketDir(market, kDaily); }
std::string DataLayout::SecurityFile(std::string path, int market, std::string_view code, std::string_view ext) {
  path.append(kMarketPrefix[market]).append(code).append(ext);
  return path;
}

std::string DataLayout::DailyFile(int market, std::string_view code) const {
  return SecurityFile(DailyDir(market), market, code, kDailyExtension);
}

std::string DataLayout::DailyTemp(int market) const { return DailyDir(market) + "day.tmp"; }

std::string DataLayout::OneMinuteDir(int market) const { return MarketDir(market, kOneMinute); }
std::string DataLayout::OneMinuteFile(int market, std::string_view code) const {
  return SecurityFile(OneMinuteDir(market), market, code, kOneMinuteExtension);
}
std::string DataLayout::OneMinuteTemp(int market, int worker) const {
  return OneMinuteDir(market) + WorkerTemp("min1", worker);
}

std::string DataLayout::FiveMinuteDir(int market) const { return MarketDir(market, kFiveMinute); }
std::string DataLayout::FiveMinuteFile(int market, std::string_view code) const {
  return SecurityFile(FiveMinuteDir(market), market, code, kFiveMinuteExtension);
}
std::string DataLayout::FiveMinuteTemp(int market, int worker) const {
  return FiveMinuteDir(market) + WorkerTemp("min5", worker);
}

std::string DataLayout::DailySourceDir() const { return Joined(historyDir_, kDailySources); }

std::string DataLayout::CodeListFile(int market, int date) const {
  char name[32];
  std::snprintf(name, sizeof name, "%s%06d.cod", kMarketPrefix[market], date % 1000000);
  return DailySourceDir() + name;
}

std::string DataLayout::QuoteFile(int market, int date) const {
  char name[32];
  std::snprintf(name, sizeof name, "%s%06d.md1", kMarketPrefix[market], date % 1000000);
  return DailySourceDir() + name;
}

std::string DataLayout::TickStoreDir() const { return Joined(historyDir_, kTickStore); }
std::string DataLayout::TickIndexFile(std::string_view stem) const {
  return TickStoreDir().append(stem).append(kTickIndexExtension);
}
std::string DataLayout::TickDataFile(std::string_view stem) const {
  return TickStoreDir().append(stem).append(kTickDataExtension);
}
std::string DataLayout::TickIndexTemp(int worker) const { return TickStoreDir() + WorkerTemp("vid", worker); }
std::string DataLayout::TickDataTemp(int worker) const { return TickStoreDir() + WorkerTemp("vtc", worker); }

std::string DataLayout::TickArchiveDir() const { return Joined(historyDir_, kTickArchives); }
std::string DataLayout::TickArchiveFile(int date) const {
  return TickArchiveDir() + std::to_string(date) + ".htc";
}

std::string DataLayout::WriterLockFile() const { return Joined(historyDir_, "marbloom.lock"); }

std::string DataLayout::UndoDir() const { return Joined(historyDir_, kUndoFolderName).append("/"); }

std::vector<DataLayout::TreeFolder> DataLayout::TreeFolders() const {
  std::vector<TreeFolder> folders = {
      {DownDir(), Label(kDown)},
      {DayZipDir(), Label(kDayZip)},
      {TickZipDir(), Label(kTickZip)},
      {LogDir(), Label(kLogs)},
  };
  // Markets in the tree's order: sz, bj, sh.
  for (int market : {0, 2, 1})
    for (const char* folder : {kFiveMinute, kDaily, kOneMinute})
      folders.push_back({MarketDir(market, folder), Label(std::string(kMarketPrefix[market]) + "/" + folder)});
  for (const char* folder : {kDailySources, kOldTickArchives, kTickArchives, kOldTickStore, kTickStore})
    folders.push_back({Joined(historyDir_, folder), Label(folder)});
  return folders;
}

std::string SecurityStem(int market, std::string_view code) {
  std::string stem = IsValidMarket(market) ? kMarketPrefix[market] : "";
  stem.append(code);
  return stem;
}

}  // namespace marbloom
