#pragma once
// The daily-line engine: the record store of the daily files and every
// operation on them (conversion from the downloaded source pairs, range delete
// and batch modify, check, merge, single-record extract and write-back), on
// the data tree of the layout it is given. Reports through the shared status
// text, progress fraction and the run log; each operation a front starts
// returns its OperationResult.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"
#include "common/data_layout.h"
#include "common/operation_engine.h"
#include "common/security_walk.h"
#include "daily/daily_record.h"

namespace marbloom {

// Multipliers of the batch modify, in this order.
struct DailyFactors {
  float open = 1, high = 1, low = 1, close = 1, volume = 1, amount = 1;
};

// The number fields of the single-record edit: stored integers, not prices.
struct DailyEditFields {
  double open = 1, high = 1, low = 1, close = 1, volume = 1, amount = 1;
  double advancing = 0, declining = 0;
};

// The index rule of the single-record edit: sz codes "399...", sh codes "000...".
bool IsEditIndexCode(int market, std::string_view code);

// How the conversion of one day ended.
enum class DailyDayEnd {
  kNoSources,  // no source file of any market: a weekend or holiday
  kConverted,  // the markets were handled (missing or unreadable files noted as failures)
  kMalformed,  // a malformed pair ended the day before the later markets
  kCancelled,
};

// The daily operations a front ends with a closing message of its own, which
// replaces the operation's last status line: the batch modify and the merge
// when they ended done or with nothing to do, the check (the count of bad
// files) whatever it found. The window's
// daily page and the command line both close through CloseDailyOperation.
enum class DailyClosing { kModify, kCheck, kMerge };
inline constexpr const char* kDailyCheckStartMessage = "检查日线文件开始";
OperationResult CloseDailyOperation(Reporter& reporter, DailyClosing operation, OperationResult result);

// The single-record edit refuses a date the tree cannot hold.
inline constexpr const char* kEditDateMessage = "日期无效或晚于今天, 不能写入日线!";

class DailyEngine : public OperationEngine {
 public:
  // `treeReady`: the data tree was created and probed; the single-record
  // extract refuses to run on a tree that was not.
  explicit DailyEngine(DataLayout layout, bool treeReady = true);

  const DataLayout& Layout() const { return layout_; }

  // Record store. Store and Write put the record in date order (insert,
  // append or replace) and write only the bytes that change; false when the
  // file could not be written (logged, and counted as a failed item; the file
  // is left as it was). Read finds the first record of `date`.
  bool StoreDailyRecord(int market, std::string_view code, const DailyRecord& record);
  bool WriteDailyRecord(int market, std::string_view code, uint32_t date, const DailyRecord& record);
  bool ReadDailyRecord(int market, std::string_view code, uint32_t date, DailyRecord* out);

  // Conversion of the source pairs of a date range; one day of it.
  OperationResult ConvertDailyRange(int first, int last);
  DailyDayEnd ConvertDailyDay(int date);

  // Range delete and batch modify over the files a code pattern selects,
  // and their steps on one file.
  OperationResult DeleteDailyRange(int first, int last, std::string_view pattern);
  OperationResult ModifyDailyRange(int first, int last, const DailyFactors& factors, std::string_view pattern);
  void DeleteDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last);
  void ModifyDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last,
                          const DailyFactors& factors);

  // Check of every daily file, empty ones included: failedItems is the
  // number of bad files. Besides the date rule, every date must be a calendar
  // date no later than the market's today.
  // CheckDailyFile is true for a sound file (a fault has been reported otherwise).
  OperationResult CheckDailyFiles();
  bool CheckDailyFile(int market, std::string_view code);
  // Mends every file the check reports: a partial record at the end is cut
  // off, records dated 0, on no calendar day or after the market's today are
  // dropped (reported as lost), the rest sorted by date, and of records
  // sharing a date the one written last is kept. A file without a whole
  // record is removed; one whose records are all unusable is left alone and
  // counted as failed. Each change is reported file by file, and the mended
  // files are checked again (failedItems: files still bad or not written).
  OperationResult RepairDailyFiles();

  // Merge of the daily files of another tree into this one.
  OperationResult MergeDailyFiles(const DataLayout& source);
  void MergeDailyFile(const DataLayout& source, int market, std::string_view code);

  // Single-record edit. Extract fills the fields from the record of `date`
  // (sz and sh only); WriteBack stores the fields as one record, refused
  // (kEditDateMessage) for a date after the market's today.
  OperationResult ExtractDailyFields(std::string_view codeText, int date, DailyEditFields* fields);
  OperationResult WriteBackDailyFields(std::string_view codeText, int date, const DailyEditFields& fields);

 private:
  // Lists the daily files of the selected markets under `tree` (strays
  // logged once; empty files only `withEmpty`) and visits them.
  std::vector<SecurityFile> ListDailyFiles(const DataLayout& tree, const std::array<bool, 3>& markets,
                                           std::string_view codePattern, bool withEmpty = false) const;
  WalkEnd VisitDailyFiles(const std::vector<SecurityFile>& files, const WalkTexts& texts,
                          const std::function<void(const SecurityFile&)>& visit);
  WalkEnd WalkDailyFiles(const DataLayout& tree, const std::array<bool, 3>& markets, std::string_view codePattern,
                         const WalkTexts& texts, const std::function<void(const SecurityFile&)>& visit,
                         bool withEmpty = false);
  // The result of a walk: its outcome and closing message, which a walk that
  // ran to its end (`done`, or its failures) shows in the status line.
  OperationResult ConcludeWalk(WalkEnd end, const WalkTexts& texts, const char* done);

  enum class Placement { kStored, kFailed, kDisordered };

  bool LoadForEdit(int market, std::string_view code, File& file, std::size_t* count);
  bool CheckOpenedDailyFile(const File& file, int market, std::string_view code);
  // `path`: the daily file of market and code.
  bool StoreInOrder(const std::string& path, int market, std::string_view code, uint32_t key,
                    const DailyRecord& record, const char* openFailureFormat);
  // StoreDailyRecord into `path`, the file's path built already.
  bool StoreConverted(const std::string& path, int market, std::string_view code, const DailyRecord& record);
  Placement PlaceInOrder(File& file, int64_t length, uint32_t key, const DailyRecord& record, int market,
                         std::string_view code);
  bool DaySourcesExist(int date) const;
  DailyDayEnd ConvertMarketDay(int market, int date, bool dayHasSources);
  DailyDayEnd ConvertPair(int market, int date, const std::string& codePath);
  void WriteMerged(File& file, int market, std::string_view code, std::size_t targetCount, std::size_t total);
  void MoveIntoPlace(const std::string& source, const std::string& target);

  DataLayout layout_;
  bool treeReady_;
  std::vector<uint8_t> buffer_;       // one daily file (plus one record)
  std::vector<uint8_t> codeList_;     // the code list of one market and day
  std::vector<uint8_t> quotes_;       // the quote file of one market and day
  std::vector<uint8_t> mergeTarget_;  // merge: the target file and the result
  std::vector<uint8_t> mergeResult_;
};

}  // namespace marbloom
