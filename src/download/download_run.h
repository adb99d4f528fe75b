#pragma once
// One download run, from the chosen dates to converted data: the data guard,
// the date checks, the configuration, the archive of every weekday in the
// range, then the conversion of the days obtained (daily lines, or ticks and
// minute lines). The window's download page and the command line both run
// it on a thread of their own. That thread owns the run: its client, the
// engines it makes, its days; Reset, Cancel and CancelAll may come from any
// thread, and reach the engine converting now under a mutex. It reports
// through its layout's reporter.
#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "common/operation_result.h"
#include "download/download_client.h"
#include "download/download_config.h"
#include "tickdata/minute_engine.h"

namespace marbloom {

inline constexpr const char* kStartingDownloadMessage = "开始下载...";
inline constexpr const char* kConfigFailedMessage = "网络故障,下载配置文件失败!";
inline constexpr const char* kWeekendMessage = "周末无数据.";
inline constexpr const char* kDownloadFinishedMessage = "下载完成!";
// The start of a run's closing line when every day tried came, before what
// the conversion steps said.
inline constexpr const char* kDaysObtainedFormat = "下载完成! 共%d天, ";
// The closing line of a download loop in which days failed.
inline constexpr const char* kDaysFailedFormat = "下载结束, 有%d天下载失败!";

// What a run works with, as the front builds it from its settings and state.
struct DownloadRunSetup {
  DataLayout layout;
  bool treeReady = false;  // the data tree was created and probed; else the data guard refuses
  DownloadServer server;   // the base URL (DOMAIN) and the built-in credentials
  bool buildMinutes = false;  // TRANSMIN: a tick run that converts also builds minute lines
  MinuteOptions minuteOptions;
  // The configuration kept between the front's runs; without one every run
  // fetches it.
  DownloadConfigCache* config = nullptr;
  // The flush of a longer run this one is part of (the update), which settles
  // it once at its end; without one each run and ConvertDays ends with its
  // own flush before it reports.
  DeferredFlush* flush = nullptr;
};

struct DownloadRequest {
  DownloadKind kind = DownloadKind::kDaily;  // daily or tick data
  // The two date pickers' values; their local dates are the range.
  std::time_t firstTime = 0;
  std::time_t lastTime = 0;
  bool convert = true;
};

// One weekday of a run's range, as the run left it.
struct DownloadDay {
  int date = 0;
  // Its download: done when obtained and unpacked; nothing to do when the
  // server has no such file (its 404, "不存在!"); failed, cancelled, or
  // busy. The message is what the download reported last.
  OperationResult fetched;
  // Its data reached the tree: it was obtained, and the conversion that
  // covered it ran and ended done in every step (never without conversion).
  bool reachedTree = false;
};

// The run's outcome and, in date order, every weekday it tried: a cancel
// leaves the later days out, refused dates, the data guard or a failed
// configuration leave none.
struct DownloadRunResult : OperationResult {
  std::vector<DownloadDay> days;
};

class DownloadRun {
 public:
  explicit DownloadRun(DownloadRunSetup setup);
  ~DownloadRun();
  DownloadRun(const DownloadRun&) = delete;
  DownloadRun& operator=(const DownloadRun&) = delete;

  // Runs on the caller's thread until done or cancelled. Refused dates give
  // kInvalid; no day obtained kNothingToDo; a configuration, day or
  // conversion failure kFailed (also a conversion that found nothing of the
  // days obtained); a cancel kCancelled; else the conversion's outcome.
  // failedItems counts the failed days and the conversion's failed items.
  // The download loop closes with "下载完成!" only when no day failed and
  // no cancel came, else with the count of failed days or the cancel; the
  // message is that closing line when it is not "下载完成!" (also after a
  // conversion of the days obtained), else the number of days obtained and
  // what each conversion step said.
  DownloadRunResult Run(const DownloadRequest& request);
  // Converts days already unpacked into the tree as a run converts the days
  // it obtained (a catch-up downloads day by day, then converts in batches):
  // the same steps and cancels; a range none of whose days reached the tree
  // is kFailed.
  OperationResult ConvertDays(DownloadKind kind, int first, int last);

  // The archive of a kind and day on the server, as it may be shown.
  std::string ShownDayUrl(DownloadKind kind, int date) const { return client_.ShownUrl(kind, date); }

  // Clears every cancel; called before a run.
  void Reset();
  // Stops the download loop after the current day, or the conversion that
  // runs now. A fresh engine of a later step starts uncancelled.
  void Cancel();
  // Stops the whole run (the command line's Ctrl-C): during the downloads no
  // conversion step starts afterwards; during a conversion it and every later
  // step stop at their first item with their cancel message.
  void CancelAll();

  // Called on the running thread: a date check failed (the page moves the
  // focus to the first date), and the conversion starts (the page's cancel
  // button then cancels the conversion).
  std::function<void()> onFocusFirstDate;
  std::function<void()> onConverting;
  // Called on the running thread before each weekday's download: its place
  // among the weekdays of the range (from 1), their number, and its date.
  std::function<void(int day, int days, int date)> onDay;

 private:
  struct DayTally {
    int first = 0, last = 0;  // the first and last day obtained
    int obtained = 0, failed = 0;
    bool cancelShown = false;  // the last day tried ended with the client's cancel message
  };
  DownloadRunResult Refuse(const char* message);
  OperationResult LoadConfig();
  std::vector<DownloadDay> DownloadDays(DownloadKind kind, int first, int last);
  static DayTally TallyDays(const std::vector<DownloadDay>& days);
  OperationResult CloseDownloads(const DayTally& tally);
  OperationResult ConvertObtained(DownloadKind kind, const DayTally& tally, std::vector<DownloadDay>& days);
  OperationResult Convert(DownloadKind kind, int first, int last);
  // Runs one conversion step on a fresh engine that Cancel can reach.
  template <class Engine, class Step>
  OperationResult RunEngine(std::unique_ptr<Engine> engine, Step step);
  DownloadRunResult Finish(OperationResult result, std::vector<DownloadDay> days);
  Reporter& Reports() const { return setup_.layout.Reports(); }

  const DownloadRunSetup setup_;
  DownloadClient client_;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> stopAll_{false};
  std::mutex engineMutex_;
  OperationEngine* engine_ = nullptr;  // the engine converting now
  bool converting_ = false;
  bool pendingCancel_ = false;  // a cancel between two conversion steps
  DeferredFlush ownFlush_;  // when the setup names none
  DeferredFlush& flush_;
};

// The flush a run owed, settled: done, or failed with its failure logged.
OperationResult SettleFlush(DeferredFlush& flush, const DataLayout& layout);

}  // namespace marbloom
