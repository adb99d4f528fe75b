#include "daily/daily_single_edit.h"

#include "common/code_pattern.h"
#include "common/scaled_value.h"
#include "common/shared_state.h"
#include "common/tree_lock.h"
#include "daily/daily_io.h"

namespace marbloom {

bool IsEditIndexCode(int market, std::string_view code) {
  return (market == 0 && code.substr(0, 3) == "399") || (market == 1 && code.substr(0, 3) == "000");
}

OperationResult DailySingleEdit::ExtractDailyFields(std::string_view codeText, int date, DailyEditFields* fields) {
  BeginOperation();
  if (!treeReady_) {
    layout_.Reports().Status(kDataGuardMessage);
    return Conclude(Outcome::kInvalid, kDataGuardMessage);
  }
  const std::optional<SingleSecurity> security = ParseSingleSecurity(codeText, false);
  if (!security) {
    layout_.Reports().Status(kCodeFormatMessage);
    return Conclude(Outcome::kInvalid, kCodeFormatMessage);
  }
  DailyRecord record{};
  if (!store_.ReadDailyRecord(security->market, security->code, static_cast<uint32_t>(date), &record)) {
    layout_.Reports().Status("无指定个股日线!");
    return Conclude(Failures() > 0 ? Outcome::kFailed : Outcome::kNothingToDo, "无指定个股日线!");
  }
  const bool index = IsEditIndexCode(security->market, security->code);
  fields->open = record.open;
  fields->high = record.high;
  fields->low = record.low;
  fields->close = record.close;
  fields->volume = record.volume;
  fields->amount = record.amount;
  fields->advancing = index ? record.word28 : 0;
  fields->declining = index ? record.word30 : 0;
  layout_.Reports().Status("个股日线提取成功!");
  return Conclude(Outcome::kDone, "个股日线提取成功!");
}

// A record that could not be written is reported in the status line with its
// file, not with the completion message.
OperationResult DailySingleEdit::WriteBackDailyFields(std::string_view codeText, int date, const DailyEditFields& fields) {
  BeginOperation();
  const std::optional<SingleSecurity> security = ParseSingleSecurity(codeText, true);
  if (!security) {
    layout_.Reports().Status(kCodeFormatMessage);
    return Conclude(Outcome::kInvalid, kCodeFormatMessage);
  }
  // A record after today would pass for the tree's newest day.
  if (!IsDailyRecordDate(static_cast<uint32_t>(date), MarketToday())) {
    layout_.Reports().Status(kEditDateMessage);
    return Conclude(Outcome::kInvalid, kEditDateMessage);
  }
  TreeWriteLock lock(layout_);
  if (!lock.held()) return lock.Refuse();
  DailyRecord record{};
  record.date = static_cast<uint32_t>(date);
  record.open = SaturateToInt32(fields.open);
  record.high = SaturateToInt32(fields.high);
  record.low = SaturateToInt32(fields.low);
  record.close = SaturateToInt32(fields.close);
  // The volume is stored unsigned; what extraction shows must come back intact.
  record.volume = SaturateToUint32(fields.volume);
  record.amount = ToSingle(fields.amount);
  if (IsEditIndexCode(security->market, security->code)) {
    record.word28 = Low16(SaturateToInt32(fields.advancing));
    record.word30 = Low16(SaturateToInt32(fields.declining));
  }
  const bool stored = store_.WriteDailyRecord(security->market, security->code, record.date, record);
  if (stored) FlushTree(layout_);
  if (!stored || Failures() > 0) {
    const std::string message = "写入" + layout_.DailyFile(security->market, security->code) + "文件失败!";
    layout_.Reports().Status(message);
    return Conclude(Outcome::kFailed, message);
  }
  layout_.Reports().ReportF("个股日线修改处理完毕!");
  return Conclude(Outcome::kDone, "个股日线修改处理完毕!");
}

}  // namespace marbloom
