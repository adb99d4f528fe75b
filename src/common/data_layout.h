#pragma once
// Every path of the work directory and of the history-data tree. The names of
// the tree's folders and fixed files are spelled here and nowhere else; every
// engine, the unpacking, the data-tree creation, the fronts and the sample
// tools take their paths from a DataLayout. The layout also carries the file
// system its files are reached through: an engine built on a layout makes
// every file call through Files(), and tells what it does through Reports():
// the front's reporter, which takes status lines, progress and log lines.
//
//   <work>/       marbloom.ini, downit5.cfg, update.ini, down/ (downit.zip, dayzip/ and
//                 tickzip/ holding <YYYYMMDD>.zip), logs/
//   <history>/    sz/ sh/ bj/ each with lday/ (daily), minline/ (1-minute),
//                 fzline/ (5-minute); refmhq/ (daily sources), newtick/ (tick
//                 store), newdatetick/ (daily tick archives), datetick/, tick/,
//                 .marbloom-undo/ (the undo journal)
#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"
#include "base/reporter.h"

namespace marbloom {

class DataLayout {
 public:
  DataLayout() = default;
  // Both directories end in '/' (or are empty for the current directory).
  DataLayout(std::string workDir, std::string historyDir, FileSystem& files = RealFileSystem(),
             Reporter& reporter = SilentReporter());

  const std::string& WorkDir() const { return workDir_; }
  const std::string& HistoryDir() const { return historyDir_; }
  FileSystem& Files() const { return *files_; }
  // The same paths over another file system (a test's fault injector, a journal).
  DataLayout WithFiles(FileSystem& files) const;
  // Where the engines built on the layout report; silent unless a front gave one.
  Reporter& Reports() const { return *reporter_; }
  DataLayout WithReporter(Reporter& reporter) const;

  // Work directory.
  std::string SettingsFile() const;          // marbloom.ini
  std::string DownloadConfigFile() const;    // downit5.cfg, unpacked from the configuration archive
  std::string UpdateStateFile() const;       // update.ini: the last complete day of each kind
  std::string DownDir() const;               // down/
  std::string DayZipDir() const;             // down/dayzip/
  std::string TickZipDir() const;            // down/tickzip/
  std::string LogDir() const;                // logs/

  // The archives the download server publishes: the configuration archive
  // under the base URL, one archive per day under a kind's server path.
  static constexpr const char* kConfigArchiveName = "downit.zip";
  static constexpr const char* kConfigFileName = "downit5.cfg";  // its one entry
  static std::string DayArchiveName(int date);  // <YYYYMMDD>.zip
  // The date a day archive's name gives, or 0 for any other name.
  static int DateOfDayArchive(std::string_view name);

  // History tree: daily lines.
  std::string DailyDir(int market) const;                          // <mm>/lday/
  std::string DailyFile(int market, std::string_view code) const;  // <mm>/lday/<mm><code>.day
  std::string DailyTemp(int market) const;                         // <mm>/lday/day.tmp
  static constexpr std::string_view kDailyExtension = ".day";

  // Minute lines; each kind has one temporary per market folder and worker
  // (worker 0 has the plain name, worker n > 0 the name with n before ".tmp").
  std::string OneMinuteDir(int market) const;                          // <mm>/minline/
  std::string OneMinuteFile(int market, std::string_view code) const;  // <mm>/minline/<mm><code>.01
  std::string OneMinuteTemp(int market, int worker = 0) const;         // <mm>/minline/min1.tmp
  std::string FiveMinuteDir(int market) const;                         // <mm>/fzline/
  std::string FiveMinuteFile(int market, std::string_view code) const; // <mm>/fzline/<mm><code>.5
  std::string FiveMinuteTemp(int market, int worker = 0) const;        // <mm>/fzline/min5.tmp
  static constexpr std::string_view kOneMinuteExtension = ".01";
  static constexpr std::string_view kFiveMinuteExtension = ".5";

  // Daily source pairs: refmhq/<mm><yymmdd>.cod and .md1.
  std::string DailySourceDir() const;
  std::string CodeListFile(int market, int date) const;
  std::string QuoteFile(int market, int date) const;

  // Tick store: newtick/<stem>.vid and .vtc, rewritten through vid.tmp and
  // vtc.tmp (named per worker like the minute temporaries).
  std::string TickStoreDir() const;
  std::string TickIndexFile(std::string_view stem) const;
  std::string TickDataFile(std::string_view stem) const;
  std::string TickIndexTemp(int worker = 0) const;
  std::string TickDataTemp(int worker = 0) const;
  static constexpr std::string_view kTickIndexExtension = ".vid";
  static constexpr std::string_view kTickDataExtension = ".vtc";

  // Daily tick archives: newdatetick/<date>.htc; the older datetick/ and tick/
  // folders are made for the quote client and never written.
  std::string TickArchiveDir() const;
  std::string TickArchiveFile(int date) const;

  // The lock file that admits one writing operation at a time to the tree.
  std::string WriterLockFile() const;

  // The undo journal: one hidden folder in the history directory, on the
  // tree's own file system, which no walk of the tree enters.
  static constexpr std::string_view kUndoFolderName = ".marbloom-undo";
  std::string UndoDir() const;  // .marbloom-undo/

  // The folders the data-tree creation makes and probes, in its order, each
  // with the label its failure message shows ("sz\fzline", "refmhq", ...).
  struct TreeFolder {
    std::string path;
    std::string label;
  };
  std::vector<TreeFolder> TreeFolders() const;

 private:
  std::string MarketDir(int market, std::string_view folder) const;
  // dir + "sz000001" + ext
  static std::string SecurityFile(std::string dir, int market, std::string_view code, std::string_view ext);

  std::string workDir_;
  std::string historyDir_;
  FileSystem* files_ = &RealFileSystem();
  Reporter* reporter_ = &SilentReporter();
};

// A security's stem in the tick store: market prefix and code, e.g. "sz000001".
std::string SecurityStem(int market, std::string_view code);

}  // namespace marbloom
