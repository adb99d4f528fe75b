#pragma once
// One download run, from the chosen dates to converted data: the data guard,
// the date checks, the configuration, the archive of every weekday in the
// range, then the conversion of the days obtained (daily lines, or ticks and
// minute lines). The window's download page and the command line both run
// it on a thread of their own; Reset and Cancel may come from any thread.
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
#include "tickdata/minute_engine.h"

namespace marbloom {

inline constexpr const char* kStartingDownloadMessage = "开始下载...";
inline constexpr const char* kConfigFailedMessage = "网络故障,下载配置文件失败!";
inline constexpr const char* kWeekendMessage = "周末无数据.";
inline constexpr const char* kDownloadFinishedMessage = "下载完成!";

struct DownloadRequest {
  int kind = 10;  // 10 daily data, 11 tick data
  // The two date pickers' values; their local dates are the range.
  std::time_t firstTime = 0;
  std::time_t lastTime = 0;
  bool convert = true;
};

class DownloadRun {
 public:
  // `buildMinutes` is TRANSMIN: a tick run that converts also builds minute lines.
  DownloadRun(DataLayout layout, std::string baseUrl, bool buildMinutes, MinuteOptions minuteOptions);
  ~DownloadRun();
  DownloadRun(const DownloadRun&) = delete;
  DownloadRun& operator=(const DownloadRun&) = delete;

  // Runs on the caller's thread until done or cancelled. Refused dates give
  // kInvalid; no day obtained kNothingToDo; a configuration, day or
  // conversion failure kFailed (also a conversion that found nothing of the
  // days obtained); a cancel kCancelled; else the conversion's outcome. The
  // message is the last status line; failedItems counts the failed days and
  // the conversion's failed items.
  OperationResult Run(const DownloadRequest& request);
  // Converts days already unpacked into the tree as a run converts the days
  // it obtained (a catch-up downloads day by day, then converts in batches):
  // the same steps and cancels; a range none of whose days reached the tree
  // is kFailed.
  OperationResult ConvertDays(int kind, int first, int last);

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

  // The run's download client, for its test seams.
  DownloadClient& client() { return client_; }

 private:
  struct Downloads {
    int first = 0, last = 0;  // the first and last day obtained
    int failedDays = 0;       // days that failed otherwise than "no such file"
    std::vector<int> days;    // every day obtained
  };
  OperationResult Refuse(const char* message);
  Downloads DownloadDays(int kind, int first, int last);
  OperationResult Convert(int kind, int first, int last);
  // Runs one conversion step on a fresh engine that Cancel can reach.
  template <class Engine, class Step>
  OperationResult RunEngine(std::unique_ptr<Engine> engine, Step step);
  OperationResult Finish(Outcome outcome, std::string message, int failedItems);

  const DataLayout layout_;
  const bool buildMinutes_;
  const MinuteOptions minuteOptions_;
  DownloadClient client_;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> stopAll_{false};
  std::mutex engineMutex_;
  OperationEngine* engine_ = nullptr;  // the engine converting now
  bool converting_ = false;
  bool pendingCancel_ = false;  // a cancel between two conversion steps
};

}  // namespace marbloom
