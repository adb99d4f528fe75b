#pragma once
// The settings record, its profile file "marbloom.ini" in the work directory,
// and the work directory itself.
#include <string>

#include "common/data_layout.h"
#include "tickdata/minute_engine.h"

namespace marbloom {

// Base URL of the sample archive server that ships with the program.
inline constexpr const char* kDefaultDownloadBase = "http://127.0.0.1:8650/";
inline constexpr const char* kDefaultHistoryDir = "..\\data\\vipdoc\\";

struct AppSettings {
  std::string downloadBase;  // DOMAIN
  std::string historyDir;    // VIPDOC, '/' separators, trailing '/'
  std::string downDir;       // the work directory's DataLayout::DownDir()
  std::string dayZipDir;     // ... DayZipDir()
  std::string tickZipDir;    // ... TickZipDir()
  std::string logDir;        // ... LogDir()
  int minuteDays = 0;        // MINDAYS clamped to 50..500
  int fiveMinuteDays = 0;    // 5 x minuteDays clamped to 50..500
  int minutesAfterTick = 0;  // TRANSMIN
  int tckv4 = 0;             // TCKV4
};

// The one process-wide record. Written only while no operation runs.
AppSettings& Settings();

// The work directory: '/' separators, trailing '/' (empty when unknown).
const std::string& WorkDirectory();
void SetWorkDirectory(const std::string& dir);

// Path of the settings file over the work directory.
std::string SettingsFilePath();

// The layout of the work directory and of the settings' history directory,
// over the real file system; the fronts build every engine on it.
DataLayout CurrentLayout();
// The retention days and TCKV4 of the settings, for a minute engine.
MinuteOptions CurrentMinuteOptions();

// Reads the settings file; a missing file or key gives the defaults.
void LoadSettings(AppSettings& settings, FileSystem& files);
// Writes DOMAIN, VIPDOC, MINDAYS, TRANSMIN, TCKV4 in one replacement of the
// file; false, with the file as it was, when it could not be written.
bool SaveSettings(const AppSettings& settings, FileSystem& files);

// The text settings are read back into 230-byte GBK buffers and trimmed. Why
// DOMAIN or VIPDOC would not read back as entered (longer than
// kSettingTextLimit GBK bytes, a character GBK cannot hold, a line break, or
// quotes around it); empty when both would.
inline constexpr std::size_t kSettingTextLimit = 229;
std::string SettingTextProblem(const AppSettings& settings);

}  // namespace marbloom
