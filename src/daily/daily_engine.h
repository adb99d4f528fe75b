#pragma once
// The daily-line engine: the record store of the daily files and every
// operation on them (conversion from the downloaded source pairs, range delete
// and batch modify, check, merge, single-record extract and write-back).
// Reports through the shared status text, progress fraction and the run log.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/operation_engine.h"
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

// "<root><mm>/lday/", the folder of a market's daily files.
std::string DailyFolderUnder(const std::string& root, int market);
// "<root><mm>/lday/<mm><code>.day".
std::string DailyFilePathUnder(const std::string& root, int market, std::string_view code);
// The same under the history directory of the settings.
std::string DailyFilePath(int market, std::string_view code);

// The index rule of the single-record edit: sz codes "399...", sh codes "000...".
bool IsEditIndexCode(int market, std::string_view code);

class DailyEngine : public OperationEngine {
 public:
  // Record store. Store and Write put the record in date order (insert,
  // append or replace) and write only the bytes that change; 1 stored, 0 not
  // (logged). Read finds the first record of `date`; 1 found.
  int StoreDailyRecord(int market, std::string_view code, const DailyRecord& record);
  int WriteDailyRecord(int market, std::string_view code, uint32_t date, const DailyRecord& record);
  int ReadDailyRecord(int market, std::string_view code, uint32_t date, DailyRecord* out);

  // Conversion: 1 finished, 2 cancelled, 0 last < first (range) or a
  // malformed source pair (day).
  int ConvertDailyRange(int first, int last);
  int ConvertDailyDay(int date);

  // Range delete and batch modify over the files a code pattern selects.
  void DeleteDailyRange(int first, int last, std::string_view pattern);
  void ModifyDailyRange(int first, int last, const DailyFactors& factors, std::string_view pattern);
  void DeleteDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last);
  void ModifyDailyRecords(int market, std::string_view code, uint32_t first, uint32_t last,
                          const DailyFactors& factors);

  // Check: the number of bad files; per file 1 sound, 0 bad (reported).
  int CheckDailyFiles();
  int CheckDailyFile(int market, std::string_view code);

  // Merge of another tree's daily files into the history directory.
  void MergeDailyFiles(const std::string& sourceDir);
  void MergeDailyFile(const std::string& sourceDir, int market, std::string_view code);

  // Single-record edit. Extract fills the fields of the record of `date`
  // (sz and sh only): 1 found, 0 not (status set). WriteBack stores the fields
  // as one record: 1 stored, 0 malformed code, -1 the file could not be
  // written (status set in every case).
  int ExtractDailyFields(std::string_view codeText, int date, DailyEditFields* fields);
  int WriteBackDailyFields(std::string_view codeText, int date, const DailyEditFields& fields);

 private:
  int CheckOpenedDailyFile(int fd, int market, std::string_view code);
  int StoreInOrder(const std::string& path, uint32_t key, const DailyRecord& record,
                   const char* openFailureFormat);
  bool PlaceInOrder(int fd, int64_t length, uint32_t key, const DailyRecord& record);
  int ConvertMarketDay(int market, int date);
  int ConvertPair(int market, int date, const std::string& codePath);
  void WriteMergedTail(int fd, const std::string& targetPath, std::size_t targetCount, std::size_t total);

  std::vector<uint8_t> buffer_;       // one daily file (plus one record)
  std::vector<uint8_t> codeList_;     // the code list of one market and day
  std::vector<uint8_t> quotes_;       // the quote file of one market and day
  std::vector<uint8_t> mergeTarget_;  // merge: the target file and the result
  std::vector<uint8_t> mergeResult_;
};

}  // namespace marbloom
