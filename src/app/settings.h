#pragma once
// The settings record, its profile file "marbloom.ini" in the work directory,
// the work directory itself, and what the fronts keep beside the settings for
// the engines they build: whether the data tree is ready and the download
// configuration.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/data_layout.h"
#include "download/download_client.h"
#include "download/download_config.h"
#include "download/download_run.h"
#include "tickdata/minute_engine.h"

namespace marbloom {

class JournalFileSystem;

// Base URL of the sample archive server that ships with the program.
inline constexpr const char* kDefaultDownloadBase = "http://127.0.0.1:8650/";
inline constexpr const char* kDefaultHistoryDir = "..\\data\\vipdoc\\";
// HTTP Basic credentials the download server expects; a base URL that names
// its own credentials sends those instead.
inline constexpr const char* kDefaultServerUser = "BRIMSTONEX52";
inline constexpr const char* kDefaultServerPassword = "MARLIN39";

struct AppSettings {
  std::string downloadBase;  // DOMAIN
  std::string historyDir;    // VIPDOC, '/' separators, trailing '/'
  int minuteDays = 0;        // MINDAYS clamped to 50..500
  int fiveMinuteDays = 0;    // 5 x minuteDays clamped to 50..500
  int minutesAfterTick = 0;  // TRANSMIN
  int tckv4 = 0;             // TCKV4
  std::string mirrors;       // MIRRORS: further base URLs, separated by blanks, tried in order after DOMAIN
  std::string trustKeys;     // TRUSTKEYS: minisign.pub base64 lines, separated by blanks
  int keepDays = 0;          // KEEPDAYS: days of archives an update keeps in the download area; 0 all
};

// The base URLs of MIRRORS in order.
std::vector<std::string> MirrorUrls(const AppSettings& settings);

// The one process-wide record. Written only while no operation runs.
AppSettings& Settings();

// The work directory: '/' separators, trailing '/' (empty when unknown).
const std::string& WorkDirectory();
void SetWorkDirectory(const std::string& dir);

// Path of the settings file over the work directory.
std::string SettingsFilePath();

// The layout of the work directory and of the settings' history directory,
// over the real file system (over the journal while a JournalledRun lives),
// reporting to the front's reporter; the fronts build every engine on it.
DataLayout CurrentLayout();

// The reporter the front hands its engines through CurrentLayout(): set by
// the window and the command line when they start, before any engine runs
// (nullptr: silent again).
void SetFrontReporter(Reporter* reporter);

// While alive, CurrentLayout() reaches the tree through the undo journal of
// one writing run (undo/journal_file_system.h), so that what the run
// changes can be taken back. The fronts make one around each operation they
// start, naming the other tree of a merge (`sourceTree`, as the merge names
// it); a run that changes nothing leaves nothing in the journal.
class JournalledRun {
 public:
  JournalledRun(std::string operation, std::string arguments, std::string sourceTree = std::string());
  ~JournalledRun();
  JournalledRun(const JournalledRun&) = delete;
  JournalledRun& operator=(const JournalledRun&) = delete;

  // Why the journal could not be written, for the front to show, or empty;
  // and whether the run's changes were refused for it (the run failed).
  std::string Problem() const;
  bool Refused() const;

 private:
  std::unique_ptr<JournalFileSystem> files_;
};
// The retention days and TCKV4 of the settings, for a minute engine.
MinuteOptions CurrentMinuteOptions();

// Whether the data tree of the settings was created and probed (start-up and
// every settings confirmation set it); engines are told, they never read it.
extern std::atomic<int> DataTreeReady;
// The download configuration the fronts keep between download runs; the
// settings confirmation forgets it.
DownloadConfigCache& KeptDownloadConfig();
// The download server of the settings, with the built-in credentials.
DownloadServer CurrentDownloadServer();
// A download run on the current settings, tree readiness and kept configuration.
DownloadRunSetup CurrentDownloadSetup();

// Reads the settings file; a missing file or key gives the defaults.
void LoadSettings(AppSettings& settings, FileSystem& files);
// The settings in the settings file of the work directory `workDir` ('/'
// separators, trailing '/'), as LoadSettings reads them, with
// `defaultHistoryDir` for a missing VIPDOC; nothing else is touched.
AppSettings SettingsIn(const std::string& workDir, FileSystem& files,
                       const char* defaultHistoryDir = kDefaultHistoryDir);
// Writes DOMAIN, VIPDOC, MINDAYS, TRANSMIN, TCKV4 (and MIRRORS, TRUSTKEYS,
// KEEPDAYS when set or already in the file) in one replacement of the file;
// false, with the file as it was, when it could not be written.
bool SaveSettings(const AppSettings& settings, FileSystem& files);

// The text settings are read back into 230-byte GBK buffers and trimmed. Why
// DOMAIN, VIPDOC or a URL of MIRRORS would not read back as entered (longer
// than kSettingTextLimit GBK bytes, a character GBK cannot hold, a line
// break, or quotes around it), MIRRORS or TRUSTKEYS as a whole longer than
// kListSettingLimit, or a word of TRUSTKEYS that is no minisign public key;
// empty when all would.
inline constexpr std::size_t kSettingTextLimit = 229;
inline constexpr std::size_t kListSettingLimit = 2047;
std::string SettingTextProblem(const AppSettings& settings);

}  // namespace marbloom
