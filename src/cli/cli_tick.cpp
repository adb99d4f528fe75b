// tick convert | tick delete | tick check | tick show: the tick operations of
// the tick page, with its checks and messages.
#include <cstdio>
#include <memory>
#include <string>

#include "base/file_helpers.h"
#include "base/run_log.h"
#include "cli/cli_common.h"
#include "common/code_pattern.h"
#include "common/date_range.h"
#include "common/shared_state.h"
#include "tickdata/tick_engine.h"

namespace marbloom::cli {
namespace {

struct DateArgs {
  std::string from, to;
};

// The page's guard, also written to the run log.
int RequireTickDataTree() {
  if (DataTreeReady) return kExitDone;
  RunLog("%s", kTickDataGuardMessage);
  return RequireDataTree(kTickDataGuardMessage);
}

// The page's range checks: order, then at most 31 days apart. 0 when fine.
int CheckRange(int first, int last) {
  DateRangeCheck check = CheckDateRange(first, last, SpanDaysOfDates(first, last), true);
  return check == DateRangeCheck::kOk ? kExitDone : UsageFailure(DateRangeMessage(check));
}

int RunRanged(const DateArgs& args, int (*operation)(TickEngine&, int, int)) {
  if (int code = RequireTickDataTree()) return code;
  const int first = ParseDate(args.from).value_or(0), last = ParseDate(args.to).value_or(0);
  if (int code = CheckRange(first, last)) return code;
  TickEngine engine;
  operation(engine, first, last);
  return Finish(kExitDone);
}

int CheckAll() {
  if (int code = RequireTickDataTree()) return code;
  SetStatusText("检查分笔文件开始");
  TickEngine engine;
  const int damaged = engine.CheckTickFiles();
  SetStatusTextF("共有%d支股票分笔文件出错!", damaged);
  return Finish(damaged > 0 ? kExitFailed : kExitDone);
}

int ShowDay(const std::string& security, const std::string& dateText) {
  if (int code = RequireTickDataTree()) return code;
  auto parsed = ParseSingleSecurity(TrimSpaces(security), true);
  if (!parsed) return UsageFailure(kCodeFormatMessage);
  const int date = ParseDate(dateText).value_or(0);
  const char* prefix = parsed->market == 0 ? "sz" : parsed->market == 1 ? "sh" : "bj";
  auto day = TickReader().ReadTickDay(parsed->market, parsed->code, date);
  if (!day) {
    SetStatusTextF("%s%s在%d没有可读的分笔数据!", prefix, parsed->code.c_str(), date);
    return Finish(kExitFailed);
  }
  std::printf("time\tprice\tvolume\textra\tkind\n");
  for (const TickRecord& t : day->ticks)
    std::printf("%02d:%02d:%02d\t%d\t%d\t%d\t%d\n", t.minute / 60, t.minute % 60, t.second, t.price, t.volume,
                t.extra, t.kind);
  SetStatusTextF("%s%s %d: %zu笔分笔数据", prefix, parsed->code.c_str(), date, day->ticks.size());
  return Finish(kExitDone);
}

CLI::App* AddRanged(CLI::App* tick, Context& context, const char* name, const char* help,
                    int (*operation)(TickEngine&, int, int)) {
  auto args = std::make_shared<DateArgs>();
  CLI::App* command = tick->add_subcommand(name, help);
  command->add_option("--from", args->from, "first date")->required()->check(DateValidator());
  command->add_option("--to", args->to, "last date")->required()->check(DateValidator());
  command->callback([&context, args, operation] {
    context.action = [args, operation] { return RunRanged(*args, operation); };
  });
  return command;
}

}  // namespace

void RegisterTickCommands(CLI::App& app, Context& context) {
  CLI::App* tick = app.add_subcommand("tick", "tick store: convert, delete, check, show");
  tick->require_subcommand(1);
  AddRanged(tick, context, "convert", "merge the downloaded tick archives of a range into the tick store",
            [](TickEngine& e, int first, int last) { return e.ConvertTickRange(first, last); });
  AddRanged(tick, context, "delete", "delete a date range from every security's tick files",
            [](TickEngine& e, int first, int last) { return e.DeleteTickRange(first, last); });
  tick->add_subcommand("check", "check every tick index/data pair")->callback([&context] {
    context.action = CheckAll;
  });
  auto show = std::make_shared<DateArgs>();
  CLI::App* showCommand = tick->add_subcommand("show", "print one day's decoded ticks of a security");
  showCommand->add_option("security", show->from, "mmcccccc, e.g. sz000001")->required();
  showCommand->add_option("--date", show->to, "the day")->required()->check(DateValidator());
  showCommand->callback([&context, show] { context.action = [show] { return ShowDay(show->from, show->to); }; });
}

}  // namespace marbloom::cli
