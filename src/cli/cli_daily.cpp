// daily convert | delete | scale | check | merge | extract | edit | show: the
// entries of the daily page, with its checks and messages, on the same engine
// calls; show reads through the data reader.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/settings.h"
#include "base/file_helpers.h"
#include "cli/cli_common.h"
#include "cli/cli_show.h"
#include "common/code_pattern.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "daily/daily_batch_modify.h"
#include "daily/daily_check.h"
#include "daily/daily_closing.h"
#include "daily/daily_conversion.h"
#include "daily/daily_merge.h"
#include "daily/daily_range_delete.h"
#include "daily/daily_repair.h"
#include "daily/daily_single_edit.h"

namespace marbloom::cli {
namespace {

struct DailyArgs {
  std::string from, to, codes, sourceDir;
  bool repair = false;
  float open = 1, high = 1, low = 1, close = 1, volume = 1, amount = 1;
  DailyEditFields fields;
};

int Date(const std::string& text) { return ParseDate(text).value_or(0); }

// One engine per command, cancelled by Ctrl-C while its operation runs.
template <class Engine, class... Built>
OperationResult Run(const std::function<OperationResult(Engine&)>& operation, Built... built) {
  Engine engine(CurrentLayout(), built...);
  RunningOperation running(engine);
  return operation(engine);
}

// The range check of the page; the span limit applies to the conversion only.
int CheckRange(const DailyArgs& a, bool limitSpan) {
  const DateRangeCheck check =
      CheckDateRange(Date(a.from), Date(a.to), SpanDaysOfDates(Date(a.from), Date(a.to)), limitSpan);
  return check == DateRangeCheck::kOk ? kExitDone : UsageFailure(DateRangeMessage(check));
}

int Convert(const DailyArgs& a) {
  if (int code = CheckRange(a, true)) return code;
  return FinishWith(
      Run<DailyConversion>([&](DailyConversion& engine) { return engine.ConvertDailyRange(Date(a.from), Date(a.to)); }));
}

int Delete(const DailyArgs& a) {
  if (int code = CheckRange(a, false)) return code;
  const std::string pattern = TrimSpaces(a.codes);
  if (!HasPatternLength(pattern)) return UsageFailure(kCodeFormatMessage);
  return FinishWith(Run<DailyRangeDelete>(
      [&](DailyRangeDelete& engine) { return engine.DeleteDailyRange(Date(a.from), Date(a.to), pattern); }));
}

int Scale(const DailyArgs& a) {
  const std::string pattern = TrimSpaces(a.codes);
  if (!HasPatternLength(pattern)) return UsageFailure(kPatternLengthMessage);
  if (int code = CheckRange(a, false)) return code;
  const DailyFactors factors{a.open, a.high, a.low, a.close, a.volume, a.amount};
  const OperationResult result = Run<DailyBatchModify>(
      [&](DailyBatchModify& engine) { return engine.ModifyDailyRange(Date(a.from), Date(a.to), factors, pattern); });
  return FinishWith(CloseDailyOperation(Reports(), DailyClosing::kModify, result));
}

int Check(const DailyArgs& a) {
  if (a.repair) return FinishWith(Run<DailyRepair>([](DailyRepair& engine) { return engine.RepairDailyFiles(); }));
  const OperationResult result = Run<DailyCheck>([](DailyCheck& engine) {
    Reports().Status(kDailyCheckStartMessage);
    return engine.CheckDailyFiles();
  });
  return FinishWith(CloseDailyOperation(Reports(), DailyClosing::kCheck, result));
}

// The folder picker turns '\' into '/' and ends the folder with '/'.
std::string MergeSource(const DailyArgs& a) { return NormalizeDirPath(TrimSpaces(a.sourceDir)); }

int Merge(const DailyArgs& a) {
  const std::string source = MergeSource(a);
  if (source.empty()) return UsageFailure("请先选择用于补充的vipdoc源!");
  const DataLayout other(std::string(), source);
  const OperationResult result = Run<DailyMerge>([&](DailyMerge& engine) { return engine.MergeDailyFiles(other); });
  return FinishWith(CloseDailyOperation(Reports(), DailyClosing::kMerge, result));
}

int Extract(const DailyArgs& a) {
  DailyEditFields f;
  const OperationResult result = Run<DailySingleEdit>(
      [&](DailySingleEdit& engine) { return engine.ExtractDailyFields(a.codes, Date(a.from), &f); }, DataTreeReady != 0);
  if (result.done()) {
    std::printf("开盘价: %.15g\n最高价: %.15g\n最低价: %.15g\n收盘价: %.15g\n", f.open, f.high, f.low, f.close);
    std::printf("成交量: %.15g\n成交金额: %.15g\n上涨家数: %.15g\n下跌家数: %.15g\n", f.volume, f.amount,
                f.advancing, f.declining);
  }
  return FinishWith(result);
}

int Edit(const DailyArgs& a) {
  return FinishWith(Run<DailySingleEdit>([&](DailySingleEdit& engine) {
    return engine.WriteBackDailyFields(TrimSpaces(a.codes), Date(a.from), a.fields);
  }));
}

// Every daily command tests the data guard first, as the page does.
void Bind(CLI::App* command, Context& context, std::shared_ptr<DailyArgs> args, int (*run)(const DailyArgs&)) {
  command->callback([&context, args, run] {
    context.action = [args, run] {
      if (int code = RequireDataTree(kDataGuardMessage)) return code;
      return run(*args);
    };
  });
}

void AddRange(CLI::App* command, DailyArgs& a) {
  AddDateOption(command, "--from", a.from, "first date")->required();
  AddDateOption(command, "--to", a.to, "last date")->required();
}

void AddFactors(CLI::App* command, DailyArgs& a) {
  command->add_option("--open", a.open, "open price factor (default 1)");
  command->add_option("--high", a.high, "high price factor (default 1)");
  command->add_option("--low", a.low, "low price factor (default 1)");
  command->add_option("--close", a.close, "close price factor (default 1)");
  command->add_option("--volume", a.volume, "volume factor (default 1)");
  command->add_option("--amount", a.amount, "amount factor (default 1)");
}

void AddFields(CLI::App* command, DailyArgs& a) {
  command->add_option("--open", a.fields.open, "stored open (scaled integer)")->required();
  command->add_option("--high", a.fields.high, "stored high")->required();
  command->add_option("--low", a.fields.low, "stored low")->required();
  command->add_option("--close", a.fields.close, "stored close")->required();
  command->add_option("--volume", a.fields.volume, "stored volume")->required();
  command->add_option("--amount", a.fields.amount, "stored amount")->required();
  command->add_option("--advancing", a.fields.advancing, "advancing count (indexes only)");
  command->add_option("--declining", a.fields.declining, "declining count (indexes only)");
}

}  // namespace

void RegisterDailyCommands(CLI::App& app, Context& context) {
  CLI::App* daily = app.add_subcommand("daily", "daily-line files: convert, delete, scale, check, merge, edit, show");
  daily->require_subcommand(1);
  WithExample(daily, "marbloom-cli daily convert --from yesterday --to today");

  auto convert = std::make_shared<DailyArgs>();
  CLI::App* c = daily->add_subcommand(
      "convert",
      "convert the downloaded daily sources of a date range (at most 31 days apart) into the daily-line files; "
      "exits 1 when the range holds no source file at all");
  AddRange(c, *convert);
  WithExample(c, "marbloom-cli daily convert --from 2022-05-09 --to 2022-05-13");
  Bind(c, context, convert, Convert);

  auto remove = std::make_shared<DailyArgs>();
  CLI::App* d = daily->add_subcommand("delete", "delete the records of a date range from the selected daily files");
  AddRange(d, *remove);
  d->add_option("--codes", remove->codes, "code pattern mmcccccc, '?' for any character")->required();
  WithExample(d, "marbloom-cli daily delete --from 20220509 --to 20220509 --codes 'sz\?\?\?\?\?\?'");
  Bind(d, context, remove, Delete);

  auto scale = std::make_shared<DailyArgs>();
  CLI::App* s = daily->add_subcommand("scale", "multiply prices, volume and amount over a date range");
  AddRange(s, *scale);
  s->add_option("--codes", scale->codes, "code pattern mmcccccc, '?' for any character")->required();
  AddFactors(s, *scale);
  WithExample(s, "marbloom-cli daily scale --from 20220509 --to 20220513 --codes sh600000 --open 0.5 --high 0.5 "
                 "--low 0.5 --close 0.5 --volume 2");
  Bind(s, context, scale, Scale);

  auto check = std::make_shared<DailyArgs>();
  CLI::App* k = daily->add_subcommand(
      "check", "check every daily file for length and date order; exits 1 when a file is bad (see the run log)");
  k->add_flag("--repair", check->repair,
              "mend the bad files: a partial record at the end is cut off, records dated 0 dropped, the rest sorted, "
              "of one date the record written last kept; each file's repair is in the run log, and 'undo' takes "
              "the repair back");
  WithExample(k, "marbloom-cli daily check --repair");
  Bind(k, context, check, Check);

  auto merge = std::make_shared<DailyArgs>();
  CLI::App* m = daily->add_subcommand(
      "merge",
      "merge the daily files of another data tree into this one: records this tree lacks are added; a file "
      "missing from this tree (or damaged here) is MOVED out of the other tree, not copied, so the other tree "
      "loses it");
  m->add_option("SRC_DIR", merge->sourceDir, "the other tree's vipdoc folder")->required();
  WithExample(m, "marbloom-cli daily merge /mnt/backup/vipdoc/");
  Bind(m, context, merge, Merge);
  m->parse_complete_callback([&context, merge] { context.sourceTree = MergeSource(*merge); });

  auto extract = std::make_shared<DailyArgs>();
  CLI::App* x = daily->add_subcommand("extract", "print one security's stored record of one date");
  x->add_option("CODE", extract->codes, "mmcccccc (sz or sh)")->required();
  AddDateOption(x, "--date", extract->from, "the record's date")->required();
  WithExample(x, "marbloom-cli daily extract sz000001 --date yesterday");
  Bind(x, context, extract, Extract);

  CLI::App* w = AddShowCommand(
      daily, context,
      "print one security's daily records as real values, a table or CSV, with the records the check would "
      "report marked; exits 1 when there are none to show or the file is damaged",
      false, [] { return RequireDataTree(kDataGuardMessage); }, [] { return ViewKind::kDaily; });
  WithExample(w, "marbloom-cli daily show sh600000 --from 2022-05-01 --to 2022-05-31 --csv");

  auto edit = std::make_shared<DailyArgs>();
  CLI::App* e = daily->add_subcommand("edit", "write one security's record of one date");
  e->add_option("CODE", edit->codes, "mmcccccc (sz, sh or bj)")->required();
  AddDateOption(e, "--date", edit->from, "the record's date")->required();
  AddFields(e, *edit);
  WithExample(e, "marbloom-cli daily edit sz000001 --date 2022-05-09 --open 1050 --high 1080 --low 1040 "
                 "--close 1075 --volume 123456 --amount 13200000");
  Bind(e, context, edit, Edit);
}

}  // namespace marbloom::cli
